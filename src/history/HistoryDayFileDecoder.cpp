#include "history/HistoryDayFileDecoder.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
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

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // A JSON number exactly as the general reader takes it: integers apart (whether they fit an
    // int), everything else as the nearest double. Nothing for what is not a number by the JSON
    // grammar, or does not fit the integer or double it reads as. The parser then skips the one
    // token and checks that a comma or a closing bracket follows.
    static std::optional<Number> numberOf(simdjson::ondemand::value &value)
    {
        const std::optional<std::string_view> token = tokenOf(value);
        if (!token || token->empty()) {
            return std::nullopt;
        }
        const char *const begin = token->data();
        const char *const end = begin + token->size();
        const char *p = begin;
        const bool negative = *p == '-';
        if (negative) {
            ++p;
        }
        if (p == end || !isDigit(*p)) {
            return std::nullopt;
        }
        if (*p == '0') {
            ++p;
        } else {
            while (p != end && isDigit(*p)) {
                ++p;
            }
        }
        bool integral = true;
        if (p != end && *p == '.') {
            integral = false;
            ++p;
            if (p == end || !isDigit(*p)) {
                return std::nullopt;
            }
            while (p != end && isDigit(*p)) {
                ++p;
            }
        }
        if (p != end && (*p == 'e' || *p == 'E')) {
            integral = false;
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
        if (p != end) {
            return std::nullopt;
        }
        if (integral && negative) {
            std::int64_t parsed = 0;
            const auto [last, error] = std::from_chars(begin, end, parsed);
            if (error != std::errc() || last != end) {
                return std::nullopt;
            }
            return Number{static_cast<double>(parsed), true,
                          parsed >= std::numeric_limits<int>::min() && parsed <= std::numeric_limits<int>::max()};
        }
        if (integral) {
            std::uint64_t parsed = 0;
            const auto [last, error] = std::from_chars(begin, end, parsed);
            if (error != std::errc() || last != end) {
                return std::nullopt;
            }
            return Number{static_cast<double>(parsed), true,
                          parsed <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())};
        }
        double parsed = 0;
        const auto [last, error] = std::from_chars(begin, end, parsed);
        if (error != std::errc() || last != end || !std::isfinite(parsed)) {
            return std::nullopt;
        }
        const bool whole = std::trunc(parsed) == parsed;
        return Number{parsed, whole, whole && parsed >= std::numeric_limits<int>::min() &&
                                         parsed <= std::numeric_limits<int>::max()};
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
    if (std::optional<GlucoseHistoryDayFile> day = parser_->fast.read(plaintext)) {
        return day;
    }
    return history_detail::decodeHistoryDayFileGenerally(plaintext);
}

namespace history_detail {

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
