#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkantor::platform {

// Result of a file operation: empty error text on success. A write that failed may have
// left part of its bytes behind, so the result is never to be dropped unread.
struct [[nodiscard]] IoResult {
    std::string error;
    explicit operator bool() const { return error.empty(); }
    static IoResult ok() { return {}; }
    static IoResult fail(std::string text) {
        return {text.empty() ? "I/O error" : std::move(text)};
    }
};

// The files and folders of the station. Paths use "/". Every write the core makes goes
// through here, so tests can run on memory and inject a full disk.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool exists(const std::string& path) const = 0;
    virtual bool is_directory(const std::string& path) const = 0;
    virtual IoResult create_directories(const std::string& path) = 0;
    // Size in bytes; nullopt when the file does not exist.
    virtual std::optional<uint64_t> file_size(const std::string& path) const = 0;
    // Whole file, or at most max_bytes of it; nullopt when it cannot be read.
    virtual std::optional<std::string> read_file(const std::string& path,
                                                 uint64_t max_bytes = UINT64_MAX) const = 0;
    // `length` bytes from `offset` (fewer at the end of the file); nullopt when unreadable.
    virtual std::optional<std::string> read_range(const std::string& path, uint64_t offset,
                                                  uint64_t length) const = 0;
    // Appends, creating the file when missing.
    virtual IoResult append(const std::string& path, std::string_view bytes) = 0;
    // Replaces the file's contents in place (truncate and write).
    virtual IoResult write_file(const std::string& path, std::string_view bytes) = 0;
    // Writes a temporary file next to the target and renames it over the target, so a
    // crash or a full disk leaves either the old file or the new one, never half of one.
    virtual IoResult replace_file(const std::string& path, std::string_view bytes) = 0;
    // Overwrites bytes of an existing file at `offset`; the rest of the file is untouched.
    virtual IoResult write_at(const std::string& path, uint64_t offset, std::string_view bytes) = 0;
    virtual IoResult remove(const std::string& path) = 0;
    // Cuts the file to `size` bytes (never longer than it is).
    virtual IoResult truncate(const std::string& path, uint64_t size) = 0;
    // Names (not paths) of the entries of a folder, sorted.
    virtual std::vector<std::string> list_directory(const std::string& path) const = 0;
};

// What an append of whole records left in the file.
struct [[nodiscard]] AppendOutcome {
    IoResult result;
    size_t kept = 0;  // bytes of the append that stayed in the file: whole records only
    explicit operator bool() const { return static_cast<bool>(result); }
};

// Appends `bytes`, a run of whole records: CR LF lines when `record_size` is 0, otherwise
// records of `record_size` bytes. A disk that fills in the middle of the append takes part
// of the bytes before it fails; the file is then cut back to the end of the last whole
// record, so that a reader never meets half a line or half a sample and the writer knows
// exactly what is on disk.
AppendOutcome append_records(FileSystem& fs, const std::string& path, std::string_view bytes,
                             size_t record_size = 0);

// "a/b" + "c" -> "a/b/c"
std::string join_path(std::string_view folder, std::string_view name);

}  // namespace velkantor::platform
