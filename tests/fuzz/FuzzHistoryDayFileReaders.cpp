// Fuzzes the readers of a day file's plaintext against each other: whatever the text (a day file
// as written, one mutated, or any bytes), decodeHistoryDayFile gives exactly what the general
// reader gives, bit for bit in every number, and refuses exactly what it refuses; the reader of
// the written form and the fast reader, whenever they decide a text at all, decide it the same way.

#include "FuzzSupport.h"

#include "history/HistoryDayFileDecoder.h"

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

using namespace quillby;

namespace {

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool identical(const GlucoseHistoryDayFile &a, const GlucoseHistoryDayFile &b)
{
    if (a.schemaVersion != b.schemaVersion || a.source != b.source || a.accountScope != b.accountScope ||
        a.readings.size() != b.readings.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.readings.size(); ++i) {
        const GlucoseReading &x = a.readings[i].reading;
        const GlucoseReading &y = b.readings[i].reading;
        if (!sameBits(x.mgdL, y.mgdL) || !sameBits(x.date, y.date) || !sameBits(x.sampleDuration, y.sampleDuration) ||
            x.source != y.source || x.trendString != y.trendString || x.trendArrow != y.trendArrow ||
            !sameBits(a.readings[i].fetchedAt, b.readings[i].fetchedAt)) {
            return false;
        }
    }
    return true;
}

bool sameAnswer(const std::optional<GlucoseHistoryDayFile> &a, const std::optional<GlucoseHistoryDayFile> &b)
{
    return a.has_value() == b.has_value() && (!a || identical(*a, *b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<GlucoseHistoryDayFile> general = history_detail::decodeHistoryDayFileGenerally(text);
    FUZZ_CHECK(sameAnswer(decodeHistoryDayFile(text), general));
    if (const std::optional<GlucoseHistoryDayFile> quick = history_detail::decodeHistoryDayFileQuickly(text)) {
        FUZZ_CHECK(sameAnswer(quick, general));
    }
    if (const std::optional<GlucoseHistoryDayFile> written = history_detail::decodeHistoryDayFileAsWritten(text)) {
        FUZZ_CHECK(sameAnswer(written, general));
    }
    return 0;
}
