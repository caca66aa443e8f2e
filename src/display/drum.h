#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/settings.h"
#include "display/board_time.h"
#include "display/display_view.h"
#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/operator.h"
#include "platform/picture_codec.h"

namespace velkantor::display {

// The picture of a drum, in pixels: wider than its window, and high enough that every row
// count (12, 8, 6, 5, 4, 3) gets whole pixels.
inline constexpr int kDrumWidth = 1600;
inline constexpr int kDrumHeight = 960;

// `drum_update_minutes`, indexed by the general setting `drum_update`.
inline constexpr std::array<int, 12> kDrumUpdateMinutes = {5,   10,  15,  20,  30,  60,
                                                           120, 180, 240, 360, 720, 1440};

// The day cut into rows of a few hours; user units are seconds across and +-100000 up.
struct DrumGeometry {
    int hours_per_row = 3;
    int rows = 8;
    double seconds_per_row = 10800;

    // Hours per row outside 2..8 are taken as 3.
    static DrumGeometry of(int hours_setting);
    double row_centre(int row) const;  // yc(r)
    int row_of(int hour) const { return hour / hours_per_row; }
    double x_of(int hour, int minute, int second) const {
        return (hour % hours_per_row) * 3600.0 + minute * 60.0 + second;
    }
};

// The drum's colours.
inline constexpr platform::Color kDrumBackground{255, 255, 255};
inline constexpr platform::Color kDrumTrace{0, 0, 255};
inline constexpr platform::Color kDrumTriggeredTrace{255, 0, 0};

// A new drum: white, the dotted hour and quarter-hour lines, the hour labels and the header
// (board date, axis name, station name). Sets the picture's user scale.
void DrawNewDrum(platform::Canvas& picture, const DrumGeometry& geometry,
                 const std::string& header);
// "YYYY/MM/DD N Station": the header of channel ch's drum.
std::string drum_header(const std::string& date, const config::Settings& settings, int ch);
// Drum units per count: `drum_scale`, a quarter of it for the 18- and 24-bit boards.
double drum_units_per_count(double drum_scale, int16_t ad_type);
// The height of a sample in row r.
double drum_y(const DrumGeometry& geometry, int row, int32_t sample, double drum_scale,
              int16_t ad_type);

// The trace of one drum. All samples of a board second share one x, so the segments of a
// second are one vertical stroke: it is drawn once, from the second's lowest to its highest
// point, when the second (or the colour) changes. The picture is the one that a segment per
// sample draws.
class DrumPen {
public:
    static constexpr double kNoPoint = 9999999;

    // The next sample at (x, y) of row `row_centre`; the jump rule starts a new row.
    void plot(platform::Canvas& picture, double x, double y, double row_centre,
              platform::Color color);
    // All samples of one second at once (the values in counts, `scale` units per count):
    // the same picture as plotting them one by one.
    void plot_second(platform::Canvas& picture, double x, const int32_t* values, size_t n,
                     double row_centre, double scale, platform::Color color);
    // Puts the pending stroke on the picture.
    void flush(platform::Canvas& picture);
    // Forgets the last point (a new or reloaded picture) and any pending stroke.
    void restart() { last_x_ = 0, last_y_ = kNoPoint, stroke_.active = false; }
    void set_segment_per_sample(bool on) { segment_per_sample_ = on; }

private:
    struct Stroke {
        bool active = false;
        double x = 0;
        double low = 0;
        double high = 0;
        platform::Color color;
    };
    double last_x_ = 0;
    double last_y_ = kNoPoint;
    Stroke stroke_;
    bool segment_per_sample_ = false;
};

// The image saved under "drums": what a station needs to draw into and to find the files.
struct DrumEnvironment {
    platform::FileSystem& fs;
    platform::PictureCodec& codec;
    platform::Operator& op;
    DisplayView& view;
    std::string drums_folder;
    // A failed save or read, for the event log; drawing goes on either way.
    std::function<void(const std::string&)> report;
};

// The day-long drums of the four channels, drawn sample by sample after the charts.
class DrumRecorder {
public:
    explicit DrumRecorder(DrumEnvironment env);
    ~DrumRecorder();

    // Every sample of channel ch. `triggered`: the channel's trigger is in its event state.
    void DrawDrumSample(int ch, int32_t sample, const config::Settings& settings,
                        const BoardTime& now, bool triggered);
    // STOP: every drum saved, its window closed.
    void CloseDrums(const config::Settings& settings);
    // The end of a board second: the strokes of the second are put on the pictures.
    void flush();
    // The board was restarted after an outage: the pens lift, so no line is drawn across the
    // time it was away.
    void restart_pens();

    // The drum window's double click (its question comes at the next sample).
    void request_clear(int ch) { state(ch).clear_request = -1; }

    platform::Canvas* picture(int ch) { return state(ch).picture.get(); }
    bool ready(int ch) const { return state(ch).ready == -1; }
    bool shown(int ch) const { return state(ch).shown == -1; }
    const std::string& drum_date(int ch) const { return state(ch).date; }

    // Reference drawing, one segment per sample, for the benchmark and the test that the
    // stroke per second draws the same picture.
    void set_segment_per_sample(bool on);

    // File names, for the tools and the tests.
    std::string base_name(int ch) const;  // <drums>/drum_N
    std::string dat_name(int ch) const;   // <drums>/drum_N.dat

private:
    struct Channel {
        int16_t ready = 0;
        int16_t shown = 0;
        int16_t clear_request = 0;
        std::string date;
        std::string last_save;
        std::unique_ptr<platform::Canvas> picture;
        DrumPen pen;
    };

    Channel& state(int ch) { return channels_[static_cast<size_t>(ch & 3)]; }
    const Channel& state(int ch) const { return channels_[static_cast<size_t>(ch & 3)]; }
    void set_up(int ch, const config::Settings& settings, const BoardTime& now);
    void save(int ch, const std::string& base, int16_t drum_format);
    void write_dat(int ch, const std::string& first, const std::string& second);
    void archive_earlier_day(int ch, const std::string& saved_date, int16_t drum_format);
    void unload(int ch);

    DrumEnvironment env_;
    std::array<Channel, 4> channels_;
};

// "YYMMDD" of a "YYYY/MM/DD" date, and of the day before it (empty when it is not a date).
std::string drum_yymmdd(const std::string& date);
std::string previous_day_yymmdd(const std::string& date);

}  // namespace velkantor::display
