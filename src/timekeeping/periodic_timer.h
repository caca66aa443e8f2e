#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "diagnostics/error_reporter.h"
#include "events/alarms.h"
#include "events/detector.h"
#include "platform/devices.h"
#include "platform/file_system.h"
#include "platform/serial_port.h"
#include "runtime/run_errors.h"
#include "runtime/run_state.h"
#include "runtime/station_observer.h"
#include "runtime/station_view.h"
#include "text/date_time.h"
#include "timekeeping/board_clock.h"
#include "timekeeping/housekeeping_view.h"

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
    // What the housekeeping uses of the station.
    struct Environment {
        // The buffer guard turns charting off and on again.
        config::Settings& settings;
        runtime::RunState& run;
        platform::FileSystem& fs;
        platform::SerialPort& port;
        std::string folder;
        std::string event_log_path;
        // The station's progress marker, which a failing step names.
        int16_t& progress_marker;
        diagnostics::ErrorReporter& errors;
        events::Alarms& alarms;
        // The trigger captions are refreshed here; the PC time is read while idle.
        events::Detector& detector;
        BoardClock& board_clock;
        const platform::Devices& devices;
        std::function<runtime::StationView&()> view;
        std::function<HousekeepingView&()> housekeeping_view;
        std::function<runtime::StationObserver&()> observer;
        std::function<void(std::string_view)> event_log;
        std::function<bool()> in_run;
        std::function<bool()> starting;
        std::function<void(double seconds)> wait;
        std::function<void()> discard_board_input;
        // The board has sent nothing for more than 30 s, and its last restart has had its
        // few seconds to answer: the main loop is to restart it.
        std::function<bool()> restart_due;
    };

    explicit PeriodicTimer(Environment environment) : env_(std::move(environment)) {}

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

    Environment env_;
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
