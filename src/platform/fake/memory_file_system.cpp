#include "platform/fake/memory_file_system.h"

#include <algorithm>

namespace velkantor::platform {

std::string MemoryFileSystem::normal(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string MemoryFileSystem::parent_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MemoryFileSystem::exists(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    return files_.count(p) != 0 || folders_.count(p) != 0;
}

bool MemoryFileSystem::is_directory(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return folders_.count(normal(path)) != 0;
}

IoResult MemoryFileSystem::check_writable(const std::string& path) const {
    if (full()) return IoResult::fail("No space left on device");
    auto parent = parent_of(path);
    if (!folders_.count(parent)) return IoResult::fail("No such file or directory");
    if (read_only_.count(parent)) return IoResult::fail("Permission denied");
    return IoResult::ok();
}

IoResult MemoryFileSystem::create_directories(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    if (folders_.count(p)) return IoResult::ok();
    if (files_.count(p)) return IoResult::fail("File exists");
    auto parent = parent_of(p);
    if (parent != p && !folders_.count(parent)) {
        if (auto r = create_directories(parent); !r) return r;
    }
    if (read_only_.count(parent)) return IoResult::fail("Permission denied");
    if (full()) return IoResult::fail("No space left on device");
    folders_.insert(p);
    return IoResult::ok();
}

std::optional<uint64_t> MemoryFileSystem::file_size(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    if (it == files_.end()) return std::nullopt;
    return it->second.size();
}

std::optional<std::string> MemoryFileSystem::read_file(const std::string& path,
                                                       uint64_t max_bytes) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    if (it == files_.end()) return std::nullopt;
    return it->second.substr(0, max_bytes);
}

std::optional<std::string> MemoryFileSystem::read_range(const std::string& path, uint64_t offset,
                                                        uint64_t length) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    if (it == files_.end()) return std::nullopt;
    if (offset >= it->second.size()) return std::string();
    return it->second.substr(offset, length);
}

uint64_t MemoryFileSystem::take_space(uint64_t wanted) {
    if (!free_) return wanted;
    uint64_t fits = std::min(wanted, *free_);
    *free_ -= fits;
    return fits;
}

IoResult MemoryFileSystem::append(const std::string& path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    if (auto r = check_writable(p); !r) return r;
    auto fits = static_cast<size_t>(take_space(bytes.size()));
    files_[p].append(bytes.substr(0, fits));
    if (fits < bytes.size()) return IoResult::fail("No space left on device");
    return IoResult::ok();
}

IoResult MemoryFileSystem::write_file(const std::string& path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    if (auto r = check_writable(p); !r) {
        // Truncation happens before the failing write, as on a real full disk.
        if (full() && files_.count(p)) files_[p].clear();
        return r;
    }
    give_space(files_[p].size());
    auto fits = static_cast<size_t>(take_space(bytes.size()));
    files_[p] = std::string(bytes.substr(0, fits));
    if (fits < bytes.size()) return IoResult::fail("No space left on device");
    return IoResult::ok();
}

IoResult MemoryFileSystem::replace_file(const std::string& path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    if (auto r = check_writable(p); !r) return r;  // the old file stays whole
    auto it = files_.find(p);
    uint64_t old_size = it == files_.end() ? 0 : it->second.size();
    // The temporary file needs the room of the whole new file next to the old one.
    if (free_ && bytes.size() > *free_) return IoResult::fail("No space left on device");
    take_space(bytes.size());
    give_space(old_size);
    files_[p] = std::string(bytes);
    return IoResult::ok();
}

IoResult MemoryFileSystem::write_at(const std::string& path, uint64_t offset,
                                    std::string_view bytes) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    if (it == files_.end()) return IoResult::fail("No such file or directory");
    if (write_at_fails_) return IoResult::fail("Input/output error");
    uint64_t end = offset + bytes.size();
    uint64_t growth = end > it->second.size() ? end - it->second.size() : 0;
    if (free_ && growth > *free_) return IoResult::fail("No space left on device");
    take_space(growth);
    if (it->second.size() < end) it->second.resize(end, '\0');
    it->second.replace(offset, bytes.size(), bytes);
    return IoResult::ok();
}

IoResult MemoryFileSystem::truncate(const std::string& path, uint64_t size) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    if (it == files_.end()) return IoResult::fail("No such file or directory");
    if (size < it->second.size()) {
        give_space(it->second.size() - size);
        it->second.resize(size);
    }
    return IoResult::ok();
}

IoResult MemoryFileSystem::remove(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    if (auto it = files_.find(p); it != files_.end()) {
        give_space(it->second.size());
        files_.erase(it);
        return IoResult::ok();
    }
    return IoResult::fail("No such file or directory");
}

std::vector<std::string> MemoryFileSystem::list_directory(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    std::string prefix = p == "/" ? "/" : p + "/";
    std::vector<std::string> names;
    auto collect = [&](const std::string& entry) {
        if (entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0 &&
            entry.find('/', prefix.size()) == std::string::npos) {
            names.push_back(entry.substr(prefix.size()));
        }
    };
    for (const auto& [name, bytes] : files_) collect(name);
    for (const auto& folder : folders_) collect(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::string MemoryFileSystem::contents(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(normal(path));
    return it == files_.end() ? std::string() : it->second;
}

void MemoryFileSystem::put(const std::string& path, std::string bytes) {
    std::lock_guard lock(mutex_);
    auto p = normal(path);
    (void)create_directories(parent_of(p));  // set-up of a test: its folders simply exist
    files_[p] = std::move(bytes);
}

}  // namespace velkantor::platform
