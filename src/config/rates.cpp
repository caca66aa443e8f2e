#include "config/rates.h"

#include "config/settings.h"
#include "text/number_text.h"

namespace velkantor::config {

const std::array<std::string_view, kRateEntries> kRateTexts = {
    "OFF", "1spm", ".1",  ".5",  "1",   "2",   "5",   "10",  "15",  "20",  "25",  "30",  "50",
    "60",  "80",   "100", "120", "200", "240", "300", "400", "480", "600", "800", "1200"};

const std::array<double, kRateEntries> kNominalRates = {
    0,  0.016666, 0.1, 0.5, 1,   2,   5,   10,  15,  20,  25,  30,  50,
    60, 80,       100, 120, 200, 240, 300, 400, 480, 600, 800, 1200};

double nominal_rate(int sps_index) {
    if (sps_index < 0 || sps_index >= kRateEntries) return 0;
    return kNominalRates[static_cast<size_t>(sps_index)];
}

int start_rate(int sps_index) {
    if (sps_index < 0 || sps_index >= kRateEntries) return 0;
    if (sps_index == 1) return 1;  // "1spm" reads as the number 1
    return static_cast<int>(text::round_half_even(kNominalRates[static_cast<size_t>(sps_index)]));
}

std::string_view baud_text(int baud_index) {
    static const std::array<std::string_view, 7> kBauds = {"",      "4800",  "9600",  "19200",
                                                           "38400", "57600", "115200"};
    if (baud_index < 1 || baud_index > 6) return "";
    return kBauds[static_cast<size_t>(baud_index)];
}

const std::array<std::string_view, 8> kAdTypeNames = {
    "ZEDA10 16 bits",        "ZEDA18 18 bits", "INFILTEC Ser 16 bits", "N.E. LX1500 16 bits",
    "DATAQ DI194RS 10 bits", "ZEDA20 24 bits", "ZEDA30 16 channel",    "Unknow"};

std::string_view ad_type_name(int ad_type) {
    if (ad_type < 0 || ad_type > 6) return kAdTypeNames[7];
    return kAdTypeNames[static_cast<size_t>(ad_type)];
}

bool is_zeda(int16_t ad_type) {
    return ad_type == kZeda10 || ad_type == kZeda18 || ad_type == kZeda20 || ad_type == kZeda30;
}

}  // namespace velkantor::config
