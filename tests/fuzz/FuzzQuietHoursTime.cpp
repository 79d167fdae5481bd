// Fuzzes reading a typed quiet-hours time. The first byte picks the clock (24-hour, or a
// 12-hour one with plain, dotted or Greek day periods), the rest is the typed text. Reading never
// crashes; a time is taken only as a minute of the day and reads the same on either clock once
// written out; a 12-hour reading is one the 24-hour clock agrees with; a text lacking only its
// day period becomes a time with either one.

#include "FuzzSupport.h"

#include "settings_window/QuietHoursTimeText.h"

#include <QString>

#include <array>

using namespace quillby;

namespace {

TimeOfDayStyle styleFor(uint8_t selector)
{
    switch (selector % 4) {
    case 0: return TimeOfDayStyle::twentyFourHour();
    case 1: return TimeOfDayStyle::twelveHourClock();
    case 2: return {true, QString::fromUtf8("a.\u00A0m."), QString::fromUtf8("p.\u00A0m.")};
    default: return {true, QString::fromUtf8("\u03C0.\u03BC."), QString::fromUtf8("\u03BC.\u03BC.")};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const TimeOfDayStyle style = styleFor(data[0]);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    const TimeOfDayParse parse = parseTimeOfDay(text, style);

    const qsizetype separator = hourMinuteSeparator(text);
    FUZZ_CHECK(separator >= -1 && separator < text.size());

    FUZZ_CHECK(parse.minutes.has_value() == (parse.state == QValidator::Acceptable));
    FUZZ_CHECK(!parse.needsDayPeriod || parse.state == QValidator::Intermediate);
    if (parse.minutes) {
        const int minutes = *parse.minutes;
        FUZZ_CHECK(minutes >= 0 && minutes < 1440);
        for (const TimeOfDayStyle &other : {style, TimeOfDayStyle::twentyFourHour(), TimeOfDayStyle::twelveHourClock()}) {
            FUZZ_CHECK(parseTimeOfDay(formatTimeOfDay(minutes, other), other).minutes == minutes);
        }
        // The 12-hour clock only asks for more; it never reads a text as another time.
        TimeOfDayStyle twentyFour = style;
        twentyFour.twelveHour = false;
        FUZZ_CHECK(parseTimeOfDay(text, twentyFour).minutes == minutes);
    }
    if (parse.needsDayPeriod) {
        const std::optional<int> am = parseTimeOfDay(text + QLatin1Char(' ') + style.amText, style).minutes;
        const std::optional<int> pm = parseTimeOfDay(text + QLatin1Char(' ') + style.pmText, style).minutes;
        FUZZ_CHECK(am && pm && *am < 720 && *pm == *am + 720);
    }
    return 0;
}
