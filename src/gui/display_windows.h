#pragma once

#include <array>
#include <memory>

#include "display/display_view.h"

class QWidget;

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
    // The main window: drum and spectrum windows open beside it, or cascaded from it below
    // its buttons, never on top of it at the same place.
    void set_anchor(QWidget* main_window) { anchor_ = main_window; }

    DrumWindow* drum_window(int ch) { return drums_[static_cast<size_t>(ch & 3)].get(); }
    FftWindow* fft_window(int ch) { return spectra_[static_cast<size_t>(ch & 3)].get(); }

    // DisplayView
    void drum_loaded(int ch, platform::Canvas& picture) override;
    void drum_visible(int ch, bool shown) override;
    void drum_unloaded(int ch) override;
    bool spectrum_window_open(int ch) override;
    void spectrum_created(int ch, display::SpectrumWindow& window) override;
    void run_ended() override;

private:
    void place(QWidget& window, int k);
    void show_drawn_row(DrumWindow& window);

    QWidget* anchor_ = nullptr;
    display::Displays* displays_ = nullptr;
    config::Settings* settings_ = nullptr;
    std::array<std::unique_ptr<DrumWindow>, 4> drums_;
    std::array<std::unique_ptr<FftWindow>, 4> spectra_;
    // The spectrum windows the current run opened: STOP unloads them.
    std::array<bool, 4> opened_by_run_{};
};

}  // namespace velkantor::gui
