#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The rate list `sps_select`, the baud list and the interface model names.
namespace velkantor::config {

inline constexpr int kRateEntries = 25;

// Entry texts of `sps_select`, index = sps_index.
extern const std::array<std::string_view, kRateEntries> kRateTexts;
// `nominal_rate_table`: samples per second of each entry.
extern const std::array<double, kRateEntries> kNominalRates;

// Nominal rate of an index; 0 for an index outside the list.
double nominal_rate(int sps_index);
// The rate the board is started with: the entry's number rounded half to even; "OFF", ".1"
// and ".5" give 0 and "1spm" gives 1. 0 for an index outside the list.
int start_rate(int sps_index);

// Baud texts by baud_index (1..6); empty for other indexes.
std::string_view baud_text(int baud_index);

// Interface model names by ad_type (7 is "Unknow").
extern const std::array<std::string_view, 8> kAdTypeNames;
std::string_view ad_type_name(int ad_type);

}  // namespace velkantor::config
