#include "platform/file_system.h"

#include <algorithm>

namespace velkantor::platform {

AppendOutcome append_records(FileSystem& fs, const std::string& path, std::string_view bytes,
                             size_t record_size) {
    const uint64_t before = fs.file_size(path).value_or(0);
    AppendOutcome outcome{fs.append(path, bytes), 0};
    if (outcome.result) {
        outcome.kept = bytes.size();
        return outcome;
    }
    const uint64_t after = fs.file_size(path).value_or(before);
    auto part =
        static_cast<size_t>(std::min<uint64_t>(after > before ? after - before : 0, bytes.size()));
    size_t keep = 0;
    if (record_size == 0) {
        size_t line_end = bytes.substr(0, part).rfind('\n');
        keep = line_end == std::string_view::npos ? 0 : line_end + 1;
    } else {
        keep = part - part % record_size;
    }
    if (after != before + keep) {
        if (auto cut = fs.truncate(path, before + keep); !cut) {
            // The broken record stays; what the file holds is no longer known.
            outcome.result.error += "; the partial record could not be removed: " + cut.error;
            keep = 0;
        }
    }
    outcome.kept = keep;
    return outcome;
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace velkantor::platform
