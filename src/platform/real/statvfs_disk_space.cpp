#include "platform/real/statvfs_disk_space.h"

#include <sys/statvfs.h>

namespace velkantor::platform {

std::optional<uint64_t> StatvfsDiskSpace::free_bytes(const std::string& path) const {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

}  // namespace velkantor::platform
