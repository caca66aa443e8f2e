#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/settings.h"
#include "display/noise_psd.h"
#include "platform/file_system.h"
#include "platform/picture_codec.h"

namespace velkantor::display {

// Each channel's noise, hour by hour: the last hour's PSD, and the day's probabilistic picture
// in the drums folder (PSD_YYYYMMDD_N.GIF, UTC days), redrawn at the end of every hour. The
// day's hours are kept beside it (PSD_YYYYMMDD_N.txt), so a restart in the middle of a day
// goes on with the hours before it.
class NoiseMonitor {
public:
    NoiseMonitor(platform::FileSystem& fs, platform::PictureCodec& codec, std::string drums_folder);

    struct Channel {
        bool calibrated = false;
        std::string uncalibrated_reason;
        std::optional<PsdHour> last_hour;
        std::string picture;      // the file name of the latest day's picture, "" = none yet
        int64_t day = INT64_MIN;  // UTC day number of `hours`
        std::vector<PsdHour> hours;
    };

    // One channel's consecutive samples at `rate`, the first at `first_us` (UTC); its settings
    // give the calibration, `stream` names it in the picture's title. Returns why a picture
    // could not be written, "" otherwise.
    std::string add(int ch, int64_t first_us, double rate, std::span<const int32_t> values,
                    const config::ChannelSettings& settings, const std::string& stream);

    const Channel& channel(int ch) const { return channels_[static_cast<size_t>(ch & 3)]; }

    // "PSD_YYYYMMDD_N" of a UTC day number.
    static std::string base_name(int64_t day, int ch);
    // The hours' text form, one line per hour: start (epoch seconds), first band, pieces,
    // levels. Lines that do not read are left out.
    static std::string hours_text(const std::vector<PsdHour>& hours);
    static std::vector<PsdHour> read_hours(std::string_view text);

private:
    std::string hour_done(int ch, PsdHour hour, const std::string& stream);

    platform::FileSystem& fs_;
    platform::PictureCodec& codec_;
    std::string drums_folder_;
    std::array<HourlyPsd, config::kChannels> psd_;
    std::array<Channel, config::kChannels> channels_;
};

}  // namespace velkantor::display
