#include "history/GlucoseHistoryDayFileCache.h"

namespace quillby {

namespace fs = std::filesystem;

SharedStoredReadings GlucoseHistoryDayFileCache::find(const fs::path &file, const HistoryFileIdentity &identity,
                                                      const QByteArray &key, const std::string &scope) const
{
    const auto folder = folders_.find(file.parent_path().native());
    if (folder == folders_.end()) {
        return nullptr;
    }
    const auto entry = folder->second.entries.find(file.filename().native());
    if (entry == folder->second.entries.end() || !(entry->second.identity == identity) || entry->second.key != key ||
        entry->second.scope != scope) {
        return nullptr;
    }
    return entry->second.readings;
}

bool GlucoseHistoryDayFileCache::remembers(const fs::path &file) const
{
    const auto folder = folders_.find(file.parent_path().native());
    return folder != folders_.end() && folder->second.entries.count(file.filename().native()) != 0;
}

void GlucoseHistoryDayFileCache::store(const fs::path &file, const HistoryFileIdentity &identity,
                                       const QByteArray &key, const std::string &scope, SharedStoredReadings readings)
{
    folders_[file.parent_path().native()].entries[file.filename().native()] =
        Entry{identity, key, scope, std::move(readings)};
}

void GlucoseHistoryDayFileCache::forget(const fs::path &file)
{
    const auto folder = folders_.find(file.parent_path().native());
    if (folder != folders_.end()) {
        folder->second.entries.erase(file.filename().native());
        folder->second.canonical = false;
    }
}

void GlucoseHistoryDayFileCache::retainOnly(const fs::path &directory, const std::set<std::string> &names)
{
    const auto folder = folders_.find(directory.native());
    if (folder == folders_.end()) {
        return;
    }
    auto &entries = folder->second.entries;
    for (auto entry = entries.begin(); entry != entries.end();) {
        if (names.count(entry->first)) {
            ++entry;
        } else {
            entry = entries.erase(entry);
            folder->second.canonical = false;
        }
    }
}

void GlucoseHistoryDayFileCache::forgetTree(const fs::path &directory)
{
    const std::string prefix = directory.native();
    for (auto folder = folders_.begin(); folder != folders_.end();) {
        const std::string &name = folder->first;
        const bool inside = name == prefix || (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                                               (name[prefix.size()] == '/' || prefix.ends_with('/')));
        folder = inside ? folders_.erase(folder) : std::next(folder);
    }
}

bool GlucoseHistoryDayFileCache::isCanonical(const fs::path &directory) const
{
    const auto folder = folders_.find(directory.native());
    return folder != folders_.end() && folder->second.canonical;
}

void GlucoseHistoryDayFileCache::setCanonical(const fs::path &directory, bool canonical)
{
    folders_[directory.native()].canonical = canonical;
}

} // namespace quillby
