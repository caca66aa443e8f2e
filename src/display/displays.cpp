#include "display/displays.h"

namespace velkantor::display {

Displays::Displays(Source source, platform::PictureCodec& codec, DisplayView& view)
    : source_(std::move(source)),
      view_(view),
      drums_({source_.fs, codec, source_.op, view, platform::join_path(source_.folder, "drums"),
              [this](const std::string& text) { report(text); }}),
      spectra_(
          {source_.fs, codec, source_.op, view, platform::join_path(source_.folder, "drums")}) {
    charts_.set_limits(source_.settings.general.ad_type);
    charts_.load_gains(source_.settings);
    if (source_.connect) connected_ = source_.connect(*this, *this);
}

Displays::~Displays() = default;

BoardTime Displays::board_time() const {
    const auto& clock = source_.clock;
    BoardTime now;
    now.known = source_.run.board_epoch_second != 0;
    now.hour = clock.board_hours;
    now.minute = clock.board_minutes;
    now.second = clock.board_seconds;
    now.date = clock.board_date_text;
    return now;
}

void Displays::run_started() {
    charts_.set_limits(source_.settings.general.ad_type);
    charts_.load_gains(source_.settings);
    charts_.ResetCharts();
    spectra_.run_started();
}

void Displays::chart_pacing(int ch) {
    charts_.AdvancePen(ch, source_.run.configured_rate[static_cast<size_t>(ch & 3)],
                       source_.settings.general);
}

void Displays::spectrum(int ch, int32_t value) {
    charts_.sample_ready(ch);
    auto& settings = source_.settings;
    if (settings.channels[static_cast<size_t>(ch & 3)].fft_enabled == 0) return;
    std::string failed = spectra_.FeedSpectrum(
        ch, value, settings, source_.run.configured_rate[static_cast<size_t>(ch & 3)],
        board_time());
    if (!failed.empty()) report(failed);
}

void Displays::chart_draw(int ch, int32_t /*value*/) {
    std::array<TriggerTrace, ScopeCharts::kCharts> triggers{};
    if (source_.settings.general.service_mode == 2) {
        for (int k = 0; k < ScopeCharts::kCharts; ++k) {
            const auto& d = source_.detector.channel(k);
            triggers[static_cast<size_t>(k)] = {d.sl_ratio, d.lta_value, d.sta_value};
        }
    }
    charts_.DrawChartSample(ch, source_.run.sample_value, source_.settings.general, triggers);
}

void Displays::drum(int ch, int32_t value) {
    bool triggered = source_.detector.channel(ch).event_state != 0;
    drums_.DrawDrumSample(ch, value, source_.settings, board_time(), triggered);
}

void Displays::board_time_frame(std::string_view /*frame*/) {
    drums_.flush();
}

void Displays::run_ended(int ch) {
    // The exit sequence calls every channel in turn; the drums close together.
    if (ch == config::kChannels - 1) {
        drums_.CloseDrums(source_.settings);
        view_.run_ended();
    }
}

void Displays::board_restarted() {
    drums_.restart_pens();
    spectra_.run_started();
}

void Displays::draw_time_marks() {
    charts_.DrawTimeMarks(source_.clock.board_minutes, source_.settings);
}

void Displays::report(const std::string& text) {
    // A failing save repeats every period: the event log says it when it changes.
    if (text == last_report_) return;
    last_report_ = text;
    source_.log(text);
}

}  // namespace velkantor::display
