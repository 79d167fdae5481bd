#pragma once

#include "core/GlucoseReading.h"

#include <cstddef>
#include <memory>
#include <utility>

namespace quillby {

// A read-only list of readings whose copies share one list: handing a whole saved history from
// the store to its readers copies a pointer, not 100,000 readings. It reads like a const
// GlucoseReadings and converts to one where an interface takes a plain list.
class SharedGlucoseReadings {
public:
    using value_type = GlucoseReading;
    using const_iterator = GlucoseReadings::const_iterator;
    using iterator = const_iterator;
    using size_type = std::size_t;

    SharedGlucoseReadings() = default;
    // Takes the list (copy it in, or move it in to share it without copying).
    SharedGlucoseReadings(GlucoseReadings readings)   // NOLINT(google-explicit-constructor)
        : list_(readings.empty() ? nullptr : std::make_shared<const GlucoseReadings>(std::move(readings)))
    {
    }

    const GlucoseReadings &list() const { return list_ ? *list_ : noReadings(); }
    operator const GlucoseReadings &() const { return list(); }   // NOLINT(google-explicit-constructor)

    const_iterator begin() const { return list().begin(); }
    const_iterator end() const { return list().end(); }
    size_type size() const { return list_ ? list_->size() : 0; }
    bool empty() const { return size() == 0; }
    const GlucoseReading &operator[](size_type index) const { return (*list_)[index]; }
    const GlucoseReading &front() const { return list_->front(); }
    const GlucoseReading &back() const { return list_->back(); }
    const GlucoseReading *data() const { return list().data(); }

    // Whether both share one list (then they are equal without comparing readings).
    bool sharesListWith(const SharedGlucoseReadings &other) const { return list_ == other.list_; }

    bool operator==(const SharedGlucoseReadings &other) const
    {
        return sharesListWith(other) || list() == other.list();
    }
    bool operator==(const GlucoseReadings &other) const { return list() == other; }

private:
    static const GlucoseReadings &noReadings()
    {
        static const GlucoseReadings none;
        return none;
    }

    std::shared_ptr<const GlucoseReadings> list_;   // null: no readings
};

} // namespace quillby
