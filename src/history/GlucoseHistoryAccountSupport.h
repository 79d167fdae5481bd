#pragma once

// Helpers shared by the saved-history account folder, the store and the legacy move.
// Internal to src/history.

#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryDayFileCache.h"
#include "history/GlucoseHistoryError.h"
#include "history/GlucoseHistoryFileAccess.h"
#include "history/GlucoseHistoryRecords.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quillby::history_detail {

namespace fs = std::filesystem;


inline constexpr double kDay = 86400;

// Runs work; a GlucoseHistoryError passes unchanged, any other failure becomes `replacement`.
template <typename Work>
auto mappingFailures(GlucoseHistoryError::Case replacement, Work &&work) -> decltype(work())
{
    try {
        return work();
    } catch (const GlucoseHistoryError &) {
        throw;
    } catch (...) {
        throw GlucoseHistoryError(replacement);
    }
}

inline bool pathExists(const fs::path &path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        throw fs::filesystem_error("cannot inspect item", path, error);
    }
    return fs::exists(status);
}

// The day files directly in `directory`, in file-name order; none when it does not exist.
// Failures become storageFailure.
inline std::vector<fs::path> dayFilesIn(const fs::path &directory)
{
    return mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        std::vector<fs::path> files;
        if (!pathExists(directory)) {
            return files;
        }
        for (const auto &entry : fs::directory_iterator(directory)) {
            if (hasExtension(entry.path(), history_files::dayFileExtension)) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end(),
                  [](const fs::path &a, const fs::path &b) { return a.filename().native() < b.filename().native(); });
        return files;
    });
}

// Removes the entries directly in `directory` that `selects` picks (nothing when the folder does
// not exist), flushing the folder after each removal. Failures pass unchanged.
template <typename Selects>
void removeEntriesIn(const fs::path &directory, GlucoseHistoryFileAccess &files, Selects &&selects)
{
    if (!pathExists(directory)) {
        return;
    }
    std::vector<fs::path> entries;
    for (const auto &entry : fs::directory_iterator(directory)) {
        if (selects(entry.path())) {
            entries.push_back(entry.path());
        }
    }
    for (const auto &entry : entries) {
        if (pathExists(entry)) {
            fs::remove_all(entry);
            files.synchronizeDirectory(directory);
        }
    }
}

// Reads one plain JSON record (the manifest or an account's configuration). A missing file gives
// the default record, unless `hasDependentFiles` says data exists that needs it, which makes it
// unreadable like a broken or unacceptable one.
template <typename Record, typename HasDependentFiles>
Record readPlainRecord(GlucoseHistoryFileAccess &files, const fs::path &url, HasDependentFiles hasDependentFiles)
{
    bool exists = false;
    try {
        exists = pathExists(url);
    } catch (...) {
        throw GlucoseHistoryError::invalidConfiguration();
    }
    if (!exists) {
        if (hasDependentFiles()) {
            throw GlucoseHistoryError::invalidConfiguration();
        }
        return Record();
    }
    Record record;
    try {
        record = Record::fromJSON(history_json::decode(files.readFile(url)));
    } catch (...) {
        throw GlucoseHistoryError::invalidConfiguration();
    }
    if (!record.isAcceptable()) {
        throw GlucoseHistoryError::invalidConfiguration();
    }
    return record;
}

inline std::optional<std::int64_t> dayNumberOfFileName(const std::string &name)
{
    const std::string stem = name.substr(0, name.size() - std::string_view(history_files::dayFileExtension).size());
    try {
        std::size_t used = 0;
        const long long parsed = std::stoll(stem, &used);
        if (used == stem.size() && historyDayFileName(parsed) == name) {
            return parsed;
        }
    } catch (...) {
    }
    return std::nullopt;
}

inline bool isStorableReading(const GlucoseReading &reading)
{
    return std::isfinite(reading.mgdL) && reading.mgdL > 0 && std::isfinite(reading.date);
}

// The sample duration that a day file gives back for a reading: JSON cannot hold a value that is
// not finite (it is written as null and reads back as absent, 300 s), and reading repairs the
// rest as the reading codec does (not above 0: 60 s; above 900 s: 900 s). A reading is kept in
// this form from the start, so the readings in memory are those a later read of the file gives.
inline double storedSampleDuration(double seconds)
{
    if (!std::isfinite(seconds)) {
        return 300;
    }
    if (!(seconds > 0)) {
        return 60;
    }
    return std::min(seconds, 900.0);
}

// Order used to find, per reading date, the stored reading that wins: ascending date, and
// within one date the reading order (fetchedAt, mgdL, trend text), so the last of a run wins.
inline bool dateThenReadingOrder(const GlucoseHistoryStoredReading &a, const GlucoseHistoryStoredReading &b)
{
    if (a.reading.date != b.reading.date) {
        return a.reading.date < b.reading.date;
    }
    return GlucoseHistoryAccount::readingOrder(a, b);
}

} // namespace quillby::history_detail
