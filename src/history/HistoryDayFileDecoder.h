#pragma once

#include "history/GlucoseHistoryRecords.h"

#include <QByteArray>

#include <optional>
#include <string_view>

namespace quillby {

// Decodes the plaintext of a day file straight into its record, without building a JSON tree
// first (a full day is some 1440 readings; the store opens up to 90 of them). The one reader of
// day files: unknown keys are skipped; a required key that is missing or null, or a value of the
// wrong type, makes the record unreadable (nothing).
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(std::string_view plaintext);
std::optional<GlucoseHistoryDayFile> decodeHistoryDayFile(const QByteArray &plaintext);

} // namespace quillby
