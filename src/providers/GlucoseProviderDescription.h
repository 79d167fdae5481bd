#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"

#include <span>
#include <string>
#include <vector>

namespace quillby {

// What an empty reading list from a provider means, and how polling answers it.
enum class EmptyReplyHandling {
    // Often a stale session: sign in again once and retry; after repeated empty polls, wait long.
    signInAgainThenEscalate,
    // The sensor has nothing new yet: poll again after one cadence per empty poll, up to 5 minutes.
    backOffByCadence,
};

// A region people choose for their account: the shown name and the stored code.
struct ProviderRegion {
    std::string title;
    std::string code;
};

// Everything callers outside the provider clients need to know about a glucose provider: the
// names people read, the account form, and how the provider's readings arrive.
struct GlucoseProviderDescription {
    GlucoseProvider provider;
    std::string sensorName;          // the sensor family people know: "Dexcom", "FreeStyle Libre"
    std::string serviceName;         // the sharing service in full: "Dexcom Share", "LibreLinkUp"
    std::string shortServiceName;    // the service where a short name reads better: "Dexcom", "LibreLinkUp"
    std::string appName;             // the phone app that shows the readings
    std::string accountFieldTitle;   // the title of the account name field
    std::string defaultRegion;       // the region a new account starts with
    std::vector<ProviderRegion> regions;   // in the order they are offered
    TimeInterval readingInterval;    // seconds between two readings of the sensor
    // Each fetch reports the whole recent window (so the graph takes it as it is) rather than
    // only the newest readings (so the graph joins them with the ones seen before).
    bool fetchReportsWholeWindow;
    EmptyReplyHandling emptyReplyHandling;
    // Signing in checks only the password; the person to follow is chosen afterwards, from the
    // client's fetchConnections().
    bool choosesConnectionAfterSignIn;
    // Every reading is a sample of one series at the sensor's cadence, so readings that weigh the
    // same are evenly spaced and Insights reads their quantiles as plain percentiles (rather than
    // readings of mixed kinds, such as current readings among graph readings).
    bool readingsOnFixedCadence;

    // Onboarding's set-up step: how to turn sharing on in the provider's app.
    std::string setupHeading;
    std::string setupIntroduction;
    std::vector<std::string> setupSteps;
    // The provider's getting-started guide on the product's web site: the path below its
    // address and the link text; empty when there is none.
    std::string setupGuidePath;
    std::string setupGuideLinkText;

    // The Glucose pane's note under the graph window: what limits the provider's graph history,
    // and the note's identifier (empty: none).
    std::string graphHistoryNote;
    std::string graphHistoryNoteIdentifier;
};

const GlucoseProviderDescription &describeProvider(GlucoseProvider provider);

// Whether the reading's provider reports its readings on a fixed cadence (the rule that Insights
// takes with the readings).
bool readingIsOnFixedCadence(const GlucoseReading &reading);

// Every provider, in the order they are offered.
std::span<const GlucoseProviderDescription> allProviderDescriptions();

} // namespace quillby
