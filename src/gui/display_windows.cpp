#include "gui/display_windows.h"

#include "display/displays.h"
#include "gui/drum_window.h"
#include "gui/fft_window.h"
#include "platform/real/qimage_canvas.h"

namespace velkantor::gui {

DisplayWindows::DisplayWindows() = default;
DisplayWindows::~DisplayWindows() = default;

void DisplayWindows::attach(display::Displays* displays, config::Settings* settings) {
    displays_ = displays;
    settings_ = settings;
}

void DisplayWindows::refresh() {
    for (auto& drum : drums_) {
        if (drum && drum->isVisible()) drum->refresh();
    }
    for (auto& fft : spectra_) {
        if (fft && !fft->closed()) fft->refresh();
    }
}

void DisplayWindows::drum_loaded(int ch, platform::Canvas& picture) {
    auto* canvas = dynamic_cast<platform::QImageCanvas*>(&picture);
    if (!canvas) return;
    auto& window = drums_[static_cast<size_t>(ch & 3)];
    if (window) {
        window->set_picture(*canvas);
        return;
    }
    window = std::make_unique<DrumWindow>(ch, *canvas, [this, ch] {
        if (displays_) displays_->drums().request_clear(ch);
    });
}

void DisplayWindows::drum_visible(int ch, bool shown) {
    auto& window = drums_[static_cast<size_t>(ch & 3)];
    if (!window) return;
    if (shown && !window->isVisible()) {
        window->show();
    } else if (!shown) {
        window->hide();
    }
}

void DisplayWindows::drum_unloaded(int ch) { drums_[static_cast<size_t>(ch & 3)].reset(); }

bool DisplayWindows::spectrum_window_open(int ch) {
    auto& window = spectra_[static_cast<size_t>(ch & 3)];
    return window && !window->closed();
}

void DisplayWindows::spectrum_created(int ch, display::SpectrumWindow& spectrum) {
    if (!displays_ || !settings_) return;
    auto& window = spectra_[static_cast<size_t>(ch & 3)];
    // A window the operator closed is replaced: the engine made a new spectrum for it.
    window = std::make_unique<FftWindow>(spectrum, displays_->spectra(), *settings_);
    window->show();
}

}  // namespace velkantor::gui
