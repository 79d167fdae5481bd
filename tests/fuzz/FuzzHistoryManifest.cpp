// Fuzzes the JSON records of the saved-history tree: the root's manifest and an account
// folder's configuration. Reading never crashes and fails only with an exception; a record that
// is acceptable is written back in a form that reads again as the same record.

#include "FuzzSupport.h"

#include "history/GlucoseHistoryConfiguration.h"
#include "history/GlucoseHistoryRecords.h"

#include <exception>

using namespace quillby;

namespace {

template <typename Record>
void checkRecord(const nlohmann::json &json)
{
    Record record;
    try {
        record = Record::fromJSON(json);
    } catch (const std::exception &) {
        return;
    }
    if (!record.isAcceptable()) {
        return;
    }
    Record again;
    try {
        again = Record::fromJSON(history_json::decode(history_json::encode(record.toJSON())));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "an acceptable record did not read back: %s\n", error.what());
        std::abort();
    }
    FUZZ_CHECK(again.isAcceptable());
    FUZZ_CHECK(again == record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    nlohmann::json json;
    try {
        json = history_json::decode(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    } catch (const std::exception &) {
        return 0;
    }
    checkRecord<GlucoseHistoryManifest>(json);
    checkRecord<GlucoseHistoryConfiguration>(json);
    return 0;
}
