#pragma once

#include "history/GlucoseHistoryRecords.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <string_view>

namespace quillby {

// Decodes the plaintext of a day file straight into its record, without building a JSON tree
// first (a full day is some 1440 readings; the store opens up to 90 of them). The one reader of
// day files: unknown keys are skipped; a required key that is missing or null, or a value of the
// wrong type, makes the record unreadable (nothing). The exact form this program writes is read
// in one walk over the text, other well-formed texts by a fast parser; any other text goes to the
// general reader below, which decides it as it always has.
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(std::string_view plaintext);
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(const QByteArray &plaintext);

// The same reading for many files one after the other (on one thread at a time): the reader keeps
// the fast parser's memory from one file to the next, and gives it back when it goes.
class HistoryDayFileReader {
public:
    HistoryDayFileReader();
    ~HistoryDayFileReader();
    HistoryDayFileReader(HistoryDayFileReader &&) noexcept;
    HistoryDayFileReader &operator=(HistoryDayFileReader &&) noexcept;

    std::optional<GlucoseHistoryDayFile> decode(std::string_view plaintext);

private:
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

namespace history_detail {

// The general reader: a streaming JSON reader for any text. decodeHistoryDayFile gives exactly
// its answer for every text.
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileGenerally(std::string_view plaintext);
// The reader of the written form alone: the record, or nothing when the text is not exactly in
// the form this program writes (blanks, another key order, escapes...) and is left to the others.
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileAsWritten(std::string_view plaintext);
// The fast reader alone: the record, or nothing when the text is left to the general reader
// (it is not in the form this program writes: unknown or repeated keys, escapes, invalid JSON...).
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFileQuickly(std::string_view plaintext);

} // namespace history_detail

} // namespace quillby
