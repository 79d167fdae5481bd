#include "history/HistoryDayFileEncoder.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

namespace quillby {

namespace {

class Writer {
public:
    explicit Writer(std::size_t capacity) { out_.reserve(static_cast<qsizetype>(capacity)); }

    void raw(std::string_view text) { out_.append(text.data(), static_cast<qsizetype>(text.size())); }

    // The JSON form of a double: what the JSON library writes (shortest round-trip digits, ".0"
    // on whole numbers, "null" for values that are not finite).
    void number(double value)
    {
        if (!std::isfinite(value)) {
            out_.append("null");
            return;
        }
        std::array<char, 64> buffer;
        char *end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        out_.append(buffer.data(), static_cast<qsizetype>(end - buffer.data()));
    }

    void integer(int value) { raw(std::to_string(value)); }

    // A quoted string. Printable ASCII without quote or backslash is written as it is; anything
    // else goes through the JSON library, which escapes it (and refuses invalid UTF-8).
    void string(const std::string &text)
    {
        bool plain = true;
        for (const unsigned char c : text) {
            if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
                plain = false;
                break;
            }
        }
        if (plain) {
            out_.append('"');
            raw(text);
            out_.append('"');
        } else {
            raw(nlohmann::ordered_json(text).dump());
        }
    }

    QByteArray take() { return std::move(out_); }

private:
    QByteArray out_;
};

} // namespace

QByteArray encodeHistoryDayFile(int schemaVersion, const std::string &source, const std::string &accountScope,
                                const GlucoseHistoryStoredReadings &readings)
{
    Writer out(160 + accountScope.size() + readings.size() * 160);
    out.raw("{\"schemaVersion\":");
    out.integer(schemaVersion);
    out.raw(",\"source\":");
    out.string(source);
    out.raw(",\"accountScope\":");
    out.string(accountScope);
    out.raw(",\"readings\":[");
    bool first = true;
    for (const GlucoseHistoryStoredReading &stored : readings) {
        const GlucoseReading &reading = stored.reading;
        out.raw(first ? "{\"reading\":{\"mgdL\":" : ",{\"reading\":{\"mgdL\":");
        first = false;
        out.number(reading.mgdL);
        out.raw(",\"trendString\":");
        out.string(reading.trendString);
        out.raw(",\"date\":");
        out.number(secondsSinceReferenceDate(reading.date));
        out.raw(",\"sampleDuration\":");
        out.number(reading.sampleDuration);
        out.raw(",\"source\":");
        out.string(rawValue(reading.source));
        out.raw("},\"fetchedAt\":");
        out.number(secondsSinceReferenceDate(stored.fetchedAt));
        out.raw("}");
    }
    out.raw("]}");
    return out.take();
}

} // namespace quillby
