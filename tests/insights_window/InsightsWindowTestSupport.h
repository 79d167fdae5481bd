#pragma once

#include "FakeClock.h"
#include "FakeHistoryStore.h"
#include "FakeKeychainItemStore.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"
#include "WaitUntil.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/InsightsLauncher.h"
#include "insights_window/InsightsPresentation.h"
#include "insights_window/InsightsView.h"
#include "providers/GlucoseProviderDescription.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace quillby::test {

inline GlucoseAccountConfiguration testAccount(const std::string &username = "ann")
{
    GlucoseAccountConfiguration account = GlucoseAccountConfiguration::empty();
    account.provider = GlucoseProvider::dexcom;
    account.username = username;
    account.password = "secret";
    account.region = "us";
    return account;
}

// Readings every `step` seconds from `from` up to (not including) `to`, with a gentle daily
// wave between about 90 and 200 mg/dL, so bands, profile and statistics all have something to
// show. The values are a fixed function of time: the same data set every run.
inline GlucoseReadings waveReadings(Date from, Date to, double step = 300)
{
    GlucoseReadings readings;
    for (Date t = from; t < to; t += step) {
        const double phase = std::fmod(t, 86400.0) / 86400.0 * 2 * M_PI;
        const double day = std::floor(t / 86400.0);
        const double value = 140 + 55 * std::sin(phase) + 12 * std::sin(phase * 7 + 1) + std::fmod(t / step, 5.0) +
                             28 * std::sin(day * 2.1) * std::cos(phase * 2 + day);
        GlucoseReading reading(std::round(value), "Flat", t);
        reading.sampleDuration = step;
        readings.push_back(reading);
    }
    return readings;
}

// The history coordinator over an in-memory store, a configuration manager with a signed-in
// account, a fixed clock and virtual time.
struct InsightsHarness {
    QTemporaryDir temp;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(1'800'000'000.0);
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::shared_ptr<FakeHistoryStore> store = std::make_shared<FakeHistoryStore>();
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager = std::make_unique<ConfigurationManager>(
        std::make_shared<FakeKeychainItemStore>(),
        std::make_shared<QSettings>(temp.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat),
        QLocale(QLocale::English, QLocale::UnitedStates), clock, std::make_shared<EventLoopSleeper>(), notifications);
    std::unique_ptr<HistoryCoordinator> coordinator =
        std::make_unique<HistoryCoordinator>(store, *configurationManager, clock, sleeper);
    std::unique_ptr<InsightsPresentation> presentation = std::make_unique<InsightsPresentation>(clock->now());

    // Tests read en_US texts; a render for a chosen locale (QUILLBY_RENDER_LOCALE) keeps the
    // system's, which that locale set.
    InsightsHarness()
    {
        if (qEnvironmentVariableIsEmpty("QUILLBY_RENDER_LOCALE")) {
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        }
    }

    std::string signIn(const std::string &unit = "mg/dL", const std::string &username = "ann")
    {
        const auto account = testAccount(username);
        runTask(configurationManager->updateConfiguration([account, unit](const std::optional<AppConfiguration> &c) {
            return ConfigurationManager::configurationWithAccount(c, account, unit);
        }));
        return HistoryCoordinator::accountScope(account);
    }

    InsightsView::Services services() const
    {
        InsightsView::Services services;
        services.clock = clock;
        services.sleeper = sleeper;
        services.calendar = [] { return LocalCalendar(); };
        services.fixedCadence = &readingIsOnFixedCadence;
        services.webSite = ProductWebSite(QStringLiteral("https://quillby.test"));
        return services;
    }

    std::unique_ptr<InsightsView> makeView(std::function<void()> manage = {},
                                           std::function<void(bool)> availability = {},
                                           std::function<void(std::optional<int>)> height = {})
    {
        auto view = std::make_unique<InsightsView>(coordinator.get(), configurationManager.get(), presentation.get(),
                                                   std::move(manage), std::move(availability), std::move(height),
                                                   services());
        view->resize(980, 620);
        return view;
    }

    // Waits until the view's first refresh is done and its calculation has settled.
    static bool settle(InsightsView &view)
    {
        return waitUntil([&] {
            return !view.isRefreshing() && !view.isRebuildScheduled() && !view.calculation().isUpdating() &&
                   view.currentRequest() && view.calculation().publishedInput() &&
                   view.calculation().publishedInput()->interval == view.currentRequest()->interval;
        });
    }
};

} // namespace quillby::test
