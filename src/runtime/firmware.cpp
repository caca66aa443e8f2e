#include "runtime/firmware.h"

#include "config/settings.h"

namespace velkantor::runtime {

namespace {

using Kind = Firmware::Kind;

// One row per firmware the boards have shipped with. Columns: version, kind, board type,
// dated time frames, date trusted, date late at midnight, date sets the PC's date,
// trimmable, rate ticks, a rate of 200 counted as 100.
constexpr Firmware kFirmwares[] = {
    {"0.00", Kind::test, -1, false, false, false, false, false, 100, true},
    {"0.01", Kind::test, -1, false, false, false, false, false, 100, true},
    {"1.11", Kind::obsolete, -1, false, false, false, false, false, 100, true},
    {"1.30", Kind::obsolete, -1, false, false, false, false, true, 100, true},
    {"1.31", Kind::obsolete, -1, false, false, false, false, true, 100, true},
    {"1.40", Kind::board, config::kZeda10, false, false, false, false, true, 100, true},
    {"1.50", Kind::board, config::kZeda10, false, false, false, false, true, 100, true},
    {"1.51", Kind::board, config::kZeda10, false, false, false, false, true, 100, true},
    {"1.60", Kind::board, config::kZeda10, false, false, false, false, true, 200, false},
    {"1.61", Kind::board, config::kZeda10, false, false, false, false, true, 200, false},
    {"1.62", Kind::board, config::kZeda10, true, true, true, true, true, 200, false},
    {"1.63", Kind::board, config::kZeda10, true, false, false, false, true, 200, false},
    {"1.80", Kind::board, config::kZeda18, false, false, false, false, true, 200, false},
    {"1.81", Kind::board, config::kZeda18, true, true, true, true, true, 200, false},
    {"2.00", Kind::board, config::kZeda20, true, true, true, true, true, 200, false},
    {"2.10", Kind::board, config::kZeda20, true, true, true, false, true, 2400, false},
    {"3.00", Kind::board, config::kZeda30, true, true, false, false, true, 200, false},
};

// Versions no row knows: the short time frame, no trimming, the oldest sampling rule.
constexpr Firmware kUnknown{"", Kind::unknown, -1, false, false, false, false, false, 100, true};

// A rate code travels as one byte of the start command.
constexpr int kLargestCode = 255;

}  // namespace

std::optional<int> Firmware::rate_code(int rate) const {
    if (rate <= 0) return 0;
    // The boards run a 1-per-second channel at 2 per second.
    if (rate == 1) rate = 2;
    if (rate_200_as_100 && rate == 200) rate = 100;
    int code = rate_ticks / rate;
    if (code == 0 || code > kLargestCode) return std::nullopt;
    return code;
}

double Firmware::rate_of_code(int code) const {
    return code <= 0 ? 0 : static_cast<double>(rate_ticks) / code;
}

const Firmware& firmware(std::string_view version) {
    for (const Firmware& row : kFirmwares) {
        if (row.version == version) return row;
    }
    return kUnknown;
}

const Firmware& sampling_firmware(std::string_view version) {
    std::string number = firmware_number(version);
    const Firmware& own = firmware(number);
    if (own.kind != Kind::unknown) return own;
    // The series is the first two digits: "1.6" of "1.65".
    if (number.size() < 3) return kUnknown;
    std::string_view series = std::string_view(number).substr(0, 3);
    for (const Firmware& row : kFirmwares) {
        if (row.version.substr(0, 3) == series) return row;
    }
    return kUnknown;
}

const Firmware& sampling_firmware(std::string_view version, int16_t ad_type) {
    const Firmware& own = sampling_firmware(version);
    if (own.kind == Kind::board) return own;
    const Firmware* type_row = nullptr;
    for (const Firmware& row : kFirmwares) {
        if (row.kind != Kind::board || row.ad_type != ad_type) continue;
        if (type_row && (type_row->rate_ticks != row.rate_ticks ||
                         type_row->rate_200_as_100 != row.rate_200_as_100)) {
            return own;  // the type's firmwares differ: only the version could tell
        }
        type_row = &row;
    }
    return type_row ? *type_row : own;
}

std::string firmware_number(std::string_view text) {
    constexpr std::string_view kBoard = "ZEDA ";
    if (text.substr(0, kBoard.size()) == kBoard) text.remove_prefix(kBoard.size());
    if (text.substr(0, 2) == "V.") return std::string(text.substr(2));
    if (text.size() == 4 && text[0] == 'V') {
        return std::string(1, text[1]) + "." + std::string(text.substr(2));
    }
    return std::string(text);
}

}  // namespace velkantor::runtime
