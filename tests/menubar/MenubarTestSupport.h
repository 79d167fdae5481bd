#pragma once

#include "FakeClock.h"
#include "FakeKeychainItemStore.h"
#include "TaskRunner.h"
#include "WaitUntil.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "menubar/StatusBarViewModel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <QCoroTimer>

#include <coroutine>
#include <memory>
#include <stop_token>
#include <utility>
#include <vector>

namespace quillby::test {

// A sleeper that suspends until the test resumes it (or stop is requested), recording each
// request, so freshness timers can be fired one at a time. A resumed sleep returns on the next
// event-loop turn.
class ControlledSleeper final : public Sleeper {
    struct State {
        bool done = false;
        std::coroutine_handle<> handle;
    };

public:
    struct Request {
        double seconds;
        std::stop_token stop;
        std::shared_ptr<State> state;
    };
    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override
    {
        auto state = std::make_shared<State>();
        requests.push_back({seconds, stop, state});
        if (stop.stop_requested()) {
            co_return;
        }
        struct Forget {   // a sleep destroyed while it waits is never resumed
            std::shared_ptr<State> state;
            ~Forget()
            {
                state->handle = {};
                state->done = true;
            }
        } forget{state};
        std::stop_callback onStop(stop, [state] { wakeLater(state); });
        co_await Park{state};
    }
    // Lets the most recent sleep return (after the test moved the clock).
    void resumeLast() { wakeLater(requests.back().state); }
    std::vector<Request> requests;

private:
    struct Park {
        std::shared_ptr<State> state;
        bool await_ready() const noexcept { return state->done; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { state->handle = handle; }
        void await_resume() const noexcept {}
    };
    static void wakeLater(const std::shared_ptr<State> &state)
    {
        QTimer::singleShot(0, QCoreApplication::instance(), [state] {
            if (state->done) {
                return;
            }
            state->done = true;
            if (const auto handle = std::exchange(state->handle, {})) {
                handle.resume();
            }
        });
    }
};

// What the view model asked of its status item, for view-model tests without a tray.
class RecordingStatusItem final : public StatusItemControlling {
public:
    void setUp() override
    {
        ++setUpCount;
        statusItem = true;
        menu = true;
    }
    bool hasStatusItem() const override { return statusItem; }
    void updateTitle(const QString &title) override { titles.push_back(title); }
    void updateIndicator() override { ++indicatorUpdates; }
    void refreshGraph() override { ++graphRefreshes; }
    void setAccessibilityValue(const QString &text) override { accessibilityValues.push_back(text); }
    bool hasMenu() const override { return menu; }
    bool isMenuOpen() const override { return menuOpen; }
    void rebuildMenu() override { ++menuRebuilds; }

    bool statusItem = false;
    bool menu = false;
    bool menuOpen = false;
    int setUpCount = 0;
    int indicatorUpdates = 0;
    int graphRefreshes = 0;
    int menuRebuilds = 0;
    std::vector<QString> titles;
    std::vector<QString> accessibilityValues;
};

// An update checker whose availability the test sets.
class FakeUpdateAvailability final : public UpdateAvailabilityProviding {
public:
    bool isUpdateAvailable() const override { return available; }
    QString installedVersion() const override { return QStringLiteral("1.0.0"); }
    bool installPendingUpdate() override
    {
        ++installCalls;
        return hasDownloadedUpdate;
    }
    void checkForUpdates() override { ++checkCalls; }
    void setAvailable(bool value)
    {
        available = value;
        emit updateAvailabilityChanged(value);
    }
    bool available = false;
    bool hasDownloadedUpdate = false;
    int installCalls = 0;
    int checkCalls = 0;
};

// Runs the queued calls, and those they queue, and deferred deletes until the event loop is
// quiet. Timers are not waited for: wait for what they do with waitUntil.
inline void drainEvents()
{
    processQueuedEvents();
}

// A configuration manager over an in-memory keyring item and a throwaway settings file.
struct ConfigurationFixture {
    ConfigurationFixture()
        : settings(std::make_shared<QSettings>(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)),
          clock(std::make_shared<FakeClock>()),
          manager(std::make_shared<FakeKeychainItemStore>(), settings, QLocale(QLocale::English, QLocale::UnitedKingdom),
                  clock, std::make_shared<EventLoopSleeper>(), notifications)
    {
    }

    // Loads the (empty) configuration, then stores the given settings.
    void storeSettings(const AppSettings &app)
    {
        runTask(manager.loadConfiguration());
        runTask(manager.updateConfiguration([app](const std::optional<AppConfiguration> &current) {
            return ConfigurationManager::configurationReplacingSettings(current, app);
        }));
    }

    QTemporaryDir folder;
    std::shared_ptr<QSettings> settings;
    std::shared_ptr<FakeClock> clock;
    AppNotifications notifications;
    ConfigurationManager manager;
};

inline GlucoseReading reading(double mgdL, const std::string &trend, Date date)
{
    return GlucoseReading(mgdL, trend, date);
}

} // namespace quillby::test
