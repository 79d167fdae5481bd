#include "settings/LoginItemSettingsService.h"

#include "core/async/BackgroundTask.h"

namespace quillby {

LoginItemSettingsService::LoginItemSettingsService(std::shared_ptr<LoginItemManaging> loginItemManager,
                                                   std::string approvalMessage, std::string errorPrefix)
    : loginItemManager_(std::move(loginItemManager))
    , approvalMessage_(std::move(approvalMessage))
    , errorPrefix_(std::move(errorPrefix))
    , thread_(std::make_unique<QThreadPool>())
{
    // One thread: the operations run one at a time, in the order they were called.
    thread_->setMaxThreadCount(1);
    thread_->setExpiryTimeout(-1);
}

LoginItemSettingsService::~LoginItemSettingsService()
{
    thread_->waitForDone();
}

QCoro::Task<LoginItemChangeResult> LoginItemSettingsService::setEnabled(bool enabled)
{
    const auto self = shared_from_this();   // a call in flight keeps the service
    auto manager = loginItemManager_;
    const std::string approvalMessage = approvalMessage_;
    const std::string errorPrefix = errorPrefix_;
    co_return co_await runInThreadPool(*self->thread_, [manager, enabled, approvalMessage, errorPrefix] {
        try {
            if (enabled) {
                manager->registerApplication();
            } else {
                manager->unregisterApplication();
            }
        } catch (const std::exception &error) {
            return LoginItemChangeResult::failure(errorPrefix + " " + error.what());
        }
        const bool on = countsAsOn(manager->status());
        if (on == enabled) {
            return LoginItemChangeResult::success(on);
        }
        return LoginItemChangeResult::failure(approvalMessage);
    });
}

QCoro::Task<LoginItemStatus> LoginItemSettingsService::status()
{
    const auto self = shared_from_this();
    auto manager = loginItemManager_;
    co_return co_await runInThreadPool(*self->thread_, [manager] { return manager->status(); });
}

} // namespace quillby
