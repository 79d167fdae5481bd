#include "history/HistoryDayFileDecoder.h"

#include <algorithm>
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
