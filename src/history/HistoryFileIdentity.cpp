#include "history/HistoryFileIdentity.h"

namespace quillby {

HistoryFileIdentity HistoryFileIdentity::of(const struct stat &info)
{
    HistoryFileIdentity identity;
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    identity.size = static_cast<std::int64_t>(info.st_size);
    identity.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    identity.changedNanoseconds = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
    return identity;
}

} // namespace quillby
