#include "datalog/review_rules.h"

#include <cmath>

#include "text/number_text.h"

namespace velkantor::datalog {

std::string ReviewDatalogFolder(const platform::FileSystem& fs, const std::string& datalog_folder) {
    std::string nested = platform::join_path(datalog_folder, "datalog");
    return fs.is_directory(nested) ? nested : datalog_folder;
}

text::DateTime NextPageStart(const ReviewPage& page) {
    text::DateTime start = text::from_epoch_seconds(page.end_epoch);
    start.millisecond = 0;
    return start;
}

text::DateTime PreviousPageStart(const ReviewPage& page) {
    // The page's shown texts are whole seconds; its length is taken between them.
    double begin = std::floor(page.begin_epoch);
    double length = std::floor(page.end_epoch) - begin;
    text::DateTime start = text::from_epoch_seconds(begin - length);
    start.millisecond = 0;
    return start;
}

std::string ReviewDrumBase(const std::string& drums_folder, const text::DateTime& day,
                           const text::DateTime& today, int ch) {
    const std::string number = std::to_string((ch & 3) + 1);
    if (day.year == today.year && day.month == today.month && day.day == today.day) {
        return platform::join_path(drums_folder, "drum_" + number);
    }
    const std::string yymmdd = text::zero_padded(((day.year % 100) + 100) % 100, 2) +
                               text::zero_padded(day.month, 2) + text::zero_padded(day.day, 2);
    return platform::join_path(drums_folder, "drum_" + yymmdd + "_" + number);
}

config::Settings ExtractSettings(const config::Settings& live, const config::Settings& chosen) {
    config::Settings settings = live;
    settings.general.location = chosen.general.location;
    settings.general.coordinates = chosen.general.coordinates;
    settings.general.elevation = chosen.general.elevation;
    for (size_t ch = 0; ch < settings.channels.size(); ++ch) {
        auto& to = settings.channels[ch];
        const auto& from = chosen.channels[ch];
        to.sensor_axis = from.sensor_axis;
        to.sensor_type = from.sensor_type;
        to.measure_unit = from.measure_unit;
        to.sensor_sensitivity = from.sensor_sensitivity;
        to.amplifier_gain = from.amplifier_gain;
        to.ad_bits = from.ad_bits;
        to.ad_range = from.ad_range;
        to.resolution = from.resolution;
        to.magnitude_correction = from.magnitude_correction;
        to.mag_corr = from.mag_corr;
    }
    return settings;
}

}  // namespace velkantor::datalog
