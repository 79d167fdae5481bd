#pragma once

// The statistics of WeightedStatistics.h and InsightsBand.h as templates, so that the engine runs
// them over its internal samples and the public functions over weighted readings with the very
// same arithmetic.

#include "insights/InsightsBand.h"
#include "insights/InsightsSample.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quillby::insights_detail {

inline double clampedFraction(double fraction)
{
    if (std::isnan(fraction) || fraction < 0) {
        return 0;
    }
    return fraction > 1 ? 1 : fraction;
}

// Ascending order with every NaN after every number: a strict weak order even for values that
// no clean reading has, so sorting can never run out of bounds.
inline bool ascending(double a, double b)
{
    return a < b || (!std::isnan(a) && std::isnan(b));
}

double percentileOfSorted(std::span<const double> sorted, double fraction);

// Whether a list fed piece by piece has equal weights: every reading on a fixed cadence (see
// FixedCadenceRule), all weighing the same within 1 µs.
class WeightCheck {
public:
    void add(TimeInterval weight, bool fixedCadence)
    {
        if (pieces_ == 0) {
            firstWeight_ = weight;
        }
        ++pieces_;
        if (!fixedCadence || !(std::fabs(weight - firstWeight_) < 0.000001)) {
            equalWeights_ = false;
        }
    }
    std::size_t pieces() const { return pieces_; }
    bool equalWeights() const { return equalWeights_; }
    // The weight the others are held to (the first piece's): for a walk that runs the check on
    // its own in locals, once there is a first piece, and hands back what it added.
    TimeInterval firstWeight() const { return firstWeight_; }
    void addChecked(std::size_t pieces, bool equalWeights)
    {
        pieces_ += pieces;
        equalWeights_ = equalWeights;
    }

private:
    std::size_t pieces_ = 0;
    TimeInterval firstWeight_ = 0;
    bool equalWeights_ = true;
};

// Numbers 0, 1, 2, ... for the distinct values of a list, in the order they first appear.
// Values equal by == share one number (the value kept is the first one seen); NaN never equals
// anything, so every NaN gets a number of its own. Glucose values repeat a lot and are nearly
// always whole or on a tenth of a mg/dL, so values from 0 to 1024 have a slot of their own by
// the nearest tenth (a four-byte number, checked against the dense list of values, so that the
// table of a whole report stays small); a value that shares a tenth with an earlier one, and any
// other, is hashed.
class ValueIds {
public:
    // The number of `value`; `added` says whether the value is new.
    [[gnu::always_inline]] std::uint32_t idOf(double value, bool &added)
    {
        // The short path, kept small enough to be inlined into the loops that feed it.
        if (inDirectRange(value) && !direct_.empty()) [[likely]] {
            const std::uint32_t slot = direct_[directIndex(value)];
            if (slot != 0 && values_[slot - 1] == value) [[likely]] {
                added = false;
                return slot - 1;
            }
        }
        return addSlow(value, added);
    }

    // The number of a value that has a direct slot of its own already, or false.
    [[gnu::always_inline]] bool find(double value, std::uint32_t &id) const
    {
        if (inDirectRange(value) && !direct_.empty()) [[likely]] {
            const std::uint32_t slot = direct_[directIndex(value)];
            if (slot != 0 && values_[slot - 1] == value) [[likely]] {
                id = slot - 1;
                return true;
            }
        }
        return false;
    }

    const std::vector<double> &values() const { return values_; }
    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    // A NaN or a zero (which equals a negative zero) was seen.
    bool hasNaNOrZero() const { return hasNaNOrZero_; }

    // When every value has a slot of its own, calls onId(id) for each in ascending order of value
    // (slots are in the order of their values) and returns true; otherwise false.
    template <class OnId>
    bool forEachInOrder(OnId &&onId) const
    {
        if (directCount_ != values_.size()) {
            return false;
        }
        std::size_t seen = 0;
        for (const std::uint32_t slot : direct_) {
            if (seen == values_.size()) {
                break;
            }
            if (slot != 0) {
                onId(slot - 1);
                ++seen;
            }
        }
        return true;
    }

private:
    static constexpr double kDirectLimit = 1024;
    static constexpr std::size_t kDirectSlots = 10241;   // tenths of [0, 1024), rounded

    static bool inDirectRange(double value) { return value >= 0 && value < kDirectLimit; }
    // Non-decreasing in the value, so slots taken by one value each are in order.
    static std::size_t directIndex(double value)
    {
        return static_cast<std::size_t>(static_cast<std::int64_t>(value * 10 + 0.5));   // in range: one conversion
    }

    [[gnu::noinline]] std::uint32_t addSlow(double value, bool &added)
    {
        if (std::isnan(value) || value == 0) {
            hasNaNOrZero_ = true;
        }
        if (inDirectRange(value)) {
            if (direct_.empty()) {
                direct_.assign(kDirectSlots, 0);
            }
            std::uint32_t &slot = direct_[directIndex(value)];
            if (slot == 0) {
                slot = push(value, added);
                ++directCount_;
                return slot - 1;
            }
            if (values_[slot - 1] == value) {
                added = false;
                return slot - 1;
            }
            // The slot is another value's: hashed below.
        }
        if (std::isnan(value)) {
            return push(value, added) - 1;
        }
        if ((values_.size() - directCount_ + 1) * 2 > slots_.size()) {
            grow();
        }
        for (std::size_t slot = home(value);; slot = (slot + 1) & mask_) {
            if (slots_[slot] == 0) {
                slots_[slot] = push(value, added);
                return slots_[slot] - 1;
            }
            if (values_[slots_[slot] - 1] == value) {
                added = false;
                return slots_[slot] - 1;
            }
        }
    }

    std::uint32_t push(double value, bool &added)
    {
        values_.push_back(value);
        added = true;
        return static_cast<std::uint32_t>(values_.size());
    }

    bool isInDirectSlot(std::size_t id) const
    {
        const double value = values_[id];
        return inDirectRange(value) && !direct_.empty() && direct_[directIndex(value)] == id + 1;
    }

    std::size_t home(double value) const
    {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(value == 0 ? 0.0 : value);
        // splitmix64's finaliser: nearby values differ only in their high bits.
        std::uint64_t h = bits;
        h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
        h ^= h >> 31;
        return static_cast<std::size_t>(h) & mask_;
    }

    void grow()
    {
        const std::size_t size = std::max<std::size_t>(64, slots_.size() * 2);
        slots_.assign(size, 0);
        mask_ = size - 1;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if (std::isnan(values_[i]) || isInDirectSlot(i)) {
                continue;
            }
            std::size_t slot = home(values_[i]);
            while (slots_[slot] != 0) {
                slot = (slot + 1) & mask_;
            }
            slots_[slot] = static_cast<std::uint32_t>(i + 1);
        }
    }

    std::vector<double> values_;
    std::vector<std::uint32_t> direct_;   // by tenth: id + 1; 0 is empty
    std::size_t directCount_ = 0;
    std::vector<std::uint32_t> slots_;    // the other values, hashed: id + 1; 0 is empty
    std::size_t mask_ = 0;
    bool hasNaNOrZero_ = false;
};

// The distinct values of a list, each with its count and its summed weight, both sums taken in
// input order (see ValueIds for which values are distinct). This replaces sorting the whole
// list by sorting only its distinct values. It also keeps the list's WeightCheck, so a list can
// be fed piece by piece without being kept.
class DistinctValues {
public:
    struct Entry {
        double value;
        double count;
        double weight;
    };

    // Returns the number of the value (see ValueIds).
    [[gnu::always_inline]] std::uint32_t add(double value, TimeInterval weight, bool fixedCadence)
    {
        check_.add(weight, fixedCadence);
        return count(value, weight);
    }

    // Counts a value without the equal-weights check; returns its number.
    [[gnu::always_inline]] std::uint32_t count(double value, TimeInterval weight)
    {
        bool added = false;
        const std::uint32_t id = ids_.idOf(value, added);
        if (added) {
            entries_.push_back(Entry{value, 1.0, weight});
        } else {
            Entry &entry = entries_[id];
            entry.count += 1.0;
            entry.weight += weight;
        }
        return id;
    }

    // count() of a value seen before that has a direct slot (see ValueIds::find) and a number no
    // greater than `maxId`; otherwise nothing and false.
    [[gnu::always_inline]] bool tryCount(double value, TimeInterval weight, std::uint32_t &id,
                                         std::uint32_t maxId = std::numeric_limits<std::uint32_t>::max())
    {
        if (!ids_.find(value, id) || id > maxId) {
            return false;
        }
        Entry &entry = entries_[id];
        entry.count += 1.0;
        entry.weight += weight;
        return true;
    }

    // The numbers of the values fed so far.
    const ValueIds &ids() const { return ids_; }

    // Takes the equal-weights check of values fed with count() instead of add(): a caller's own
    // check, in a local, stays out of memory in a hot loop.
    void adoptCheck(const WeightCheck &check) { check_ = check; }

    std::size_t pieces() const { return check_.pieces(); }
    bool empty() const { return check_.pieces() == 0; }
    bool equalWeights() const { return check_.equalWeights(); }

    // The entries sorted ascending by value, NaN last.
    std::vector<Entry> sorted() &&
    {
        std::vector<Entry> ordered;
        ordered.reserve(entries_.size());
        if (ids_.forEachInOrder([&](std::uint32_t id) { ordered.push_back(entries_[id]); })) {
            return ordered;
        }
        std::sort(entries_.begin(), entries_.end(), [](const Entry &a, const Entry &b) { return ascending(a.value, b.value); });
        return std::move(entries_);
    }

private:
    WeightCheck check_;
    ValueIds ids_;
    std::vector<Entry> entries_;   // by id
};

// Writes the quantile of each fraction of a list into `out` (same length as `fractions`) from
// its distinct values sorted ascending (not empty) and whether its weights are equal.
inline void quantilesOfEntries(std::span<const DistinctValues::Entry> entries, bool equalWeights,
                               std::span<const double> fractions, std::span<std::optional<double>> out)
{
    if (equalWeights) {
        // The plain percentile of the sorted values, reading each rank off the running counts
        // of the distinct values.
        std::vector<double> endRank(entries.size());
        double count = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            count += entries[i].count;
            endRank[i] = count;
        }
        const auto valueAtRank = [&](double rank) {
            const auto it = std::upper_bound(endRank.begin(), endRank.end(), rank);
            return entries[std::min(entries.size() - 1, static_cast<std::size_t>(it - endRank.begin()))].value;
        };
        for (std::size_t k = 0; k < fractions.size(); ++k) {
            const double h = clampedFraction(fractions[k]) * (count - 1);
            const double lo = std::floor(h);
            const double low = valueAtRank(lo);
            const double high = valueAtRank(std::ceil(h));
            out[k] = low + (h - lo) * (high - low);
        }
        return;
    }

    // Weighted: each distinct value sits at the middle of its share of time; interpolate
    // between neighbouring midpoints.
    double total = 0;
    for (const auto &entry : entries) {
        total += entry.weight;
    }
    std::vector<double> positions(entries.size());
    double before = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        positions[i] = before + entries[i].weight * 0.5;
        before += entries[i].weight;
    }

    for (std::size_t k = 0; k < fractions.size(); ++k) {
        const double target = clampedFraction(fractions[k]) * total;
        if (target <= positions.front()) {
            out[k] = entries.front().value;
            continue;
        }
        const auto found = std::find_if(positions.begin() + 1, positions.end(), [&](double p) { return target <= p; });
        if (found == positions.end()) {
            out[k] = entries.back().value;
            continue;
        }
        const std::size_t i = static_cast<std::size_t>(found - positions.begin());
        const double x0 = entries[i - 1].value;
        const double x1 = entries[i].value;
        out[k] = x0 + (target - positions[i - 1]) * (x1 - x0) / (positions[i] - positions[i - 1]);
    }
}

// Writes the quantile of each fraction of the values fed to `distinct` into `out` (same length
// as `fractions`); nothing for each when none were fed.
inline void quantilesOfDistinct(DistinctValues &&distinct, std::span<const double> fractions,
                                std::span<std::optional<double>> out)
{
    if (distinct.empty()) {
        std::fill(out.begin(), out.end(), std::nullopt);
        return;
    }
    const bool equalWeights = distinct.equalWeights();
    const std::vector<DistinctValues::Entry> entries = std::move(distinct).sorted();
    quantilesOfEntries(entries, equalWeights, fractions, out);
}

// Writes the quantile of each fraction into `out` (same length as `fractions`); isOnFixedCadence(r)
// tells whether a reading is on a fixed cadence.
template <class R, class FixedCadence>
void weightedQuantilesInto(std::span<const R> readings, std::span<const double> fractions,
                           std::span<std::optional<double>> out, FixedCadence &&isOnFixedCadence)
{
    DistinctValues distinct;
    for (const R &r : readings) {
        distinct.add(valueOf(r), weightOf(r), isOnFixedCadence(r));
    }
    quantilesOfDistinct(std::move(distinct), fractions, out);
}

template <class R>
std::optional<double> weightedMeanOf(std::span<const R> readings)
{
    if (readings.empty()) {
        return std::nullopt;
    }
    double total = 0;
    double weightedSum = 0;
    for (const R &r : readings) {
        total += weightOf(r);
        weightedSum += valueOf(r) * weightOf(r);
    }
    if (!(total > 0)) {
        return std::nullopt;
    }
    return weightedSum / total;
}

template <class R>
std::optional<double> weightedStandardDeviationOf(std::span<const R> readings, std::optional<double> mean)
{
    if (readings.empty() || !mean) {
        return std::nullopt;
    }
    double total = 0;
    double squares = 0;
    for (const R &r : readings) {
        const double deviation = valueOf(r) - *mean;
        total += weightOf(r);
        squares += weightOf(r) * (deviation * deviation);
    }
    if (!(total > 0)) {
        return std::nullopt;
    }
    return std::sqrt(squares / total);
}

template <class R>
std::vector<InsightsBandSummary> bandSummariesOf(std::span<const R> readings)
{
    std::array<int, kInsightsBandCount> counts{};
    std::array<double, kInsightsBandCount> durations{};
    double total = 0;
    for (const R &r : readings) {
        total += weightOf(r);
    }
    for (const R &r : readings) {
        const auto band = static_cast<std::size_t>(insightsBand(valueOf(r)));
        counts[band] += 1;
        durations[band] += weightOf(r);
    }
    std::vector<InsightsBandSummary> rows;
    rows.reserve(kInsightsBandCount);
    for (const InsightsBand band : allInsightsBands()) {
        const auto b = static_cast<std::size_t>(band);
        rows.push_back(InsightsBandSummary{band, counts[b], total > 0 ? durations[b] / total : 0.0});
    }
    return rows;
}

} // namespace quillby::insights_detail
