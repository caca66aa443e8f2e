#include "gui/display_windows.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "display/displays.h"
#include "display/drum.h"
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

void DisplayWindows::place(QWidget& window, int k) {
    if (!anchor_ || !anchor_->screen()) return;
    const QRect screen = anchor_->screen()->availableGeometry();
    const QRect main = anchor_->frameGeometry();
    constexpr int kStep = 30;
    // Beside the main window when the screen has room for a useful part of the window.
    const int room = screen.right() - main.right() - 8;
    if (room >= 480) {
        const int y = std::min(main.top() + k * kStep, screen.bottom() - 200);
        window.resize(std::min(window.width(), room),
                      std::min(window.height(), screen.bottom() - y - 40));
        window.move(main.right() + 8, y);
        return;
    }
    // Otherwise cascaded from it, below its buttons and indicators, so that START, STOP and
    // the run's figures stay in sight and every window shows its title bar.
    const int x =
        std::max(screen.left(), std::min(main.left() + 40 + k * kStep, screen.right() - 200));
    const int y =
        std::max(screen.top(), std::min(main.top() + 140 + k * kStep, screen.bottom() - 200));
    // No part of the window below or beside the screen: its scroll bars stay in reach.
    window.resize(std::min(window.width(), screen.right() - x - 8),
                  std::min(window.height(), screen.bottom() - y - 40));
    window.move(x, y);
}

void DisplayWindows::show_drawn_row(DrumWindow& window) {
    if (!displays_ || !settings_) return;
    const auto geometry = display::DrumGeometry::of(settings_->general.drum_hours_per_row);
    const int row = geometry.row_of(displays_->board_time().hour);
    window.show_row(display::kDrumHeight * row / geometry.rows,
                    display::kDrumHeight * (row + 1) / geometry.rows);
}

void DisplayWindows::refresh() {
    for (auto& drum : drums_) {
        if (!drum || !drum->isVisible()) continue;
        show_drawn_row(*drum);
        drum->refresh();
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
    place(*window, ch & 3);
}

void DisplayWindows::drum_visible(int ch, bool shown) {
    auto& window = drums_[static_cast<size_t>(ch & 3)];
    if (!window) return;
    if (shown && !window->isVisible()) {
        show_drawn_row(*window);
        window->show();
    } else if (!shown) {
        window->hide();
    }
}

void DisplayWindows::drum_unloaded(int ch) {
    drums_[static_cast<size_t>(ch & 3)].reset();
}

bool DisplayWindows::spectrum_window_open(int ch) {
    auto& window = spectra_[static_cast<size_t>(ch & 3)];
    return window && !window->closed();
}

void DisplayWindows::spectrum_created(int ch, display::SpectrumWindow& spectrum) {
    if (!displays_ || !settings_) return;
    auto& window = spectra_[static_cast<size_t>(ch & 3)];
    // A window the operator closed is replaced: the engine made a new spectrum for it.
    window = std::make_unique<FftWindow>(spectrum, displays_->spectra(), *settings_);
    opened_by_run_[static_cast<size_t>(ch & 3)] = true;
    place(*window, 4 + (ch & 3));
    window->show();
}

void DisplayWindows::run_ended() {
    for (size_t ch = 0; ch < spectra_.size(); ++ch) {
        if (opened_by_run_[ch] && spectra_[ch] && !spectra_[ch]->closed()) spectra_[ch]->close();
        opened_by_run_[ch] = false;
    }
}

}  // namespace velkantor::gui
