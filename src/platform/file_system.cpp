#include "platform/file_system.h"

namespace velkantor::platform {

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace velkantor::platform
