#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/board_driver.h"
#include "acquisition/conditioner.h"
#include "config/settings.h"
#include "datalog/datalog_writer.h"
#include "diagnostics/bounded_log.h"
#include "diagnostics/diagnostic_file.h"
#include "diagnostics/error_reporter.h"
#include "events/alarms.h"
#include "events/detector.h"
#include "events/event_file.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/file_system.h"
#include "platform/host.h"
#include "platform/operator.h"
#include "platform/serial_port.h"
#include "runtime/board_commands.h"
#include "runtime/run_state.h"
#include "runtime/sample_consumers.h"
#include "runtime/service_port.h"
#include "runtime/station_observer.h"
#include "runtime/station_view.h"
#include "runtime/version.h"
#include "timekeeping/board_clock.h"
#include "timekeeping/clock_trim.h"
#include "timekeeping/housekeeping_view.h"
#include "timekeeping/periodic_timer.h"
#include "timekeeping/second_listener.h"

namespace velkantor::acquisition {

// The outside world of a station.
struct StationPlatform {
    platform::FileSystem& fs;
    const platform::Clock& clock;
    platform::SerialPort& port;
    platform::Operator& op;
    platform::Host& host;
};

// STOP was pressed while the start-up (the handshake, a start script) was waiting: the
// start-up ends at that wait and leaves through the common exit.
struct StartupStopped {};

// Why the last run (or START) ended; the headless program's exit status tells it.
enum class RunEnd {
    none,                 // no run has ended yet
    stopped,              // STOP was asked for (the operator, a signal, --for)
    board_not_found,      // the board did not answer at START, or not again after it was lost
    refused_by_settings,  // a start-up check or the board's rate rules refused the settings
    failed,               // anything else ended it
};

struct PassResult {
    bool ended = false;  // the run is over (exit sequence done)
    bool idle = false;   // too few bytes were waiting: the host may sleep
    bool yield = false;  // a new tenth of a second: the host lets windows and timer run
};

// One station: settings, logs, the serial port and the acquisition run. The hosts drive
// it: load() once, start() for START, pass() while running, tick() every second, stop()
// for STOP, exit() for EXIT.
class Station {
public:
    Station(StationPlatform platform, std::string folder);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Program start: folders, "STARTING VELKANTOR...", schedule and settings. Returns an
    // empty text, or why the station folder cannot be used. With `report_failure`, a data
    // folder or the event log that cannot be written is handed to it and the load goes on.
    std::string load(const std::function<void(const std::string&)>& report_failure = {});
    // START: the start-up checks and the board handshake. False when refused.
    bool start();
    // One pass of the main loop.
    PassResult pass();
    // STOP: changes only state that the loop reads.
    void stop();
    // The one-second timer.
    void tick();
    // EXIT: closes files and writes the closing line; the settings are not saved.
    void exit();

    bool in_run() const { return in_run_; }
    // START is running its checks and the board handshake (START is not enabled meanwhile).
    bool starting() const { return starting_; }
    // The last START was refused (a start-up check or the board said no).
    bool refused() const { return refused_; }
    // Why the last run ended (or START failed).
    RunEnd run_end() const { return run_end_; }
    // A driver tells that its board is not there (before refusing).
    void board_not_found() { run_end_ = RunEnd::board_not_found; }

    // --- shared with drivers and subsystems ---
    config::Settings& settings() { return settings_; }
    const config::Settings& settings() const { return settings_; }
    runtime::RunState& run() { return run_; }
    const runtime::RunState& run() const { return run_; }
    platform::SerialPort& port() { return platform_.port; }
    platform::Operator& op() { return platform_.op; }
    platform::Host& host() { return platform_.host; }
    const platform::Clock& clock() const { return platform_.clock; }
    platform::FileSystem& fs() { return platform_.fs; }
    runtime::StationView& view() { return *view_; }
    diagnostics::ErrorReporter& errors() { return errors_; }
    diagnostics::BoundedLog& event_log() { return event_log_; }
    const std::string& folder() const { return folder_; }

    events::Detector& detector() { return detector_; }
    datalog::DatalogWriter& datalog() { return datalog_; }
    void set_printer(platform::Printer* printer) { event_files_.environment().printer = printer; }
    // Service-mode trace lines (shown by the clock-trimming window).
    std::function<void(const std::string&)> trace;

    void set_view(runtime::StationView* view);
    void set_consumers(runtime::SampleConsumers* consumers);

    // --- time keeping, housekeeping and alarms ---
    timekeeping::BoardClock& board_clock() { return board_clock_; }
    const timekeeping::BoardClock& board_clock() const { return board_clock_; }
    timekeeping::ClockTrim& clock_trim() { return clock_trim_; }
    timekeeping::PeriodicTimer& timer() { return timer_; }
    events::Alarms& alarms() { return alarms_; }
    const platform::Devices& devices() const { return devices_; }
    void set_devices(const platform::Devices& devices) { devices_ = devices; }
    timekeeping::HousekeepingView& housekeeping_view() { return *housekeeping_view_; }
    void set_housekeeping_view(timekeeping::HousekeepingView* view) {
        housekeeping_view_ = view ? view : &default_housekeeping_view_;
    }
    timekeeping::SecondListener& second_listener() { return *second_listener_; }
    void set_second_listener(timekeeping::SecondListener* listener) {
        second_listener_ = listener ? listener : &default_second_listener_;
    }

    // What the services that publish the station see of it and hook into.
    runtime::ServicePort& services();
    runtime::StationObserver& observer() { return *observer_; }

    void AppendEventLog(std::string_view message) { event_log_.append(message); }
    void AppendTimeLog(std::string_view message) { time_log_.append(message); }
    int SecondsSinceLastData() const;
    int SecondsSinceLastRestart() const;
    static constexpr int kRestartGraceSeconds = 5;
    // While the board stays away, a restart line at most this often.
    static constexpr double kOutageLogSeconds = 3600;
    // The start-up's pauses. STOP pressed meanwhile ends the start-up here (StartupStopped).
    void WaitSeconds(double seconds);
    void wait_for_input(double seconds);
    // A failing statement of the run: reported as its error handler does, and the run goes
    // on (with a non-zero service mode, runtime::FatalError).
    void report_step_failure(const runtime::StepFailure& failure);
    // The board's time comes from the PC clock (the instruments without a clock of their own).
    bool time_from_pc_clock() const { return driver_ && driver_->time_from_pc_clock(); }
    // The PC second an instrument without a clock dated its last time frame with.
    std::optional<int64_t> reading_second() const {
        return driver_ ? driver_->reading_second() : std::nullopt;
    }
    // Throws away what the port holds while acquiring: the datalog hears that its stream was
    // cut, so the samples around the gap are not put at another second's place.
    void discard_board_input();
    // A frame of the wrong length or of an unknown type.
    void count_bad_frame();
    // Writes to the port; a failure is a runtime::StepFailure.
    void send(std::string_view bytes);
    // The board's clock and memory commands, in the attached board's form (before START, in
    // the form of the board the settings name).
    runtime::BoardCommands& board_commands();
    // Opens the port as configured; an invalid device shows "Comm Port not valid".
    bool open_port();

    int16_t ProgressMarker = 0;

private:
    diagnostics::BoundedLog& time_log() { return time_log_; }
    events::EventFiles& event_files() { return event_files_; }
    // The acquisition clock's current whole second (epoch seconds of the board time).
    double acquisition_second() const;
    // "L" while the time receiver keeps the board clock locked, "N" otherwise.
    std::string lock_text() const { return run_.lock_state; }
    std::string time_reference() const {
        return settings_.general.sync_source != 0 ? "DCF" : "GPS";
    }
    void WriteDiagnosticLine(std::string_view text);
    // A refusal: autostart cleared (when `clear_autostart`), port closed.
    void refuse(bool clear_autostart = true);
    void run_step(const std::function<void()>& step);
    bool startup_checks();
    void start_restart_block();
    void dispatch_frame();
    void sample_chain(int ch);
    std::string sample_time_text(double fraction) const;
    enum class StreamClose { stop, restart };
    // The one path by which what a run derived from its board's stream ends.
    void close_board_stream(StreamClose how);
    void exit_sequence();
    void common_exit();
    void stopped_during_startup();
    void log_restart();
    void end_startup_if_stopped() const;
    void log_filled_samples(bool run_end);
    void data_after_outage();
    void set_clipping_limits();
    enum class StreamBegin { start, restart };
    // The one path by which what a run derives from its board's stream begins anew.
    void begin_board_stream(StreamBegin how);
    // The once-per-board-second work that follows the board time handling: trigger arming
    // and windows, event lines and the datalog written out.
    void board_second_done();
    void report_write_failure(const std::string& what);
    events::EventFiles::Environment event_environment();
    events::Alarms::Environment alarm_environment();
    timekeeping::ClockTrim::Environment trim_environment();
    timekeeping::BoardClock::Environment board_clock_environment();
    timekeeping::PeriodicTimer::Environment timer_environment();

    class PortCommands;
    class Services;

    StationPlatform platform_;
    std::string folder_;
    std::unique_ptr<PortCommands> board_commands_;
    std::unique_ptr<Services> services_;
    config::Settings settings_;
    runtime::RunState run_;
    Conditioner conditioner_;
    runtime::StationView default_view_;
    runtime::StationView* view_ = &default_view_;
    runtime::SampleConsumers default_consumers_;
    runtime::SampleConsumers* consumers_ = &default_consumers_;
    diagnostics::BoundedLog event_log_;
    diagnostics::BoundedLog time_log_;
    diagnostics::DiagnosticFile diagnostic_file_;
    diagnostics::ErrorReporter errors_;
    std::unique_ptr<BoardDriver> driver_;
    events::Detector detector_;
    events::EventFiles event_files_;
    datalog::DatalogWriter datalog_;
    bool in_run_ = false;
    bool refused_ = false;
    RunEnd run_end_ = RunEnd::none;
    bool starting_ = false;
    bool stop_requested_ = false;  // STOP pressed while starting
    bool in_start_block_ = false;
    bool in_tick_ = false;
    // The filled samples the time log has told, and the board hour they are counted in.
    std::array<long, config::kChannels> filled_logged_{};
    std::array<long, config::kChannels> over_rate_logged_{};
    double filled_hour_ = -1;

    platform::Devices devices_;
    timekeeping::HousekeepingView default_housekeeping_view_;
    timekeeping::HousekeepingView* housekeeping_view_ = &default_housekeeping_view_;
    timekeeping::SecondListener default_second_listener_;
    timekeeping::SecondListener* second_listener_ = &default_second_listener_;
    // The services' hooks by registration number (released by their registrations).
    std::map<uint64_t, std::function<void()>> tick_hooks_;
    std::map<uint64_t, std::function<void(int, const std::string&)>> event_file_hooks_;
    uint64_t next_hook_ = 0;
    runtime::StationObserver default_observer_;
    runtime::StationObserver* observer_ = &default_observer_;
    // The observer has heard of this event's alarm already.
    std::array<bool, config::kChannels> alarm_observed_{};
    double event_seconds(int ch, const runtime::EventSummary& event) const;
    timekeeping::BoardClock board_clock_{board_clock_environment()};
    timekeeping::ClockTrim clock_trim_{trim_environment()};
    events::Alarms alarms_{alarm_environment()};
    timekeeping::PeriodicTimer timer_{timer_environment()};
};

}  // namespace velkantor::acquisition
