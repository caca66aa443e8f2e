#include "dataq_board.h"

#include <algorithm>
#include <bit>

namespace velkantor::sim {

namespace {

constexpr int kChannels = 4;
constexpr size_t kCommandLength = 3;
// 4800 baud, 8 data bits, no parity, 1 stop bit: ten bits a byte. The scans fill it.
constexpr double kLineBytesPerSecond = 480;

int scans_per_second(int channels_on) {
    constexpr int kRates[] = {0, 240, 120, 80, 60};
    return channels_on >= 1 && channels_on <= 4 ? kRates[channels_on] : 0;
}

}  // namespace

std::string encode_dataq_pair(int32_t sample, bool first_in_scan) {
    int v = 1023 - 2 * std::clamp(sample, -512, 511);  // 1 to 2047
    int top = v >> 3;
    int low = v & 7;
    int first = (first_in_scan ? 0 : 0x01) | ((top & 1) != 0 ? 0x80 : 0) |
                ((low & 1) != 0 ? 0x08 : 0) | ((low & 2) != 0 ? 0x40 : 0) |
                ((low & 4) != 0 ? 0x20 : 0);
    int second = (top & 0xFE) | 0x01;
    return {static_cast<char>(first), static_cast<char>(second)};
}

DataqBoard::DataqBoard(const BoardOptions& options)
    : InstrumentBoard(options, 10, kLineBytesPerSecond) {}

void DataqBoard::apply(char what, char argument, double now) {
    switch (what) {
        case 'C':
            mask_ = (argument - '0') & 0x0F;
            break;
        case 'S':
            if (argument == '1') {
                int rate = scans_per_second(std::popcount(static_cast<unsigned>(mask_)));
                if (rate > 0) start_streaming(rate, now);
            } else {
                stop_streaming();
            }
            break;
        default:
            break;
    }
}

void DataqBoard::hear(std::string_view bytes, double now) {
    for (char c : bytes) {
        // Every command starts with 0x00; anything else between commands is ignored.
        if (c == '\0' && command_.size() != 2) {
            command_.assign(1, c);
            continue;
        }
        if (command_.empty()) continue;
        command_ += c;
        if (command_.size() == kCommandLength) {
            apply(command_[1], command_[2], now);
            command_.clear();
        }
    }
}

std::string DataqBoard::unit(int64_t tick) {
    std::string scan;
    for (int ch = 0; ch < kChannels; ++ch) {
        if ((mask_ & (1 << ch)) == 0) continue;
        scan += encode_dataq_pair(value(ch, tick), scan.empty());
    }
    return scan;
}

}  // namespace velkantor::sim
