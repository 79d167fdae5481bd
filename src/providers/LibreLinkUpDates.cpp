#include "providers/LibreLinkUpDates.h"

#include "core/AsciiText.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>

namespace quillby::librelinkup {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Builds a UTC date from calendar fields; nothing when a field is out of range.
std::optional<Date> utcDate(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr std::array<int, 12> monthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    const int lastDay = monthDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
    if (day > lastDay) {
        return std::nullopt;
    }
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<Date>(days * 86400 + hour * 3600 + minute * 60 + second);
}

// Reads a number with "." as the decimal point whatever the process locale.
std::optional<double> localeFreeDouble(const std::string &text)
{
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

int toInt(const std::ssub_match &match)
{
    return std::atoi(match.str().c_str());
}

std::optional<Date> parseInternetDateTime(const std::string &text)
{
    static const std::regex pattern(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d{1,9})?(Z|([+-])(\d{2}):?(\d{2}))$)");
    std::smatch m;
    if (!std::regex_match(text, m, pattern)) {
        return std::nullopt;
    }
    auto date = utcDate(toInt(m[1]), toInt(m[2]), toInt(m[3]), toInt(m[4]), toInt(m[5]), toInt(m[6]));
    if (!date) {
        return std::nullopt;
    }
    if (m[7].matched) {
        *date += localeFreeDouble("0" + m[7].str()).value_or(0);
    }
    if (m[9].matched) {
        const int hours = toInt(m[10]);
        const int minutes = toInt(m[11]);
        if (hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        const int offset = hours * 3600 + minutes * 60;
        *date -= m[9].str() == "+" ? offset : -offset;
    }
    return date;
}

std::optional<Date> parseFactoryTwelveHour(const std::string &text)
{
    static const std::regex pattern(R"(^(\d{1,2})/(\d{1,2})/(\d{4}) (\d{1,2}):(\d{2}):(\d{2}) ([AaPp][Mm])$)");
    std::smatch m;
    if (!std::regex_match(text, m, pattern)) {
        return std::nullopt;
    }
    const int hour = toInt(m[4]);
    if (hour < 1 || hour > 12) {
        return std::nullopt;
    }
    const bool pm = asciiLowercased(m[7].str()[0]) == 'p';
    const int hour24 = (hour % 12) + (pm ? 12 : 0);
    return utcDate(toInt(m[3]), toInt(m[1]), toInt(m[2]), hour24, toInt(m[5]), toInt(m[6]));
}

std::optional<Date> parseFactoryTwentyFourHour(const std::string &text)
{
    static const std::regex pattern(R"(^(\d{1,2})/(\d{1,2})/(\d{4}) (\d{1,2}):(\d{2}):(\d{2})$)");
    std::smatch m;
    if (!std::regex_match(text, m, pattern)) {
        return std::nullopt;
    }
    return utcDate(toInt(m[3]), toInt(m[1]), toInt(m[2]), toInt(m[4]), toInt(m[5]), toInt(m[6]));
}

} // namespace

std::optional<Date> parseTimestamp(const std::string &text)
{
    if (auto date = parseInternetDateTime(text)) {
        return date;
    }
    if (auto date = parseFactoryTwelveHour(text)) {
        return date;
    }
    return parseFactoryTwentyFourHour(text);
}

std::optional<Date> parseHTTPDate(const std::string &text)
{
    static const std::regex pattern(
        R"(^([A-Za-z]{3}), (\d{2}) ([A-Za-z]{3}) (\d{4}) (\d{2}):(\d{2}):(\d{2}) (GMT|UTC|UT|[+-]\d{4})$)");
    static constexpr std::array<const char *, 7> weekdays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::array<const char *, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::smatch m;
    if (!std::regex_match(text, m, pattern)) {
        return std::nullopt;
    }
    bool knownWeekday = false;
    for (const char *name : weekdays) {
        knownWeekday = knownWeekday || asciiEqualIgnoringCase(name, m[1].str());
    }
    int month = 0;
    for (std::size_t i = 0; i < months.size(); ++i) {
        if (asciiEqualIgnoringCase(months[i], m[3].str())) {
            month = static_cast<int>(i) + 1;
        }
    }
    if (!knownWeekday || month == 0) {
        return std::nullopt;
    }
    auto date = utcDate(toInt(m[4]), month, toInt(m[2]), toInt(m[5]), toInt(m[6]), toInt(m[7]));
    if (!date) {
        return std::nullopt;
    }
    const std::string zone = m[8].str();
    if (zone[0] == '+' || zone[0] == '-') {
        const int hours = std::atoi(zone.substr(1, 2).c_str());
        const int minutes = std::atoi(zone.substr(3, 2).c_str());
        const int offset = hours * 3600 + minutes * 60;
        *date -= zone[0] == '+' ? offset : -offset;
    }
    return date;
}

std::optional<double> parseDecimal(const std::string &text)
{
    // [+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?, scanned by hand: a backtracking regular expression
    // recurses once per digit and a very long header value would exhaust the stack.
    const std::size_t size = text.size();
    std::size_t at = 0;
    const auto sign = [&] {
        if (at < size && (text[at] == '+' || text[at] == '-')) {
            ++at;
        }
    };
    const auto digits = [&] {
        const std::size_t start = at;
        while (at < size && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        return at - start;
    };
    sign();
    const std::size_t whole = digits();
    std::size_t fraction = 0;
    if (at < size && text[at] == '.') {
        ++at;
        fraction = digits();
    }
    if (whole == 0 && fraction == 0) {
        return std::nullopt;
    }
    if (at < size && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        sign();
        if (digits() == 0) {
            return std::nullopt;
        }
    }
    if (at != size) {
        return std::nullopt;
    }
    const auto value = localeFreeDouble(text[0] == '+' ? text.substr(1) : text);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace quillby::librelinkup
