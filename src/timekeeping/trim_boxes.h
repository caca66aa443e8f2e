#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "timekeeping/clock_trim.h"

// The trimming record as the hardware setup window shows it: four boxes of two hexadecimal
// digits in the record's byte order (value bits 0-7, 8-15, 16-23, then the sign byte).
namespace velkantor::timekeeping {

using TrimBoxes = std::array<std::string, 4>;

// The boxes for a known clock error in seconds per day.
TrimBoxes trim_boxes_for_error(double seconds_per_day);
// The boxes of a record held as hexadecimal digits (`clock_trim_hex`, a board read), two per
// box in order; a shorter text leaves the last boxes short or empty.
TrimBoxes trim_boxes_from_hex(std::string_view hex);
// A box as the operator left it: upper case, a single digit with its leading zero.
std::string normal_trim_box(std::string_view text);
// The record; nullopt unless every box holds one or two hexadecimal digits.
std::optional<TrimRecord> trim_record_from_boxes(const TrimBoxes& boxes);
// The clock error, in seconds per day, that the record corrects ("0.00000000"); "???" when
// the boxes hold no record or a trim of 0.
std::string clock_error_text(const TrimBoxes& boxes);

}  // namespace velkantor::timekeeping
