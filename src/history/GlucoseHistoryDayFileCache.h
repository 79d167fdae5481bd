#pragma once

#include "history/GlucoseHistoryRecords.h"
#include "history/HistoryFileIdentity.h"

#include <QByteArray>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace quillby {

using SharedStoredReadings = std::shared_ptr<const GlucoseHistoryStoredReadings>;

// Memo of opened day files. A day file is opened (decrypted, decoded, checked) again whenever
// its identity on disk, the folder key or the expected account scope differ from those it was
// opened with; otherwise its readings are reused. This only saves the cost of opening: every
// operation still lists the folder and looks at every day file. Used on the store's worker
// thread only.
class GlucoseHistoryDayFileCache {
public:
    SharedStoredReadings find(const std::filesystem::path &file, const HistoryFileIdentity &identity,
                              const QByteArray &key, const std::string &scope) const;
    // Whether it holds an entry for the file, whatever its identity, key and scope.
    bool remembers(const std::filesystem::path &file) const;
    void store(const std::filesystem::path &file, const HistoryFileIdentity &identity, const QByteArray &key,
               const std::string &scope, SharedStoredReadings readings);
    // Forgetting a file, or finding the folder's files changed, also clears the folder's
    // canonical mark.
    void forget(const std::filesystem::path &file);
    // Drops the entries of a folder whose names are not listed.
    void retainOnly(const std::filesystem::path &directory, const std::set<std::string> &names);
    // Drops every entry of the folder and of the folders below it.
    void forgetTree(const std::filesystem::path &directory);
    void clear() { folders_.clear(); }

    // The folder's day files, as cached, are the day-by-day split of one merged reading list
    // (ascending, one reading per date, cleaned), each file holding exactly its own day. Set by
    // the account after it wrote or verified such a state; cleared by any change it did not make.
    bool isCanonical(const std::filesystem::path &directory) const;
    void setCanonical(const std::filesystem::path &directory, bool canonical);

private:
    struct Entry {
        HistoryFileIdentity identity;
        QByteArray key;
        std::string scope;
        SharedStoredReadings readings;
    };
    struct Folder {
        std::map<std::string, Entry> entries;
        bool canonical = false;
    };
    std::map<std::string, Folder> folders_;
};

} // namespace quillby
