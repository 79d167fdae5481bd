// Fuzzes the day files of saved history: the fast decoder of a day file's plaintext and the
// records it builds, against the reference JSON reader they must agree with, and the sealed
// container around it.
//   - decodeHistoryDayFile accepts exactly what GlucoseHistoryDayFile::fromJSON accepts, with
//     the same result;
//   - a record it accepts is written back (toJSON) in a form it reads again unchanged, so a day
//     that was read can always be saved and read once more;
//   - opening arbitrary sealed bytes never crashes, and sealing the input opens to it again.

#include "FuzzSupport.h"

#include "history/GlucoseHistoryRecords.h"
#include "history/HistoryDayFileDecoder.h"
#include "history/HistorySealing.h"

#include <exception>
#include <optional>

using namespace quillby;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const std::optional<GlucoseHistoryDayFile> decoded = decodeHistoryDayFile(bytes);
    std::optional<GlucoseHistoryDayFile> reference;
    try {
        reference = GlucoseHistoryDayFile::fromJSON(history_json::decode(bytes));
    } catch (const std::exception &) {
    }
    FUZZ_CHECK(decoded.has_value() == reference.has_value());
    if (decoded) {
        FUZZ_CHECK(*decoded == *reference);
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
