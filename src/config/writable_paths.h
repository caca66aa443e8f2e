#pragma once

#include <string>
#include <string_view>

namespace velkantor::config {

// A service in a sandbox may write only some folders; its unit names them to the program in
// this variable (absolute paths separated by ':'), the same as its ReadWritePaths.
inline constexpr const char* kWritablePathsVariable = "VELKANTOR_WRITABLE_PATHS";

// The event log line for an events folder the program cannot write because it lies outside
// `writable_paths`; empty when it lies inside one of them, or when no paths are given (no
// sandbox is known). A relative events folder is taken from the station folder. The paths
// are compared as written, after "." and ".." and repeated '/' are folded.
std::string events_folder_outside_writable(std::string_view events_folder,
                                           std::string_view station_folder,
                                           std::string_view writable_paths);

}  // namespace velkantor::config
