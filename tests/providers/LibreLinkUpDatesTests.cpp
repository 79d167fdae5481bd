#include "providers/LibreLinkUpDates.h"

#include "ScopedTurkishLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillby;
using namespace quillby::librelinkup;

namespace {

constexpr double kFactoryExample = 1704207845.0;   // 2024-01-02 15:04:05 UTC

TEST(LibreLinkUpTimestamp, ReadsEveryFormat)
{
    struct Row {
        const char *text;
        std::optional<double> date;
    };
    const std::vector<Row> rows = {
        {"1/2/2024 3:04:05 PM", kFactoryExample},
        {"1/2/2024 15:04:05", kFactoryExample},
        {"01/02/2024 03:04:05 PM", kFactoryExample},
        {"1/2/2024 12:00:00 AM", kFactoryExample - 15 * 3600 - 245},
        {"1/2/2024 12:00:00 PM", kFactoryExample - 3 * 3600 - 245},
        {"2024-01-02T15:04:05Z", kFactoryExample},
        {"2024-01-02T15:04:05.500Z", kFactoryExample + 0.5},
        {"2024-01-02T16:04:05+01:00", kFactoryExample},
        {"2024-01-02T10:04:05.25-05:00", kFactoryExample + 0.25},
        {"2/29/2024 0:00:00", 1709164800.0},
        {"2/29/2023 0:00:00", std::nullopt},
        {"13/2/2024 3:04:05 PM", std::nullopt},
        {"1/2/2024 13:04:05 PM", std::nullopt},
        {"1/2/2024 3:04:05", kFactoryExample - 12 * 3600},
        {"1/2/2024 24:00:00", std::nullopt},
        {"2024-01-02T15:04:05", std::nullopt},   // an internet date-time carries its zone
        {"2024-01-02 15:04:05Z", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
        {" 1/2/2024 3:04:05 PM", std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseTimestamp(row.text), row.date);
    }
}

TEST(LibreLinkUpRetryAfter, DecimalAndHTTPDateForms)
{
    EXPECT_EQ(parseDecimal("120"), 120.0);
    EXPECT_EQ(parseDecimal("1e3"), 1000.0);
    EXPECT_EQ(parseDecimal("-5"), -5.0);
    EXPECT_EQ(parseDecimal("+7.5"), 7.5);
    EXPECT_EQ(parseDecimal(".5"), 0.5);
    EXPECT_EQ(parseDecimal("5."), 5.0);
    EXPECT_EQ(parseDecimal("2E+2"), 200.0);
    EXPECT_EQ(parseDecimal("1" + std::string(300, '0')), 1e300);
    for (const char *text : {"", " 1", "1 ", "abc", "1e999", "nan", "inf", "0x10", "1,5", "+", "-", ".", "e5", "1e",
                             "1e+", "1.2.3", "++1", "1e5.5"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseDecimal(text));
    }
    // A very long digit run overflows to no number; it does not exhaust the stack.
    EXPECT_FALSE(parseDecimal(std::string(300000, '1')));
    EXPECT_EQ(parseHTTPDate("Fri, 15 Jan 2027 08:00:00 GMT"), 1800000000.0);
    EXPECT_EQ(parseHTTPDate("Fri, 15 Jan 2027 09:00:00 +0100"), 1800000000.0);
    EXPECT_FALSE(parseHTTPDate("Fri, 15 Foo 2027 08:00:00 GMT"));
    EXPECT_FALSE(parseHTTPDate("15 Jan 2027 08:00:00 GMT"));
}

// Weekday, month and AM/PM names are protocol words: they match in any letter case whatever the
// process locale (strcasecmp and std::toupper follow it; in Turkish "FRI" is not "Fri").
TEST(LibreLinkUpTimestamp, NamesMatchInAsciiWhateverTheLocale)
{
    test::ScopedTurkishLocale turkish;
    if (!turkish.active()) {
        GTEST_SKIP() << "the Turkish test locale could not be made";
    }
    EXPECT_EQ(parseHTTPDate("FRI, 15 JAN 2027 08:00:00 GMT"), 1800000000.0);
    EXPECT_EQ(parseHTTPDate("fri, 15 jan 2027 08:00:00 GMT"), 1800000000.0);
}

} // namespace
