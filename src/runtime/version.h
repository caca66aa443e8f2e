#pragma once

#include <string_view>

namespace velkantor::runtime {

inline constexpr std::string_view kProgramVersion = "VELKANTOR 2.28";

}  // namespace velkantor::runtime
