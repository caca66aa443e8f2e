#pragma once

#include <memory>

#include "acquisition/sample_consumers.h"
#include "display/board_time.h"
#include "display/display_view.h"
#include "display/drum.h"
#include "display/scope_charts.h"
#include "display/fft_display.h"
#include "platform/picture_codec.h"
#include "timekeeping/second_listener.h"

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::display {

// The charts, drums and spectra of a station, fed from its main loop in the sample chain's
// order. Every host has one: the headless station draws and saves the same drums and spectra
// as the desktop, which only shows them.
class Displays : public acquisition::SampleConsumers, public timekeeping::SecondListener {
public:
    Displays(acquisition::Station& station, platform::PictureCodec& codec, DisplayView& view);
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

    acquisition::Station& station_;
    DisplayView& view_;
    ScopeCharts charts_;
    DrumRecorder drums_;
    Spectra spectra_;
    std::string last_report_;
};

}  // namespace velkantor::display
