#include "display/displays.h"

#include "acquisition/station.h"

namespace velkantor::display {

namespace {

std::string drums_folder(const acquisition::Station& station) {
    return platform::join_path(station.folder(), "drums");
}

}  // namespace

Displays::Displays(acquisition::Station& station, platform::PictureCodec& codec,
                   DisplayView& view)
    : station_(station),
      view_(view),
      drums_({station.fs(), codec, station.op(), view, drums_folder(station),
              [this](const std::string& text) { report(text); }}),
      spectra_({station.fs(), codec, station.op(), view, drums_folder(station)}) {
    charts_.set_limits(station.settings().general.ad_type);
    charts_.load_gains(station.settings());
    station.set_consumers(this);
    station.set_second_listener(this);
}

Displays::~Displays() {
    station_.set_consumers(nullptr);
    station_.set_second_listener(nullptr);
}

BoardTime Displays::board_time() const {
    const auto& clock = station_.board_clock().state();
    BoardTime now;
    now.known = station_.run().board_epoch_second != 0;
    now.hour = clock.board_hours;
    now.minute = clock.board_minutes;
    now.second = clock.board_seconds;
    now.date = clock.board_date_text;
    return now;
}

void Displays::run_started() {
    charts_.set_limits(station_.settings().general.ad_type);
    charts_.load_gains(station_.settings());
    charts_.ResetCharts();
    spectra_.run_started();
}

void Displays::chart_pacing(int ch) {
    charts_.AdvancePen(ch, station_.run().configured_rate[static_cast<size_t>(ch & 3)],
                       station_.settings().general);
}

void Displays::spectrum(int ch, int32_t value) {
    charts_.sample_ready(ch);
    auto& settings = station_.settings();
    if (settings.channels[static_cast<size_t>(ch & 3)].fft_enabled == 0) return;
    std::string failed = spectra_.FeedSpectrum(
        ch, value, settings, station_.run().configured_rate[static_cast<size_t>(ch & 3)],
        board_time());
    if (!failed.empty()) report(failed);
}

void Displays::chart_draw(int ch, int32_t /*value*/) {
    std::array<TriggerTrace, ScopeCharts::kCharts> triggers{};
    if (station_.settings().general.service_mode == 2) {
        for (int k = 0; k < ScopeCharts::kCharts; ++k) {
            const auto& d = station_.detector().channel(k);
            triggers[static_cast<size_t>(k)] = {d.sl_ratio, d.lta_value, d.sta_value};
        }
    }
    charts_.DrawChartSample(ch, station_.run().sample_value, station_.settings().general,
                            triggers);
}

void Displays::drum(int ch, int32_t value) {
    bool triggered = station_.detector().channel(ch).event_state != 0;
    drums_.DrawDrumSample(ch, value, station_.settings(), board_time(), triggered);
}

void Displays::board_time_frame(std::string_view /*frame*/) { drums_.flush(); }

void Displays::run_ended(int ch) {
    // The exit sequence calls every channel in turn; the drums close together.
    if (ch == config::kChannels - 1) {
        drums_.CloseDrums(station_.settings());
        view_.run_ended();
    }
}

void Displays::board_restarted() {
    drums_.restart_pens();
    spectra_.run_started();
}

void Displays::draw_time_marks() {
    charts_.DrawTimeMarks(station_.board_clock().state().board_minutes, station_.settings());
}

void Displays::report(const std::string& text) {
    // A failing save repeats every period: the event log says it when it changes.
    if (text == last_report_) return;
    last_report_ = text;
    station_.AppendEventLog(text);
}

}  // namespace velkantor::display
