#pragma once

#include <string_view>

namespace velkantor::acquisition {

inline constexpr std::string_view kProgramVersion = "VELKANTOR 2.28";

}  // namespace velkantor::acquisition
