#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkantor::web {

// JSON text pieces: a quoted, escaped string (bytes that are not valid UTF-8 become U+FFFD,
// so a stray byte from a settings file never breaks a client's parser) and a number
// (non-finite values as null).
std::string json_string(std::string_view text);
std::string json_number(double value);
// "YYYY-MM-DDTHH:MM:SS" of epoch seconds (whole seconds), for machines.
std::string iso_time(double epoch_seconds);

}  // namespace velkantor::web

namespace velkantor::web {
// A file name as one path segment of a URL: everything but unreserved characters as %XX.
std::string url_segment(std::string_view name);
}  // namespace velkantor::web
