#include "providers/GlucoseProviderDescription.h"

#include <array>

namespace quillby {

namespace {

const std::array<GlucoseProviderDescription, 2> &descriptions()
{
    static const std::array<GlucoseProviderDescription, 2> all{{
        {GlucoseProvider::dexcom, "Dexcom", "Dexcom Share", "Dexcom", "Dexcom app", "Username", "ous",
         {{"Japan", "jp"}, {"Outside US", "ous"}, {"United States", "us"}}, 300, true,
         EmptyReplyHandling::signInAgainThenEscalate, false, true},
        {GlucoseProvider::libreLinkUp, "FreeStyle Libre", "LibreLinkUp", "LibreLinkUp", "Libre app", "Email address",
         "auto",
         {{"Automatic", "auto"},
          {"Asia-Pacific", "ap"},
          {"Australia", "au"},
          {"Canada", "ca"},
          {"Europe", "eu"},
          {"France", "fr"},
          {"Germany", "de"},
          {"Japan", "jp"},
          {"United Kingdom", "eu2"},
          {"United States", "us"}},
         60, false, EmptyReplyHandling::backOffByCadence, true, false},
    }};
    return all;
}

} // namespace

const GlucoseProviderDescription &describeProvider(GlucoseProvider provider)
{
    for (const GlucoseProviderDescription &description : descriptions()) {
        if (description.provider == provider) {
            return description;
        }
    }
    return descriptions().front();
}

bool readingIsOnFixedCadence(const GlucoseReading &reading)
{
    // Asked once for every reading of a report: a table by provider, made once.
    static const std::array<bool, 2> byProvider = [] {
        std::array<bool, 2> table{};
        for (const GlucoseProviderDescription &description : descriptions()) {
            table.at(static_cast<std::size_t>(description.provider)) = description.readingsOnFixedCadence;
        }
        return table;
    }();
    const auto index = static_cast<std::size_t>(reading.source);
    return index < byProvider.size() && byProvider[index];
}

std::span<const GlucoseProviderDescription> allProviderDescriptions()
{
    return descriptions();
}

} // namespace quillby
