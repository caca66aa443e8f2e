#pragma once

#include <string>
#include <string_view>

#include "instrument_board.h"

namespace velkantor::sim {

// The two bytes of one channel in a scan. The sample (-512 to 511) rides in the bits that the
// station's decoder reads: v = 1023 - 2 x sample, its top eight bits in bit 7 of the first
// byte and bits 1 to 7 of the second, its low three bits in bits 3, 6 and 5 of the first.
// Bit 0 is clear in the first byte of a scan and set in every other byte.
std::string encode_dataq_pair(int32_t sample, bool first_in_scan);

// DATAQ DI194RS. Commands are 0x00 and two characters: "C" + mask character ("0" + the
// channel bits) chooses the channels, "S1" starts scanning, "S0" stops; "B", "NZ" and "D0"
// are taken and change nothing here. A scan of the chosen channels, two bytes each, is sent
// 240, 120, 80 or 60 times a second for 1 to 4 channels.
class DataqBoard : public InstrumentBoard {
public:
    explicit DataqBoard(const BoardOptions& options);

    int channel_mask() const { return mask_; }

private:
    void hear(std::string_view bytes, double now) override;
    std::string unit(int64_t tick) override;
    void apply(char what, char argument, double now);

    int mask_ = 1;
    std::string command_;  // 0x00 and what followed it so far
};

}  // namespace velkantor::sim
