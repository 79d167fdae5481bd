#include "settings/GlucoseThresholdOption.h"
#include "settings/ThresholdValidator.h"
#include "ScopedLocale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <limits>

namespace quillby {
namespace {

using Kind = GlucoseThresholdKind;

TEST(GlucoseThresholdOption, GridsAndRows)
{
    struct Case {
        Kind kind;
        GlucoseUnits unit;
        std::size_t rows;
        GlucoseThresholdOption first;
        GlucoseThresholdOption last;
    };
    const Case cases[] = {
        {Kind::low, GlucoseUnits::mgdL, 26, {65, "65 mg/dL"}, {90, "90 mg/dL"}},
        {Kind::high, GlucoseUnits::mgdL, 253, {108, "108 mg/dL"}, {360, "360 mg/dL"}},
        {Kind::low, GlucoseUnits::mmolL, 15, {65, "3.6 mmol/L"}, {90, "5.0 mmol/L"}},
        {Kind::high, GlucoseUnits::mmolL, 141, {108, "6.0 mmol/L"}, {360, "20.0 mmol/L"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.first.label);
        const auto rows = GlucoseThresholdOption::options(c.kind, c.unit);
        ASSERT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.front(), c.first);
        EXPECT_EQ(rows.back(), c.last);
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_LT(rows[i - 1].mgdlValue, rows[i].mgdlValue);
        }
    }

    // The low mmol/L rows stand for these mg/dL values (x18, halves away from zero).
    std::vector<double> low;
    for (const auto &row : GlucoseThresholdOption::options(Kind::low, GlucoseUnits::mmolL)) {
        low.push_back(row.mgdlValue);
    }
    EXPECT_EQ(low, (std::vector<double>{65, 67, 68, 70, 72, 74, 76, 77, 79, 81, 83, 85, 86, 88, 90}));

    // Each mmol/L value is a whole number of tenths divided by ten, not a running sum.
    const auto values = GlucoseThresholdOption::mmolValues(Kind::high);
    ASSERT_EQ(values.size(), 141u);
    EXPECT_EQ(values[13], 73.0 / 10.0);
    EXPECT_EQ(values.back(), 20.0);
    EXPECT_EQ(GlucoseThresholdOption::mgdlValues(Kind::low).size(), 26u);
}

TEST(GlucoseThresholdOption, MmolLabelsUseAPointWhateverTheCLocale)
{
    // Qt sets the C library's locale from the environment; a German one writes "4,0".
    std::string label;
    {
        const test::ScopedLocale german(LC_NUMERIC, QStringLiteral("de_DE"));
        if (!german.active()) {
            GTEST_SKIP() << "no German locale could be had";
        }
        label = GlucoseThresholdOption::options(Kind::low, GlucoseUnits::mmolL)[4].label;
    }
    EXPECT_EQ(label, "4.0 mmol/L");
}

TEST(ThresholdValidator, SnapsToTheNearestRowSmallerOnTies)
{
    struct Case {
        const char *name;
        Kind kind;
        GlucoseUnits unit;
        double value;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"first-run low in mmol/L is row 4.0", Kind::low, GlucoseUnits::mmolL, 72, 72},
        {"first-run high in mmol/L is row 15.0", Kind::high, GlucoseUnits::mmolL, 270, 270},
        {"first-run low in mg/dL", Kind::low, GlucoseUnits::mgdL, 72, 72},
        {"69 between 68 and 70: the smaller", Kind::low, GlucoseUnits::mmolL, 69, 68},
        {"75 between 74 and 76: the smaller", Kind::low, GlucoseUnits::mmolL, 75, 74},
        {"below the low grid, mmol/L", Kind::low, GlucoseUnits::mmolL, 40, 65},
        {"below the low grid, mg/dL", Kind::low, GlucoseUnits::mgdL, 40, 65},
        {"above the high grid, mmol/L", Kind::high, GlucoseUnits::mmolL, 400, 360},
        {"above the high grid, mg/dL", Kind::high, GlucoseUnits::mgdL, 400, 360},
        {"on the mg/dL grid stays", Kind::high, GlucoseUnits::mgdL, 181, 181},
        {"fraction rounds to the nearer", Kind::high, GlucoseUnits::mgdL, 180.6, 181},
        {"exact half: the smaller", Kind::high, GlucoseUnits::mgdL, 180.5, 180},
        {"lowest border", Kind::low, GlucoseUnits::mgdL, 65, 65},
        {"highest border", Kind::high, GlucoseUnits::mmolL, 360, 360},
        {"high just above the low grid", Kind::high, GlucoseUnits::mmolL, 91, 108},
        {"not a number keeps the first row", Kind::low, GlucoseUnits::mgdL, nan, 65},
    };
    const ThresholdValidator validator;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(validator.nearestOption(c.kind, c.unit, c.value), c.expected);
    }
}

} // namespace
} // namespace quillby
