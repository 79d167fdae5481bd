#pragma once

#include <array>
#include <optional>

namespace quillby {

// The rules of a setting that takes one of a few whole numbers: its first-run value, the values a
// save keeps (in the order the Settings picker lists them) and the snap of anything else to the
// first-run value. A setting's owner derives from it and names the two constants in its own unit.
template <int Default, int... Allowed>
struct ChoiceSetting {
    static_assert(((Default == Allowed) || ...), "the first-run value must be one the setting allows");

    static constexpr int defaultValue = Default;
    static constexpr std::array<int, sizeof...(Allowed)> allowedValues = {Allowed...};

    static constexpr bool isAllowed(int value) { return ((value == Allowed) || ...); }
    // An allowed value stays; one that is absent or not allowed gives the first-run value.
    static constexpr int snapped(std::optional<int> value) { return value && isAllowed(*value) ? *value : Default; }
};

} // namespace quillby
