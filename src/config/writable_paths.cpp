#include "config/writable_paths.h"

#include <filesystem>

#include "text/strings.h"

namespace velkantor::config {

namespace {

std::filesystem::path folded(std::string_view path) {
    auto normal = std::filesystem::path(path).lexically_normal();
    // "/var/lib/velkantor/" and "/var/lib/velkantor" are the same folder.
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

bool inside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    auto rest = path.lexically_relative(folder);
    return !rest.empty() && *rest.begin() != "..";
}

}  // namespace

std::string events_folder_outside_writable(std::string_view events_folder,
                                           std::string_view station_folder,
                                           std::string_view writable_paths) {
    std::string listed;
    bool any = false;
    auto events = std::filesystem::path(station_folder) / std::filesystem::path(events_folder);
    events = folded(events.string());
    for (const auto& writable : text::split(writable_paths, ':')) {
        if (writable.empty()) continue;
        any = true;
        if (inside(events, folded(writable))) return {};
        listed += (listed.empty() ? "" : ", ") + writable;
    }
    if (!any) return {};
    return "The events folder " + std::string(events_folder) +
           " is outside the folders this service may write (" + listed +
           "): no event can be recorded. Set the events folder (EVF in velkant.ini) inside the "
           "station folder.";
}

}  // namespace velkantor::config
