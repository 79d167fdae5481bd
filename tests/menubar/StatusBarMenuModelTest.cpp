#include "menubar/StatusBarMenuModel.h"

#include <QTimeZone>
#include <algorithm>
#include <gtest/gtest.h>

using namespace quillby;

namespace {

// 2026-03-12 14:05:00 UTC.
constexpr Date kNow = 1'773'324'300.0;

StatusBarMenuModel englishModel()
{
    return StatusBarMenuModel(StatusDateFormatter(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()));
}

// Each entry as one line: kind, text, key and whether it is enabled.
std::vector<std::string> describe(const std::vector<StatusBarMenuEntry> &entries)
{
    std::vector<std::string> lines;
    for (const StatusBarMenuEntry &entry : entries) {
        switch (entry.kind) {
        case StatusBarMenuEntry::Kind::graph:
            lines.push_back("graph");
            break;
        case StatusBarMenuEntry::Kind::separator:
            lines.push_back("---");
            break;
        case StatusBarMenuEntry::Kind::alertRow:
            lines.push_back("row: " + entry.alert->title + (entry.retryText.isEmpty() ? "" : " | ")
                            + entry.retryText.toStdString());
            break;
        case StatusBarMenuEntry::Kind::action:
            lines.push_back(entry.text.toStdString() + (entry.shortcutKey.isEmpty() ? "" : " [" + entry.shortcutKey.toStdString() + "]")
                            + (entry.enabled ? "" : " (disabled)"));
            break;
        }
    }
    return lines;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(StatusBarMenuModel, PlainMenuHasSnoozeInsightsSettingsAndQuit)
{
    EXPECT_EQ(describe(englishModel().entries({}, kNow)),
              (Lines{"graph", "---", "Snooze alerts (30 min)", "Snooze alerts (2 hours)", "---", "Insights [i]",
                     "Settings [,]", "Quit [q]"}));
}

TEST(StatusBarMenuModel, ErrorRowWinsOverStaleWarningAndCarriesRetryTime)
{
    StatusBarMenuState state;
    state.currentError = ErrorInfo{"Network error", "Unable to connect to Dexcom servers.", "Check"};
    state.freshnessWarning = ErrorInfo{"Stale glucose reading", "m", "r"};
    state.nextRetryAt = kNow + 272;
    state.isUpdateAvailable = true;
    EXPECT_EQ(describe(englishModel().entries(state, kNow)),
              (Lines{"graph", "---", "row: Network error | Next retry at 2:09:32 PM", "---", "Update available",
                     "Snooze alerts (30 min)", "Snooze alerts (2 hours)", "---", "Insights [i]", "Settings [,]",
                     "Quit [q]"}));

    state.currentError.reset();
    state.nextRetryAt.reset();
    EXPECT_EQ(describe(englishModel().entries(state, kNow))[2], "row: Stale glucose reading");
}

TEST(StatusBarMenuModel, AFailedUpdateInstallSaysWhyUnderTheEntry)
{
    StatusBarMenuState state;
    state.isUpdateAvailable = true;
    state.updateInstallFailure = QStringLiteral("Authentication failed");
    const auto entries = englishModel().entries(state, kNow);
    const auto failure = std::find_if(entries.begin(), entries.end(), [](const StatusBarMenuEntry &entry) {
        return entry.objectName == QLatin1String("updateInstallFailedNotice");
    });
    ASSERT_NE(failure, entries.end());
    ASSERT_NE(failure, entries.begin());
    EXPECT_EQ((failure - 1)->objectName, QStringLiteral("updateAvailableButton"));
    EXPECT_EQ(failure->text, QStringLiteral("The update could not be installed: Authentication failed"));
    EXPECT_FALSE(failure->enabled);
}

TEST(StatusBarMenuModel, SnoozeSection)
{
    StatusBarMenuState state;
    state.alertsSnoozedUntil = kNow + 1800;
    Lines lines = describe(englishModel().entries(state, kNow));
    EXPECT_EQ(Lines(lines.begin() + 2, lines.begin() + 5),
              (Lines{"Alerts snoozed until 2:35 PM (disabled)", "Resume alerts now", "---"}));

    state.allAlertKindsSnooze = false;
    lines = describe(englishModel().entries(state, kNow));
    EXPECT_EQ(lines[2], "Selected alerts snoozed until 2:35 PM (disabled)");

    // A snooze that ended a moment ago offers snoozing again.
    state.alertsSnoozedUntil = kNow - 1;
    lines = describe(englishModel().entries(state, kNow));
    EXPECT_EQ(Lines(lines.begin() + 2, lines.begin() + 4), (Lines{"Snooze alerts (30 min)", "Snooze alerts (2 hours)"}));

    // Alerts off: no snooze entries and no extra separator.
    state.alertsEnabled = false;
    state.alertsSnoozedUntil = kNow + 1800;
    EXPECT_EQ(describe(englishModel().entries(state, kNow)),
              (Lines{"graph", "---", "Insights [i]", "Settings [,]", "Quit [q]"}));
}

TEST(StatusBarMenuModel, EntriesCarryActionsAndIdentifiers)
{
    StatusBarMenuState state;
    state.isUpdateAvailable = true;
    std::vector<std::pair<std::string, StatusBarMenuAction>> actions;
    for (const StatusBarMenuEntry &entry : englishModel().entries(state, kNow)) {
        if (entry.kind == StatusBarMenuEntry::Kind::action) {
            actions.emplace_back(entry.objectName.toStdString(), entry.action);
        }
    }
    EXPECT_EQ(actions, (std::vector<std::pair<std::string, StatusBarMenuAction>>{
                           {"updateAvailableButton", StatusBarMenuAction::downloadUpdate},
                           {"snoozeAlerts30MinutesButton", StatusBarMenuAction::snooze30Minutes},
                           {"snoozeAlerts2HoursButton", StatusBarMenuAction::snooze2Hours},
                           {"insightsButton", StatusBarMenuAction::insights},
                           {"settingsButton", StatusBarMenuAction::settings},
                           {"quitButton", StatusBarMenuAction::quit},
                       }));
}

TEST(StatusBarMenuModel, AlertRowLabelLeavesOutEmptyParts)
{
    EXPECT_EQ(StatusBarMenuModel::alertAccessibleLabel({"Offline", "No internet connection", ""},
                                                       QStringLiteral("Next retry at 2:09:32 PM")),
              "Offline. No internet connection. Next retry at 2:09:32 PM");
    EXPECT_EQ(StatusBarMenuModel::alertAccessibleLabel({"Error", "", "The app will retry automatically."}, {}),
              "Error. The app will retry automatically.");
}

TEST(StatusBarMenuModel, ReadingSummaryStandsInForTheGraph)
{
    const StatusBarMenuModel model = englishModel();
    EXPECT_EQ(model.readingSummary({}, GlucoseUnits::mmolL, kNow), "No glucose readings available.");
    const GlucoseReadings readings = {GlucoseReading(99, "Flat", kNow - 3600), GlucoseReading(121, "SingleUp", kNow - 60)};
    EXPECT_EQ(model.readingSummary(readings, GlucoseUnits::mgdL, kNow),
              "121 ↑ mg/dL · Last reading: Mar 12, 2026 2:04 PM");
    EXPECT_EQ(model.readingSummary(readings, GlucoseUnits::mmolL, kNow + 900),
              "6.7 ? mmol/L · Last reading: Mar 12, 2026 2:04 PM");
}

// The snooze end is a short time: hours and minutes in the locale's style, never seconds,
// also in the C locale of a session without a configured locale (its short format has them).
TEST(StatusBarMenuModel, SnoozeEndIsAShortTimeInEveryLocale)
{
    struct Row {
        QLocale locale;
        const char *label;
    };
    const std::vector<Row> rows = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "Alerts snoozed until 2:35 PM"},
        {QLocale(QLocale::German, QLocale::Germany), "Alerts snoozed until 14:35"},
        {QLocale::c(), "Alerts snoozed until 14:35"},
    };
    StatusBarMenuState state;
    state.alertsSnoozedUntil = kNow + 1800 + 29;   // 14:35:29 UTC
    for (const Row &row : rows) {
        SCOPED_TRACE(row.locale.name().toStdString());
        const StatusBarMenuModel model(StatusDateFormatter(row.locale, QTimeZone::utc()));
        QString label;
        for (const StatusBarMenuEntry &entry : model.entries(state, kNow)) {
            if (entry.objectName == QStringLiteral("alertsSnoozedValue")) {
                label = entry.text;
            }
        }
        EXPECT_EQ(label.toStdString(), row.label);
    }
}

TEST(StatusDateFormatter, PreciseTimeHasSecondsAndNoZone)
{
    const StatusDateFormatter english(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
    EXPECT_EQ(english.preciseTime(kNow + 9), "2:05:09 PM");
    EXPECT_EQ(english.shortTime(kNow + 9), "2:05 PM");
    const StatusDateFormatter german(QLocale(QLocale::German, QLocale::Germany), QTimeZone("Europe/Berlin"));
    EXPECT_EQ(german.preciseTime(kNow + 9), "15:05:09");
}

namespace {

// Restores TZ when it goes.
class ScopedTimeZoneVariable {
public:
    explicit ScopedTimeZoneVariable(const char *zone) : had_(qEnvironmentVariableIsSet("TZ")), previous_(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
    }
    void set(const char *zone) { qputenv("TZ", zone); }
    ~ScopedTimeZoneVariable()
    {
        if (had_) {
            qputenv("TZ", previous_);
        } else {
            qunsetenv("TZ");
        }
    }

private:
    bool had_;
    QByteArray previous_;
};

} // namespace

// The snooze and retry times are made in the computer's zone of the moment the menu is built,
// not the zone it had when the application started.
TEST(StatusBarMenuModel, TimesFollowTheCurrentTimeZoneAtEachRebuild)
{
    ScopedTimeZoneVariable zone("UTC");
    const StatusBarMenuModel model{StatusDateFormatter()};
    StatusBarMenuState state;
    state.alertsEnabled = true;
    state.alertsSnoozedUntil = kNow + 1800;   // 14:35 UTC
    state.currentError = ErrorInfo{"Network error", "m", ""};
    state.nextRetryAt = kNow + 30;

    const auto snoozeText = [&] {
        for (const StatusBarMenuEntry &entry : model.entries(state, kNow)) {
            if (entry.objectName == QStringLiteral("alertsSnoozedValue")) {
                return entry.text;
            }
        }
        return QString();
    };
    const auto retryText = [&] {
        for (const StatusBarMenuEntry &entry : model.entries(state, kNow)) {
            if (entry.kind == StatusBarMenuEntry::Kind::alertRow) {
                return entry.retryText;
            }
        }
        return QString();
    };
    const QString utcSnooze = snoozeText();
    const QString utcRetry = retryText();
    EXPECT_EQ(model.formatter().timeZone().id(), QByteArray("UTC"));

    zone.set("Asia/Tokyo");   // nine hours ahead
    EXPECT_EQ(model.formatter().timeZone().id(), QByteArray("Asia/Tokyo"));
    EXPECT_NE(snoozeText(), utcSnooze);
    EXPECT_NE(retryText(), utcRetry);
    // 23:35 in Tokyo, in the 24-hour or the 12-hour style of the session's locale.
    const QString tokyo = snoozeText();
    EXPECT_TRUE(tokyo == "Alerts snoozed until 23:35" || tokyo == "Alerts snoozed until 11:35 PM") << tokyo.toStdString();
}
