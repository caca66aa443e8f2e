#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace velkantor::timekeeping {

// The texts of the time set window that follow the board clock.
struct TimeWindowTexts {
    std::string sync;       // "DCF77 Sync: YYYY/MM/DD HH:MM:SS" or "GPS   Sync: ..."
    std::string status;     // "Status: Locked" / "Status: Not Locked"
    std::string hour_type;  // "DCF tx daylight time", "DCF tx solar time", "GPS tx UTC time", "..."
    bool sync_bit = false;  // a synchronisation arrived in this second (the DCF chart's bar)
    int minute_of_day = 0;  // the bar's minute
};

// The indicators that the board clock and the one-second housekeeping drive, on the main
// window, the hardware setup window and the time set window. Every method does nothing by
// default; a window that is closed ignores what is meant for it.
class HousekeepingView {
public:
    virtual ~HousekeepingView() = default;

    // Main window.
    virtual void show_trigger_indicator(int /*ch*/, bool /*visible*/) {}  // `on_trig`
    virtual void show_record_button(int /*ch*/, bool /*recording*/) {}    // `man_record` STOP/REC
    virtual void enable_stop_button(bool /*enabled*/) {}                  // `cmd_stop`
    virtual void show_buffer_load(size_t /*count*/, size_t /*size*/) {}   // `bufferload`
    virtual void show_events_blink(bool /*first_colour*/) {}              // `eventsblink`
    // The end of the title: "FDS: 123456 Kb" or "FDS: N.A." (see title_with_free_space).
    virtual void show_free_disk_space(std::string_view /*fds*/) {}
    virtual void show_sample_count_errors(int /*ch*/, long /*count*/) {}  // `xerror`
    // At each board second: every channel's samples counted in the second that ended and its
    // configured rate (`true_sps` shows the selected channel's).
    virtual void show_second_sample_counts(const std::array<double, 4>& /*counts*/,
                                           const std::array<double, 4>& /*configured*/) {}

    // Hardware setup window.
    virtual void show_input_lines(bool /*line1*/, bool /*line2*/) {}  // `linea1`, `linea2`
    virtual void show_watchdog_bit(bool /*first_colour*/) {}          // `watch_dog_bit`
    virtual void show_alarm_bit(bool /*set*/) {}                      // `alarm_bit`

    // Time set window.
    virtual void show_pc_time(std::string_view /*text*/) {}  // `realtime`
    virtual void show_time_window(const TimeWindowTexts& /*texts*/) {}
};

// How a window asks to receive the indicators while it is open (true) and stops (false):
// the main window forwards what it is shown to every window registered.
using ListenHook = std::function<void(HousekeepingView* view, bool open)>;

// The window title keeps its text up to "FDS:" and ends with the free-space text.
inline std::string title_with_free_space(std::string_view title, std::string_view fds) {
    auto at = title.find("FDS:");
    std::string kept(at == std::string_view::npos ? title : title.substr(0, at));
    if (at == std::string_view::npos) kept += " - ";
    return kept + std::string(fds);
}

}  // namespace velkantor::timekeeping
