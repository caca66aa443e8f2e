#pragma once

#include "platform/file_system.h"

namespace velkantor::platform {

// The real disk.
class StdFileSystem : public FileSystem {
public:
    bool exists(const std::string& path) const override;
    bool is_directory(const std::string& path) const override;
    IoResult create_directories(const std::string& path) override;
    std::optional<uint64_t> file_size(const std::string& path) const override;
    std::optional<std::string> read_file(const std::string& path,
                                         uint64_t max_bytes) const override;
    std::optional<std::string> read_range(const std::string& path, uint64_t offset,
                                          uint64_t length) const override;
    IoResult append(const std::string& path, std::string_view bytes) override;
    IoResult write_file(const std::string& path, std::string_view bytes) override;
    IoResult replace_file(const std::string& path, std::string_view bytes) override;
    IoResult write_at(const std::string& path, uint64_t offset, std::string_view bytes) override;
    IoResult remove(const std::string& path) override;
    IoResult truncate(const std::string& path, uint64_t size) override;
    std::vector<std::string> list_directory(const std::string& path) const override;
};

}  // namespace velkantor::platform
