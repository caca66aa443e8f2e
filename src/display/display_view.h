#pragma once

#include "platform/canvas.h"

namespace velkantor::display {

class SpectrumWindow;

// The windows that show the displays' pictures. Every method does nothing by default: a
// headless station draws and saves the same pictures without showing them.
class DisplayView {
public:
    virtual ~DisplayView() = default;

    // Drum windows `drum1`..`drum4` (ch 0..3). `picture` stays valid until drum_unloaded.
    virtual void drum_loaded(int /*ch*/, platform::Canvas& /*picture*/) {}
    virtual void drum_visible(int /*ch*/, bool /*shown*/) {}
    virtual void drum_unloaded(int /*ch*/) {}

    // Spectrum windows `fft`, one per channel. A window stays open until the operator closes
    // it; the next sample of the channel then creates a new one.
    virtual bool spectrum_window_open(int /*ch*/) { return true; }
    virtual void spectrum_created(int /*ch*/, SpectrumWindow& /*window*/) {}
    // The exit sequence: the spectrum windows this run opened are unloaded.
    virtual void run_ended() {}
};

}  // namespace velkantor::display
