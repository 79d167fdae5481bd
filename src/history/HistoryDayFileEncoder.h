#pragma once

#include "history/GlucoseHistoryRecords.h"

#include <QByteArray>

#include <string>

namespace quillby {

// The plaintext of a day file of `scope` holding `readings`, written straight from the readings:
// byte for byte what encoding the record's JSON tree gives (same key order, same number and
// string forms), without building the tree (a full day is some 1440 readings, and every append
// writes at least one day). Throws as that encoding does (a string that is not valid UTF-8).
QByteArray encodeHistoryDayFile(int schemaVersion, const std::string &source, const std::string &accountScope,
                                const GlucoseHistoryStoredReadings &readings);

} // namespace quillby
