#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "display/board_time.h"
#include "display/display_view.h"
#include "display/drum.h"
#include "display/fft_display.h"
#include "display/scope_charts.h"
#include "events/detector.h"
#include "platform/file_system.h"
#include "platform/operator.h"
#include "platform/picture_codec.h"
#include "runtime/run_state.h"
#include "runtime/sample_consumers.h"
#include "runtime/service_port.h"
#include "timekeeping/board_clock.h"
#include "timekeeping/second_listener.h"

namespace velkantor::display {

// The charts, drums and spectra of a station, fed from its main loop in the sample chain's
// order. Every host has one: the headless station draws and saves the same drums and spectra
// as the desktop, which only shows them.
class Displays : public runtime::SampleConsumers, public timekeeping::SecondListener {
public:
    // What the displays use of the station, and how they are hooked into its main loop.
    struct Source {
        platform::FileSystem& fs;
        platform::Operator& op;
        std::string folder;
        // The spectrum stores its block length's default in the channel's settings.
        config::Settings& settings;
        const runtime::RunState& run;
        const events::Detector& detector;
        const timekeeping::BoardClockState& clock;
        std::function<void(std::string_view)> log;
        // Makes the displays the station's sample consumers and second listener until the
        // registration is released.
        std::function<runtime::Registration(runtime::SampleConsumers&,
                                            timekeeping::SecondListener&)>
            connect;
    };

    Displays(Source source, platform::PictureCodec& codec, DisplayView& view);
    ~Displays() override;
    Displays(const Displays&) = delete;
    Displays& operator=(const Displays&) = delete;

    ScopeCharts& charts() { return charts_; }
    DrumRecorder& drums() { return drums_; }
    Spectra& spectra() { return spectra_; }
    // The board time of the latest time frame, as the drum and the spectrum use it.
    BoardTime board_time() const;

    // SampleConsumers
    void run_started() override;
    void chart_pacing(int ch) override;
    void spectrum(int ch, int32_t value) override;
    void chart_draw(int ch, int32_t value) override;
    void drum(int ch, int32_t value) override;
    void board_time_frame(std::string_view frame) override;
    void run_ended(int ch) override;
    void board_restarted() override;
    // SecondListener
    void draw_time_marks() override;

private:
    void report(const std::string& text);

    Source source_;
    DisplayView& view_;
    ScopeCharts charts_;
    DrumRecorder drums_;
    Spectra spectra_;
    std::string last_report_;
    runtime::Registration connected_;
};

}  // namespace velkantor::display
