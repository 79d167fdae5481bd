#include "providers/GlucoseProviderDescription.h"

#include <array>

namespace quillby {

namespace {

const std::array<GlucoseProviderDescription, 2> &descriptions()
{
    static const std::array<GlucoseProviderDescription, 2> all{{
        {GlucoseProvider::dexcom, "Dexcom", "Dexcom Share", "Dexcom", "Dexcom app", "Username", "ous",
         {{"Japan", "jp"}, {"Outside US", "ous"}, {"United States", "us"}}, 300, true,
         EmptyReplyHandling::signInAgainThenEscalate, false},
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
         60, false, EmptyReplyHandling::backOffByCadence, true},
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

std::span<const GlucoseProviderDescription> allProviderDescriptions()
{
    return descriptions();
}

} // namespace quillby
