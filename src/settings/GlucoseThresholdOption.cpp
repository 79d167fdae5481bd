#include "settings/GlucoseThresholdOption.h"

#include "core/GlucoseThresholdSetting.h"

#include <cmath>

namespace quillby {

namespace {
struct Grid {
    int first;
    int last;
};

Grid mgdlGrid(GlucoseThresholdKind kind)
{
    const GlucoseThresholdSetting &setting =
        kind == GlucoseThresholdKind::low ? GlucoseThresholds::low : GlucoseThresholds::high;
    return Grid{static_cast<int>(setting.minimum), static_cast<int>(setting.maximum)};
}

// In tenths of a mmol/L.
Grid mmolTenthsGrid(GlucoseThresholdKind kind)
{
    return kind == GlucoseThresholdKind::low ? Grid{36, 50} : Grid{60, 200};
}
} // namespace

std::vector<double> GlucoseThresholdOption::mgdlValues(GlucoseThresholdKind kind)
{
    const Grid grid = mgdlGrid(kind);
    std::vector<double> values;
    for (int value = grid.first; value <= grid.last; ++value) {
        values.push_back(value);
    }
    return values;
}

std::vector<double> GlucoseThresholdOption::mmolValues(GlucoseThresholdKind kind)
{
    // A whole number of tenths divided by 10, never a running sum of 0.1.
    const Grid grid = mmolTenthsGrid(kind);
    std::vector<double> values;
    for (int tenths = grid.first; tenths <= grid.last; ++tenths) {
        values.push_back(static_cast<double>(tenths) / 10.0);
    }
    return values;
}

std::vector<GlucoseThresholdOption> GlucoseThresholdOption::options(GlucoseThresholdKind kind, GlucoseUnits unit)
{
    std::vector<GlucoseThresholdOption> rows;
    if (unit == GlucoseUnits::mmolL) {
        // The label is written from the whole tenths, so the decimal separator is a point
        // whatever the C library's locale says.
        const Grid grid = mmolTenthsGrid(kind);
        for (int tenths = grid.first; tenths <= grid.last; ++tenths) {
            const double value = static_cast<double>(tenths) / 10.0;
            const std::string label =
                std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " mmol/L";
            rows.push_back({std::round(value * GlucoseThresholds::kMgdlPerMmol), label});
        }
    } else {
        for (double value : mgdlValues(kind)) {
            rows.push_back({value, std::to_string(static_cast<long long>(std::round(value))) + " mg/dL"});
        }
    }
    return rows;
}

} // namespace quillby
