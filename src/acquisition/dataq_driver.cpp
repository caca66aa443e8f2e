#include "acquisition/dataq_driver.h"

#include "acquisition/station.h"

namespace velkantor::acquisition {

namespace {

// All channels together never pass this many samples per second.
constexpr int kOverallRate = 240;
constexpr int kMaxScannedChannels = 4;
constexpr double kAfterMaskSeconds = 1;
constexpr double kBetweenCommandsSeconds = 0.2;

const InstrumentLine kDataqLine{
    .description = "DATAQ DI194RS at 4800,n,8,1 ",
    .line_settings = "4800,n,8,1",
    .input_length = 1,
    .input_mode = platform::InputMode::binary,
    .not_found_log = "Error! Acquisition stopped. Board DATAQ DI-194RS not found",
    .not_found_warning = "DATAQ DI-194RS Not found.",
};

std::string command(char a, char b) {
    return std::string(1, '\0') + a + b;
}

}  // namespace

namespace dataq {

const std::string kStop = command('S', '0');

int base_rate(int channels_on) {
    switch (channels_on) {
        case 1:
            return 240;
        case 2:
            return 120;
        case 3:
            return 80;
        case 4:
            return 60;
        default:
            return 0;
    }
}

int32_t sample_of(uint8_t first, uint8_t second) {
    int32_t v = (second & 0xFE) + ((first & 0x80) != 0 ? 1 : 0);
    v = v * 8 + ((first & 0x08) != 0 ? 1 : 0) + ((first & 0x40) != 0 ? 2 : 0) +
        ((first & 0x20) != 0 ? 4 : 0);
    // The whole part below the half: (1023 - v) / 2 rounded towards minus infinity.
    int32_t twice = 1023 - v;
    return twice >= 0 ? twice / 2 : -((1 - twice) / 2);
}

}  // namespace dataq

DataqDriver::DataqDriver() : InstrumentDriver(kDataqLine) {}

bool DataqDriver::rates_allowed(Station& station) {
    auto refuse = [&](const std::string& text) {
        station.op().message("Error", text, platform::MessageIcon::critical);
        return false;
    };
    int sum = 0;
    for (int r : rate_) sum += r;
    if (sum > kOverallRate) {
        return refuse("With this board you cannot have more than\r\n240 SPS as overall speed.");
    }
    for (int c = 0; c < kMaxScannedChannels; ++c) {
        int r = rate_[static_cast<size_t>(c)];
        if (r > base_rate_) {
            return refuse("Channel " + std::to_string(c + 1) + " it's set to " + std::to_string(r) +
                          " SPS\r\nThis value is not allowed with these number of channels.");
        }
    }
    for (int c = 0; c < kMaxScannedChannels; ++c) {
        int r = rate_[static_cast<size_t>(c)];
        if (r > 0 && base_rate_ % r != 0) {
            return refuse("Channel " + std::to_string(c + 1) + "  it's set to " +
                          std::to_string(r) +
                          " SPS\r\nThis value is not compatible for data decimation with the "
                          "other channels.\r\nTry to change this or the SPS of other channels.");
        }
    }
    return true;
}

bool DataqDriver::send_start(Station& station) {
    const auto& run = station.run();
    scanned_.clear();
    int mask = 0;
    for (int c = 0; c < kMaxScannedChannels; ++c) {
        auto& r = rate_[static_cast<size_t>(c)];
        r = static_cast<int>(run.configured_rate[static_cast<size_t>(c)]);
        if (r < 0) r = 0;
        if (r == 0) continue;
        scanned_.push_back(c);
        mask |= 1 << c;
    }
    base_rate_ = dataq::base_rate(static_cast<int>(scanned_.size()));
    decimation_count_.fill(0);
    fill_ = 0;
    if (!rates_allowed(station)) return false;

    const char mask_character = static_cast<char>(0x30 + mask);
    station.send(std::string(1, mask_character));
    station.WaitSeconds(kAfterMaskSeconds);
    station.send(std::string{'\0', 'B', '\x01'});
    for (const std::string& next :
         {command('S', '0'), command('N', 'Z'), command('C', mask_character), command('D', '0'),
          command('S', '1')}) {
        station.WaitSeconds(kBetweenCommandsSeconds);
        station.send(next);
    }
    station.WaitSeconds(kBetweenCommandsSeconds);
    station.port().discard_input();
    return found(station);
}

void DataqDriver::gather(Station& station) {
    auto& run = station.run();
    run.last_byte = 0;
    // A scan is never split between seconds: the second is looked at before a scan's first
    // byte. The instrument fills the line, so its bytes come at the line's own rate.
    const int scan_bytes = 2 * static_cast<int>(scanned_.size());
    if (fill_ == 0 || fill_ >= scan_bytes) {
        const int line_rate = scan_bytes * base_rate_;
        const double backlog =
            line_rate > 0 ? static_cast<double>(station.port().bytes_waiting()) / line_rate : 0;
        if (new_reading_second(station, backlog, base_rate_)) return;
    }
    std::string byte = station.port().read();
    if (byte.empty()) return;
    auto value = static_cast<uint8_t>(byte[0]);
    // Bit 0 is clear only in the first byte of a scan: a lost byte costs one scan at most.
    if ((value & 1) == 0) {
        fill_ = 0;
    } else if (fill_ == 0) {
        return;  // the tail of a scan begun before the input was discarded
    }
    ++fill_;
    scan_[static_cast<size_t>(fill_)] = value;
    if (fill_ > 8) fill_ = 0;
    if (fill_ < 2 || fill_ % 2 != 0) return;
    if (fill_ == scan_bytes) unit_taken();

    // The instrument scans only the channels it was told to: the k-th pair of a scan is the
    // k-th of those, which is channel k only when no channel below it is off.
    auto pair = static_cast<size_t>(fill_ / 2 - 1);
    if (pair >= scanned_.size()) return;
    int ch = scanned_[pair];
    int r = rate_[static_cast<size_t>(ch)];
    if (r < base_rate_) {
        int& count = decimation_count_[static_cast<size_t>(ch)];
        if (++count < base_rate_ / r) return;
        count = 0;
    }
    emit(station, recoded_data_frame(ch, dataq::sample_of(scan_[static_cast<size_t>(fill_ - 1)],
                                                          scan_[static_cast<size_t>(fill_)])));
}

}  // namespace velkantor::acquisition
