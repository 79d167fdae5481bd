#include "history/HistoryDayFileDecoder.h"

#include <simdjson.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <cmath>
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

// MARK: - Numbers

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of eight digit characters read as one little-endian word, the first the most
// significant.
std::uint64_t eightDigitsValue(std::uint64_t chunk)
{
    constexpr std::uint64_t mask = 0x000000FF000000FF;
    constexpr std::uint64_t byHundredAndMillion = 100 + (std::uint64_t{1000000} << 32);
    constexpr std::uint64_t byOneAndTenThousand = 1 + (std::uint64_t{10000} << 32);
    chunk -= 0x3030303030303030;
    chunk = (chunk * 10) + (chunk >> 8);   // pairs of digits
    return (((chunk & mask) * byHundredAndMillion) + (((chunk >> 16) & mask) * byOneAndTenThousand)) >> 32;
}

constexpr std::uint64_t kPowersOfTenUpToEight[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Appends the run of digits at p to `digits`, counting them in `count` (`digits` holds them all
// only while `count` stays at most 19); returns the end of the run. Eight bytes at a time: the
// digits at the front of a word are found and converted without a branch per digit.
[[gnu::always_inline]] inline const char *readDigits(const char *p, const char *end, std::uint64_t &digits, int &count)
{
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            std::uint64_t chunk = 0;
            std::memcpy(&chunk, p, sizeof chunk);
            // A byte is a digit when its high half is 3 and adding 6 keeps it so. Only bytes
            // after a non-digit can be disturbed by a carry, and only the first non-digit counts.
            constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0;
            constexpr std::uint64_t threes = 0x3030303030303030;
            const std::uint64_t notDigits = ((chunk & high) ^ threes) | (((chunk + 0x0606060606060606) & high) ^ threes);
            const int run = std::countr_zero(notDigits) / 8;   // 8 when all are digits
            if (run == 0) {
                return p;
            }
            // The run as the last digits of eight, behind zeros.
            const int shift = 8 * (8 - run);
            const std::uint64_t padded = (chunk << shift) | (threes & ((std::uint64_t{1} << shift) - 1));
            digits = digits * kPowersOfTenUpToEight[run] + eightDigitsValue(padded);
            count += run;
            p += run;
            if (run < 8) {
                return p;
            }
        }
    }
    while (p != end && isDigit(*p)) {
        digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
        ++count;
        ++p;
    }
    return p;
}

// Whether a finite double is a whole number.
bool isWhole(double value)
{
    // From 2^52 on every double is whole; below, the conversion drops exactly the fraction.
    return std::fabs(value) >= 0x1p52 || static_cast<double>(static_cast<std::int64_t>(value)) == value;
}

// A JSON number's text as read by scanNumberText.
struct NumberText {
    const char *begin = nullptr;
    const char *end = nullptr;
    std::uint64_t digits = 0;   // all of them, while count is at most 19
    int count = 0;              // digits read (leading zeros of a fraction included)
    int fraction = 0;           // of which after the point
    bool negative = false;
    bool integral = true;       // neither point nor exponent
    bool exponent = false;
};

// Reads the longest JSON number at `cursor` by the JSON grammar, moving the cursor past it;
// nothing (the cursor unmoved) when none starts there. Whatever follows is the caller's to check.
[[gnu::always_inline]] inline std::optional<NumberText> scanNumberText(const char *&cursor, const char *end)
{
    NumberText number;
    number.begin = cursor;
    const char *p = cursor;
    number.negative = p != end && *p == '-';
    if (number.negative) {
        ++p;
    }
    if (p == end || !isDigit(*p)) {
        return std::nullopt;
    }
    if (*p == '0') {
        ++p;
    } else {
        p = readDigits(p, end, number.digits, number.count);
    }
    if (p != end && *p == '.') {
        number.integral = false;
        ++p;
        if (p == end || !isDigit(*p)) {
            return std::nullopt;
        }
        const int before = number.count;
        p = readDigits(p, end, number.digits, number.count);
        number.fraction = number.count - before;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        number.integral = false;
        number.exponent = true;
        ++p;
        if (p != end && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (p == end || !isDigit(*p)) {
            return std::nullopt;
        }
        while (p != end && isDigit(*p)) {
            ++p;
        }
    }
    number.end = p;
    cursor = p;
    return number;
}

// The double of a number that is not integral, when it has at most 19 digits, no exponent, and
// both its digits and its power of ten are exact doubles: one division then rounds the quotient
// correctly, giving the nearest double as a full conversion does.
std::optional<double> quickFloat(const NumberText &number)
{
    if (number.integral || number.exponent || number.count > 19 || number.digits > (std::uint64_t{1} << 53) ||
        number.fraction > 22) {
        return std::nullopt;
    }
    const double value = static_cast<double>(number.digits) / kExactPowersOfTen[number.fraction];
    return number.negative ? -value : value;
}

// The number as the general reader takes it: integers apart (whether they fit an int),
// everything else as the nearest double. Nothing when it does not fit the integer or double it
// reads as.
std::optional<Number> numberOfText(const NumberText &number)
{
    constexpr std::uint64_t kInt64Magnitude = std::uint64_t{1} << 63;
    if (number.integral && number.count <= 19) {
        if (!number.negative) {
            return Number{static_cast<double>(number.digits), true,
                          number.digits <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())};
        }
        if (number.digits <= kInt64Magnitude) {
            const std::int64_t value = number.digits == kInt64Magnitude ? std::numeric_limits<std::int64_t>::min()
                                                                        : -static_cast<std::int64_t>(number.digits);
            return Number{static_cast<double>(value), true, value >= std::numeric_limits<int>::min()};
        }
    }
    double parsed = 0;
    if (const std::optional<double> quick = quickFloat(number)) {
        parsed = *quick;
    } else if (number.integral && number.negative) {
        std::int64_t whole = 0;
        const auto [stop, error] = std::from_chars(number.begin, number.end, whole);
        if (error != std::errc() || stop != number.end) {
            return std::nullopt;
        }
        return Number{static_cast<double>(whole), true,
                      whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max()};
    } else if (number.integral) {
        std::uint64_t whole = 0;
        const auto [stop, error] = std::from_chars(number.begin, number.end, whole);
        if (error != std::errc() || stop != number.end) {
            return std::nullopt;
        }
        return Number{static_cast<double>(whole), true,
                      whole <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())};
    } else {
        const auto [stop, error] = std::from_chars(number.begin, number.end, parsed);
        if (error != std::errc() || stop != number.end || !std::isfinite(parsed)) {
            return std::nullopt;
        }
    }
    const bool whole = isWhole(parsed);
    return Number{parsed, whole, whole && parsed >= std::numeric_limits<int>::min() &&
                                     parsed <= std::numeric_limits<int>::max()};
}

// Reads the longest JSON number at `cursor` (moving it past what was read) as numberOfText takes it.
std::optional<Number> scanNumber(const char *&cursor, const char *end)
{
    const std::optional<NumberText> text = scanNumberText(cursor, end);
    return text ? numberOfText(*text) : std::nullopt;
}

// The same for a number whose value alone is wanted, sparing the common case the integer checks.
std::optional<double> scanNumberValue(const char *&cursor, const char *end)
{
    const std::optional<NumberText> text = scanNumberText(cursor, end);
    if (!text) {
        return std::nullopt;
    }
    if (const std::optional<double> quick = quickFloat(*text)) {
        return quick;
    }
    const std::optional<Number> number = numberOfText(*text);
    return number ? std::optional<double>(number->value) : std::nullopt;
}

// The sample duration a reading keeps: 300 s when absent, 60 s when not above 0, at most 900 s.
double keptSampleDuration(std::optional<double> seconds)
{
    if (!seconds) {
        return 300;
    }
    double duration = *seconds;
    if (!std::isfinite(duration) || !(duration > 0)) {
        duration = 60;
    }
    return std::min(duration, 900.0);
}

// MARK: - The reader of the written form

// Reads exactly the form this program writes: no blanks, the keys in the order written, numbers,
// null where a value may be absent, and texts of ASCII without escapes. It walks the text once,
// straight into the record. Anything else (blanks, another key order, an escape, a byte beyond
// ASCII, an unknown provider, a number that does not convert) is not decided here and goes to
// the next reader, so every text reads exactly as it does with the general reader.
class WrittenDayFileReader {
public:
    // Nothing: not decided here.
    static std::optional<GlucoseHistoryDayFile> read(std::string_view plaintext)
    {
        WrittenDayFileReader in(plaintext);
        GlucoseHistoryDayFile result;
        std::optional<Number> schemaVersion;
        std::optional<std::string_view> source;
        std::optional<std::string_view> scope;
        if (!in.literal("{\"schemaVersion\":") || !(schemaVersion = in.number()) || !schemaVersion->inIntRange ||
            !in.literal(",\"source\":") || !(source = in.text()) || !in.literal(",\"accountScope\":") ||
            !(scope = in.text()) || !in.literal(",\"readings\":[")) {
            return std::nullopt;
        }
        result.schemaVersion = static_cast<int>(schemaVersion->value);
        result.source = *source;
        result.accountScope = *scope;
        if (!in.literal("]}")) {
            result.readings.reserve(in.readingsAhead());
            do {
                if (!in.reading(result.readings)) {
                    return std::nullopt;
                }
            } while (in.literal(","));
            if (!in.literal("]}")) {
                return std::nullopt;
            }
        }
        if (in.p_ != in.end_) {
            return std::nullopt;   // nothing may follow the record
        }
        return result;
    }

private:
    explicit WrittenDayFileReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

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

    std::optional<Number> number() { return scanNumber(p_, end_); }
    std::optional<double> value() { return scanNumberValue(p_, end_); }

    std::optional<std::string_view> text()
    {
        if (p_ == end_ || *p_ != '"') {
            return std::nullopt;
        }
        const char *const first = ++p_;
        for (; p_ != end_; ++p_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                return std::string_view(first, static_cast<std::size_t>(p_++ - first));
            }
            if (c == '\\' || c < 0x20 || c >= 0x80) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // Room for the readings that follow: two objects each (a text holding braces only makes the
    // room larger), and no more than the smallest written reading would fill.
    std::size_t readingsAhead() const
    {
        constexpr std::size_t kSmallestReading =
            sizeof("{\"reading\":{\"mgdL\":0,\"trendString\":\"\",\"date\":0,\"sampleDuration\":0,\"source\":null},\"fetchedAt\":0}") - 1;
        return std::min(count(p_, end_, '{') / 2, static_cast<std::size_t>(end_ - p_) / kSmallestReading + 1);
    }

    // How often `byte` occurs in [p, end): counted in blocks small enough for one byte per
    // count, which the compiler turns into wide compares.
    static std::size_t count(const char *p, const char *end, char byte)
    {
        std::size_t total = 0;
        while (p != end) {
            const std::size_t block = std::min<std::size_t>(static_cast<std::size_t>(end - p), 255);
            unsigned char found = 0;
            for (std::size_t i = 0; i < block; ++i) {
                found = static_cast<unsigned char>(found + (p[i] == byte ? 1 : 0));
            }
            total += found;
            p += block;
        }
        return total;
    }

    bool reading(GlucoseHistoryStoredReadings &readings)
    {
        std::optional<double> mgdL;
        std::optional<std::string_view> trend;
        std::optional<double> date;
        std::optional<double> sampleDuration;
        GlucoseProvider source = GlucoseProvider::dexcom;
        std::optional<double> fetchedAt;
        if (!literal("{\"reading\":{\"mgdL\":") || !(mgdL = value()) || !literal(",\"trendString\":") ||
            !(trend = text()) || !literal(",\"date\":") || !(date = value()) || !literal(",\"sampleDuration\":")) {
            return false;
        }
        if (!literal("null") && !(sampleDuration = value())) {
            return false;
        }
        if (!literal(",\"source\":")) {
            return false;
        }
        if (!literal("null")) {
            const std::optional<std::string_view> provider = text();
            if (provider == std::string_view("libreLinkUp")) {
                source = GlucoseProvider::libreLinkUp;
            } else if (provider != std::string_view("dexcom")) {
                return false;
            }
        }
        if (!literal("},\"fetchedAt\":") || !(fetchedAt = value()) || !literal("}")) {
            return false;
        }
        // Filled in place, as the reading's constructor would; a trend like the one before takes
        // that reading's arrow.
        GlucoseHistoryStoredReading &entry = readings.emplace_back();
        const GlucoseHistoryStoredReading *previous = readings.size() > 1 ? &readings[readings.size() - 2] : nullptr;
        GlucoseReading &reading = entry.reading;
        reading.mgdL = *mgdL;
        reading.date = dateFromReferenceSeconds(*date);
        reading.sampleDuration = keptSampleDuration(sampleDuration);
        reading.source = source;
        reading.trendString.assign(*trend);
        if (previous && previous->reading.trendString == *trend) {
            reading.trendArrow = previous->reading.trendArrow;
        } else {
            reading.trendArrow = GlucoseReading::trendArrowFor(reading.trendString);
        }
        entry.fetchedAt = dateFromReferenceSeconds(*fetchedAt);
        return true;
    }

    const char *p_;
    const char *end_;
};

// MARK: - The fast reader

// Reads the form this program writes: each record's known keys once, numbers and plain texts
// (no escapes), nothing else. Anything outside that form (an unknown or repeated key, an escape,
// a byte order mark, a malformed or out-of-range number, invalid JSON) is not decided here: the
// caller hands the text to the general reader, so every text reads exactly as it does there.
class FastDayFileReader {
public:
    // Nothing: not decided here.
    std::optional<GlucoseHistoryDayFile> read(std::string_view plaintext)
    {
        namespace od = simdjson::ondemand;
        if (plaintext.size() > kLargestText) {
            return std::nullopt;
        }
        reservePadded(plaintext.size());
        if (!plaintext.empty()) {
            std::memcpy(padded_.get(), plaintext.data(), plaintext.size());
        }
        std::memset(padded_.get() + plaintext.size(), 0, simdjson::SIMDJSON_PADDING);
        od::document document;
        if (parser_.iterate(simdjson::padded_string_view(padded_.get(), plaintext.size(), capacity_)).get(document) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        od::object top;
        if (document.get_object().get(top) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        GlucoseHistoryDayFile result;
        unsigned seen = 0;
        for (auto entry : top) {
            od::field field;
            if (std::move(entry).get(field) != simdjson::SUCCESS) {
                return std::nullopt;
            }
            const od::raw_json_string key = field.key();
            od::value &value = field.value();
            if (key.unsafe_is_equal("readings")) {
                if (!once(seen, 1) || !readReadings(value, result.readings)) {
                    return std::nullopt;
                }
            } else if (key.unsafe_is_equal("schemaVersion")) {
                std::optional<Number> number;
                if (!once(seen, 2) || !(number = numberOf(value)) || !number->inIntRange) {
                    return std::nullopt;
                }
                result.schemaVersion = static_cast<int>(number->value);
            } else if (key.unsafe_is_equal("source")) {
                std::optional<std::string_view> text;
                if (!once(seen, 4) || !(text = textOf(value))) {
                    return std::nullopt;
                }
                result.source = *text;
            } else if (key.unsafe_is_equal("accountScope")) {
                std::optional<std::string_view> text;
                if (!once(seen, 8) || !(text = textOf(value))) {
                    return std::nullopt;
                }
                result.accountScope = *text;
            } else {
                return std::nullopt;
            }
        }
        // Nothing may follow the record.
        if (seen != 15 || document.current_location().error() != simdjson::OUT_OF_BOUNDS) {
            return std::nullopt;
        }
        return result;
    }

private:
    // Texts beyond this are left to the general reader (the parser's memory grows to a text's size).
    static constexpr std::size_t kLargestText = std::size_t{64} << 20;

    static bool once(unsigned &seen, unsigned bit)
    {
        if ((seen & bit) != 0) {
            return false;
        }
        seen |= bit;
        return true;
    }

    static bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // The value's JSON text without the blanks the parser keeps after it.
    static std::optional<std::string_view> tokenOf(simdjson::ondemand::value &value)
    {
        std::string_view token = value.raw_json_token();
        while (!token.empty() && isJsonSpace(token.back())) {
            token.remove_suffix(1);
        }
        return token;
    }

    static std::optional<Number> numberOf(simdjson::ondemand::value &value)
    {
        const std::optional<std::string_view> token = tokenOf(value);
        if (!token || token->empty()) {
            return std::nullopt;
        }
        const char *cursor = token->data();
        const char *const end = cursor + token->size();
        std::optional<Number> number = scanNumber(cursor, end);
        if (cursor != end) {
            return std::nullopt;   // more than one number
        }
        return number;
    }

    // A JSON text without escapes or control characters, as its bytes (the parser has checked
    // that the whole document is UTF-8).
    static std::optional<std::string_view> textOf(simdjson::ondemand::value &value)
    {
        const std::optional<std::string_view> token = tokenOf(value);
        if (!token || token->size() < 2 || token->front() != '"' || token->back() != '"') {
            return std::nullopt;
        }
        const std::string_view text = token->substr(1, token->size() - 2);
        for (const char c : text) {
            if (c == '\\' || c == '"' || static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
        }
        // Taken as a string, so that the parser moves past it checking what follows: a text left
        // to be skipped would let a colon after it pass as if the text were a key.
        simdjson::ondemand::raw_json_string raw;
        if (value.get_raw_json_string().get(raw) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        return text;
    }

    // Whether the value starts like null (isNull then tells whether it is one).
    static bool isNullToken(simdjson::ondemand::value &value)
    {
        simdjson::ondemand::json_type type{};
        return value.type().get(type) == simdjson::SUCCESS && type == simdjson::ondemand::json_type::null;
    }

    static bool isNull(simdjson::ondemand::value &value)
    {
        bool null = false;
        return value.is_null().get(null) == simdjson::SUCCESS && null;
    }

    static bool readReadings(simdjson::ondemand::value &value, GlucoseHistoryStoredReadings &readings)
    {
        namespace od = simdjson::ondemand;
        od::array array;
        if (value.get_array().get(array) != simdjson::SUCCESS) {
            return false;
        }
        std::size_t count = 0;
        if (array.count_elements().get(count) != simdjson::SUCCESS) {
            return false;
        }
        readings.reserve(count);
        for (auto element : array) {
            od::value item;
            od::object stored;
            if (std::move(element).get(item) != simdjson::SUCCESS || item.get_object().get(stored) != simdjson::SUCCESS) {
                return false;
            }
            // Filled in place: a day holds some 1440 readings, each copied once here and not again.
            GlucoseHistoryStoredReading &entry = readings.emplace_back();
            unsigned seen = 0;
            for (auto member : stored) {
                od::field field;
                if (std::move(member).get(field) != simdjson::SUCCESS) {
                    return false;
                }
                const od::raw_json_string key = field.key();
                if (key.unsafe_is_equal("reading")) {
                    if (!once(seen, 1) || !readReading(field.value(), entry.reading)) {
                        return false;
                    }
                } else if (key.unsafe_is_equal("fetchedAt")) {
                    std::optional<Number> fetchedAt;
                    if (!once(seen, 2) || !(fetchedAt = numberOf(field.value()))) {
                        return false;
                    }
                    entry.fetchedAt = dateFromReferenceSeconds(fetchedAt->value);
                } else {
                    return false;
                }
            }
            if (seen != 3) {
                return false;
            }
        }
        return readings.size() == count;
    }

    // Fills `reading` (a default one) as the reading's constructor would.
    static bool readReading(simdjson::ondemand::value &value, GlucoseReading &reading)
    {
        namespace od = simdjson::ondemand;
        od::object object;
        if (value.get_object().get(object) != simdjson::SUCCESS) {
            return false;
        }
        std::optional<Number> mgdL;
        std::optional<std::string_view> trend;
        std::optional<Number> date;
        std::optional<double> sampleDuration;
        GlucoseProvider source = GlucoseProvider::dexcom;
        unsigned seen = 0;
        for (auto entry : object) {
            od::field field;
            if (std::move(entry).get(field) != simdjson::SUCCESS) {
                return false;
            }
            const od::raw_json_string key = field.key();
            od::value &fieldValue = field.value();
            if (key.unsafe_is_equal("mgdL")) {
                if (!once(seen, 1) || !(mgdL = numberOf(fieldValue))) {
                    return false;
                }
            } else if (key.unsafe_is_equal("trendString")) {
                if (!once(seen, 2) || !(trend = textOf(fieldValue))) {
                    return false;
                }
            } else if (key.unsafe_is_equal("date")) {
                if (!once(seen, 4) || !(date = numberOf(fieldValue))) {
                    return false;
                }
            } else if (key.unsafe_is_equal("sampleDuration")) {
                if (!once(seen, 8)) {
                    return false;
                }
                if (!isNullToken(fieldValue)) {
                    const std::optional<Number> number = numberOf(fieldValue);
                    if (!number) {
                        return false;
                    }
                    sampleDuration = number->value;
                } else if (!isNull(fieldValue)) {
                    return false;
                }
            } else if (key.unsafe_is_equal("source")) {
                if (!once(seen, 16)) {
                    return false;
                }
                if (!isNullToken(fieldValue)) {
                    const std::optional<std::string_view> text = textOf(fieldValue);
                    const std::optional<GlucoseProvider> provider =
                        text ? glucoseProviderFromRaw(std::string(*text)) : std::nullopt;
                    if (!provider) {
                        return false;
                    }
                    source = *provider;
                } else if (!isNull(fieldValue)) {
                    return false;
                }
            } else {
                return false;
            }
        }
        if ((seen & 7) != 7) {
            return false;
        }
        double duration = 300;
        if (sampleDuration) {
            duration = *sampleDuration;
            if (!std::isfinite(duration) || !(duration > 0)) {
                duration = 60;
            }
            duration = std::min(duration, 900.0);
        }
        reading.mgdL = mgdL->value;
        reading.date = dateFromReferenceSeconds(date->value);
        reading.sampleDuration = duration;
        reading.source = source;
        reading.trendString.assign(*trend);
        reading.trendArrow = GlucoseReading::trendArrowFor(reading.trendString);
        return true;
    }

    void reservePadded(std::size_t size)
    {
        const std::size_t needed = size + simdjson::SIMDJSON_PADDING;
        if (needed > capacity_) {
            padded_ = std::make_unique_for_overwrite<char[]>(needed);
            capacity_ = needed;
        }
    }

    simdjson::ondemand::parser parser_;
    std::unique_ptr<char[]> padded_;
    std::size_t capacity_ = 0;
};

} // namespace

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(const QByteArray &plaintext)
{
    return decodeHistoryDayFile(std::string_view(plaintext.constData(), static_cast<std::size_t>(plaintext.size())));
}

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(std::string_view plaintext)
{
    return HistoryDayFileReader().decode(plaintext);
}

struct HistoryDayFileReader::Parser {
    FastDayFileReader fast;
};

HistoryDayFileReader::HistoryDayFileReader() = default;
HistoryDayFileReader::~HistoryDayFileReader() = default;
HistoryDayFileReader::HistoryDayFileReader(HistoryDayFileReader &&) noexcept = default;
HistoryDayFileReader &HistoryDayFileReader::operator=(HistoryDayFileReader &&) noexcept = default;

std::optional<GlucoseHistoryDayFile> HistoryDayFileReader::decode(std::string_view plaintext)
{
    if (!parser_) {
        parser_ = std::make_unique<Parser>();
    }
    if (std::optional<GlucoseHistoryDayFile> day = WrittenDayFileReader::read(plaintext)) {
        return day;
    }
    if (std::optional<GlucoseHistoryDayFile> day = parser_->fast.read(plaintext)) {
        return day;
    }
    return history_detail::decodeHistoryDayFileGenerally(plaintext);
}

namespace history_detail {

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileAsWritten(std::string_view plaintext)
{
    return WrittenDayFileReader::read(plaintext);
}

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileQuickly(std::string_view plaintext)
{
    return FastDayFileReader().read(plaintext);
}

std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileGenerally(std::string_view plaintext)
{
    if (plaintext.empty()) {
        plaintext = std::string_view("", 0);   // never a null pointer below
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

} // namespace history_detail

} // namespace quillby
