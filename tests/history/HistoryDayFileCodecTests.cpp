// The day-file codec's direct paths against the record's JSON tree: the writer must give the very
// bytes the tree gives, and the reader must accept exactly what the reference reading of the tree
// accepts, with the same values to the last bit.

#include "history/GlucoseHistoryRecords.h"
#include "HistoryDayFileReference.h"
#include "history/HistoryDayFileDecoder.h"
#include "history/HistoryDayFileEncoder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <limits>
#include <random>

namespace quillby {
namespace {

const std::string kScope(64, 'b');

GlucoseHistoryStoredReadings oddReadings()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    GlucoseHistoryStoredReadings readings;
    const auto add = [&](double mgdL, std::string trend, Date date, double duration, GlucoseProvider source, Date fetchedAt) {
        GlucoseHistoryStoredReading stored{GlucoseReading(mgdL, std::move(trend), date, 300, source), fetchedAt};
        stored.reading.sampleDuration = duration;   // as given, unrepaired
        readings.push_back(stored);
    };
    add(120, "Flat", 1'800'000'000, 60, GlucoseProvider::libreLinkUp, 1'800'000'020);
    add(120.5, "FortyFiveUp", 1'800'000'060.25, 300, GlucoseProvider::dexcom, 1'800'000'061.125);
    add(0.1, "", 978'307'200, 0.3, GlucoseProvider::dexcom, 978'307'200);   // date 0 since 2001
    add(1e-7, "with \"quote\" and \\ back", -5e20, 1e300, GlucoseProvider::dexcom, 1e16);
    add(399.99999999999994, "ümlaut → arrow", 1.5e15, nan, GlucoseProvider::libreLinkUp, -0.0);
    add(55, "tab\there\nnewline\x01", 2'000'000'000.0009766, std::numeric_limits<double>::infinity(),
        GlucoseProvider::dexcom, 1'999'999'999.9999998);
    add(std::numeric_limits<double>::denorm_min(), "x", 123456789.123456789, 17.25, GlucoseProvider::libreLinkUp,
        std::numeric_limits<double>::max());
    return readings;
}

TEST(HistoryDayFileCodec, WriterGivesTheBytesOfTheRecordTree)
{
    std::mt19937_64 random(7);
    GlucoseHistoryStoredReadings readings = oddReadings();
    for (int i = 0; i < 2000; ++i) {
        // Random doubles of every magnitude and random whole and half values.
        const double any = std::bit_cast<double>(random() & 0x7fefffffffffffffull);
        const double date = 1.7e9 + static_cast<double>(random() % 100'000'000) / 8.0;
        readings.push_back({GlucoseReading(static_cast<double>(random() % 400) + (i % 3 == 0 ? 0.5 : 0), "Flat", date,
                                           any, GlucoseProvider::libreLinkUp),
                            date + static_cast<double>(random() % 1000) / 1000.0});
    }
    for (const auto &list : {GlucoseHistoryStoredReadings{}, readings}) {
        const QByteArray expected = history_json::encode(
            GlucoseHistoryDayFile::toJSON(1, history_files::daySource, kScope, list));
        EXPECT_EQ(encodeHistoryDayFile(1, history_files::daySource, kScope, list), expected);
    }
    // Text that is not UTF-8 is refused the same way.
    const GlucoseHistoryStoredReadings broken{{GlucoseReading(100, "bad \xff byte", 1.8e9, 60), 1.8e9}};
    EXPECT_ANY_THROW(history_json::encode(GlucoseHistoryDayFile::toJSON(1, "s", kScope, broken)));
    EXPECT_ANY_THROW(encodeHistoryDayFile(1, "s", kScope, broken));
}

std::optional<GlucoseHistoryDayFile> fromTree(const std::string &document)
{
    try {
        return test::dayFileFromTree(nlohmann::json::parse(document));
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void expectSameAsTree(const std::string &document)
{
    SCOPED_TRACE(document.substr(0, 400));
    const auto expected = fromTree(document);
    const auto decoded = decodeHistoryDayFile(QByteArray::fromStdString(document));
    ASSERT_EQ(decoded.has_value(), expected.has_value());
    if (!decoded) {
        return;
    }
    EXPECT_EQ(decoded->schemaVersion, expected->schemaVersion);
    EXPECT_EQ(decoded->source, expected->source);
    EXPECT_EQ(decoded->accountScope, expected->accountScope);
    ASSERT_EQ(decoded->readings.size(), expected->readings.size());
    for (std::size_t i = 0; i < decoded->readings.size(); ++i) {
        const auto &a = decoded->readings[i];
        const auto &b = expected->readings[i];
        // Bit for bit: the sign of zero counts.
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.reading.mgdL), std::bit_cast<std::uint64_t>(b.reading.mgdL));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.reading.date), std::bit_cast<std::uint64_t>(b.reading.date));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.reading.sampleDuration),
                  std::bit_cast<std::uint64_t>(b.reading.sampleDuration));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.fetchedAt), std::bit_cast<std::uint64_t>(b.fetchedAt));
        EXPECT_EQ(a.reading.trendString, b.reading.trendString);
        EXPECT_EQ(a.reading.trendArrow, b.reading.trendArrow);
        EXPECT_EQ(a.reading.source, b.reading.source);
    }
}

TEST(HistoryDayFileCodec, ReaderAgreesWithTheRecordTreeOnWrittenAndAlteredFiles)
{
    GlucoseHistoryStoredReadings readings = oddReadings();
    readings.erase(readings.begin() + 3, readings.end());   // keep the plainly writable ones
    const std::string written =
        encodeHistoryDayFile(1, history_files::daySource, kScope, readings).toStdString();
    expectSameAsTree(written);
    expectSameAsTree(encodeHistoryDayFile(1, history_files::daySource, kScope, oddReadings()).toStdString());
    expectSameAsTree(encodeHistoryDayFile(1, history_files::daySource, kScope, {}).toStdString());

    // Every number of the written file replaced by each of these, one at a time.
    const std::vector<std::string> numbers = {
        "0", "-0", "-0.0", "0.0", "00", "01", "1.", ".5", "+1", "-", "1e3", "1E-3", "1e400", "-1e400", "4.9e-324",
        "1e-400", "123456789012345", "1234567890123456", "12345678901234567890", "99999999999999999999999",
        "0.000000000000001", "0.0000000000000001", "123.456789012345", "123.4567890123456", "9007199254740993",
        "1.7976931348623157e308", "-12.5", "3", "2.5", "null", "true", "\"1\"", "[]", "{}", "1 ", " 1"};
    std::vector<std::pair<std::size_t, std::size_t>> tokens;   // number positions in the written file
    for (std::size_t i = 0; i < written.size();) {
        if ((written[i] == '-' || std::isdigit(static_cast<unsigned char>(written[i]))) && i > 0 &&
            written[i - 1] == ':') {
            std::size_t end = i + 1;
            while (end < written.size() && (std::isdigit(static_cast<unsigned char>(written[end])) ||
                                            written[end] == '.' || written[end] == 'e' || written[end] == '-' ||
                                            written[end] == '+')) {
                ++end;
            }
            tokens.emplace_back(i, end);
            i = end;
        } else {
            ++i;
        }
    }
    ASSERT_GE(tokens.size(), 13u);
    for (const auto &[begin, end] : tokens) {
        for (const std::string &number : numbers) {
            std::string altered = written;
            altered.replace(begin, end - begin, number);
            expectSameAsTree(altered);
        }
    }

    // Layouts other than the writer's own.
    const std::vector<std::pair<std::string, std::string>> edits = {
        {"\"trendString\":\"Flat\"", "\"trendString\":\"Fl\\u0061t\""},
        {"\"trendString\":\"Flat\"", "\"trendString\" : \"Flat\""},
        {"\"source\":\"libreLinkUp\"", "\"source\":\"nobody\""},
        {"\"source\":\"libreLinkUp\"", "\"source\":null"},
        {",\"sampleDuration\":60.0", ""},
        {"{\"schemaVersion\":1,", "{\"schemaVersion\":1,\"extra\":[1],"},
        {"]}", "] }"},
        {"]}", "]}\n"},
        {"]}", "]}x"},
        {"]}", "],\"readings\":[]}"},
        {"\"accountScope\":\"", "\"accountScope\":\"\\\""},
    };
    for (const auto &[from, to] : edits) {
        std::string altered = written;
        const std::size_t at = altered.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        altered.replace(at, from.size(), to);
        expectSameAsTree(altered);
    }
    // Cut short anywhere.
    for (std::size_t length = 0; length < written.size(); length += 7) {
        expectSameAsTree(written.substr(0, length));
    }
}

// Found by fuzzing: a key named twice in one object. The JSON tree keeps the last value; the reader
// keeps the last value too when both have the type the key needs, and refuses the file when the
// first does not (the tree would take it). Our writer never names a key twice, and a file not
// sealed by us never opens, so refusing such a file loses nothing; what matters is that the reader
// neither crashes nor takes a value the tree would not.
TEST(HistoryDayFileCodec, KeyNamedTwiceTakesTheLastValueOrIsRefused)
{
    const std::string written =
        encodeHistoryDayFile(1, history_files::daySource, kScope, oddReadings()).toStdString();
    const std::size_t fetched = written.find("\"fetchedAt\":");
    ASSERT_NE(fetched, std::string::npos);
    const std::size_t mgdL = written.find("\"mgdL\":");
    ASSERT_NE(mgdL, std::string::npos);

    struct Case {
        std::size_t at;
        std::string insert;
        bool sameAsTree;   // otherwise refused
    };
    const std::vector<Case> cases = {
        {fetched, "\"fetchedAt\":5,", true},
        {mgdL, "\"mgdL\":77,", true},
        {written.find("\"accountScope\":"), "\"accountScope\":\"other\",", true},
        // The fuzzer's input: an object where a number belongs, then the number.
        {fetched, "\"fetchedAt\":{\"mgdL\":28},", false},
        {mgdL, "\"mgdL\":\"77\",", false},
        {mgdL, "\"mgdL\":null,", false},
    };
    for (const Case &c : cases) {
        std::string altered = written;
        altered.insert(c.at, c.insert);
        SCOPED_TRACE(c.insert);
        if (c.sameAsTree) {
            expectSameAsTree(altered);
        } else {
            ASSERT_TRUE(fromTree(altered).has_value());
            EXPECT_FALSE(decodeHistoryDayFile(QByteArray::fromStdString(altered)).has_value());
        }
    }
}

// The files this program writes are read by the fast reader, with the general reader's values to
// the last bit; other forms it either reads the same way or leaves to the general reader.
TEST(HistoryDayFileCodec, FastReaderTakesTheWrittenFormAndLeavesTheRest)
{
    GlucoseHistoryStoredReadings readings;
    for (int i = 0; i < 50; ++i) {
        const Date date = 1'800'000'000.0 + i * 60.0 + (i % 4) * 0.001;
        readings.push_back({GlucoseReading(80 + i * 0.1, i % 2 ? "Flat" : "FortyFiveDown", date, i % 3 ? 60 : 300,
                                           i % 2 ? GlucoseProvider::libreLinkUp : GlucoseProvider::dexcom),
                            date + 20.123456789});
    }
    const std::string written = encodeHistoryDayFile(1, history_files::daySource, kScope, readings).toStdString();
    const std::string legacy = encodeHistoryDayFile(1, history_files::legacyDaySource, kScope, {}).toStdString();
    for (const std::string &document : {written, legacy}) {
        const auto quick = history_detail::decodeHistoryDayFileQuickly(document);
        ASSERT_TRUE(quick.has_value());
        EXPECT_EQ(*quick, *history_detail::decodeHistoryDayFileGenerally(document));
        expectSameAsTree(document);
    }

    struct Case {
        std::string from;
        std::string to;
    };
    const std::vector<Case> others = {
        {"{\"schemaVersion\"", "\xef\xbb\xbf{\"schemaVersion\""},    // byte order mark
        {"\"trendString\":\"Flat\"", "\"trendString\":\"Fl\\u0061t\""},
        {"\"mgdL\":", "\"m\\u0067dL\":"},                              // a known key, escaped
        {"{\"schemaVersion\":1,", "{\"schemaVersion\":1,\"extra\":[1,{\"a\":null}],"},
        {"\"fetchedAt\":", "\"fetchedAt\":1,\"fetchedAt\":"},
        {"\"sampleDuration\":60.0", "\"sampleDuration\":null"},
        {"\"sampleDuration\":60.0", "\"sampleDuration\":1e400"},
        {"\"mgdL\":80.0", "\"mgdL\":18446744073709551616"},
        {"\"mgdL\":80.0", "\"mgdL\":-0"},
        {"]}", "]} {}"},
        {"]}", "],}"},
    };
    for (const Case &c : others) {
        std::string altered = written;
        const std::size_t at = altered.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        altered.replace(at, c.from.size(), c.to);
        SCOPED_TRACE(c.to);
        const auto quick = history_detail::decodeHistoryDayFileQuickly(altered);
        if (quick) {
            EXPECT_EQ(*quick, *history_detail::decodeHistoryDayFileGenerally(altered));
        }
        expectSameAsTree(altered);
    }
    // Found by fuzzing: a text followed by a colon, which a parser skipping over the text takes
    // for a key (and then skips to the closing bracket that balances).
    expectSameAsTree(R"({"readings":[],"accountScope":"x":[1],"y":2},"source":"glucose-cloud","schemaVersion":1})");
}

// The files the writer writes are read in one walk of their written form, with the general
// reader's values to the last bit, whatever the length of a number: around the eight digits read
// at a time and the limits of the quick conversion (19 digits, 2^53, 22 places).
TEST(HistoryDayFileCodec, WrittenFormReaderTakesTheWritersFiles)
{
    GlucoseHistoryStoredReadings readings = oddReadings();
    readings.erase(readings.begin() + 3, readings.end());   // the plainly writable ones
    for (int i = 0; i < 40; ++i) {
        const Date date = 1'800'000'000.0 + i * 60.0;
        readings.push_back({GlucoseReading(70 + i * 3.7, i % 3 ? "Flat" : "SingleUp", date, 60, GlucoseProvider::libreLinkUp),
                            date + 20 + (i * 7919 % 1'000'003) / 1'000'003.0});
    }
    const std::string written = encodeHistoryDayFile(1, history_files::daySource, kScope, readings).toStdString();
    const auto asWritten = history_detail::decodeHistoryDayFileAsWritten(written);
    ASSERT_TRUE(asWritten.has_value());
    EXPECT_EQ(*asWritten, *history_detail::decodeHistoryDayFileGenerally(written));
    expectSameAsTree(written);
    ASSERT_TRUE(history_detail::decodeHistoryDayFileAsWritten(
        encodeHistoryDayFile(1, history_files::legacyDaySource, kScope, {}).toStdString()));

    const std::vector<std::string> numbers = {
        "7", "-7", "12345678", "-12345678", "123456789", "1234567812345678", "12345678123456789",
        "1234567890123456789", "9999999999999999999", "12345678901234567890", "-9223372036854775808",
        "-9223372036854775809", "0.12345678", "12345678.12345678", "1234567.123456789", "9007199254740992.0",
        "900719925474099.3", "900719925474099.35", "0.0000000000000000000001", "0.00000000000000000000001",
        "821692820.1234567", "821692820.12345678", "4503599627370495.5", "1.25e2", "-0.0"};
    const std::size_t fetched = written.find("\"fetchedAt\":") + std::string("\"fetchedAt\":").size();
    const std::size_t mgdL = written.find("\"mgdL\":") + std::string("\"mgdL\":").size();
    for (const std::size_t at : {fetched, mgdL}) {
        const std::size_t end = written.find_first_of(",}", at);
        for (const std::string &number : numbers) {
            std::string altered = written;
            altered.replace(at, end - at, number);
            SCOPED_TRACE(number);
            const auto general = history_detail::decodeHistoryDayFileGenerally(altered);
            ASSERT_TRUE(general.has_value());
            EXPECT_TRUE(history_detail::decodeHistoryDayFileAsWritten(altered).has_value() ||
                        number == "-9223372036854775809");   // an integer past 64 bits is left to the others
            expectSameAsTree(altered);
        }
    }
}

} // namespace
} // namespace quillby
