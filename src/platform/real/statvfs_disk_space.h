#pragma once

#include "platform/disk_space.h"

namespace velkantor::platform {

// statvfs(): the bytes that the station's own (unprivileged) files can still take.
class StatvfsDiskSpace : public DiskSpace {
public:
    std::optional<uint64_t> free_bytes(const std::string& path) const override;
};

}  // namespace velkantor::platform
