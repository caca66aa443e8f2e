#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/operator.h"
#include "runtime/board_commands.h"
#include "runtime/run_state.h"
#include "runtime/station_view.h"
#include "text/date_time.h"
#include "timekeeping/housekeeping_view.h"
#include "timekeeping/second_listener.h"
#include "timekeeping/utc_offset.h"

namespace velkantor::timekeeping {

inline constexpr const char* kNoSync = "1990/01/01 00:00:00";

// The board clock as the last time frame told it, and the time receiver's synchronisation.
// The lock state ("L"/"N") is the run's `lock_state`, which the event headers read too.
struct BoardClockState {
    int16_t board_seconds = 0;
    int16_t board_minutes = 0;
    int16_t board_hours = 0;
    int16_t board_status = 0;  // 0x08 line 1, 0x10 line 2, 0x20 synchronised, 0x40 daylight
    std::string raw_time_frame;
    std::string board_time_text;      // "HH:MM:SS"
    std::string board_date_text;      // "YYYY/MM/DD"
    std::string board_datetime_text;  // date, blank, time
    double board_second_of_day = 0;
    std::string previous_board_time;  // for the jump check
    std::string rollover_reference;   // for the midnight date fix
    std::string last_sync_text;       // the synchronised second: board time minus one second
    std::string last_sync_board_time = kNoSync;
    std::string sync_source_label = "DCF";  // "DCF" or "GPS"
    std::array<int16_t, 1440> sync_minute_marks{};
    int16_t sync_handled = 0;
    int16_t bad_time_flag = 0;
    std::string pc_now_text;
    std::string pc_fraction_text;
    std::string pc_date_text;
    std::string pc_time_text;
    std::string system_date_format;
    std::string system_time_format;
    std::array<long, 4> xerror{};  // per channel: seconds whose sample count was off
    // Who set the board's clock last in this run, and the board time minus UTC (seconds) of
    // the last frame's second, which the published records are stamped with.
    BoardTimeSource time_source = BoardTimeSource::pc;
    int utc_offset = 0;
};

// Board time frame layouts: firmware with the date in its time frames sends 9 bytes.
bool time_frame_has_date(std::string_view firmware_version);
// Firmware whose frames are dated but whose date is not to be trusted (kept from before).
bool time_frame_date_used(std::string_view firmware_version);
// Firmware whose frame at midnight still carries the day before.
bool needs_midnight_date_fix(std::string_view firmware_version);
// Firmware whose date may set the PC's date as well as its time.
bool sets_pc_date(std::string_view firmware_version);

// The PC timestamp texts from the platform's short form of `now` (see RefreshPcTimestamp).
std::string normalise_pc_now(std::string text);

// The board clock and its synchronisation with the time receiver and the PC. One per
// station; it runs on the station's thread, once per board time frame.
class BoardClock {
public:
    static constexpr std::array<double, 7> kSyncPeriodHours{1, 2, 3, 4, 6, 12, 24};

    // What the board clock uses of the station: its settings and run, the clocks, the board's
    // commands, the logs and views, and the few steps of the run it takes part in.
    struct Environment {
        const config::Settings& settings;
        runtime::RunState& run;
        const platform::Clock& clock;
        platform::Operator& op;
        runtime::BoardCommands& board;
        // The station's devices (the PC clock setter, the date forms); set after construction.
        const platform::Devices& devices;
        // The views in place now (a window may take them over or give them back).
        std::function<runtime::StationView&()> view;
        std::function<HousekeepingView&()> housekeeping_view;
        std::function<SecondListener&()> second_listener;
        std::function<void(std::string_view)> event_log;
        std::function<void(std::string_view)> time_log;
        // A pause of the run (STOP meanwhile ends it, as the station's pauses do).
        std::function<void(double seconds)> wait;
        // Throws away what the port holds (the datalog hears its stream was cut).
        std::function<void()> discard_board_input;
        std::function<void(const runtime::StepFailure&)> report_step_failure;
        // The board's time is the PC's (an instrument without a clock), and the PC second its
        // driver dated the last time frame with.
        std::function<bool()> time_from_pc_clock;
        std::function<std::optional<int64_t>()> reading_second;
        // A synchronisation by the time receiver (the trimming measures at each).
        std::function<void()> synchronised;
    };

    explicit BoardClock(Environment environment) : env_(std::move(environment)) {}

    // Main window load: the sync source label, the PC's date forms, lock state "N".
    void load();
    // START: the board's time, date and day turn are what this run's time frames tell;
    // nothing of an earlier run's (a stopped board's date is no date for a board that
    // does not send one) is kept.
    void run_started();
    // A frame whose first byte is 0x81, as gathered (terminator included). False when it
    // was ignored (a length that is not the firmware's); the board second then did not end.
    bool ProcessBoardTimeFrame(std::string_view frame);
    // The board was restarted after an outage: its time, date and day turn are what the
    // restarted stream's frames tell, as at START (an undated board back the next morning
    // must not keep the evening's day). Who keeps its clock does not change.
    void board_restarted();
    // Sets the board clock from the PC clock: set time, 1 s, time-zone correction, 1 s, date.
    void SetBoardClockFromPc();
    void RefreshPcTimestamp();

    const BoardClockState& state() const { return state_; }
    // The time set window changes the time reference.
    void set_sync_source_label(std::string label) { state_.sync_source_label = std::move(label); }
    // A click on an `xerror` counter clears all four.
    void reset_xerror() { state_.xerror.fill(0); }
    void clear_sync_minute_marks() { state_.sync_minute_marks.fill(0); }
    // The time set window's texts for the current state.
    TimeWindowTexts time_window_texts() const;

private:
    std::string_view firmware() const;
    bool decode(std::string_view frame);
    void correct_bad_time();
    void midnight_date_fix();
    void count_samples();
    void synchronisation();
    void update_lock();
    void update_utc_offset();
    void clear_board_time();
    void pc_to_board(const text::DateTime& pc_now);
    void board_to_pc(const text::DateTime& pc_now);
    void jump_check(bool corrected_now);
    void send_clock(const text::DateTime& time);
    // Runs a write to the board; false when it failed (reported, the second goes on).
    bool guarded(const std::function<void()>& send);

    Environment env_;
    BoardClockState state_;
    int64_t last_pc_sync_second_ = -1;  // PC second (epoch) of the last PC-to-board set
    bool pc_clock_off_ = false;         // the board-to-PC direction was refused; said once
    bool skip_next_jump_check_ = false;
};

}  // namespace velkantor::timekeeping
