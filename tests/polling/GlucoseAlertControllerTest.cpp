#include "polling/GlucoseAlertController.h"

#include "FakeAlertDelivery.h"
#include "FakeClock.h"
#include "TaskRunner.h"
#include "core/UserDefaults.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <cmath>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using Kind = GlucoseAlertKind;

// 2026-01-15 12:00:00 UTC; with the UTC zone pinned, that is noon on the quiet-hours clock.
constexpr Date kNoon = 1768478400.0;

class GlucoseAlertControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        defaults = makeDefaults();
        controller = makeController();
    }

    std::shared_ptr<QSettings> makeDefaults()
    {
        return std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    }

    std::unique_ptr<GlucoseAlertController> makeController()
    {
        auto made = std::make_unique<GlucoseAlertController>(
            delivery, clock, [this] { return settings; }, defaults, [] { return QTimeZone::utc(); });
        made->setSnoozeObserver([this](std::optional<Date> until) { snoozeUpdates.push_back(until); });
        made->setErrorLogger([this](const std::string &line) { logLines.push_back(line); });
        return made;
    }

    // A reading taken `age` seconds before the current fake time.
    GlucoseReading reading(double mgdL, const std::string &trend = "Flat", double age = 10) const
    {
        return GlucoseReading(mgdL, trend, clock->now() - age);
    }

    void evaluate(const GlucoseReading &r, GlucoseUnits unit = GlucoseUnits::mgdL)
    {
        test::runTask(controller->evaluateAlerts(r, unit));
    }

    std::vector<std::string> sentTitles() const
    {
        std::vector<std::string> titles;
        for (const auto &sent : delivery->sent) {
            titles.push_back(sent.title);
        }
        return titles;
    }

    QTemporaryDir directory;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>(kNoon);
    std::shared_ptr<test::FakeAlertDelivery> delivery = std::make_shared<test::FakeAlertDelivery>();
    GlucoseAlertSettings settings;
    std::shared_ptr<QSettings> defaults;
    std::unique_ptr<GlucoseAlertController> controller;
    std::vector<std::optional<Date>> snoozeUpdates;
    std::vector<std::string> logLines;
};

TEST_F(GlucoseAlertControllerTest, LowAlertsOnceUntilReArmed)
{
    evaluate(reading(65));
    ASSERT_EQ(delivery->sent.size(), 1u);
    EXPECT_EQ(delivery->sent[0].title, "Low glucose alert");
    EXPECT_EQ(delivery->sent[0].body, "65 mg/dL → (low threshold 72 mg/dL)");

    clock->advance(300);
    evaluate(reading(62));
    EXPECT_EQ(delivery->sent.size(), 1u);

    clock->advance(300);
    evaluate(reading(80));   // back above the threshold: low is armed again
    clock->advance(300);
    evaluate(reading(70));
    EXPECT_EQ(sentTitles(), (std::vector<std::string>{"Low glucose alert", "Low glucose alert"}));
}

TEST_F(GlucoseAlertControllerTest, LowRepeatsAfterItsIntervalAndFallingTrendAlertsMeanwhile)
{
    settings.lowAlertRepeatMinutes = 15;
    evaluate(reading(65));
    clock->advance(300);
    evaluate(reading(62, "doubleDown"));   // low active and not due: a rapid drop still alerts
    clock->advance(300);
    evaluate(reading(60));                 // 600 s after the low alert: silent
    clock->advance(289);
    evaluate(reading(60));                 // 889 s: silent
    clock->advance(11);
    evaluate(reading(60));                 // 900 s: low again
    EXPECT_EQ(sentTitles(), (std::vector<std::string>{"Low glucose alert", "Rapid glucose drop", "Low glucose alert"}));
    EXPECT_EQ(controller->evaluator().lastAlertSentAt.at(Kind::lowThreshold), clock->now());
}

// The repeat follows the sensor's cadence: the reading dated at the repeat interval after the
// one that alerted raises the next low alert, however the moments of fetching it jitter.
// Dexcom Share dates readings every 300 s to the millisecond; LibreLinkUp every 60 s in whole
// seconds, so its dates may lose up to a second against the sensor's cadence.
TEST_F(GlucoseAlertControllerTest, LowRepeatsOnTheReadingAtItsIntervalWhateverTheFetchJitter)
{
    struct Provider {
        const char *name;
        double cadence;
        bool wholeSeconds;
    };
    for (const Provider provider : {Provider{"Dexcom Share", 300, false}, Provider{"LibreLinkUp", 60, true}}) {
        for (const int repeatMinutes : {5, 15, 30, 60}) {
            for (const double fetchJitter : {-0.004, 0.004}) {
                SCOPED_TRACE(std::string(provider.name) + ", repeat " + std::to_string(repeatMinutes)
                             + " min, fetch jitter " + std::to_string(fetchJitter) + " s");
                delivery->sent.clear();
                controller->reset();
                settings.lowAlertRepeatMinutes = repeatMinutes;
                const Date firstReading = kNoon + 0.6;   // the sensor's clock is not on whole seconds
                const double latency = 2.5;              // the first fetch came this long after its reading
                std::vector<double> alertedAfter;
                for (int k = 0; k * provider.cadence <= repeatMinutes * 60.0; ++k) {
                    const double sensorTime = firstReading + k * provider.cadence;
                    const Date date = provider.wholeSeconds ? std::floor(sensorTime) : sensorTime;
                    // Every later fetch a few milliseconds earlier (or later) after its reading.
                    clock->setNow(sensorTime + latency + (k == 0 ? 0 : fetchJitter));
                    const std::size_t before = delivery->sent.size();
                    evaluate(GlucoseReading(60, "Flat", date));
                    if (delivery->sent.size() > before) {
                        alertedAfter.push_back(k * provider.cadence);
                    }
                }
                EXPECT_EQ(alertedAfter, (std::vector<double>{0, repeatMinutes * 60.0}));
            }
        }
    }
}

TEST_F(GlucoseAlertControllerTest, FallingTrendAlertsOnEveryNewReading)
{
    for (int i = 0; i < 3; ++i) {
        evaluate(reading(150, "SingleDown"));
        clock->advance(300);
    }
    EXPECT_EQ(sentTitles(), std::vector<std::string>(3, "Rapid glucose drop"));
}

TEST_F(GlucoseAlertControllerTest, StaleOrFutureReadingsChangeNothing)
{
    evaluate(reading(300));
    ASSERT_EQ(delivery->sent.size(), 1u);
    const GlucoseAlertEvaluator before = controller->evaluator();

    // Neither raises an alert, and neither re-arms high although the value is normal.
    for (const double age : {901.0, -61.0, std::nan("")}) {
        evaluate(reading(100, "Flat", age));
        evaluate(reading(50, "DoubleDown", age));
        EXPECT_EQ(controller->evaluator(), before) << age;
    }
    EXPECT_EQ(delivery->sent.size(), 1u);

    // Just inside both bounds still counts.
    evaluate(reading(50, "Flat", 899));
    evaluate(reading(50, "DoubleDown", -60));
    EXPECT_EQ(sentTitles(), (std::vector<std::string>{"High glucose alert", "Low glucose alert", "Rapid glucose drop"}));
}

TEST_F(GlucoseAlertControllerTest, QuietHoursSilenceAllButAllowedLowAlerts)
{
    settings.quietHoursEnabled = true;
    settings.quietHoursStartMinutes = 11 * 60;   // 11:00 to 13:00 UTC; it is noon
    settings.quietHoursEndMinutes = 13 * 60;

    evaluate(reading(60, "DoubleDown"));
    evaluate(reading(300, "DoubleUp"));
    EXPECT_TRUE(delivery->sent.empty());

    settings.allowLowAlertsDuringQuietHours = true;
    evaluate(reading(300, "DoubleUp"));
    evaluate(reading(60, "DoubleDown"));
    EXPECT_EQ(sentTitles(), std::vector<std::string>{"Low glucose alert"});

    // Start equal to end: quiet all day.
    settings.allowLowAlertsDuringQuietHours = false;
    settings.quietHoursStartMinutes = settings.quietHoursEndMinutes = 0;
    evaluate(reading(150, "DoubleDown"));
    EXPECT_EQ(delivery->sent.size(), 1u);

    // Outside the period everything alerts again (high was never delivered).
    settings.quietHoursStartMinutes = 22 * 60;
    settings.quietHoursEndMinutes = 7 * 60;
    evaluate(reading(300, "Flat"));
    EXPECT_EQ(sentTitles(), (std::vector<std::string>{"Low glucose alert", "High glucose alert"}));
}

TEST_F(GlucoseAlertControllerTest, QuietHoursSwitchedOffSilenceNothing)
{
    settings.quietHoursEnabled = false;
    settings.quietHoursStartMinutes = settings.quietHoursEndMinutes = 0;   // would be all day
    settings.allowLowAlertsDuringQuietHours = false;
    evaluate(reading(300));
    EXPECT_EQ(sentTitles(), std::vector<std::string>{"High glucose alert"});
}

TEST_F(GlucoseAlertControllerTest, QuietHoursDoNotKeepAKindActive)
{
    evaluate(reading(300));   // high delivered
    settings.quietHoursEnabled = true;
    settings.quietHoursStartMinutes = settings.quietHoursEndMinutes = 0;
    clock->advance(300);
    evaluate(reading(150));   // normal during quiet hours: high is re-armed all the same
    EXPECT_TRUE(controller->evaluator().activeOneShotAlertKinds.empty());
}

TEST_F(GlucoseAlertControllerTest, SnoozeIsAtLeastAMinuteAndIsSaved)
{
    controller->snoozeAlerts(10);
    EXPECT_EQ(controller->alertsSnoozedUntil(), kNoon + 60);
    EXPECT_EQ(snoozeUpdates, (std::vector<std::optional<Date>>{kNoon + 60}));

    controller->snoozeAlerts(7200);   // replaces the earlier one
    controller->snoozeAlerts(1800);   // also a longer one
    EXPECT_EQ(controller->alertsSnoozedUntil(), kNoon + 1800);

    // Stored as a date under its key; a new controller (a restart) reads it back.
    auto reread = makeDefaults();
    EXPECT_EQ(defaults::readDate(*reread, QStringLiteral("QuillbyAlertsSnoozedUntil")), kNoon + 1800);
    defaults = reread;
    EXPECT_EQ(makeController()->alertsSnoozedUntil(), kNoon + 1800);

    controller->cancelAlertSnooze();
    EXPECT_FALSE(controller->alertsSnoozedUntil());
    EXPECT_FALSE(makeDefaults()->contains(QStringLiteral("QuillbyAlertsSnoozedUntil")));
    EXPECT_EQ(snoozeUpdates.back(), std::nullopt);
}

TEST_F(GlucoseAlertControllerTest, StoredSnoozeThatIsNotADateIsNoSnooze)
{
    defaults->setValue(QStringLiteral("QuillbyAlertsSnoozedUntil"), 42);
    EXPECT_FALSE(makeController()->alertsSnoozedUntil());
    defaults->setValue(QStringLiteral("QuillbyAlertsSnoozedUntil"), QStringLiteral("soon"));
    EXPECT_FALSE(makeController()->alertsSnoozedUntil());
}

TEST_F(GlucoseAlertControllerTest, SnoozeDropsOnlyTheKindsWhoseSwitchIsOn)
{
    settings.snoozeLowAlerts = false;
    controller->snoozeAlerts(1800);
    evaluate(reading(300, "DoubleUp"));   // high and rapid rise snoozed
    evaluate(reading(150, "DoubleDown"));  // rapid fall snoozed
    EXPECT_TRUE(delivery->sent.empty());
    evaluate(reading(60));                 // low is not snoozed
    EXPECT_EQ(sentTitles(), std::vector<std::string>{"Low glucose alert"});

    // A snoozed kind is not delivered and so stays armed for after the snooze.
    EXPECT_EQ(controller->evaluator().activeOneShotAlertKinds, GlucoseAlertKinds{Kind::lowThreshold});
}

// Each kind follows its own snooze switch: rapid rises and falls their own, not the high one's.
TEST_F(GlucoseAlertControllerTest, SnoozeFollowsEachKindsOwnSwitch)
{
    struct Case {
        bool low, high, rapid;
        std::vector<std::string> sent;   // of a rapid rise, a high, a rapid fall and a low reading
    };
    const Case cases[] = {
        {false, true, false, {"Rapid glucose rise", "Rapid glucose drop", "Low glucose alert"}},
        {false, false, true, {"High glucose alert", "Low glucose alert"}},
        {true, false, false, {"Rapid glucose rise", "High glucose alert", "Rapid glucose drop"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "low " << c.low << ", high " << c.high << ", rapid " << c.rapid);
        delivery->sent.clear();
        controller->reset();
        settings.snoozeLowAlerts = c.low;
        settings.snoozeHighAlerts = c.high;
        settings.snoozeRapidChangeAlerts = c.rapid;
        controller->snoozeAlerts(1800);
        const std::pair<double, const char *> sequence[] = {{150, "DoubleUp"}, {300, "Flat"}, {150, "DoubleDown"}, {60, "Flat"}};
        for (const auto &[mgdL, trend] : sequence) {
            clock->advance(300);
            evaluate(reading(mgdL, trend));
        }
        controller->cancelAlertSnooze();
        EXPECT_EQ(sentTitles(), c.sent);
    }
}

TEST_F(GlucoseAlertControllerTest, ExpiredSnoozeIsClearedByTheNextEvaluation)
{
    controller->snoozeAlerts(60);
    snoozeUpdates.clear();

    // A restart keeps an expired snooze until the next evaluation.
    clock->advance(60);
    controller = makeController();
    EXPECT_EQ(controller->alertsSnoozedUntil(), kNoon + 60);

    evaluate(reading(300));   // at the expiry date: cleared, and the alert goes out
    EXPECT_FALSE(controller->alertsSnoozedUntil());
    EXPECT_EQ(snoozeUpdates, (std::vector<std::optional<Date>>{std::nullopt}));
    EXPECT_FALSE(makeDefaults()->contains(QStringLiteral("QuillbyAlertsSnoozedUntil")));
    EXPECT_EQ(delivery->sent.size(), 1u);
}

TEST_F(GlucoseAlertControllerTest, RefusedPermissionRecordsNothing)
{
    delivery->grantsAuthorization = false;
    evaluate(reading(65));
    EXPECT_TRUE(delivery->sent.empty());
    EXPECT_EQ(delivery->sendAttempts, 0);
    EXPECT_EQ(controller->evaluator(), GlucoseAlertEvaluator{});

    delivery->grantsAuthorization = true;   // decided again on the next new reading
    clock->advance(300);
    evaluate(reading(64));
    EXPECT_EQ(sentTitles(), std::vector<std::string>{"Low glucose alert"});
}

TEST_F(GlucoseAlertControllerTest, FailedSendIsLoggedAndRecordsNothing)
{
    delivery->failSending = true;
    evaluate(reading(65));
    EXPECT_EQ(logLines, std::vector<std::string>{"Failed to post glucose alert notification: the fake refuses"});
    EXPECT_EQ(controller->evaluator(), GlucoseAlertEvaluator{});

    delivery->failSending = false;
    evaluate(reading(65));
    EXPECT_EQ(delivery->sent.size(), 1u);
}

TEST_F(GlucoseAlertControllerTest, SwitchingAlertsOffAndOnReArmsEveryKind)
{
    evaluate(reading(300));
    settings.alertsEnabled = false;
    evaluate(reading(300));
    EXPECT_EQ(controller->evaluator(), GlucoseAlertEvaluator{});
    settings.alertsEnabled = true;
    evaluate(reading(300));
    EXPECT_EQ(sentTitles(), (std::vector<std::string>{"High glucose alert", "High glucose alert"}));
}

TEST_F(GlucoseAlertControllerTest, TextsUseTheGivenUnitAndTheConvertedThresholds)
{
    // A stored configuration with thresholds in mmol/L is normalised before use.
    AppConfiguration configuration;
    configuration.app.lowGlucoseThreshold = 4;
    configuration.app.highGlucoseThreshold = 10;
    settings = GlucoseAlertEvaluator::settings(configuration);
    evaluate(reading(70), GlucoseUnits::mmolL);
    ASSERT_EQ(delivery->sent.size(), 1u);
    EXPECT_EQ(delivery->sent[0].body, "3.9 mmol/L → (low threshold 4.0 mmol/L)");
}

TEST_F(GlucoseAlertControllerTest, CancelledEvaluationRecordsNothing)
{
    std::stop_source stop;
    auto task = controller->evaluateAlerts(reading(65), GlucoseUnits::mgdL, stop.get_token());
    stop.request_stop();   // while the delivery is being asked
    test::runTask(std::move(task));
    EXPECT_TRUE(delivery->sent.empty());
    EXPECT_EQ(controller->evaluator(), GlucoseAlertEvaluator{});

    stop = std::stop_source();
    stop.request_stop();
    controller->snoozeAlerts(600, stop.get_token());   // stored, but the view is left alone
    EXPECT_EQ(controller->alertsSnoozedUntil(), kNoon + 600);
    EXPECT_TRUE(snoozeUpdates.empty());
}

TEST_F(GlucoseAlertControllerTest, ResetReArmsEveryKind)
{
    evaluate(reading(65));
    controller->reset();
    evaluate(reading(65));
    EXPECT_EQ(delivery->sent.size(), 2u);
}

} // namespace
} // namespace quillby
