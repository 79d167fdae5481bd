// Fuzzes the Dexcom Share client with the replies of its service: the sign-in identifiers, the
// session and the readings, with any status, headers and body (see FuzzNetwork.h for the input).
// Whatever comes back, the client ends with readings or an error, never a crash; the readings it
// hands on are usable: finite positive values and finite dates.

#include "FuzzNetwork.h"
#include "FuzzSupport.h"
#include "TaskRunner.h"

#include "providers/DexcomAPI.h"

#include <cmath>
#include <exception>
#include <memory>

using namespace quillby;
using namespace quillby::fuzz;

namespace {

FuzzReply goodDexcomReply(const QByteArray &, const QString &path, const QByteArray &)
{
    FuzzReply reply;
    reply.headers.append({QByteArray("Content-Type"), QByteArray("application/json")});
    if (path.endsWith(QLatin1String("AuthenticatePublisherAccount"))) {
        reply.body = "\"5a0f2c91-7b2e-4d38-b6e1-3c9f28a4d750\"";
    } else if (path.endsWith(QLatin1String("LoginPublisherAccountById"))) {
        reply.body = "\"b6e13c9f-28a4-4d75-9a0f-2c917b2e4d38\"";
    } else {
        reply.body = R"json([{"WT":"Date(1704189600000)","ST":"Date(1704189600000)","DT":"Date(1704189600000+0000)","Value":100,"Trend":"Flat"}])json";
    }
    return reply;
}

FuzzNetwork &network()
{
    static FuzzNetwork *instance = new FuzzNetwork(goodDexcomReply);
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    network().setScript(FuzzScript::parse(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size))));
    DexcomAPIOptions options;
    options.session = &network();
    options.baseURLs = DexcomAPI::baseURLsAt("https://share.fuzz.invalid");
    auto api = std::make_shared<DexcomAPI>("fuzz@example.com", "secret", "ous", options);
    try {
        // Two fetches: the second runs on the session the first left behind, or signs in again.
        for (int fetch = 0; fetch < 2; ++fetch) {
            const GlucoseReadings readings = test::runTask(api->fetchLatestReadings());
            for (const GlucoseReading &reading : readings) {
                FUZZ_CHECK(std::isfinite(reading.mgdL) && reading.mgdL > 0);
                FUZZ_CHECK(std::isfinite(reading.date));
            }
        }
    } catch (const std::exception &) {
        // Every failure the client reports is an error value.
    }
    drainFuzzEvents();
    return 0;
}
