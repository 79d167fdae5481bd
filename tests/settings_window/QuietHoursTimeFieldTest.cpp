// The quiet-hours time field: what it reads from typed text, and how it keeps invalid times
// out of the settings.

#include "SettingsWindowTestSupport.h"

#include "settings_window/QuietHoursTimeInputField.h"
#include "settings_window/QuietHoursTimeText.h"

#include <QKeyEvent>
#include <QVBoxLayout>

namespace quillby::test {
namespace {

struct ParseCase {
    const char *text;
    bool twelveHour;
    QValidator::State state;
    std::optional<int> minutes;
};

constexpr auto A = QValidator::Acceptable;
constexpr auto I = QValidator::Intermediate;
constexpr auto X = QValidator::Invalid;

TEST(QuietHoursTimeTextTest, ReadsTypedTimesAsATable)
{
    const ParseCase cases[] = {
        // 24-hour form: whole times.
        {"22:00", false, A, 1320},
        {"07:00", false, A, 420},
        {"7:05", false, A, 425},
        {"0:00", false, A, 0},
        {"23:59", false, A, 1439},
        {"07.30", false, A, 450},
        {"  6:45 ", false, A, 405},
        {"7:30 pm", false, A, 1170},
        // Still being typed.
        {"", false, I, std::nullopt},
        {"2", false, I, std::nullopt},
        {"23", false, I, std::nullopt},
        {"23:", false, I, std::nullopt},
        {"23:5", false, I, std::nullopt},
        {"7:30 p", false, I, std::nullopt},
        // Never a time of day.
        {"24:00", false, X, std::nullopt},
        {"24", false, X, std::nullopt},
        {"25:00", false, X, std::nullopt},
        {"7:60", false, X, std::nullopt},
        {"7:6", false, X, std::nullopt},
        {"7:555", false, X, std::nullopt},
        {"123", false, X, std::nullopt},
        {"-1:00", false, X, std::nullopt},
        {"7:30 x", false, X, std::nullopt},
        {"13:00 pm", false, X, std::nullopt},
        {"0:30 am", false, X, std::nullopt},
        {"7:3 pm", false, X, std::nullopt},
        {"seven", false, X, std::nullopt},
        {"７:30", false, X, std::nullopt},   // full-width digit
        // 12-hour form: the day period decides; 12 AM is midnight, 12 PM noon.
        {"10:00 PM", true, A, 1320},
        {"10:00 pm", true, A, 1320},
        {"7:00 AM", true, A, 420},
        {"12:00 AM", true, A, 0},
        {"12:30 PM", true, A, 750},
        {"11:59 PM", true, A, 1439},
        {"10:00", true, I, std::nullopt},   // morning or evening still to say
        {"10:00 P", true, I, std::nullopt},
        {"19:30", true, A, 1170},           // unambiguous 24-hour time
        {"0:15", true, A, 15},
        {"13:00 PM", true, X, std::nullopt},
    };
    for (const ParseCase &c : cases) {
        const TimeOfDayStyle style = c.twelveHour ? TimeOfDayStyle::twelveHourClock() : TimeOfDayStyle::twentyFourHour();
        const TimeOfDayParse parse = parseTimeOfDay(QString::fromUtf8(c.text), style);
        EXPECT_EQ(parse.state, c.state) << '"' << c.text << "\" 12h=" << c.twelveHour;
        EXPECT_EQ(parse.minutes, c.minutes) << '"' << c.text << "\" 12h=" << c.twelveHour;
    }
}

TEST(QuietHoursTimeTextTest, WritesTimesInTheUsersFormAndReadsThemBack)
{
    const struct {
        int minutes;
        const char *twentyFour;
        const char *twelve;
    } cases[] = {
        {0, "00:00", "12:00 AM"},   {420, "07:00", "7:00 AM"},  {750, "12:30", "12:30 PM"},
        {1320, "22:00", "10:00 PM"}, {1439, "23:59", "11:59 PM"}, {-5, "00:00", "12:00 AM"},
        {2000, "23:59", "11:59 PM"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(formatTimeOfDay(c.minutes, TimeOfDayStyle::twentyFourHour()), QString::fromUtf8(c.twentyFour));
        EXPECT_EQ(formatTimeOfDay(c.minutes, TimeOfDayStyle::twelveHourClock()), QString::fromUtf8(c.twelve));
    }
    // Every minute of the day survives writing and reading in both forms.
    for (int minutes = 0; minutes < 1440; ++minutes) {
        for (const TimeOfDayStyle &style : {TimeOfDayStyle::twentyFourHour(), TimeOfDayStyle::twelveHourClock()}) {
            ASSERT_EQ(parseTimeOfDay(formatTimeOfDay(minutes, style), style).minutes, minutes);
        }
    }
    // The locale's day-period texts are read too.
    TimeOfDayStyle style = TimeOfDayStyle::twelveHourClock();
    style.amText = QStringLiteral("a.m.");
    style.pmText = QStringLiteral("p.m.");
    EXPECT_EQ(parseTimeOfDay(u"9:15 p.m.", style).minutes, 1275);
    EXPECT_EQ(formatTimeOfDay(555, style), QStringLiteral("9:15 a.m."));
    EXPECT_TRUE(TimeOfDayStyle::of(QLocale(QStringLiteral("en_US"))).twelveHour);
    EXPECT_FALSE(TimeOfDayStyle::of(QLocale(QStringLiteral("de_DE"))).twelveHour);
}

// A window holding the field and a plain line edit, so focus can leave the field.
struct FieldHost {
    QWidget window;
    QuietHoursTimeInputField *field = new QuietHoursTimeInputField(QStringLiteral("Quiet hours start"));
    QLineEdit *other = new QLineEdit();
    std::vector<int> edits;
    std::vector<bool> focusReports;

    FieldHost()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        field->setTimeStyle(TimeOfDayStyle::twentyFourHour());
        field->setMinutes(1320);
        QObject::connect(field, &QuietHoursTimeInputField::timeEdited, [this](int m) { edits.push_back(m); });
        QObject::connect(field, &QuietHoursTimeInputField::focusChanged, [this](bool f) { focusReports.push_back(f); });
        window.show();
        window.activateWindow();
        field->setFocus();
        waitUntil([&] { return field->hasFocus(); });
    }
};

TEST(QuietHoursTimeInputFieldTest, RefusesInvalidTimesAndNeverReportsThem)
{
    FieldHost host;
    EXPECT_EQ(host.field->accessibleName(), QStringLiteral("Quiet hours start"));
    EXPECT_EQ(host.field->text(), QStringLiteral("22:00"));

    // Typing "25:00" over the whole text: the "5" cannot follow "2", so it is refused.
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("25:00"));
    EXPECT_EQ(host.field->text(), QStringLiteral("2:00"));
    EXPECT_EQ(host.edits, std::vector<int>{120});

    // A pasted invalid time is refused whole.
    host.edits.clear();
    host.field->selectAll();
    host.field->insert(QStringLiteral("24:30"));
    EXPECT_EQ(host.field->text(), QStringLiteral("2:00"));
    EXPECT_TRUE(host.edits.empty());

    // A time left incomplete when focus leaves is replaced by the last valid one, unreported.
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("7:"));
    EXPECT_TRUE(host.edits.empty());
    host.other->setFocus();
    ASSERT_TRUE(waitUntil([&] { return !host.field->hasFocus(); }));
    EXPECT_EQ(host.field->text(), QStringLiteral("02:00"));
    EXPECT_EQ(host.field->minutes(), 120);
    EXPECT_TRUE(host.edits.empty());
}

TEST(QuietHoursTimeInputFieldTest, ReturnEndsEditingOnlyWhileTheFieldHasFocus)
{
    FieldHost host;
    int windowReturns = 0;
    QObject::connect(host.other, &QLineEdit::returnPressed, [&] { ++windowReturns; });

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        host.field->setFocus();
        ASSERT_TRUE(waitUntil([&] { return host.field->hasFocus(); }));
        host.focusReports.clear();
        host.field->selectAll();
        QTest::keyClicks(host.field, QStringLiteral("6:3"));
        QKeyEvent press(QEvent::KeyPress, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QApplication::sendEvent(host.field, &press);
        EXPECT_TRUE(press.isAccepted()) << "the key stops at the field";
        EXPECT_FALSE(host.field->hasFocus());
        EXPECT_EQ(host.focusReports, std::vector<bool>{false});
        EXPECT_EQ(host.field->text(), QStringLiteral("22:00")) << "the incomplete time was put back";
    }

    // Return elsewhere reaches its own widget untouched.
    host.other->setFocus();
    ASSERT_TRUE(waitUntil([&] { return host.other->hasFocus(); }));
    QTest::keyClick(host.other, Qt::Key_Return);
    EXPECT_EQ(windowReturns, 1);
    EXPECT_EQ(host.field->minutes(), 1320);
}

TEST(QuietHoursTimeInputFieldTest, ArrowKeysStepTheHourOrTheMinuteRoundTheDay)
{
    FieldHost host;
    host.field->setMinutes(23 * 60 + 59);
    host.field->setCursorPosition(1);   // in the hour
    QTest::keyClick(host.field, Qt::Key_Up);
    EXPECT_EQ(host.field->text(), QStringLiteral("00:59"));
    host.field->setCursorPosition(4);   // in the minute
    QTest::keyClick(host.field, Qt::Key_Up);
    EXPECT_EQ(host.field->text(), QStringLiteral("00:00"));
    QTest::keyClick(host.field, Qt::Key_Down);
    EXPECT_EQ(host.field->text(), QStringLiteral("00:59"));
    EXPECT_EQ(host.edits, (std::vector<int>{59, 0, 59}));
}

} // namespace
} // namespace quillby::test
