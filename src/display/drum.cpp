#include "display/drum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "display/image_export.h"
#include "text/date_time.h"

namespace velkantor::display {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr platform::Color kHourLine{0, 0, 0};
constexpr platform::Color kQuarterLine{0, 0, 128};
constexpr platform::Color kLabel{0, 0, 0};

std::string two_digits(int v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", v % 100);
    return text;
}

std::optional<text::DateTime> parse_date(const std::string& date) {
    return text::parse_datetime(date + " 00:00:00");
}

// "DDHHMM" of the board time: a drum is saved at most once in a minute. Asked for every
// sample of a saving minute, so built without formatting.
std::string ddhhmm(const BoardTime& now) {
    std::string key = now.date.size() >= 10 ? now.date.substr(8, 2) : "00";
    for (int v : {now.hour, now.minute}) {
        key += static_cast<char>('0' + v / 10 % 10);
        key += static_cast<char>('0' + v % 10);
    }
    return key;
}

std::vector<std::string> dat_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size() && lines.size() < 2) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    lines.resize(2);
    return lines;
}

// The hours line of the .dat file (" 3"), as a number; 0 when it is not one.
int saved_hours(const std::string& line) {
    int value = 0;
    bool digits = false;
    for (char c : line) {
        if (c == ' ' && !digits) continue;
        if (c < '0' || c > '9' || value > 1000) return 0;
        value = value * 10 + (c - '0');
        digits = true;
    }
    return digits ? value : 0;
}

}  // namespace

DrumGeometry DrumGeometry::of(int hours_setting) {
    DrumGeometry g;
    g.hours_per_row = hours_setting >= 2 && hours_setting <= 8 ? hours_setting : 3;
    // 24 / H rounded half to even: 12, 8, 6, 5, 4, 3, 3 for H = 2..8.
    g.rows = static_cast<int>(std::nearbyint(24.0 / g.hours_per_row));
    g.seconds_per_row = g.hours_per_row * 3600.0;
    return g;
}

double DrumGeometry::row_centre(int row) const {
    double height = 200000.0 / rows;
    return 100000 - height / 2 - height * row;
}

double drum_units_per_count(double drum_scale, int16_t ad_type) {
    return (ad_type == config::kZeda18 || ad_type == config::kZeda20) ? drum_scale / 4 : drum_scale;
}

double drum_y(const DrumGeometry& geometry, int row, int32_t sample, double drum_scale,
              int16_t ad_type) {
    return geometry.row_centre(row) + sample * drum_units_per_count(drum_scale, ad_type);
}

std::string drum_header(const std::string& date, const config::Settings& settings, int ch) {
    auto axis = static_cast<size_t>(settings.channels[static_cast<size_t>(ch & 3)].sensor_axis);
    std::string_view name = axis < config::kAxisNames.size() ? config::kAxisNames[axis] : " ";
    return date + " " + std::string(name) + " " + settings.general.location;
}

void DrawNewDrum(platform::Canvas& picture, const DrumGeometry& geometry,
                 const std::string& header) {
    picture.set_scale(0, 100000, geometry.seconds_per_row, -100000);
    picture.clear(kDrumBackground);
    for (int j = 0; j < geometry.hours_per_row; ++j) {
        double x = j * 3600.0;
        picture.line(x, 100000, x, -100000, kHourLine, platform::LineStyle::dotted);
        for (double quarter : {0.25, 0.5, 0.75}) {
            double q = (j + quarter) * 3600.0;
            picture.line(q, 100000, q, -100000, kQuarterLine, platform::LineStyle::dotted);
        }
    }
    // Each hour's label at the top-left corner of its column in its row; hour 0 has none.
    double column = static_cast<double>(picture.width()) / geometry.hours_per_row;
    double row = static_cast<double>(picture.height()) / geometry.rows;
    for (int j = 1; j <= 23; ++j) {
        int px = static_cast<int>(column * (j % geometry.hours_per_row)) + 3;
        int py = static_cast<int>(row * (j / geometry.hours_per_row));
        picture.text(px, py, two_digits(j), kLabel);
    }
    picture.text(4, 0, header, kLabel);
}

void DrumPen::plot(platform::Canvas& picture, double x, double y, double row_centre,
                   platform::Color color) {
    if (last_y_ == kNoPoint) last_x_ = x, last_y_ = row_centre;
    // Time has gone back by more than an hour: a new row has begun at its left edge.
    if (x + 3600 < last_x_) {
        flush(picture);
        last_x_ = 0, last_y_ = row_centre;
    }
    if (segment_per_sample_) {
        picture.line(last_x_, last_y_, x, y, color);
    } else if (stroke_.active && stroke_.x == x && stroke_.color == color) {
        stroke_.low = std::min(stroke_.low, y);
        stroke_.high = std::max(stroke_.high, y);
    } else {
        flush(picture);
        // The segment into a new second is drawn at once; the second's later samples only
        // widen its vertical stroke.
        picture.line(last_x_, last_y_, x, y, color);
        stroke_ = {true, x, y, y, color};
    }
    last_x_ = x, last_y_ = y;
}

void DrumPen::plot_second(platform::Canvas& picture, double x, const int32_t* values, size_t n,
                          double row_centre, double scale, platform::Color color) {
    if (n == 0) return;
    plot(picture, x, row_centre + values[0] * scale, row_centre, color);
    if (segment_per_sample_) {
        for (size_t i = 1; i < n; ++i)
            plot(picture, x, row_centre + values[i] * scale, row_centre, color);
        return;
    }
    // The rest of the second only widens its stroke.
    int32_t low = values[0], high = values[0];
    for (size_t i = 1; i < n; ++i) {
        low = std::min(low, values[i]);
        high = std::max(high, values[i]);
    }
    double a = row_centre + low * scale, b = row_centre + high * scale;
    stroke_.low = std::min({stroke_.low, a, b});
    stroke_.high = std::max({stroke_.high, a, b});
    last_y_ = row_centre + values[n - 1] * scale;
}

void DrumPen::flush(platform::Canvas& picture) {
    if (!stroke_.active) return;
    if (stroke_.high > stroke_.low) {
        picture.line(stroke_.x, stroke_.low, stroke_.x, stroke_.high, stroke_.color);
    }
    stroke_.active = false;
}

std::string drum_yymmdd(const std::string& date) {
    auto day = parse_date(date);
    if (!day) return {};
    return two_digits(day->year % 100) + two_digits(day->month) + two_digits(day->day);
}

std::string previous_day_yymmdd(const std::string& date) {
    auto day = parse_date(date);
    if (!day) return {};
    auto before = text::civil_from_days(text::days_from_civil(day->year, day->month, day->day) - 1);
    return two_digits(before.year % 100) + two_digits(before.month) + two_digits(before.day);
}

DrumRecorder::DrumRecorder(DrumEnvironment env) : env_(std::move(env)) {}
DrumRecorder::~DrumRecorder() = default;

std::string DrumRecorder::base_name(int ch) const {
    return platform::join_path(env_.drums_folder, "drum_" + std::to_string((ch & 3) + 1));
}

std::string DrumRecorder::dat_name(int ch) const {
    return base_name(ch) + ".dat";
}

void DrumRecorder::set_segment_per_sample(bool on) {
    for (auto& channel : channels_) channel.pen.set_segment_per_sample(on);
}

void DrumRecorder::restart_pens() {
    for (auto& channel : channels_) channel.pen.restart();
}

void DrumRecorder::DrawDrumSample(int ch, int32_t sample, const config::Settings& settings,
                                  const BoardTime& now, bool triggered) {
    Channel& channel = state(ch);
    const auto& channel_settings = settings.channels[static_cast<size_t>(ch & 3)];
    if (channel_settings.drum_enabled <= 0) {
        if (channel.ready == -1) {
            // Switched off: what was drawn since the last save is kept.
            save(ch, base_name(ch), settings.general.drum_format);
            unload(ch);
        }
        return;
    }
    if (!now.known) return;
    const auto& general = settings.general;

    if (channel.ready == -1) {
        bool hidden = channel_settings.drum_hidden != 0;
        if (hidden && channel.shown == -1) {
            env_.view.drum_visible(ch, false);
            channel.shown = 0;
        } else if (!hidden && channel.shown == 0) {
            env_.view.drum_visible(ch, true);
            channel.shown = -1;
        }

        if (channel.clear_request == -1) {
            if (env_.op.ask_yes_no("VELKANTOR", "Clear Drum image ?", false)) {
                // A new drum is set up below; blank lines keep the saved image from being
                // reloaded for it.
                channel.ready = 0;
                write_dat(ch, " ", " ");
            }
            channel.clear_request = 0;
        }
    }

    // A day that began while nothing was drawn (the board away over midnight): the day that
    // ended is archived as at midnight, and the new day gets its own drum.
    if (channel.ready == -1 && !channel.date.empty() && channel.date != now.date &&
        now.minute_of_day() != 0) {
        std::string day = drum_yymmdd(channel.date);
        if (!day.empty()) {
            save(ch,
                 platform::join_path(env_.drums_folder,
                                     "drum_" + day + "_" + std::to_string((ch & 3) + 1)),
                 general.drum_format);
            unload(ch);
        }
    }

    if (channel.ready == -1) {
        int period = general.drum_update >= 0 && general.drum_update < 12
                         ? kDrumUpdateMinutes[static_cast<size_t>(general.drum_update)]
                         : kDrumUpdateMinutes[3];
        int minute = now.minute_of_day();
        std::string key = minute % period == 0 ? ddhhmm(now) : std::string();
        if (!key.empty() && key != channel.last_save) {
            channel.last_save = key;
            // At midnight the finished day is archived; a drum that already belongs to the
            // new day (set up within the midnight minute) is only saved.
            if (minute == 0 && channel.date != now.date) {
                std::string day = drum_yymmdd(channel.date);
                if (day.empty()) day = previous_day_yymmdd(now.date);
                save(ch,
                     platform::join_path(env_.drums_folder,
                                         "drum_" + day + "_" + std::to_string((ch & 3) + 1)),
                     general.drum_format);
                unload(ch);
            } else {
                save(ch, base_name(ch), general.drum_format);
            }
        }
    }

    if (channel.ready == 0) {
        set_up(ch, settings, now);
        return;
    }

    DrumGeometry geometry = DrumGeometry::of(general.drum_hours_per_row);
    int row = geometry.row_of(now.hour);
    double x = geometry.x_of(now.hour, now.minute, now.second);
    double y = drum_y(geometry, row, sample, channel_settings.drum_scale, general.ad_type);
    channel.pen.plot(*channel.picture, x, y, geometry.row_centre(row),
                     triggered ? kDrumTriggeredTrace : kDrumTrace);
}

void DrumRecorder::set_up(int ch, const config::Settings& settings, const BoardTime& now) {
    Channel& channel = state(ch);
    const auto& general = settings.general;
    DrumGeometry geometry = DrumGeometry::of(general.drum_hours_per_row);

    std::string image = FindDrumImage(env_.fs, base_name(ch), general.drum_format);
    std::vector<std::string> saved(2);
    if (!image.empty() && env_.fs.exists(dat_name(ch))) {
        saved = dat_lines(env_.fs.read_file(dat_name(ch), 4096).value_or(""));
    }

    channel.picture = env_.codec.make_canvas(kDrumWidth, kDrumHeight);
    channel.pen.restart();
    env_.view.drum_loaded(ch, *channel.picture);
    channel.ready = -1;
    channel.shown = settings.channels[static_cast<size_t>(ch & 3)].drum_hidden != 0 ? 0 : -1;
    env_.view.drum_visible(ch, channel.shown == -1);
    channel.picture->set_scale(0, 100000, geometry.seconds_per_row, -100000);

    if (saved_hours(saved[1]) == geometry.hours_per_row && saved[0] == now.date) {
        auto bytes = env_.fs.read_file(image);
        if (bytes && env_.codec.decode(*bytes, *channel.picture)) {
            channel.date = now.date;
            return;
        }
        if (env_.report) env_.report("Drum image " + image + " unreadable: a new drum is started");
    }
    // A drum of an earlier day that was never archived (the station was not running at its
    // midnight) is archived now, before the new day's drum takes its name.
    if (!image.empty() && saved[0] != now.date)
        archive_earlier_day(ch, saved[0], general.drum_format);

    DrawNewDrum(*channel.picture, geometry, drum_header(now.date, settings, ch));
    channel.date = now.date;
    save(ch, base_name(ch), general.drum_format);
    write_dat(ch, now.date, " " + std::to_string(geometry.hours_per_row));
}

void DrumRecorder::archive_earlier_day(int ch, const std::string& saved_date, int16_t drum_format) {
    std::string day = drum_yymmdd(saved_date);
    if (day.empty()) return;
    std::string archive =
        platform::join_path(env_.drums_folder, "drum_" + day + "_" + std::to_string((ch & 3) + 1));
    if (!FindDrumImage(env_.fs, archive, drum_format).empty()) return;
    std::string image = FindDrumImage(env_.fs, base_name(ch), drum_format);
    auto bytes = env_.fs.read_file(image);
    if (!bytes) return;
    auto written = env_.fs.replace_file(archive + drum_image_type(drum_format).extension, *bytes);
    if (!written && env_.report) env_.report("Drum archive " + archive + ": " + written.error);
}

void DrumRecorder::CloseDrums(const config::Settings& settings) {
    for (int ch = 0; ch < 4; ++ch) {
        const auto& channel_settings = settings.channels[static_cast<size_t>(ch)];
        Channel& channel = state(ch);
        // A drum that was never set up has no picture: saving it would blank today's image.
        if (channel_settings.drum_enabled <= 0 || channel_settings.sps_index <= 0 ||
            channel.ready != -1) {
            continue;
        }
        save(ch, base_name(ch), settings.general.drum_format);
        write_dat(ch, channel.date,
                  " " + std::to_string(
                            DrumGeometry::of(settings.general.drum_hours_per_row).hours_per_row));
        unload(ch);
    }
}

void DrumRecorder::flush() {
    for (auto& channel : channels_) {
        if (channel.picture) channel.pen.flush(*channel.picture);
    }
}

void DrumRecorder::save(int ch, const std::string& base, int16_t drum_format) {
    Channel& channel = state(ch);
    if (!channel.picture) return;
    channel.pen.flush(*channel.picture);
    std::string failed = ExportDrumImage(env_.fs, env_.codec, *channel.picture, base, drum_format);
    if (!failed.empty() && env_.report) env_.report("Drum image not saved: " + failed);
}

void DrumRecorder::write_dat(int ch, const std::string& first, const std::string& second) {
    auto written = env_.fs.replace_file(dat_name(ch), first + kCrLf + second + kCrLf);
    if (!written && env_.report) env_.report("Drum state not saved: " + written.error);
}

void DrumRecorder::unload(int ch) {
    Channel& channel = state(ch);
    env_.view.drum_unloaded(ch);
    channel.picture.reset();
    channel.pen.restart();
    channel.ready = 0;
    channel.shown = 0;
}

}  // namespace velkantor::display
