#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "platform/canvas.h"

namespace velkantor::display {

// The trigger's internals of one channel, as service mode 2 plots them on the zoom chart.
struct TriggerTrace {
    double sl_ratio = 0;
    double lta_value = 0;
    double sta_value = 0;
};

// The four sweeping channel charts `chp(0..3)` and the zoom chart `chzoom` of the main
// window. The pen of each channel moves left to right over a scale of 0..1000 and wraps,
// overwriting the old trace; nothing is buffered. Every canvas may be missing (a headless
// station): then nothing is drawn on it, but pens, labels and zoom state move on as usual.
class ScopeCharts {
public:
    static constexpr int kCharts = config::kChannels;
    static constexpr double kWidth = 1000;

    // The picture boxes' own colours: black paper and a dim grey zero line, so that the
    // light yellow trace and the coloured marks stand out.
    static constexpr platform::Color kBackground = platform::kChartColors[0];
    static constexpr platform::Color kZeroLine = platform::kChartColors[8];
    static constexpr platform::Color kTrace = platform::kChartColors[14];

    ScopeCharts();

    // The window's pictures; the user scale is applied to them at once.
    void set_canvases(std::array<platform::Canvas*, kCharts> charts, platform::Canvas* zoom);
    // (0, chart_top)-(1000, chart_bottom) on all five pictures.
    void apply_scale();
    // The chart edges and the clipping limits of an interface type.
    void set_limits(int16_t ad_type);
    // chart_gain from each channel's y_scale, after the settings are read.
    void load_gains(const config::Settings& settings);

    // Start of acquisition.
    void ResetCharts();
    // Per data frame, before conditioning; `rate` is the channel's configured rate.
    void AdvancePen(int ch, double rate, const config::GeneralSettings& general);
    // The main loop has produced a new conditioned sample of the channel.
    void sample_ready(int ch);
    // Per data frame, after the trigger: the zoom chart (when a channel is zoomed), then the
    // channel's own chart. `triggers` is read only in service mode 2.
    void DrawChartSample(int ch, const std::array<int32_t, kCharts>& sample_value,
                         const config::GeneralSettings& general,
                         const std::array<TriggerTrace, kCharts>& triggers);
    // Once per board time frame, with that frame's minute.
    void DrawTimeMarks(int board_minute, const config::Settings& settings);

    // The `y_scale` scroll bar moved to k while channel `selected_channel` (0..3) is shown.
    // Sets y_scale and chart_gain and the edge labels; returns the position the scroll bar
    // must end at, which is lower than k when the gain would leave less than one count
    // between the middle and an edge.
    int UpdateYScale(int selected_channel, int k, config::Settings& settings);

    // Mouse operations. A double click arrives after the click of its first press, as the
    // platform delivers it. Both return the channel number (1..4) for `ch_selected`.
    int click_chart(int i);
    int double_click_chart(int i);
    void click_zoom();

    static void set_chart_speed(config::GeneralSettings& general, int16_t position);
    static void set_y_scale_all(config::GeneralSettings& general, bool ticked);
    void set_average_three_channels(bool ticked);

    // Visible and enabled: the four channel charts and the zoom chart take turns.
    bool chart_shown(int i) const { return chart_shown_[index(i)]; }
    bool zoom_shown() const { return zoom_shown_; }

    const std::string& countmin(int ch) const { return countmin_[index(ch)]; }
    const std::string& countmax(int ch) const { return countmax_[index(ch)]; }
    const std::string& zoomcountmin() const { return zoomcountmin_; }
    const std::string& zoomcountmax() const { return zoomcountmax_; }

    int zoom_channel() const { return zoom_channel_; }
    double pen_x(int ch) const { return pen_x_[index(ch)]; }
    double last_x(int ch) const { return last_x_[index(ch)]; }
    double last_y(int ch) const { return last_y_[index(ch)]; }
    double zoom_last_x(int ch) const { return zoom_last_x_[index(ch)]; }
    double zoom_last_y(int ch) const { return zoom_last_y_[index(ch)]; }
    double chart_gain(int ch) const { return chart_gain_[index(ch)]; }
    int16_t sample_pending(int ch) const { return sample_pending_[index(ch)]; }
    int16_t average_three_channels() const { return average_three_channels_; }
    double chart_top() const { return chart_top_; }
    double chart_bottom() const { return chart_bottom_; }
    double clip_max() const { return clip_max_; }
    double clip_min() const { return clip_min_; }

private:
    static size_t index(int ch) { return static_cast<size_t>(ch); }
    static bool valid(int ch) { return ch >= 0 && ch < kCharts; }

    void erase_ahead(platform::Canvas* canvas, double p) const;
    void threshold_ticks(platform::Canvas* canvas, double p, double a, double b) const;
    void minute_line(platform::Canvas* canvas, double p) const;
    void service_traces(int z, double p, const TriggerTrace& trigger);

    std::array<platform::Canvas*, kCharts> charts_{};
    platform::Canvas* zoom_ = nullptr;
    std::array<bool, kCharts> chart_shown_{true, true, true, true};
    bool zoom_shown_ = false;

    double chart_top_ = 32780;
    double chart_bottom_ = -32780;
    double clip_max_ = 32766;
    double clip_min_ = -32766;

    std::array<double, kCharts> pen_x_{};
    std::array<double, kCharts> last_x_{};
    std::array<double, kCharts> last_y_{};
    std::array<double, kCharts> zoom_last_x_{};
    std::array<double, kCharts> zoom_last_y_{};
    std::array<double, kCharts> chart_gain_{};
    std::array<int16_t, kCharts> sample_pending_{};
    int zoom_channel_ = -1;
    int16_t average_three_channels_ = 0;
    int remembered_minute_ = -1;
    std::array<TriggerTrace, kCharts> previous_trigger_{};

    std::array<std::string, kCharts> countmin_;
    std::array<std::string, kCharts> countmax_;
    std::string zoomcountmin_ = "-32768";
    std::string zoomcountmax_ = "+32767";
};

}  // namespace velkantor::display
