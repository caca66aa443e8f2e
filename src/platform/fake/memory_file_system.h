#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace velkantor::platform {

// Files and folders in memory, with injectable faults: a full disk (every write fails and
// writes nothing) and read-only folders.
class MemoryFileSystem : public FileSystem {
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
    std::vector<std::string> list_directory(const std::string& path) const override;

    void set_full(bool full) { full_ = full; }
    void set_read_only(const std::string& folder) { read_only_.insert(normal(folder)); }
    // Direct access for tests.
    std::string contents(const std::string& path) const;
    void put(const std::string& path, std::string bytes);
    // The memory the files take (their buffers' capacity), for tests that watch the heap.
    uint64_t bytes_held() const {
        uint64_t total = 0;
        for (const auto& [path, bytes] : files_) total += path.capacity() + bytes.capacity();
        return total;
    }

private:
    static std::string normal(const std::string& path);
    static std::string parent_of(const std::string& path);
    IoResult check_writable(const std::string& path) const;

    std::map<std::string, std::string> files_;
    std::set<std::string> folders_{"/"};
    std::set<std::string> read_only_;
    bool full_ = false;
};

}  // namespace velkantor::platform
