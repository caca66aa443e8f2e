#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/date_time.h"

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::timekeeping {

// The start date of a datalog file from its name ("YYYYMMDD_HHMMSS_RRRRL.LGn", with ".2",
// ".3", ... after it for seconds that came again); nullopt for any other name, which the
// purge never touches.
std::optional<text::DateTime> datalog_file_date(std::string_view name);

// The one-second housekeeping: it watches the run from outside (restart request, watchdog
// pulse, companion heartbeat), presses START for autostart, guards the serial input buffer,
// drives the alarm outputs, shows the free disk space and purges old datalog files. The
// host calls OnTimerTick once a second, whether or not acquisition runs.
class PeriodicTimer {
public:
    explicit PeriodicTimer(acquisition::Station& station) : station_(station) {}

    void OnTimerTick();

    // Autostart: the tick asks the host to press START; the host takes the request.
    bool start_requested() const { return start_requested_; }
    bool take_start_request() { return std::exchange(start_requested_, false); }

    // The main window's "No charts" check box: the operator's own choice, which the buffer
    // guard never overrides.
    void set_no_charts_box(bool ticked) { no_charts_box_ = ticked; }

    int watchdog_ticks() const { return watchdog_ticks_; }

private:
    // One statement group of the tick with the tick's error handler ("Timer 1").
    void step(int marker, const std::function<void()>& body);
    void channel_indicators();
    void event_list_check();
    void bad_frame_counter();
    void idle_time_display();
    void stop_button();
    void restart_request();
    void heartbeat();
    void watchdog();
    void serial_input();
    void autostart();
    void buffer_guard();
    void alarm_outputs();
    void free_disk_space();
    void purge();

    acquisition::Station& station_;
    int event_file_check_ticks_ = 0;
    int badrx_reset_ticks_ = 0;
    int watchdog_ticks_ = 0;
    bool buffer_warned_ = false;
    bool no_charts_box_ = false;
    bool events_blink_ = false;
    bool start_requested_ = false;
    size_t purge_index_ = 0;
    std::vector<std::string> purge_list_;
};

}  // namespace velkantor::timekeeping
