#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "config/settings.h"

namespace velkantor::runtime {

// The main window as the engine sees it. Every method does nothing by default, so a host
// without windows needs no view of its own.
class StationView {
public:
    virtual ~StationView() = default;
    // START/EXIT enabled and STOP disabled when idle; the reverse while running. `rates_editable`
    // and `logging_editable` say whether `sps_select` and `logging` may be enabled.
    virtual void set_run_controls(bool /*running*/, bool /*logging_editable*/,
                                  bool /*rates_editable*/) {}
    virtual void set_autostart_box(bool /*ticked*/) {}
    virtual void set_title(std::string_view /*title*/) {}
    virtual void set_status_text(std::string_view /*text*/) {}  // `lbl_service`
    virtual void set_bad_frames(long /*count*/) {}              // `badrx`
    virtual void set_lock_indicator(std::string_view /*state*/) {}
    virtual void set_busy(bool /*hourglass*/) {}
    virtual void show_idle_passes(double /*count*/) {}  // `donothing`, service mode
    virtual void show_values(const std::array<int32_t, config::kChannels>& /*values*/) {}
    virtual void show_sample_time(std::string_view /*text*/) {}  // `utc_clock`
    virtual void clear_time_display() {}
};

}  // namespace velkantor::runtime
