#include "display/scope_charts.h"

#include <charconv>
#include <cmath>

#include "text/number_text.h"

namespace velkantor::display {

namespace {

using platform::Canvas;
using platform::kChartColors;
using platform::LineStyle;

constexpr platform::Color kBlue = kChartColors[1];
constexpr platform::Color kGreen = kChartColors[2];
constexpr platform::Color kRed = kChartColors[4];
constexpr platform::Color kMagenta = kChartColors[5];
constexpr platform::Color kLightGreen = kChartColors[10];

// The band erased ahead of the pen, relative to it.
constexpr double kEraseFrom = 10;
constexpr double kEraseTo = 60;
constexpr double kEraseWrapsAt = ScopeCharts::kWidth - kEraseTo;
// Length of a threshold tick.
constexpr double kTickLength = 2;
// The per-second tick rises this share of the chart's height from the lower edge.
constexpr double kSecondTickShare = 0.03;

// The "#" picture: the value rounded to a whole number, digits only when significant, so
// that a value that rounds to zero shows nothing.
std::string whole_number_text(double value) {
    double rounded = text::round_half_even(value);
    if (rounded == 0) return {};
    char buffer[400];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 0);
    if (result.ec != std::errc()) return {};
    return std::string(buffer, result.ptr);
}

double shown_number(const std::string& caption) {
    return text::leading_number(caption).value_or(0);
}

}  // namespace

ScopeCharts::ScopeCharts() {
    countmin_.fill("-32768");
    countmax_.fill("+32767");
    chart_gain_.fill(std::exp2(config::ChannelSettings{}.y_scale));
}

void ScopeCharts::set_canvases(std::array<Canvas*, kCharts> charts, Canvas* zoom) {
    charts_ = charts;
    zoom_ = zoom;
    apply_scale();
}

void ScopeCharts::apply_scale() {
    for (Canvas* canvas : charts_) {
        if (canvas) canvas->set_scale(0, chart_top_, kWidth, chart_bottom_);
    }
    if (zoom_) zoom_->set_scale(0, chart_top_, kWidth, chart_bottom_);
}

void ScopeCharts::set_limits(int16_t ad_type) {
    switch (ad_type) {
        case config::kZeda18:
            chart_top_ = 131075;
            clip_max_ = 131070;
            break;
        case config::kZeda20:
            chart_top_ = 8388610;
            clip_max_ = 8388606;
            break;
        default:
            chart_top_ = 32780;
            clip_max_ = 32766;
            break;
    }
    chart_bottom_ = -chart_top_;
    clip_min_ = -clip_max_;
}

void ScopeCharts::load_gains(const config::Settings& settings) {
    for (size_t c = 0; c < kCharts; ++c) chart_gain_[c] = std::exp2(settings.channels[c].y_scale);
}

void ScopeCharts::ResetCharts() {
    zoom_channel_ = -1;
    zoom_shown_ = false;
    apply_scale();
    for (size_t c = 0; c < kCharts; ++c) {
        chart_shown_[c] = true;
        if (charts_[c]) charts_[c]->clear(kBackground);
        pen_x_[c] = 0;
        last_x_[c] = 0;
        zoom_last_x_[c] = 0;
    }
    remembered_minute_ = -1;
    previous_trigger_.fill({});
}

void ScopeCharts::AdvancePen(int ch, double rate, const config::GeneralSettings& general) {
    if (general.no_charting != 0 || !valid(ch)) return;
    // Above 3 samples per second the step shrinks with the rate, so that one sweep takes
    // the same time whatever the rate.
    double step = rate < 3 ? general.chart_speed : general.chart_speed * 100.0 / (50.0 * rate);
    pen_x_[index(ch)] += step;
    if (pen_x_[index(ch)] > kWidth) {
        // All four charts wrap together, as soon as the first pen passes the edge. The last
        // values stay, so the first segment after the wrap joins the old value to the new.
        pen_x_.fill(0);
        last_x_.fill(0);
        if (zoom_channel_ != -1) zoom_last_x_[index(zoom_channel_)] = -1;
    }
}

void ScopeCharts::sample_ready(int ch) {
    if (valid(ch)) sample_pending_[index(ch)] = 1;
}

void ScopeCharts::erase_ahead(Canvas* canvas, double p) const {
    if (!canvas) return;
    if (p < kEraseWrapsAt) {
        canvas->box(p + kEraseFrom, chart_bottom_, p + kEraseTo, chart_top_, kBackground);
        canvas->line(p + kEraseFrom, 0, p + kEraseTo, 0, kZeroLine);
    } else {
        // The band runs past the right edge: its rest is erased at the left edge, where the
        // pens will restart. The zero line there is not redrawn.
        canvas->box(p + kEraseFrom, chart_bottom_, kWidth, chart_top_, kBackground);
        canvas->box(0, chart_bottom_, p - kEraseWrapsAt, chart_top_, kBackground);
        canvas->line(p + kEraseFrom, 0, kWidth, 0, kZeroLine);
    }
}

void ScopeCharts::service_traces(int z, double p, const TriggerTrace& trigger) {
    TriggerTrace& previous = previous_trigger_[index(z)];
    double gain = chart_gain_[index(z)];
    if (zoom_) {
        // Each trace keeps to its own band: the ratio above the middle (ratio 2 at 5000),
        // the two averages below it.
        zoom_->line(p, (previous.sl_ratio * 500 + 4000) * gain, p,
                    (trigger.sl_ratio * 500 + 4000) * gain, kBlue);
        zoom_->point(p, 5000 * gain, kBlue);
        zoom_->line(p, (previous.lta_value - 4000) * gain, p, (trigger.lta_value - 4000) * gain,
                    kMagenta);
        zoom_->line(p, (previous.sta_value - 7000) * gain, p, (trigger.sta_value - 7000) * gain,
                    kGreen);
    }
    previous = trigger;
}

void ScopeCharts::DrawChartSample(int ch, const std::array<int32_t, kCharts>& sample_value,
                                  const config::GeneralSettings& general,
                                  const std::array<TriggerTrace, kCharts>& triggers) {
    if (general.no_charting != 0 || !valid(ch)) return;

    if (zoom_channel_ != -1) {
        size_t z = index(zoom_channel_);
        double p = pen_x_[z];
        erase_ahead(zoom_, p);
        if (sample_pending_[z] == 1) {
            double v = average_three_channels_ != 0
                           ? static_cast<double>(int64_t{sample_value[0]} + sample_value[1] +
                                                 sample_value[2]) /
                                 3 * chart_gain_[z]
                           : sample_value[z] * chart_gain_[z];
            if (zoom_) zoom_->line(zoom_last_x_[z], zoom_last_y_[z], p, v, kTrace);
            zoom_last_x_[z] = p;
            zoom_last_y_[z] = v;
            sample_pending_[z] = 2;
        }
        if (general.service_mode == 2) service_traces(zoom_channel_, p, triggers[z]);
    }

    size_t c = index(ch);
    double p = pen_x_[c];
    erase_ahead(charts_[c], p);
    if (sample_pending_[c] != 0) {
        double v = sample_value[c] * chart_gain_[c];
        if (charts_[c]) charts_[c]->line(last_x_[c], last_y_[c], p, v, kTrace);
        last_x_[c] = p;
        last_y_[c] = v;
        sample_pending_[c] = 0;
    }
}

void ScopeCharts::threshold_ticks(Canvas* canvas, double p, double a, double b) const {
    if (!canvas) return;
    for (double y : {a, -a}) canvas->line(p, y, p + kTickLength, y, kLightGreen);
    for (double y : {b, -b}) canvas->line(p, y, p + kTickLength, y, kRed);
}

void ScopeCharts::minute_line(Canvas* canvas, double p) const {
    if (canvas) canvas->line(p, chart_bottom_, p, chart_top_, kBlue, LineStyle::dotted);
}

void ScopeCharts::DrawTimeMarks(int board_minute, const config::Settings& settings) {
    if (settings.general.no_charting != 0) return;
    // The first frame of a run only sets the minute: a line there would mark no change.
    bool new_minute = remembered_minute_ != -1 && board_minute != remembered_minute_;
    double second_tick_top = chart_bottom_ + kSecondTickShare * (chart_top_ - chart_bottom_);
    for (int ch = 0; ch < kCharts; ++ch) {
        size_t c = index(ch);
        const config::ChannelSettings& channel = settings.channels[c];
        if (channel.sps_index <= 0) continue;
        double p = pen_x_[c];
        double a = channel.start_amplitude * chart_gain_[c];
        double b = channel.stop_amplitude * chart_gain_[c];
        bool zoomed = ch == zoom_channel_;

        threshold_ticks(charts_[c], p, a, b);
        if (zoomed) threshold_ticks(zoom_, p, a, b);

        // One short dotted tick per board second at the lower edge, so the seconds can be
        // counted along the trace.
        if (charts_[c]) {
            charts_[c]->line(p, chart_bottom_, p, second_tick_top, kBlue, LineStyle::dotted);
        }

        if (new_minute) {
            minute_line(charts_[c], p);
            if (zoomed) minute_line(zoom_, p);
        }
    }
    // Remembered only after every chart has had its line.
    remembered_minute_ = board_minute;
}

int ScopeCharts::UpdateYScale(int selected_channel, int k, config::Settings& settings) {
    if (!valid(selected_channel)) return k;
    size_t selected = index(selected_channel);
    double half_height = std::abs((chart_bottom_ - chart_top_) / 2);
    for (;;) {
        double gain = std::exp2(k);
        for (size_t c = 0; c < kCharts; ++c) {
            if (settings.general.y_scale_all == 0 && c != selected) continue;
            settings.channels[c].y_scale = k;
            chart_gain_[c] = gain;
            countmax_[c] = whole_number_text(half_height / gain);
            countmin_[c] = whole_number_text(-half_height / gain);
        }
        if (zoom_channel_ != -1) {
            zoomcountmin_ = countmin_[index(zoom_channel_)];
            zoomcountmax_ = countmax_[index(zoom_channel_)];
        }
        // Judged on the channel whose scale just changed: another channel's labels say
        // nothing about this gain.
        bool below_one_count = shown_number(countmax_[selected]) < 1 ||
                               std::abs(shown_number(countmin_[selected])) < 1;
        if (!below_one_count || k < 2) return k;
        k -= 1;
    }
}

int ScopeCharts::click_chart(int i) {
    if (!valid(i)) return 0;
    if (zoom_) zoom_->clear(kBackground);
    zoomcountmin_ = countmin_[index(i)];
    zoomcountmax_ = countmax_[index(i)];
    return i + 1;
}

int ScopeCharts::double_click_chart(int i) {
    if (!valid(i)) return 0;
    zoom_channel_ = i;
    chart_shown_.fill(false);
    zoom_shown_ = true;
    return i + 1;
}

void ScopeCharts::click_zoom() {
    zoom_channel_ = -1;
    chart_shown_.fill(true);
    zoom_shown_ = false;
}

void ScopeCharts::set_chart_speed(config::GeneralSettings& general, int16_t position) {
    general.chart_speed = position;
}

void ScopeCharts::set_y_scale_all(config::GeneralSettings& general, bool ticked) {
    general.y_scale_all = ticked ? 1 : 0;
}

void ScopeCharts::set_average_three_channels(bool ticked) {
    average_three_channels_ = ticked ? -1 : 0;
}

}  // namespace velkantor::display
