#include "display/noise_monitor.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "display/noise_picture.h"
#include "text/date_time.h"

namespace velkantor::display {

namespace {

constexpr int64_t kDayUs = 86'400'000'000;

int64_t day_of(int64_t us) {
    int64_t q = us / kDayUs;
    return (us % kDayUs != 0 && us < 0) ? q - 1 : q;
}

std::string day_text(int64_t day, char separator) {
    text::DateTime d = text::civil_from_days(day);
    char out[16];
    if (separator) {
        std::snprintf(out, sizeof out, "%04d%c%02d%c%02d", d.year, separator, d.month, separator,
                      d.day);
    } else {
        std::snprintf(out, sizeof out, "%04d%02d%02d", d.year, d.month, d.day);
    }
    return out;
}

template <typename T>
bool read_number(std::string_view& line, T& value) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end == line.data()) return false;
    line.remove_prefix(static_cast<size_t>(end - line.data()));
    return true;
}

}  // namespace

NoiseMonitor::NoiseMonitor(platform::FileSystem& fs, platform::PictureCodec& codec,
                           std::string drums_folder)
    : fs_(fs), codec_(codec), drums_folder_(std::move(drums_folder)) {}

std::string NoiseMonitor::base_name(int64_t day, int ch) {
    return "PSD_" + day_text(day, 0) + "_" + std::to_string((ch & 3) + 1);
}

std::string NoiseMonitor::hours_text(const std::vector<PsdHour>& hours) {
    std::string out;
    char number[32];
    for (const auto& hour : hours) {
        out += std::to_string(hour.start_us / 1'000'000) + " " +
               std::to_string(hour.curve.first_band) + " " + std::to_string(hour.curve.pieces);
        for (double level : hour.curve.level_db) {
            // Not printf: a desktop's locale would write a decimal comma.
            auto end =
                std::to_chars(number, number + sizeof number, level, std::chars_format::fixed, 2)
                    .ptr;
            out += ' ';
            out.append(number, end);
        }
        out += "\n";
    }
    return out;
}

std::vector<PsdHour> NoiseMonitor::read_hours(std::string_view text) {
    std::vector<PsdHour> hours;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        PsdHour hour;
        int64_t start = 0;
        if (!read_number(line, start) || !read_number(line, hour.curve.first_band) ||
            !read_number(line, hour.curve.pieces) || start < 0 || start > (int64_t{1} << 40) ||
            std::abs(hour.curve.first_band) > 1000) {
            continue;
        }
        hour.start_us = start * 1'000'000;
        double level = 0;
        while (hour.curve.level_db.size() < 1000 && read_number(line, level)) {
            if (std::isfinite(level)) hour.curve.level_db.push_back(level);
        }
        if (!hour.curve.level_db.empty()) hours.push_back(std::move(hour));
    }
    return hours;
}

std::string NoiseMonitor::add(int ch, int64_t first_us, double rate,
                              std::span<const int32_t> values,
                              const config::ChannelSettings& settings, const std::string& stream) {
    auto c = static_cast<size_t>(ch & 3);
    GroundResponse response = ChannelGroundResponse(settings);
    channels_[c].calibrated = response.calibrated();
    channels_[c].uncalibrated_reason = response.uncalibrated_reason;
    auto hour = psd_[c].add(first_us, rate, values, response);
    if (!hour) return {};
    return hour_done(ch & 3, std::move(*hour), stream);
}

std::string NoiseMonitor::hour_done(int ch, PsdHour hour, const std::string& stream) {
    Channel& channel = channels_[static_cast<size_t>(ch)];
    const int64_t day = day_of(hour.start_us);
    const std::string base = platform::join_path(drums_folder_, base_name(day, ch));
    if (day != channel.day) {
        channel.day = day;
        channel.hours.clear();
        // The hours this day already had, from before a restart.
        if (auto kept = fs_.read_file(base + ".txt", 1u << 20)) {
            for (auto& earlier : read_hours(*kept)) {
                if (day_of(earlier.start_us) == day && earlier.start_us < hour.start_us) {
                    channel.hours.push_back(std::move(earlier));
                }
            }
        }
    }
    channel.hours.push_back(hour);
    channel.last_hour = std::move(hour);

    if (auto made = fs_.create_directories(drums_folder_); !made) {
        return "cannot make " + drums_folder_ + ": " + made.error;
    }
    if (auto kept = fs_.replace_file(base + ".txt", hours_text(channel.hours)); !kept) {
        return "cannot write " + base + ".txt: " + kept.error;
    }
    auto canvas = codec_.make_canvas(kNoisePictureWidth, kNoisePictureHeight);
    if (!canvas) return "cannot draw " + base + ".GIF";
    std::string title = "Channel " + std::to_string(ch + 1) + (stream.empty() ? "" : " " + stream) +
                        "   " + day_text(day, '-') + " (UTC)   noise";
    DrawNoisePicture(*canvas, channel.hours, channel.calibrated, title);
    std::string bytes = codec_.encode(*canvas, platform::ImageFormat::gif, 100);
    if (bytes.empty()) return "cannot encode " + base + ".GIF";
    if (auto written = fs_.replace_file(base + ".GIF", bytes); !written) {
        return "cannot write " + base + ".GIF: " + written.error;
    }
    channel.picture = base_name(day, ch) + ".GIF";
    return {};
}

}  // namespace velkantor::display
