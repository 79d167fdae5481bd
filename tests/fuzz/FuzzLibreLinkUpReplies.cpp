// Fuzzes the LibreLinkUp client with the replies of its service: sign-in (with region
// redirects and rate limits), the connection list and the graph, with any status, headers and
// body (see FuzzNetwork.h for the input). Whatever comes back, the client ends with readings,
// connections or an error, never a crash; the readings it hands on have finite positive values
// and finite dates.

#include "FuzzNetwork.h"
#include "FuzzSupport.h"
#include "TaskRunner.h"

#include "core/Clock.h"
#include "providers/LibreLinkUpAPI.h"

#include <cmath>
#include <exception>
#include <memory>

using namespace quillby;
using namespace quillby::fuzz;

namespace {

constexpr const char *kMeasurement =
    R"json({"FactoryTimestamp":"1/2/2024 10:00:00 AM","Timestamp":"1/2/2024 11:00:00 AM","type":1,)json"
    R"json("ValueInMgPerDl":100,"MeasurementColor":1,"GlucoseUnits":1,"Value":100,"isHigh":false,"isLow":false,"TrendArrow":3})json";

QByteArray connectionJSON()
{
    return QByteArray(R"json({"id":"c-p1","patientId":"p1","country":"DE","status":2,"firstName":"Ann","lastName":"Lee",)json") +
           R"json("glucoseMeasurement":)json" + kMeasurement + "}";
}

FuzzReply goodLibreLinkUpReply(const QByteArray &, const QString &path, const QByteArray &)
{
    FuzzReply reply;
    reply.headers.append({QByteArray("Content-Type"), QByteArray("application/json")});
    if (path.endsWith(QLatin1String("/auth/login"))) {
        reply.body = R"json({"status":0,"data":{"user":{"id":"u-1","firstName":"Sam","lastName":"Follower","country":"DE"},)json"
                     R"json("messages":{"unread":0},"notifications":{"unresolved":0},)json"
                     R"json("authTicket":{"token":"token-1","expires":4102444800,"duration":15552000000},)json"
                     R"json("invitations":null,"trustedDeviceToken":""}})json";
    } else if (path.endsWith(QLatin1String("/graph"))) {
        reply.body = QByteArray(R"json({"status":0,"data":{"connection":)json") + connectionJSON() +
                     R"json(,"activeSensors":[],"graphData":[)json" + kMeasurement + "]}}";
    } else {
        reply.body = QByteArray(R"json({"status":0,"data":[)json") + connectionJSON() + "]}";
    }
    return reply;
}

FuzzNetwork &network()
{
    static FuzzNetwork *instance = new FuzzNetwork(goodLibreLinkUpReply);
    return *instance;
}

// A fixed wall clock: 2024-01-02 10:30 UTC.
class FixedClock final : public Clock {
public:
    Date now() const override { return 1704191400.0; }
    double monotonicNow() const override { return 1000.0; }
};

void checkReadings(const GlucoseReadings &readings)
{
    for (const GlucoseReading &reading : readings) {
        FUZZ_CHECK(std::isfinite(reading.mgdL) && reading.mgdL > 0);
        FUZZ_CHECK(std::isfinite(reading.date));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    // The first byte chooses what is asked: readings of a chosen person or of the first one,
    // or the connection list.
    const uint8_t mode = data[0] % 3;
    network().setScript(
        FuzzScript::parse(QByteArray(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1))));
    LibreLinkUpAPIOptions options;
    options.session = &network();
    options.clock = std::make_shared<FixedClock>();
    std::map<std::string, std::string> hosts;
    for (const auto &[region, host] : LibreLinkUpAPI::defaultHosts()) {
        hosts[region] = "https://" + region + ".fuzz.invalid";
    }
    options.hosts = hosts;
    auto api = std::make_shared<LibreLinkUpAPI>("fuzz@example.com", "secret", "eu",
                                                mode == 0 ? std::optional<std::string>("p1") : std::nullopt, options);
    try {
        for (int fetch = 0; fetch < 2; ++fetch) {
            if (mode == 2) {
                for (const LibreConnection &connection : test::runTask(api->fetchConnections())) {
                    (void)connection;
                }
            } else {
                checkReadings(test::runTask(api->fetchLatestReadings()));
            }
        }
    } catch (const std::exception &) {
        // Every failure the client reports is an error value.
    }
    drainFuzzEvents();
    return 0;
}
