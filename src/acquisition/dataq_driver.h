#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/instrument_driver.h"

namespace velkantor::acquisition {

namespace dataq {
// 0x00 "S" "0": scanning off.
extern const std::string kStop;
// Scans per second with `channels_on` channels (1 to 4) scanned; 0 otherwise.
int base_rate(int channels_on);
// The sample carried by a channel's two bytes, F first.
int32_t sample_of(uint8_t first, uint8_t second);
}  // namespace dataq

// DATAQ DI194RS: scans of the enabled channels at a base rate set by their number, two
// bytes a channel, a channel slower than the base rate taken by decimation.
class DataqDriver : public InstrumentDriver {
public:
    DataqDriver();

    // The rate rules, then the start script.
    bool send_start(Station& station) override;
    std::string stop_command() const override { return dataq::kStop; }
    void gather(Station& station) override;

private:
    bool rates_allowed(Station& station);

    // Channels scanned, in scan order, with their rates and decimation counters.
    std::vector<int> scanned_;
    std::array<int, 4> rate_{};
    std::array<int, 4> decimation_count_{};
    int base_rate_ = 0;
    // Bytes of the scan being read, at positions 1 to 8 (9 is written and dropped).
    std::array<uint8_t, 10> scan_{};
    int fill_ = 0;
};

}  // namespace velkantor::acquisition
