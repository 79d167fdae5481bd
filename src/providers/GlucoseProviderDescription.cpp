#include "providers/GlucoseProviderDescription.h"

#include <array>

namespace quillby {

namespace {

// One description for each GlucoseProvider value.
constexpr std::size_t kProviderCount = 2;

const std::array<GlucoseProviderDescription, kProviderCount> &descriptions()
{
    static const std::array<GlucoseProviderDescription, kProviderCount> all{{
        {
            .provider = GlucoseProvider::dexcom,
            .sensorName = "Dexcom",
            .serviceName = "Dexcom Share",
            .shortServiceName = "Dexcom",
            .appName = "Dexcom app",
            .accountFieldTitle = "Username",
            .defaultRegion = "ous",
            .regions = {{"Japan", "jp"}, {"Outside US", "ous"}, {"United States", "us"}},
            .readingInterval = 300,
            .fetchReportsWholeWindow = true,
            .emptyReplyHandling = EmptyReplyHandling::signInAgainThenEscalate,
            .choosesConnectionAfterSignIn = false,
            .readingsOnFixedCadence = true,
            .setupHeading = "Set up Share",
            .setupIntroduction = "To use Quillby, Share must be enabled in the Dexcom app.",
            .setupSteps = {"Open the Dexcom app.", "Enable Share in the app settings.",
                           "Send an invitation to yourself. You don't need to accept it."},
            .setupGuidePath = {},
            .setupGuideLinkText = {},
            .graphHistoryNote = "Dexcom G7 Direct to Watch can cause Dexcom Share to return duplicate readings, "
                                "reducing the history available for longer graph windows. The 24-hour view may show "
                                "less than 24 hours.",
            .graphHistoryNoteIdentifier = "directToWatchGraphHistoryNotice",
        },
        {
            .provider = GlucoseProvider::libreLinkUp,
            .sensorName = "FreeStyle Libre",
            .serviceName = "LibreLinkUp",
            .shortServiceName = "LibreLinkUp",
            .appName = "Libre app",
            .accountFieldTitle = "Email address",
            .defaultRegion = "auto",
            .regions = {{"Automatic", "auto"},
                        {"Asia-Pacific", "ap"},
                        {"Australia", "au"},
                        {"Canada", "ca"},
                        {"Europe", "eu"},
                        {"France", "fr"},
                        {"Germany", "de"},
                        {"Japan", "jp"},
                        {"United Kingdom", "eu2"},
                        {"United States", "us"}},
            .readingInterval = 60,
            .fetchReportsWholeWindow = false,
            .emptyReplyHandling = EmptyReplyHandling::backOffByCadence,
            .choosesConnectionAfterSignIn = true,
            .readingsOnFixedCadence = false,
            .setupHeading = "Set up LibreLinkUp",
            .setupIntroduction = "Quillby uses your LibreLinkUp account to display shared readings.",
            .setupSteps = {"Open the Libre app on your phone and enable LibreLinkUp sharing.",
                           "Invite the email address you use for LibreLinkUp.",
                           "Sign in to LibreLinkUp, accept the invitation, and check that readings appear."},
            .setupGuidePath = "/guides/librelinkup",
            .setupGuideLinkText = "LibreLinkUp setup guide",
            .graphHistoryNote = "LibreLinkUp provides up to 12 hours of recent history. Readings saved on this "
                                "computer can extend the graph to 24 hours.",
            .graphHistoryNoteIdentifier = {},
        },
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
    static const std::array<bool, kProviderCount> byProvider = [] {
        std::array<bool, kProviderCount> table{};
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
