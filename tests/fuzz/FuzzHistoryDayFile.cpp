// Fuzzes the day files of saved history: the decoder of a day file's plaintext and the records it
// builds, against the reference JSON reader they must agree with, and the sealed container
// around it.
//   - decodeHistoryDayFile accepts exactly what the reference reading of the JSON tree
//     (test::dayFileFromTree) accepts, with
//     the same result (for JSON without repeated keys in an object: there the JSON reader keeps
//     the last value and the decoder may refuse a first one of the wrong type; no writer of ours
//     repeats a key, and a day file that was not written by us does not open);
//   - a record it accepts is written back (toJSON) in a form it reads again unchanged, so a day
//     that was read can always be saved and read once more;
//   - opening arbitrary sealed bytes never crashes, and sealing the input opens to it again.

#include "FuzzSupport.h"
#include "HistoryDayFileReference.h"

#include "history/GlucoseHistoryRecords.h"
#include "history/HistoryDayFileDecoder.h"
#include "history/HistorySealing.h"

#include <exception>
#include <set>
#include <string>
#include <vector>
#include <optional>

using namespace quillby;

namespace {

// Whether some object of the JSON text names a key twice (false for text that is not JSON).
class RepeatedKeys final : public nlohmann::json_sax<nlohmann::json> {
public:
    bool found = false;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t &) override { return true; }
    bool string(string_t &) override { return true; }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override
    {
        keys_.emplace_back();
        return true;
    }
    bool key(string_t &value) override
    {
        if (!keys_.back().insert(value).second) {
            found = true;
            return false;
        }
        return true;
    }
    bool end_object() override
    {
        keys_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }

private:
    std::vector<std::set<std::string>> keys_;
};

bool hasRepeatedKeys(const QByteArray &bytes)
{
    RepeatedKeys sax;
    nlohmann::json::sax_parse(bytes.constData(), bytes.constData() + bytes.size(), &sax);
    return sax.found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const std::optional<GlucoseHistoryDayFile> decoded = decodeHistoryDayFile(bytes);
    std::optional<GlucoseHistoryDayFile> reference;
    try {
        reference = test::dayFileFromTree(history_json::decode(bytes));
    } catch (const std::exception &) {
    }
    if (!hasRepeatedKeys(bytes)) {
        FUZZ_CHECK(decoded.has_value() == reference.has_value());
        if (decoded) {
            FUZZ_CHECK(*decoded == *reference);
        }
    }
    if (decoded) {
        const QByteArray written = history_json::encode(decoded->toJSON());
        const std::optional<GlucoseHistoryDayFile> again = decodeHistoryDayFile(written);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *decoded);
    }

    static const QByteArray key(kHistoryKeySize, '\x5a');
    static const QByteArray associatedData = historyAssociatedData("20470.history");
    (void)openHistory(bytes, key, associatedData);
    const std::optional<QByteArray> opened = openHistory(sealHistory(bytes, key, associatedData), key, associatedData);
    FUZZ_CHECK(opened.has_value() && *opened == bytes);
    return 0;
}
