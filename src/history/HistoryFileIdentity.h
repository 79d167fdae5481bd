#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace quillby {

// Identity of one file on disk: a rewrite through rename gives a new inode, any change in place
// a new size or change time.
struct HistoryFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedNanoseconds = 0;

    static HistoryFileIdentity of(const struct stat &info);
    bool operator==(const HistoryFileIdentity &) const = default;
};

} // namespace quillby
