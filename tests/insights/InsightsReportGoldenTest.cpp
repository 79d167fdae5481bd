// The whole report, to the last bit, on seeded random histories with daylight-saving days, gaps,
// duplicates, repeats, unsorted stretches and broken readings. The digests below were recorded
// from the engine before its hot paths were reworked; any change to a figure, however small,
// changes a digest. Set QUILLBY_PRINT_REPORT_DIGESTS=1 to print the table (after a deliberate
// change of a result), or QUILLBY_PRINT_REPORT_DUMP=<case> to print one case's text in full.

#include "insights/InsightsCalculation.h"
#include "insights/InsightsCoverage.h"
#include "core/ReadingCleanup.h"
#include "providers/GlucoseProviderDescription.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quillby {
namespace {

// Only the raw engine output of std::mt19937_64 is fixed by the standard; the distributions are
// not, so the mapping to ranges is ours.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t below(std::uint64_t n) { return engine_() % n; }
    double unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }

private:
    std::mt19937_64 engine_;
};

constexpr double kDay = 86400;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// 2024-09-01 00:00 UTC to 2025-04-20: both daylight-saving changes of the northern zones (and the
// April and October ones of the southern), and a 90-day window across each.
constexpr Date kFirst = 1725148800;
constexpr int kDays = 231;

struct Profile {
    const char *name;
    const char *zone;
    std::uint64_t seed;
    double step;          // seconds between readings
    double libreShare;    // share of LibreLinkUp readings (the rest Dexcom Share)
    bool dirty;           // non-finite, non-positive and odd-duration readings
    bool inDateOrder;     // no unsorted stretches: usable readings handed over oldest first
    bool decimals = false;   // tenths of mg/dL and values converted from mmol/L
};

GlucoseReadings makeReadings(const Profile &profile)
{
    static const char *trends[] = {"Flat", "FortyFiveUp", "SingleUp", "FortyFiveDown", "SingleDown", "DoubleUp"};
    Random random(profile.seed);
    GlucoseReadings readings;
    double value = 120;
    const Date last = kFirst + kDays * kDay;
    for (Date date = kFirst; date < last;) {
        // Gaps: a missed poll, an hour, a night, two days.
        if (random.chance(0.002)) {
            static const double gaps[] = {300, 3600, 6 * 3600, 2 * kDay};
            date += gaps[random.below(4)];
            continue;
        }
        value = std::clamp(value + static_cast<double>(random.below(9)) - 4.0, 40.0, 400.0);
        const bool libre = random.unit() < profile.libreShare;
        double mgdL = value;
        if (profile.decimals) {
            // A tenth of a mg/dL either way, or a one-decimal mmol/L value converted back.
            mgdL = random.chance(0.2) ? std::round(value / 18.0182 * 10) / 10 * 18.0182
                                      : value + (static_cast<double>(random.below(21)) - 10.0) / 10.0;
        }
        if (random.chance(0.05)) {
            mgdL += 0.5;   // values that are not whole mg/dL
        }
        double duration = libre ? 60 : 300;
        if (profile.dirty && random.chance(0.01)) {
            static const double odd[] = {0, -5, kNaN, 2000, 17.25, kInfinity};
            duration = odd[random.below(6)];
        }
        Date at = date;
        if (random.chance(0.03)) {
            at += random.unit() * 40 - 20;   // jitter, fractions of a second
        }
        readings.emplace_back(mgdL, trends[random.below(6)], at, duration,
                              libre ? GlucoseProvider::libreLinkUp : GlucoseProvider::dexcom);
        if (random.chance(0.01)) {
            // The same instant again with another value (the later one wins), or a repeat of the
            // same value within 30 s (dropped).
            GlucoseReading again = readings.back();
            if (random.chance(0.5)) {
                again.mgdL += 3;
            } else {
                again.date += 1 + static_cast<double>(random.below(30));
            }
            readings.push_back(again);
        }
        if (profile.dirty && random.chance(0.004)) {
            static const double badValues[] = {kNaN, 0, -12, kInfinity};
            readings.emplace_back(badValues[random.below(4)], "Flat", date + 7, 300, GlucoseProvider::dexcom);
        }
        if (profile.dirty && random.chance(0.002)) {
            readings.emplace_back(150, "Flat", random.chance(0.5) ? kNaN : -kInfinity, 300, GlucoseProvider::dexcom);
        }
        date += profile.step;
    }
    if (profile.inDateOrder) {
        // As saved history hands them over: usable dates ascending, equal dates in input order,
        // broken dates left where they were made.
        std::vector<std::pair<Date, std::size_t>> keys;
        keys.reserve(readings.size());
        Date key = kFirst;
        for (std::size_t i = 0; i < readings.size(); ++i) {
            if (std::isfinite(readings[i].date)) {
                key = readings[i].date;
            }
            keys.emplace_back(key, i);
        }
        std::sort(keys.begin(), keys.end());
        GlucoseReadings ordered;
        ordered.reserve(readings.size());
        for (const auto &[date, index] : keys) {
            ordered.push_back(std::move(readings[index]));
        }
        return ordered;
    }
    // Unsorted stretches: a few blocks swapped, as a merge of two sources might hand them over.
    for (int k = 0; k < 6; ++k) {
        const std::size_t length = 500;
        const std::size_t a = random.below(readings.size() - length);
        const std::size_t b = random.below(readings.size() - length);
        if (a + length <= b || b + length <= a) {
            std::swap_ranges(readings.begin() + static_cast<long>(a), readings.begin() + static_cast<long>(a + length),
                             readings.begin() + static_cast<long>(b));
        }
    }
    return readings;
}

// Hexadecimal floating point: every bit shows.
void put(std::string &out, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%a ", value);
    out += buffer;
}

void put(std::string &out, const std::optional<double> &value)
{
    if (value) {
        put(out, *value);
    } else {
        out += "none ";
    }
}

void put(std::string &out, std::int64_t value) { out += std::to_string(value) + " "; }

void put(std::string &out, const DateInterval &interval)
{
    put(out, interval.start);
    put(out, interval.end);
}

std::string text(const InsightsCoverage &coverage)
{
    std::string out;
    put(out, coverage.coveredDuration);
    put(out, coverage.totalDuration);
    put(out, std::int64_t{coverage.hasMissingNightWarning});
    out += "\n";
    for (const auto &day : coverage.days) {
        put(out, day.interval);
        put(out, day.coveredDuration);
        out += "\n";
    }
    for (const auto &hour : coverage.hours) {
        put(out, std::int64_t{hour.hour});
        put(out, hour.coveredDuration);
        put(out, hour.totalDuration);
        out += "\n";
    }
    return out;
}

struct Sections {
    std::vector<std::pair<std::string, std::string>> parts;
};

Sections sectionsOf(const InsightsCalculationResult &result)
{
    const InsightsSummary &s = result.summary;
    Sections sections;
    std::string figures;
    put(figures, s.interval);
    put(figures, std::int64_t{s.readingCount});
    if (s.availableInterval) {
        put(figures, *s.availableInterval);
    } else {
        figures += "none ";
    }
    for (const auto &value : {s.meanMgdl, s.standardDeviationMgdl, s.medianMgdl, s.q1Mgdl, s.q3Mgdl, s.iqrMgdl}) {
        put(figures, value);
    }
    put(figures, s.gmi.percent());
    put(figures, std::int64_t{s.gmi.unavailableReason() ? static_cast<int>(*s.gmi.unavailableReason()) : -1});
    sections.parts.emplace_back("figures", figures);

    std::string bands;
    for (const auto &band : s.bands) {
        put(bands, std::int64_t{static_cast<int>(band.band)});
        put(bands, std::int64_t{band.count});
        put(bands, band.fraction);
        bands += "\n";
    }
    sections.parts.emplace_back("bands", bands);
    sections.parts.emplace_back("coverage", text(s.coverage));
    sections.parts.emplace_back("collectionCoverage", text(s.collectionCoverage));

    std::string agp = s.agp.timeZoneIdentifier + " ";
    put(agp, std::int64_t{s.agp.contributingDayCount});
    agp += "\n";
    for (const auto &bin : s.agp.bins) {
        put(agp, std::int64_t{bin.startMinute});
        put(agp, std::int64_t{bin.readingCount});
        put(agp, std::int64_t{bin.dayCount});
        if (bin.percentiles) {
            for (double v : {bin.percentiles->p5Mgdl, bin.percentiles->p25Mgdl, bin.percentiles->medianMgdl,
                             bin.percentiles->p75Mgdl, bin.percentiles->p95Mgdl}) {
                put(agp, v);
            }
        }
        agp += "\n";
    }
    sections.parts.emplace_back("agp", agp);

    const InsightsCollectionProgress &p = result.collectionProgress;
    std::string progress;
    put(progress, p.interval);
    put(progress, p.collectionDuration);
    put(progress, p.coverageFraction);
    put(progress, std::int64_t{p.hasReadings});
    sections.parts.emplace_back("progress", progress);
    return sections;
}

std::string cleanedText(const GlucoseReadings &readings)
{
    std::string out;
    for (const auto &r : normalizedGlucoseReadings(readings)) {
        put(out, r.mgdL);
        put(out, r.date);
        put(out, r.sampleDuration);
        out += r.trendString + (r.source == GlucoseProvider::dexcom ? " d\n" : " l\n");
    }
    return out;
}

std::uint64_t fnv1a(const std::string &text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

struct Golden {
    const char *caseName;
    const char *section;
    std::uint64_t digest;
};

// Recorded before the rework; see the file comment.
const Golden kGolden[] = {
#include "InsightsReportGolden.inc"
};

const Profile kProfiles[] = {
    {"libre-berlin", "Europe/Berlin", 11, 60, 1.0, false, false},
    {"dexcom-newyork", "America/New_York", 22, 300, 0.0, false, false},
    {"mixed-lordhowe", "Australia/Lord_Howe", 33, 120, 0.5, true, false},
    {"dirty-kathmandu", "Asia/Kathmandu", 44, 180, 0.7, true, false},
    {"ordered-libre-berlin", "Europe/Berlin", 55, 60, 1.0, false, true},
    {"ordered-dirty-mixed-sydney", "Australia/Sydney", 66, 60, 0.6, true, true},
    {"decimal-ordered-libre-berlin", "Europe/Berlin", 77, 60, 1.0, false, true, true},
    {"decimal-dexcom-newyork", "America/New_York", 88, 300, 0.0, false, true, true},
    {"decimal-dirty-mixed-sydney", "Australia/Sydney", 99, 60, 0.5, true, false, true},
};

struct Period {
    const char *name;
    Date end;
    double days;
    std::optional<Date> collectionStartedAt;   // relative to end, in days
};

// Ends: after the spring change (2025-04-05 + 0.25 s), after the autumn changes (2024-11-06
// 13:37), and an odd one inside a gap-prone stretch (2025-01-15 18:00).
const Period kPeriods[] = {
    {"90d-spring", 1743811200.25, 90, -200},
    {"30d-autumn", 1730900220, 30, -10},
    {"14d-winter", 1736964000, 14, std::nullopt},
    {"90d-autumn-nan-start", 1730900220, 90, kNaN},
};

struct Produced {
    std::string caseName;
    std::string section;
    std::uint64_t digest;
};

TEST(InsightsReportGoldenTest, WholeReportIsBitForBitTheRecordedOne)
{
    const char *dump = std::getenv("QUILLBY_PRINT_REPORT_DUMP");
    std::vector<Produced> produced;
    for (const Profile &profile : kProfiles) {
        const GlucoseReadings readings = makeReadings(profile);
        produced.push_back({std::string(profile.name) + "/cleaned", "readings", fnv1a(cleanedText(readings))});
        for (const Period &period : kPeriods) {
            InsightsCalculationInput input;
            input.readings = readings;
            input.interval = DateInterval(period.end - period.days * kDay, period.end);
            if (period.collectionStartedAt) {
                input.collectionStartedAt = std::isnan(*period.collectionStartedAt)
                                                ? kNaN
                                                : period.end + *period.collectionStartedAt * kDay;
            }
            input.calendar = LocalCalendar(profile.zone);
            input.fixedCadence = &readingIsOnFixedCadence;
            const InsightsCalculationResult result = InsightsCalculationResult::calculate(input);
            const std::string name = std::string(profile.name) + "/" + period.name;
            for (const auto &[section, content] : sectionsOf(result).parts) {
                if (dump && name == dump) {
                    std::printf("== %s\n%s\n", section.c_str(), content.c_str());
                }
                produced.push_back({name, section, fnv1a(content)});
            }
            // The saved-history store's own use of the engine: coverage of the latest three days.
            const InsightsCoverage latest =
                insightsCoverage(readings, DateInterval(period.end - 3 * kDay, period.end), input.calendar);
            produced.push_back({name, "store-coverage", fnv1a(text(latest))});
        }
    }
    if (std::getenv("QUILLBY_PRINT_REPORT_DIGESTS") != nullptr) {
        for (const Produced &p : produced) {
            std::printf("    {\"%s\", \"%s\", 0x%016llxull},\n", p.caseName.c_str(), p.section.c_str(),
                        static_cast<unsigned long long>(p.digest));
        }
    }
    ASSERT_EQ(std::size(kGolden), produced.size());
    for (std::size_t i = 0; i < produced.size(); ++i) {
        SCOPED_TRACE(produced[i].caseName + " " + produced[i].section);
        EXPECT_EQ(kGolden[i].caseName, produced[i].caseName);
        EXPECT_EQ(kGolden[i].section, produced[i].section);
        EXPECT_EQ(kGolden[i].digest, produced[i].digest);
    }
}

} // namespace
} // namespace quillby
