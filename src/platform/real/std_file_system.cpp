#include "platform/real/std_file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace velkantor::platform {

namespace fs = std::filesystem;

namespace {

IoResult from_errno() {
    return IoResult::fail(std::strerror(errno));
}

// Writes all bytes to an open descriptor, retrying short writes.
IoResult write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return from_errno();
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return IoResult::ok();
}

IoResult write_with_flags(const std::string& path, std::string_view bytes, int flags) {
    int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return from_errno();
    IoResult result = write_all(fd, bytes);
    if (::close(fd) != 0 && result) result = from_errno();
    return result;
}

}  // namespace

bool StdFileSystem::exists(const std::string& path) const {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool StdFileSystem::is_directory(const std::string& path) const {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

IoResult StdFileSystem::create_directories(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec && !fs::is_directory(path)) return IoResult::fail(ec.message());
    return IoResult::ok();
}

std::optional<uint64_t> StdFileSystem::file_size(const std::string& path) const {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return size;
}

std::optional<std::string> StdFileSystem::read_file(const std::string& path,
                                                    uint64_t max_bytes) const {
    return read_range(path, 0, max_bytes);
}

std::optional<std::string> StdFileSystem::read_range(const std::string& path, uint64_t offset,
                                                     uint64_t length) const {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buffer[65536];
    while (out.size() < length) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, length - out.size()));
        ssize_t n = ::pread(fd, buffer, want, static_cast<off_t>(offset + out.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

IoResult StdFileSystem::append(const std::string& path, std::string_view bytes) {
    return write_with_flags(path, bytes, O_CREAT | O_APPEND);
}

IoResult StdFileSystem::write_file(const std::string& path, std::string_view bytes) {
    return write_with_flags(path, bytes, O_CREAT | O_TRUNC);
}

IoResult StdFileSystem::replace_file(const std::string& path, std::string_view bytes) {
    std::string temporary = path + ".tmp";
    int fd = ::open(temporary.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return from_errno();
    IoResult result = write_all(fd, bytes);
    if (result && ::fsync(fd) != 0) result = from_errno();
    if (::close(fd) != 0 && result) result = from_errno();
    if (result && ::rename(temporary.c_str(), path.c_str()) != 0) result = from_errno();
    if (!result) ::unlink(temporary.c_str());
    return result;
}

IoResult StdFileSystem::write_at(const std::string& path, uint64_t offset, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return from_errno();
    IoResult result = IoResult::ok();
    while (!bytes.empty()) {
        ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = from_errno();
            break;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    if (::close(fd) != 0 && result) result = from_errno();
    return result;
}

IoResult StdFileSystem::remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) return from_errno();
    return IoResult::ok();
}

IoResult StdFileSystem::truncate(const std::string& path, uint64_t size) {
    auto now = file_size(path);
    if (!now) return IoResult::fail("No such file or directory");
    if (size >= *now) return IoResult::ok();
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) return from_errno();
    return IoResult::ok();
}

std::vector<std::string> StdFileSystem::list_directory(const std::string& path) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace velkantor::platform
