#include "history/HistoryDayFileDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quillby {

namespace {

using Json = nlohmann::json;

// A number as the records see it: integers are kept apart so that counts can be checked.
struct Number {
    double value = 0;
    bool integral = false;
    bool inIntRange = false;
};

class DayFileHandler final : public nlohmann::json_sax<Json> {
public:
    GlucoseHistoryDayFile result;

    bool null() override { return scalar(std::nullopt, nullptr); }
    bool boolean(bool) override { return scalar(std::nullopt, nullptr, true); }
    bool number_integer(number_integer_t value) override
    {
        Number number{static_cast<double>(value), true,
                       value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()};
        return scalar(number, nullptr);
    }
    bool number_unsigned(number_unsigned_t value) override
    {
        Number number{static_cast<double>(value), true, value <= static_cast<number_unsigned_t>(std::numeric_limits<int>::max())};
        return scalar(number, nullptr);
    }
    bool number_float(number_float_t value, const string_t &) override
    {
        const bool integral = std::isfinite(value) && std::trunc(value) == value;
        Number number{value, integral,
                      integral && value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()};
        return scalar(number, nullptr);
    }
    bool string(string_t &value) override { return scalar(std::nullopt, &value); }
    bool binary(binary_t &) override { return scalar(std::nullopt, nullptr, true); }

    bool start_object(std::size_t) override
    {
        if (stack_.empty()) {
            stack_.push_back(Context::top);
            return true;
        }
        switch (stack_.back()) {
        case Context::readings:
            stored_ = PendingStored();
            stack_.push_back(Context::stored);
            return true;
        case Context::stored:
            if (key_ == "reading") {
                reading_ = PendingReading();
                stack_.push_back(Context::reading);
                return true;
            }
            if (key_ == "fetchedAt") {
                return false;
            }
            break;
        case Context::top:
            if (isTopKey()) {
                return false;
            }
            break;
        case Context::reading:
            if (isReadingKey()) {
                return false;
            }
            break;
        case Context::skip:
            break;
        }
        stack_.push_back(Context::skip);
        return true;
    }

    bool start_array(std::size_t) override
    {
        if (stack_.empty()) {
            return false;   // the record is an object
        }
        switch (stack_.back()) {
        case Context::top:
            if (key_ == "readings") {
                readingsSeen_ = true;
                result.readings.clear();
                stack_.push_back(Context::readings);
                return true;
            }
            if (isTopKey()) {
                return false;
            }
            break;
        case Context::readings:
            return false;   // a stored reading is an object
        case Context::stored:
            if (key_ == "reading" || key_ == "fetchedAt") {
                return false;
            }
            break;
        case Context::reading:
            if (isReadingKey()) {
                return false;
            }
            break;
        case Context::skip:
            break;
        }
        stack_.push_back(Context::skip);
        return true;
    }

    bool key(string_t &value) override
    {
        key_ = value;
        return true;
    }

    bool end_object() override { return end(); }
    bool end_array() override { return end(); }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }

    bool complete() const
    {
        return finished_ && schemaVersion_ && sourceSeen_ && scopeSeen_ && readingsSeen_;
    }

private:
    enum class Context { top, readings, stored, reading, skip };

    struct PendingReading {
        std::optional<double> mgdL;
        std::optional<std::string> trend;
        std::optional<double> date;
        std::optional<double> sampleDuration;
        std::optional<GlucoseProvider> source;
        bool invalid = false;
    };
    struct PendingStored {
        std::optional<GlucoseReading> reading;
        std::optional<double> fetchedAt;
    };

    bool isTopKey() const
    {
        return key_ == "schemaVersion" || key_ == "source" || key_ == "accountScope" || key_ == "readings";
    }
    bool isReadingKey() const
    {
        return key_ == "mgdL" || key_ == "trendString" || key_ == "date" || key_ == "sampleDuration" || key_ == "source";
    }

    // One scalar value under the current key. `other` marks booleans and binary values, which no
    // field of the record accepts.
    bool scalar(std::optional<Number> number, string_t *text, bool other = false)
    {
        if (stack_.empty()) {
            return false;
        }
        const bool isNull = !number && !text && !other;
        switch (stack_.back()) {
        case Context::skip:
            return true;
        case Context::readings:
            return false;   // a stored reading is an object
        case Context::top:
            if (key_ == "schemaVersion") {
                if (!number || !number->inIntRange) {
                    return false;
                }
                schemaVersion_ = static_cast<int>(number->value);
            } else if (key_ == "source") {
                if (!text) {
                    return false;
                }
                result.source = *text;
                sourceSeen_ = true;
            } else if (key_ == "accountScope") {
                if (!text) {
                    return false;
                }
                result.accountScope = *text;
                scopeSeen_ = true;
            } else if (key_ == "readings") {
                return false;
            }
            return true;
        case Context::stored:
            if (key_ == "reading") {
                return false;   // null or a scalar where the reading belongs
            }
            if (key_ == "fetchedAt") {
                if (!number) {
                    return false;
                }
                stored_.fetchedAt = dateFromReferenceSeconds(number->value);
            }
            return true;
        case Context::reading:
            if (key_ == "mgdL") {
                if (!number) {
                    return false;
                }
                reading_.mgdL = number->value;
            } else if (key_ == "trendString") {
                if (!text) {
                    return false;
                }
                reading_.trend = *text;
            } else if (key_ == "date") {
                if (!number) {
                    return false;
                }
                reading_.date = dateFromReferenceSeconds(number->value);
            } else if (key_ == "sampleDuration") {
                if (isNull) {
                    reading_.sampleDuration.reset();
                } else if (!number) {
                    return false;
                } else {
                    reading_.sampleDuration = number->value;
                }
            } else if (key_ == "source") {
                if (isNull) {
                    reading_.source.reset();
                } else if (!text) {
                    return false;
                } else {
                    reading_.source = glucoseProviderFromRaw(*text);
                    if (!reading_.source) {
                        return false;
                    }
                }
            }
            return true;
        }
        return false;
    }

    bool end()
    {
        if (stack_.empty()) {
            return false;
        }
        const Context finished = stack_.back();
        stack_.pop_back();
        switch (finished) {
        case Context::reading: {
            if (!reading_.mgdL || !reading_.trend || !reading_.date) {
                return false;
            }
            double duration = 300;
            if (reading_.sampleDuration) {
                duration = *reading_.sampleDuration;
                if (!std::isfinite(duration) || !(duration > 0)) {
                    duration = 60;
                }
                duration = std::min(duration, 900.0);
            }
            stored_.reading.emplace(*reading_.mgdL, std::move(*reading_.trend), *reading_.date, duration,
                                    reading_.source.value_or(GlucoseProvider::dexcom));
            key_ = "reading";
            return true;
        }
        case Context::stored:
            if (!stored_.reading || !stored_.fetchedAt) {
                return false;
            }
            result.readings.push_back(GlucoseHistoryStoredReading{std::move(*stored_.reading), *stored_.fetchedAt});
            return true;
        case Context::top:
            finished_ = true;
            return true;
        case Context::readings:
        case Context::skip:
            return true;
        }
        return false;
    }

    std::vector<Context> stack_;
    std::string key_;
    PendingReading reading_;
    PendingStored stored_;
    std::optional<int> schemaVersion_;
    bool sourceSeen_ = false;
    bool scopeSeen_ = false;
    bool readingsSeen_ = false;
    bool finished_ = false;

public:
    int schemaVersion() const { return schemaVersion_.value_or(0); }
};

// The layout every day file is written in (compact, keys in record order, plain strings), read
// without the general parser. Anything else (whitespace, other key orders, unknown or null keys,
// escapes, numbers it is not sure of) makes it give up, and the general parser decides; so it
// answers only where the answer is the general parser's.
class CanonicalDayFileReader {
public:
    CanonicalDayFileReader(const char *begin, const char *end) : p_(begin), end_(end) {}

    std::optional<GlucoseHistoryDayFile> read()
    {
        GlucoseHistoryDayFile file;
        double schemaVersion = 0;
        if (!literal("{\"schemaVersion\":") || !integerNumber(schemaVersion) || !literal(",\"source\":\"") ||
            !plainString(file.source) || !literal(",\"accountScope\":\"") || !plainString(file.accountScope) ||
            !literal(",\"readings\":[")) {
            return std::nullopt;
        }
        if (!(schemaVersion >= std::numeric_limits<int>::min() && schemaVersion <= std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        file.schemaVersion = static_cast<int>(schemaVersion);
        const char *firstReading = p_;   // the room for the list is judged from the first reading
        bool first = true;
        std::string trend;
        std::string source;
        // Trends repeat from reading to reading: the arrow of the last one is reused.
        std::string arrowTrend;
        std::string arrow = GlucoseReading::trendArrowFor(arrowTrend);
        while (!literal("]}")) {
            if (!(first ? literal("{\"reading\":{\"mgdL\":") : literal(",{\"reading\":{\"mgdL\":"))) {
                return std::nullopt;
            }
            double mgdL = 0;
            double date = 0;
            double duration = 0;
            double fetchedAt = 0;
            if (!number(mgdL) || !literal(",\"trendString\":\"") || !plainString(trend) || !literal(",\"date\":") ||
                !number(date) || !literal(",\"sampleDuration\":") || !number(duration) ||
                !literal(",\"source\":\"") || !plainString(source) || !literal("},\"fetchedAt\":") ||
                !number(fetchedAt) || !literal("}")) {
                return std::nullopt;
            }
            const std::optional<GlucoseProvider> provider = glucoseProviderFromRaw(source);
            if (!provider) {
                return std::nullopt;
            }
            if (!std::isfinite(duration) || !(duration > 0)) {
                duration = 60;
            }
            duration = std::min(duration, 900.0);
            if (first) {
                // Trend texts differ in length: an eighth more keeps the list from growing (and
                // from holding twice its room) when later readings are shorter than the first.
                const auto length = static_cast<std::size_t>(p_ - firstReading);
                const std::size_t estimate = static_cast<std::size_t>(end_ - firstReading) / std::max<std::size_t>(length, 1);
                file.readings.reserve(estimate + estimate / 8 + 1);
                first = false;
            }
            if (trend != arrowTrend) {
                arrowTrend = trend;
                arrow = GlucoseReading::trendArrowFor(trend);
            }
            GlucoseHistoryStoredReading &stored = file.readings.emplace_back();
            stored.reading.mgdL = mgdL;
            stored.reading.trendString = trend;
            stored.reading.trendArrow = arrow;
            stored.reading.date = dateFromReferenceSeconds(date);
            stored.reading.sampleDuration = duration;
            stored.reading.source = *provider;
            stored.fetchedAt = dateFromReferenceSeconds(fetchedAt);
        }
        if (p_ != end_) {
            return std::nullopt;
        }
        return file;
    }

private:
    template <std::size_t N>
    bool literal(const char (&text)[N])
    {
        constexpr std::size_t length = N - 1;
        if (static_cast<std::size_t>(end_ - p_) < length || std::memcmp(p_, text, length) != 0) {
            return false;
        }
        p_ += length;
        return true;
    }

    // The characters up to the closing quote (consumed), when all are printable ASCII.
    bool plainString(std::string &out)
    {
        const char *start = p_;
        while (p_ < end_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                out.assign(start, p_);
                ++p_;
                return true;
            }
            if (c < 0x20 || c >= 0x7f || c == '\\') {
                return false;
            }
            ++p_;
        }
        return false;
    }

    // A JSON number whose value is certain: -?(0|[1-9][0-9]*)(.[0-9]+)?, at most 15 significant
    // digits before and after the point together. Its value is then exactly what the general
    // parser gives: a whole number of up to 15 digits is exact, and so is the quotient of two such
    // numbers correctly rounded by one division (an integer token "-0" reads as +0, as the
    // parser's integers do).
    bool number(double &out) { return parseNumber(out, true); }
    bool integerNumber(double &out) { return parseNumber(out, false); }

    bool parseNumber(double &out, bool allowFraction)
    {
        const char *q = p_;
        const bool negative = q < end_ && *q == '-';
        if (negative) {
            ++q;
        }
        if (q == end_ || *q < '0' || *q > '9') {
            return false;
        }
        std::uint64_t mantissa = 0;
        int digits = 0;
        if (*q == '0') {
            ++q;
        } else {
            while (q < end_ && *q >= '0' && *q <= '9') {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
                if (++digits > 15) {
                    return false;
                }
                ++q;
            }
        }
        int fraction = 0;
        if (q < end_ && *q == '.') {
            if (!allowFraction) {
                return false;
            }
            ++q;
            if (q == end_ || *q < '0' || *q > '9') {
                return false;
            }
            while (q < end_ && *q >= '0' && *q <= '9') {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
                if (mantissa != 0 && ++digits > 15) {
                    return false;
                }
                if (++fraction > 15) {
                    return false;
                }
                ++q;
            }
        }
        if (q < end_ && (*q == 'e' || *q == 'E')) {
            return false;
        }
        static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        double value = static_cast<double>(mantissa);
        if (fraction > 0) {
            value = value / kPowers[fraction];
            out = negative ? -value : value;
        } else {
            out = negative && mantissa != 0 ? -value : value;
        }
        p_ = q;
        return true;
    }

    const char *p_;
    const char *end_;
};

} // namespace

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(const QByteArray &plaintext)
{
    return decodeHistoryDayFile(std::string_view(plaintext.constData(), static_cast<std::size_t>(plaintext.size())));
}

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(std::string_view plaintext)
{
    if (plaintext.empty()) {
        plaintext = std::string_view("", 0);   // never a null pointer below
    }
    try {
        if (auto file = CanonicalDayFileReader(plaintext.data(), plaintext.data() + plaintext.size()).read()) {
            return file;
        }
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
    DayFileHandler handler;
    const char *begin = plaintext.data();
    bool parsed = false;
    try {
        parsed = Json::sax_parse(begin, begin + plaintext.size(), &handler);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    if (!parsed || !handler.complete()) {
        return std::nullopt;
    }
    handler.result.schemaVersion = handler.schemaVersion();
    return std::move(handler.result);
}

} // namespace quillby
