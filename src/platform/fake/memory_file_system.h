#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace velkantor::platform {

// Files and folders in memory, with injectable faults: a disk with little or no free space
// (a write takes what fits, then fails, as a real disk does) and read-only folders. Safe to
// share between threads, as a real file system is.
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
    IoResult truncate(const std::string& path, uint64_t size) override;
    std::vector<std::string> list_directory(const std::string& path) const override;

    // A full disk takes no byte; set_full(false) gives unlimited space again.
    void set_full(bool full) {
        std::lock_guard lock(mutex_);
        free_ = full ? std::optional<uint64_t>(0) : std::nullopt;
    }
    // Room for `bytes` more bytes; files that are cut or removed give theirs back.
    void set_free_space(uint64_t bytes) {
        std::lock_guard lock(mutex_);
        free_ = bytes;
    }
    // Overwrites in place fail (a disk error where a count is written back).
    void set_write_at_fails(bool fails) {
        std::lock_guard lock(mutex_);
        write_at_fails_ = fails;
    }
    void set_read_only(const std::string& folder) {
        std::lock_guard lock(mutex_);
        read_only_.insert(normal(folder));
    }
    // Direct access for tests.
    std::string contents(const std::string& path) const;
    void put(const std::string& path, std::string bytes);
    // The memory the files take (their buffers' capacity), for tests that watch the heap.
    uint64_t bytes_held() const {
        std::lock_guard lock(mutex_);
        uint64_t total = 0;
        for (const auto& [path, bytes] : files_) total += path.capacity() + bytes.capacity();
        return total;
    }

private:
    static std::string normal(const std::string& path);
    static std::string parent_of(const std::string& path);
    IoResult check_writable(const std::string& path) const;
    bool full() const { return free_ && *free_ == 0; }
    // How many of `wanted` new bytes fit, taken from the free space.
    uint64_t take_space(uint64_t wanted);
    void give_space(uint64_t bytes) {
        if (free_) *free_ += bytes;
    }

    // Writers on other threads (the archive's) share the files with the engine's. A copy or
    // an assignment of the file system takes the files, each keeps its own mutex.
    struct Mutex : std::recursive_mutex {
        Mutex() = default;
        Mutex(const Mutex&) : std::recursive_mutex() {}
        Mutex& operator=(const Mutex&) { return *this; }
    };
    mutable Mutex mutex_;
    std::map<std::string, std::string> files_;
    std::set<std::string> folders_{"/"};
    std::set<std::string> read_only_;
    std::optional<uint64_t> free_;  // nullopt: unlimited
    bool write_at_fails_ = false;
};

}  // namespace velkantor::platform
