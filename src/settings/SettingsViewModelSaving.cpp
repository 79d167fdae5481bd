// Saving the app settings: revisions, the debounce, one save at a time, the reload of a
// configuration that never loaded, and the write of pending edits when the model goes or the
// application quits. The record written is makeAppSettings() (SettingsViewModelApply.cpp).

#include "settings/SettingsViewModel.h"
#include "core/async/RunDetached.h"

#include "core/AppError.h"
#include "core/ConfigurationManager.h"
#include "core/ScopedLogger.h"
#include "settings/SettingsCoordinating.h"
#include "settings/SettingsViewModelSupport.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <exception>

namespace quillby {

// The one running save: every caller of saveAppSettings() waits for the same run.
struct SettingsViewModel::SaveRun {
    AsyncEvent done;
    bool result = false;

    void finish(bool succeeded)
    {
        result = succeeded;
        done.fire();
    }
};

namespace {

// Written after the model is gone: nobody waits, so a failure can only be logged.
QCoro::Task<void> writeAfterRelease(std::shared_ptr<SettingsCoordinating> coordinator, AppSettings settings)
{
    try {
        co_await coordinator->saveAppSettings(std::move(settings));
    } catch (const std::exception &error) {
        ScopedLogger("SettingsViewModel").error(std::string("Failed to save settings: ") + error.what());
    }
}

} // namespace

void SettingsViewModel::recordAppSettingsEdit()
{
    setAppSettingsRevision(appSettingsRevision_ + 1);
    scheduleAppSettingsSave();
}

bool SettingsViewModel::isSaving() const
{
    return appSettingsSaveTask_ != nullptr;
}

void SettingsViewModel::scheduleAppSettingsSave()
{
    if (saveDebounceTask_) {
        saveDebounceTask_->request_stop();
    }
    saveDebounceTask_.emplace();
    runDetached(runDebouncedSave(QPointer<SettingsViewModel>(this), sleeper_, saveDebounceTask_->get_token()));
}

QCoro::Task<void> SettingsViewModel::runDebouncedSave(QPointer<SettingsViewModel> self, std::shared_ptr<Sleeper> sleeper,
                                                      std::stop_token stop)
{
    co_await sleeper->sleep(kSaveDebounceSeconds, stop);
    if (stop.stop_requested() || !self) {
        co_return;
    }
    if (self->isLoading_) {
        co_return;   // the account operation resumes the save when it ends
    }
    co_await self->saveAppSettings();
}

void SettingsViewModel::resumePendingAppSettingsSave()
{
    if (appSettingsRevision_ != savedAppSettingsRevision_ &&
        statusCategory_.kind != StatusMessageCategory::Kind::saveError) {
        scheduleAppSettingsSave();
    }
}

QCoro::Task<bool> SettingsViewModel::saveAppSettings()
{
    QPointer<SettingsViewModel> self(this);
    while (true) {
        if (!self) {
            co_return false;
        }
        if (self->appSettingsRevision_ == self->savedAppSettingsRevision_ && !self->appSettingsSaveTask_) {
            co_return true;
        }
        std::shared_ptr<SaveRun> run = self->appSettingsSaveTask_;
        if (!run) {
            run = std::make_shared<SaveRun>();
            self->appSettingsSaveTask_ = run;
            runDetached(performAppSettingsSave(self, run));   // ends by finishing the run (maybe at once)
        }
        co_await run->done.wait();
        if (!run->result) {
            co_return false;
        }
    }
}

QCoro::Task<void> SettingsViewModel::performAppSettingsSave(QPointer<SettingsViewModel> self, std::shared_ptr<SaveRun> run)
{
    const bool mayWrite = co_await self->reloadAfterExternalChange();
    if (!self) {
        run->finish(false);
        co_return;
    }
    if (!mayWrite) {
        self->appSettingsSaveTask_.reset();
        run->finish(false);
        emit self->appSettingsSaveFinished(false);
        co_return;
    }
    while (self->appSettingsRevision_ != self->savedAppSettingsRevision_) {
        const int revision = self->appSettingsRevision_;
        const AppSettings record = self->makeAppSettings();
        const std::shared_ptr<SettingsCoordinating> coordinator = self->coordinator_;
        self->revisionBeingWritten_ = revision;
        std::exception_ptr failure;
        try {
            co_await coordinator->saveAppSettings(record);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            // The model went while its last write was under way; what it had not yet handed
            // over was written when it was released.
            run->finish(!failure);
            co_return;
        }
        self->revisionBeingWritten_.reset();
        if (failure) {
            self->setStatusCategory(StatusMessageCategory::saveError(messageOf(failure)));
            self->appSettingsSaveTask_.reset();
            run->finish(false);
            emit self->appSettingsSaveFinished(false);
            co_return;
        }
        self->setSavedAppSettingsRevision(revision);
    }
    if (self->statusCategory_.kind == StatusMessageCategory::Kind::saveError) {
        self->setStatusCategory(StatusMessageCategory::none());
    }
    self->appSettingsSaveTask_.reset();
    run->finish(true);
    emit self->appSettingsSaveFinished(true);
}

QCoro::Task<void> SettingsViewModel::commitAppSettingsChange()
{
    setAppSettingsRevision(appSettingsRevision_ + 1);
    if (!isLoading_) {
        co_await saveAppSettings();
    }
}

QCoro::Task<bool> SettingsViewModel::settlePendingAppSettings()
{
    QPointer<SettingsViewModel> self(this);
    if (saveDebounceTask_) {
        saveDebounceTask_->request_stop();
        saveDebounceTask_.reset();
    }
    const bool mayWrite = co_await reloadAfterExternalChange();
    if (!self || !mayWrite) {
        co_return false;
    }
    co_return co_await self->saveAppSettings();
}

QCoro::Task<bool> SettingsViewModel::reloadAfterExternalChange()
{
    QPointer<SettingsViewModel> self(this);
    if (!appSettingsNeedReload_) {
        co_return true;
    }
    ConfigurationManager &manager = configManager_;
    if (!manager.configuration() || manager.configurationLoadFailed()) {
        co_await manager.loadConfiguration();
        if (!self) {
            co_return false;
        }
    }
    const std::optional<AppConfiguration> configuration = manager.configuration();
    if (!configuration || manager.configurationLoadFailed()) {
        self->setStatusCategory(StatusMessageCategory::saveError(kSaveReloadFailedMessage));
        co_return false;
    }
    if (self->appSettingsRevision_ == self->savedAppSettingsRevision_) {
        self->apply(configuration);
        co_return true;
    }
    // Edits made against settings that never loaded would overwrite the stored ones: give
    // them up and show what is stored.
    self->setSavedAppSettingsRevision(self->appSettingsRevision_);
    self->invalidateAuthentication();
    self->apply(configuration);
    self->setStatusCategory(StatusMessageCategory::saveError(kSaveReloadedMessage));
    co_return false;
}

// --- Pending edits at release and at quit ---

void SettingsViewModel::startPendingWriteOnRelease()
{
    if (saveDebounceTask_) {
        saveDebounceTask_->request_stop();
        saveDebounceTask_.reset();
    }
    // Never over a configuration that did not load (the edits were made against defaults),
    // and nothing when the last edit is written already or on its way.
    if (appSettingsNeedReload_ || appSettingsRevision_ == savedAppSettingsRevision_ ||
        revisionBeingWritten_ == appSettingsRevision_) {
        return;
    }
    setSavedAppSettingsRevision(appSettingsRevision_);
    runDetached(writeAfterRelease(coordinator_, makeAppSettings()));
}

namespace {
struct FlushWait {
    bool done = false;
    QEventLoop loop;
};

QCoro::Task<void> saveAndSignal(QPointer<SettingsViewModel> self, std::shared_ptr<FlushWait> wait)
{
    if (self) {
        co_await self->saveAppSettings();
    }
    wait->done = true;
    wait->loop.quit();
}
} // namespace

void SettingsViewModel::flushPendingAppSettings(int timeoutMs)
{
    if (saveDebounceTask_) {
        saveDebounceTask_->request_stop();
        saveDebounceTask_.reset();
    }
    if (appSettingsNeedReload_ || (appSettingsRevision_ == savedAppSettingsRevision_ && !appSettingsSaveTask_)) {
        return;
    }
    // The event loop is ending: run it here until the write is done, so the last edit is not
    // lost with the process. Bounded, so a keyring that never answers cannot hold the quit.
    auto wait = std::make_shared<FlushWait>();
    runDetached(saveAndSignal(QPointer<SettingsViewModel>(this), wait));
    if (!wait->done) {
        QTimer::singleShot(timeoutMs, &wait->loop, &QEventLoop::quit);
        wait->loop.exec();
    }
}

} // namespace quillby
