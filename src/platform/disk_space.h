#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velkantor::platform {

class DiskSpace {
public:
    virtual ~DiskSpace() = default;
    // Free bytes of the file system that holds `path`; nullopt when it cannot be told.
    virtual std::optional<uint64_t> free_bytes(const std::string& path) const = 0;
};

}  // namespace velkantor::platform
