#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velkantor::web {

// A URL's path or query part with its %XX escapes decoded; in a query (`plus_is_space`) a
// "+" is a space. Nothing when an escape is cut short or not hexadecimal.
std::optional<std::string> percent_decode(std::string_view text, bool plus_is_space = false);

}  // namespace velkantor::web
