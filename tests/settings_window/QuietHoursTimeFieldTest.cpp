// The quiet-hours time field: what it reads from typed text, and how it keeps invalid times
// out of the settings.

#include "SettingsWindowTestSupport.h"

#include "settings_window/QuietHoursTimeInputField.h"
#include "settings_window/QuietHoursTimeText.h"

#include <QKeyEvent>
#include <QVBoxLayout>

#include <string_view>

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
        {"0700", false, A, 420},
        {"700", false, A, 420},
        {"1930", false, A, 1170},
        {"123", false, A, 83},
        {"7 pm", false, A, 1140},
        {"730pm", false, A, 1170},
        // Still being typed.
        {"", false, I, std::nullopt},
        {"2", false, I, std::nullopt},
        {"23", false, I, std::nullopt},
        {"24", false, I, std::nullopt},     // may still become "245"
        {"193", false, I, std::nullopt},    // may still become "1930"
        {"23:", false, I, std::nullopt},
        {"23:5", false, I, std::nullopt},
        {"7:30 p", false, I, std::nullopt},
        // Never a time of day.
        {"24:00", false, X, std::nullopt},
        {"2500", false, X, std::nullopt},
        {"99", false, X, std::nullopt},
        {"12345", false, X, std::nullopt},
        {"25:00 pm", false, X, std::nullopt},
        {"25:00", false, X, std::nullopt},
        {"7:60", false, X, std::nullopt},
        {"7:6", false, X, std::nullopt},
        {"7:555", false, X, std::nullopt},
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
        {"1000", true, I, std::nullopt},
        {"07:00", true, A, 420},            // a leading zero writes the 24-hour way
        {"0700", true, A, 420},
        {"10 pm", true, A, 1320},
        {"12 am", true, A, 0},
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
        // Only a missing day period is reported as such.
        const bool missingDayPeriod =
            c.twelveHour && c.state == I && std::string_view(c.text).find_first_of("APap") == std::string_view::npos;
        EXPECT_EQ(parse.needsDayPeriod, missingDayPeriod) << '"' << c.text << '"';
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
}

// The locales' own forms, from Qt's locale data (no system locale needed): a 12-hour clock with
// AM/PM (en_US), a 24-hour one (de_DE), and 12-hour clocks whose day periods have dots and
// spaces (es_US "a. m.", el_GR "π.μ.").
TEST(QuietHoursTimeTextTest, FollowsEachLocalesClockAndDayPeriods)
{
    const struct {
        const char *locale;
        bool twelveHour;
        const char *evening;                  // 19:30 as shown
        std::vector<const char *> alsoRead;   // other ways to type 19:30
        const char *morningTyped;             // a morning time typed with the locale's text
    } cases[] = {
        {"en_US", true, "7:30 PM", {"7:30 pm", "7:30PM", "730 p.m.", "19:30"}, "7:05 am"},
        {"de_DE", false, "19:30", {"19.30", "1930", "7:30 PM"}, "07:05"},
        {"es_US", true, "7:30 p.\u00A0m.", {"7:30 p. m.", "7:30 p.m.", "7:30 pm", "7:30 P. M."}, "7:05 a. m."},
        {"el_GR", true, "7:30 \u03BC.\u03BC.", {"7:30 \u03BC\u03BC", "7:30 \u039C.\u039C."}, "7:05 \u03C0.\u03BC."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        const TimeOfDayStyle style = TimeOfDayStyle::of(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(style.twelveHour, c.twelveHour);
        EXPECT_EQ(formatTimeOfDay(1170, style), QString::fromUtf8(c.evening));
        for (const char *typed : c.alsoRead) {
            EXPECT_EQ(parseTimeOfDay(QString::fromUtf8(typed), style).minutes, 1170) << typed;
        }
        EXPECT_EQ(parseTimeOfDay(QString::fromUtf8(c.morningTyped), style).minutes, 425);
        // A day period typed halfway is still being typed.
        if (c.twelveHour) {
            const QString halfway = QStringLiteral("7:30 ") + style.pmText.left(1);
            EXPECT_EQ(parseTimeOfDay(halfway, style).state, QValidator::Intermediate) << halfway.toStdString();
            EXPECT_TRUE(parseTimeOfDay(u"7:30", style).needsDayPeriod);
        }
        for (int minutes = 0; minutes < 1440; ++minutes) {
            ASSERT_EQ(parseTimeOfDay(formatTimeOfDay(minutes, style), style).minutes, minutes);
        }
    }
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

TEST(QuietHoursTimeInputFieldTest, TakesWhatIsTypedOrSaysWhyNot)
{
    FieldHost host;
    EXPECT_EQ(host.field->accessibleName(), QStringLiteral("Quiet hours start"));
    EXPECT_EQ(host.field->text(), QStringLiteral("22:00"));
    std::vector<QString> problems;
    QObject::connect(host.field, &QuietHoursTimeInputField::problemChanged,
                     [&](const QString &p) { problems.push_back(p); });

    // A typo is shown as typed and never taken as another time ("25:00" is not 02:00).
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("25:00"));
    EXPECT_EQ(host.field->text(), QStringLiteral("25:00"));
    EXPECT_TRUE(host.edits.empty());
    host.other->setFocus();
    ASSERT_TRUE(waitUntil([&] { return !host.field->hasFocus(); }));
    EXPECT_EQ(host.field->text(), QStringLiteral("22:00"));
    EXPECT_EQ(host.field->minutes(), 1320);
    EXPECT_TRUE(host.edits.empty());
    EXPECT_EQ(host.field->problem(), QStringLiteral("\u201C25:00\u201D was not saved: type a time such as 22:00."));
    EXPECT_EQ(host.field->accessibleDescription(), host.field->problem());

    // Digits alone are a time: "0700" is 07:00, taken as typed and then shown the usual way.
    host.field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return host.field->hasFocus(); }));
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("0700"));
    EXPECT_EQ(host.edits.back(), 420);
    EXPECT_TRUE(host.field->problem().isEmpty());
    host.field->endEditing();
    EXPECT_EQ(host.field->text(), QStringLiteral("07:00"));

    // Emptying the field and leaving puts the time back without a complaint.
    host.field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return host.field->hasFocus(); }));
    host.field->selectAll();
    QTest::keyClick(host.field, Qt::Key_Backspace);
    host.field->endEditing();
    EXPECT_EQ(host.field->text(), QStringLiteral("07:00"));
    EXPECT_TRUE(host.field->problem().isEmpty());
    EXPECT_EQ(problems.size(), 2u);
}

// On a 12-hour clock (en_US) a time without AM or PM is not guessed: the field says what is
// missing, and the same time with its day period is taken.
TEST(QuietHoursTimeInputFieldTest, AsksForTheDayPeriodOnATwelveHourClock)
{
    FieldHost host;
    host.field->setTimeStyle(TimeOfDayStyle::of(QLocale(QStringLiteral("en_US"))));
    EXPECT_EQ(host.field->text(), QStringLiteral("10:00 PM"));
    host.field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return host.field->hasFocus(); }));
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("7:30"));
    QTest::keyClick(host.field, Qt::Key_Return);
    EXPECT_TRUE(host.edits.empty());
    EXPECT_EQ(host.field->text(), QStringLiteral("10:00 PM"));
    EXPECT_EQ(host.field->problem(), QStringLiteral("\u201C7:30\u201D was not saved: add AM or PM."));

    host.field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return host.field->hasFocus(); }));
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("7:30 pm"));
    EXPECT_EQ(host.edits, std::vector<int>{1170});
    EXPECT_TRUE(host.field->problem().isEmpty());
    QTest::keyClick(host.field, Qt::Key_Return);
    EXPECT_EQ(host.field->text(), QStringLiteral("7:30 PM"));
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

    // A day period with dots ("\u03BC.\u03BC.", "p. m.") has no bearing on which part steps.
    for (const char *locale : {"el_GR", "es_US"}) {
        SCOPED_TRACE(locale);
        host.field->setTimeStyle(TimeOfDayStyle::of(QLocale(QString::fromLatin1(locale))));
        host.field->setMinutes(22 * 60 + 10);
        host.edits.clear();
        host.field->setCursorPosition(4);   // "10:1|0 ..."
        QTest::keyClick(host.field, Qt::Key_Up);
        host.field->setCursorPosition(host.field->text().size());   // after the day period
        QTest::keyClick(host.field, Qt::Key_Up);
        host.field->setCursorPosition(1);
        QTest::keyClick(host.field, Qt::Key_Down);
        EXPECT_EQ(host.edits, (std::vector<int>{22 * 60 + 11, 22 * 60 + 12, 21 * 60 + 12}));
    }
}

} // namespace
} // namespace quillby::test
