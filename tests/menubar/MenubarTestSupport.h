#pragma once

#include "FakeClock.h"
#include "FakeKeychainItemStore.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"
#include "WaitUntil.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "menubar/StatusBarViewModel.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <utility>
#include <vector>

namespace quillby::test {

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
