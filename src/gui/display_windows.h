#pragma once

#include <array>
#include <memory>

#include "display/display_view.h"

namespace velkantor::config {
struct Settings;
}
namespace velkantor::display {
class Displays;
}

namespace velkantor::gui {

class DrumWindow;
class FftWindow;

// The drum windows `drum1`..`drum4` and the spectrum windows `fft`, opened and closed as the
// displays ask. They show the pictures the engine draws; refresh() copies them to the screen.
class DisplayWindows : public display::DisplayView {
public:
    DisplayWindows();
    ~DisplayWindows() override;

    // The displays whose pictures the windows show (made after this view, which they take).
    void attach(display::Displays* displays, config::Settings* settings);
    void refresh();

    DrumWindow* drum_window(int ch) { return drums_[static_cast<size_t>(ch & 3)].get(); }
    FftWindow* fft_window(int ch) { return spectra_[static_cast<size_t>(ch & 3)].get(); }

    // DisplayView
    void drum_loaded(int ch, platform::Canvas& picture) override;
    void drum_visible(int ch, bool shown) override;
    void drum_unloaded(int ch) override;
    bool spectrum_window_open(int ch) override;
    void spectrum_created(int ch, display::SpectrumWindow& window) override;

private:
    display::Displays* displays_ = nullptr;
    config::Settings* settings_ = nullptr;
    std::array<std::unique_ptr<DrumWindow>, 4> drums_;
    std::array<std::unique_ptr<FftWindow>, 4> spectra_;
};

}  // namespace velkantor::gui
