#include "acquisition/station.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "config/rates.h"
#include "config/settings_file.h"
#include "text/number_text.h"

namespace velkantor::acquisition {

namespace {

constexpr const char* kCrLf = "\r\n";

bool upper_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

}  // namespace

class Station::PortCommands : public runtime::BoardCommands {
public:
    explicit PortCommands(Station& station) : station_(station) {}
    void set_time(int hours, int minutes, int seconds) override {
        send([&](const BoardDriver& d) { return d.set_time_command(hours, minutes, seconds); });
    }
    void set_date(int year, int month, int day) override {
        send([&](const BoardDriver& d) { return d.set_date_command(year, month, day); });
    }
    void set_time_zone(int gmt_offset) override {
        send([&](const BoardDriver& d) { return d.set_time_zone_command(gmt_offset); });
    }
    void write_trim(const std::array<uint8_t, 4>& record) override {
        send([&](const BoardDriver& d) { return d.trim_write_command(record); });
    }
    void read_memory(int address) override {
        send([&](const BoardDriver& d) { return d.memory_read_command(address); });
    }

private:
    // A board with no such command (or a type without a driver) is sent nothing.
    void send(const std::function<std::string(const BoardDriver&)>& command) {
        const BoardDriver* board = driver();
        if (!board) return;
        if (std::string bytes = command(*board); !bytes.empty()) station_.send(bytes);
    }
    const BoardDriver* driver() {
        if (station_.driver_) return station_.driver_.get();
        // Before the first START: the board the settings name.
        const int16_t type = station_.settings_.general.ad_type;
        if (configured_type_ != type) {
            configured_ = make_board_driver(type);
            configured_type_ = type;
        }
        return configured_.get();
    }

    Station& station_;
    std::unique_ptr<BoardDriver> configured_;
    int16_t configured_type_ = -1;
};

class Station::Services : public runtime::ServicePort {
public:
    explicit Services(Station& station) : s_(station) {}

    const config::Settings& settings() const override { return s_.settings_; }
    const runtime::RunState& run() const override { return s_.run_; }
    bool in_run() const override { return s_.in_run_; }
    const std::string& folder() const override { return s_.folder_; }
    const platform::Clock& clock() const override { return s_.platform_.clock; }
    platform::FileSystem& fs() const override { return s_.platform_.fs; }
    const platform::Devices& devices() const override { return s_.devices_; }
    double acquisition_second() const override { return s_.acquisition_second(); }
    std::string lock_text() const override { return s_.lock_text(); }
    std::string time_reference() const override { return s_.time_reference(); }
    int utc_offset() const override { return s_.board_clock_.state().utc_offset; }
    std::string event_log_path() const override { return s_.event_log_.path(); }
    void log(std::string_view line) override { s_.AppendEventLog(line); }

    runtime::Registration on_second(std::function<void()> hook) override {
        const uint64_t number = s_.next_hook_++;
        s_.tick_hooks_.emplace(number, std::move(hook));
        return runtime::Registration([this, number] { s_.tick_hooks_.erase(number); });
    }
    runtime::Registration on_event_file(
        std::function<void(int, const std::string&)> hook) override {
        const uint64_t number = s_.next_hook_++;
        s_.event_file_hooks_.emplace(number, std::move(hook));
        return runtime::Registration([this, number] { s_.event_file_hooks_.erase(number); });
    }
    runtime::Registration observe(runtime::StationObserver& observer) override {
        s_.observer_ = &observer;
        return runtime::Registration([this, o = &observer] {
            if (s_.observer_ == o) s_.observer_ = &s_.default_observer_;
        });
    }
    runtime::Registration take_seconds(runtime::SecondSink& sink) override {
        s_.datalog_.set_sink(&sink);
        return runtime::Registration([this, k = &sink] {
            if (s_.datalog_.sink() == k) s_.datalog_.set_sink(nullptr);
        });
    }

private:
    Station& s_;
};

runtime::ServicePort& Station::services() {
    return *services_;
}

Station::Station(StationPlatform platform, std::string folder)
    : platform_(platform),
      folder_(std::move(folder)),
      board_commands_(std::make_unique<PortCommands>(*this)),
      services_(std::make_unique<Services>(*this)),
      event_log_(platform.fs, platform.clock, platform::join_path(folder_, "evtfile.dat"),
                 "Event list exceeded 64k cleared."),
      time_log_(platform.fs, platform.clock, platform::join_path(folder_, "timefile.txt"),
                "Time file exceeded 64k cleared."),
      diagnostic_file_(platform.fs, platform::join_path(folder_, "stub.dat")),
      errors_(platform.clock, platform.host),
      event_files_(event_environment()),
      datalog_(platform.fs, platform::join_path(folder_, "datalog")) {
    config::SetDefaultConfiguration(settings_, folder_);
    event_files_.on_opened = [this](int ch, const std::string& name, const std::string& start) {
        alarm_observed_[static_cast<size_t>(ch)] = false;
        observer_->event_started(ch, name, start,
                                 settings_.channels[static_cast<size_t>(ch)].trigger_mode >= 2);
    };
    event_files_.on_cut = [this](int ch, const runtime::EventSummary& summary) {
        observer_->event_ended(ch, summary, event_seconds(ch, summary), true);
    };
}

timekeeping::BoardClock::Environment Station::board_clock_environment() {
    return {settings_,
            run_,
            platform_.clock,
            platform_.op,
            *board_commands_,
            devices_,
            [this]() -> runtime::StationView& { return *view_; },
            [this]() -> timekeeping::HousekeepingView& { return *housekeeping_view_; },
            [this]() -> timekeeping::SecondListener& { return *second_listener_; },
            [this](std::string_view line) { AppendEventLog(line); },
            [this](std::string_view line) { AppendTimeLog(line); },
            [this](double seconds) { WaitSeconds(seconds); },
            [this] { discard_board_input(); },
            [this](const runtime::StepFailure& failure) { report_step_failure(failure); },
            [this] { return time_from_pc_clock(); },
            [this] { return reading_second(); },
            [this] {
                if (clock_trim_.window_open()) clock_trim_.MeasureTrim();
            }};
}

timekeeping::PeriodicTimer::Environment Station::timer_environment() {
    return {settings_,
            run_,
            platform_.fs,
            platform_.port,
            folder_,
            event_log_.path(),
            ProgressMarker,
            errors_,
            alarms_,
            detector_,
            board_clock_,
            devices_,
            [this]() -> runtime::StationView& { return *view_; },
            [this]() -> timekeeping::HousekeepingView& { return *housekeeping_view_; },
            [this]() -> runtime::StationObserver& { return *observer_; },
            [this](std::string_view line) { AppendEventLog(line); },
            [this] { return in_run_; },
            [this] { return starting_; },
            [this](double seconds) { WaitSeconds(seconds); },
            [this] { discard_board_input(); },
            [this] {
                return SecondsSinceLastData() > 30 &&
                       SecondsSinceLastRestart() >= kRestartGraceSeconds;
            }};
}

timekeeping::ClockTrim::Environment Station::trim_environment() {
    return {run_,
            settings_,
            platform_.op,
            *board_commands_,
            [this] { return in_run_ && run_.acquisition_running == 1; },
            [this] { return board_clock_.state().last_sync_text; }};
}

events::Alarms::Environment Station::alarm_environment() {
    return {platform_.fs,
            settings_,
            devices_,
            folder_,
            [this] {
                // Input line 2 is active low.
                return (board_clock_.state().board_status & 0x10) == 0 &&
                       run_.acquisition_running == 1;
            },
            [this](std::string_view line) { AppendEventLog(line); }};
}

events::EventFiles::Environment Station::event_environment() {
    events::EventFiles::Environment environment{platform_.fs, settings_, run_,    detector_,
                                                event_log_,   nullptr,   nullptr, nullptr,
                                                nullptr,      nullptr,   nullptr, nullptr};
    environment.facts = [this](int ch, double start_epoch) {
        return events::HeaderFacts{text::format_datetime(text::from_epoch_seconds(start_epoch)),
                                   run_.configured_rate[static_cast<size_t>(ch)], lock_text(),
                                   time_reference(), run_.board_description};
    };
    environment.report_error = [this](int, const std::string& what) { report_write_failure(what); };
    environment.trace = [this](const std::string& line) {
        if (settings_.general.service_mode == 3 && trace) trace(line);
    };
    environment.alarm_test = [this](int ch, int32_t value) {
        alarms_.alarm_request(ch, value);
        // The observer hears of the first sample of an event beyond the threshold.
        const auto c = static_cast<size_t>(ch);
        if (ch < 0 || ch >= config::kChannels || alarm_observed_[c]) return;
        const auto& channel = settings_.channels[c];
        if (channel.alarm_enabled > 0 && std::llabs(static_cast<long long>(value)) >
                                             static_cast<long long>(channel.alarm_threshold)) {
            alarm_observed_[c] = true;
            observer_->alarm_exceeded(ch, value, channel.alarm_threshold);
        }
    };
    environment.file_finished = [this](int ch, const std::string& path) {
        for (auto& [number, hook] : event_file_hooks_) hook(ch, path);
    };
    environment.event_closed = [this](int ch, const runtime::EventSummary& summary) {
        // The figures of the event log's line, so both say the same of the event.
        if (!alarms_.WriteCommandFiles(summary)) {
            report_write_failure("Event " + summary.file_name + ": command file not written");
        }
        alarms_.event_closed();
        observer_->event_ended(ch, summary, event_seconds(ch, summary), false);
    };
    return environment;
}

double Station::event_seconds(int ch, const runtime::EventSummary& event) const {
    double rate = run_.configured_rate[static_cast<size_t>(ch)];
    return rate > 0 ? event.lines / rate : 0;
}

// A file that could not be written: reported like any failing statement of the run
// (error 75, path/file access error), and the run goes on.
void Station::report_write_failure(const std::string& what) {
    if (settings_.general.service_mode != 0) throw runtime::FatalError(what);
    WriteDiagnosticLine("Runtime Error " + what);
    errors_.ReportError({75, what}, ProgressMarker, "START");
}

void Station::board_second_done() {
    // Triggering starts once a sample has fallen on a whole second.
    if (run_.second_started) detector_.trigger_armed = true;
    detector_.TriggerSecondTick();
    event_files_.flush();
    datalog::DatalogWriter::Second second;
    second.board_time = text::from_epoch_seconds(acquisition_second());
    second.lock = run_.lock_state == "L" ? 'L' : 'N';
    second.rates = run_.configured_rate;
    second.exact_seconds =
        driver_ && !driver_->paced_by_pc_clock() && config::is_zeda(settings_.general.ad_type);
    second.utc_offset = board_clock_.state().utc_offset;
    datalog_.DatalogFlush(second, settings_,
                          [this](int, const std::string& what) { report_write_failure(what); });
    log_filled_samples(false);
}

void Station::log_filled_samples(bool run_end) {
    // Samples the line lost are filled so that later ones keep their place; the time log
    // says so once for each hour in which it happened.
    const double hour = std::floor(acquisition_second() / 3600);
    if (!run_end && (filled_hour_ < 0 || hour == filled_hour_)) {
        filled_hour_ = hour;
        return;
    }
    filled_hour_ = hour;
    // Samples over a second's rate are dropped; they are told the same way.
    auto tell = [this](const std::array<long, config::kChannels>& counted,
                       std::array<long, config::kChannels>& logged, const char* what) {
        for (int ch = 0; ch < config::kChannels; ++ch) {
            auto c = static_cast<size_t>(ch);
            long count = counted[c] - logged[c];
            if (count > 0) {
                AppendTimeLog(std::to_string(count) + what + std::to_string(ch + 1));
            }
        }
        logged = counted;
    };
    tell(datalog_.filled(), filled_logged_, " samples filled on channel ");
    tell(datalog_.over_rate(), over_rate_logged_, " samples over the rate cut on channel ");
}

void Station::discard_board_input() {
    platform_.port.discard_input();
    if (in_run_) {
        datalog_.samples_interrupted(
            settings_, [this](int, const std::string& what) { report_write_failure(what); });
    }
}

double Station::acquisition_second() const {
    if (run_.board_epoch_second > 0) return run_.board_epoch_second;
    return std::floor(text::to_epoch_seconds(platform_.clock.now()));
}

Station::~Station() = default;

void Station::set_view(runtime::StationView* view) {
    view_ = view ? view : &default_view_;
}

void Station::set_consumers(runtime::SampleConsumers* consumers) {
    consumers_ = consumers ? consumers : &default_consumers_;
}

std::string Station::load(const std::function<void(const std::string&)>& report_failure) {
    ProgressMarker = 1;
    // With `report_failure`, a data folder or event log that cannot be written is reported and the
    // load goes on: the operator can name another folder in the setup window.
    auto fail = [&report_failure](const std::string& what) {
        if (report_failure) report_failure(what);
        return report_failure ? std::string() : what;
    };
    auto& fs = platform_.fs;
    if (auto made = fs.create_directories(folder_); !made) {
        return "Cannot create the station folder " + folder_ + ": " + made.error;
    }
    view_->set_title(std::string(runtime::kProgramVersion) + " - FDS:");
    // Each data folder must take a file; a folder that does not is created.
    for (const char* name : {"events", "datalog", "drums", "events/sent"}) {
        std::string dir = platform::join_path(folder_, name);
        std::string probe = platform::join_path(dir, "test.$%&");
        auto written = fs.write_file(probe, "");
        if (written) {
            (void)fs.remove(probe);  // an empty probe left behind harms nothing
            continue;
        }
        if (auto made = fs.create_directories(dir); !made) {
            if (auto failed = fail("Cannot create the folder " + dir + ": " + made.error);
                !failed.empty()) {
                return failed;
            }
            continue;
        }
        written = fs.write_file(probe, "");
        if (!written) {
            if (auto failed = fail("Cannot write in the folder " + dir + ": " + written.error);
                !failed.empty()) {
                return failed;
            }
            continue;
        }
        (void)fs.remove(probe);
    }
    if (!event_log_.append("STARTING VELKANTOR...")) {
        if (auto failed = fail("Cannot write the event log " + event_log_.path());
            !failed.empty()) {
            return failed;
        }
    }
    ProgressMarker = 2;
    config::ReadSchedule(settings_, fs, folder_);
    auto report = config::ReadConfiguration(settings_, fs, folder_);
    if (!report.fatal_error.empty()) throw runtime::FatalError(report.fatal_error);
    if (report.created && !report.write) {
        return "Cannot write the settings file in " + folder_ + ": " + report.write.error;
    }
    ProgressMarker = 3;
    set_clipping_limits();
    board_clock_.load();
    timer_.set_no_charts_box(settings_.general.no_charting != 0);
    // Autostart is armed (2): the timer presses START on its next tick.
    if (settings_.general.autostart == 1) {
        settings_.general.autostart = 2;
        view_->set_autostart_box(true);
    }
    return {};
}

void Station::set_clipping_limits() {
    switch (settings_.general.ad_type) {
        case config::kZeda18:
            run_.clip_upper = 131070;
            break;
        case config::kZeda20:
            run_.clip_upper = 8388606;
            break;
        default:
            run_.clip_upper = 32766;
            break;
    }
    run_.clip_lower = -run_.clip_upper;
}

void Station::WriteDiagnosticLine(std::string_view text) {
    diagnostic_file_.WriteDiagnosticLine(platform_.clock.now(), text);
}

int Station::SecondsSinceLastData() const {
    // On the monotonic clock: a PC clock set back (summer time ending) is no silence of the
    // board, and one set forward hides none.
    return static_cast<int>(
        text::round_half_even(platform_.clock.monotonic() - run_.last_data_time));
}

void Station::count_bad_frame() {
    run_.bad_frames += 1;
    run_.rejected_frames += 1;
    view_->set_bad_frames(run_.bad_frames);
}

void Station::send(std::string_view bytes) {
    if (!platform_.port.is_open()) throw runtime::StepFailure(8012, "The device is not open");
    if (!platform_.port.write(bytes)) throw runtime::StepFailure(57, "Device I/O error");
}

runtime::BoardCommands& Station::board_commands() {
    return *board_commands_;
}

bool Station::open_port() {
    auto result = platform_.port.open();
    if (result) return true;
    if (result.error == platform::OpenError::invalid_port) {
        platform_.op.message("Error", "Comm Port not valid", platform::MessageIcon::critical);
    } else {
        platform_.op.message("Error",
                             "Comm Port " + std::to_string(settings_.general.comm_port) +
                                 " cannot be opened: " + result.text,
                             platform::MessageIcon::critical);
    }
    AppendEventLog("Comm Port COM" + std::to_string(settings_.general.comm_port) +
                   " not opened: " + result.text);
    return false;
}

void Station::refuse(bool clear_autostart) {
    refused_ = true;
    if (clear_autostart) {
        settings_.general.autostart = 0;
        view_->set_autostart_box(false);
    }
    if (platform_.port.is_open()) platform_.port.close();
}

void Station::report_step_failure(const runtime::StepFailure& failure) {
    if (settings_.general.service_mode != 0) throw runtime::FatalError(failure.what());
    WriteDiagnosticLine(std::string("Runtime Error ") + failure.what());
    errors_.ReportError({failure.number, failure.what()}, ProgressMarker, "START");
}

// The run's error handler: with service mode 0 a failing step is written to the
// diagnostic file, reported, and the run goes on with the next step.
void Station::run_step(const std::function<void()>& step) {
    try {
        step();
    } catch (const runtime::StepFailure& failure) {
        report_step_failure(failure);
    }
}

namespace {

// Clears a flag when the scope that set it is left, however it is left.
struct FlagScope {
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;
    bool& flag_;
};

}  // namespace

void Station::WaitSeconds(double seconds) {
    platform_.host.wait(seconds);
    end_startup_if_stopped();
}

void Station::wait_for_input(double seconds) {
    platform_.host.wait_for_input(seconds);
    end_startup_if_stopped();
}

void Station::end_startup_if_stopped() const {
    // Only the start-up's own pauses end it: a pause of the timer's housekeeping (the
    // watchdog pulse), run while the start-up waits, goes back to that wait first.
    if (in_tick_) return;
    if ((starting_ && stop_requested_) || (in_start_block_ && run_.acquisition_running != 1)) {
        throw StartupStopped{};
    }
}

bool Station::startup_checks() {
    ProgressMarker = 300;
    // Two channels writing events with the same extension would overwrite each other.
    for (int i = 0; i < config::kChannels; ++i) {
        for (int j = 0; j < config::kChannels; ++j) {
            if (i == j) continue;
            if (upper_equal(settings_.channels[static_cast<size_t>(i)].event_extension,
                            settings_.channels[static_cast<size_t>(j)].event_extension)) {
                platform_.op.message("Error.",
                                     "File extensions mismatch for channel " +
                                         std::to_string(i + 1) + " and " + std::to_string(j + 1) +
                                         ". Check [f.extens.] field and retry.",
                                     platform::MessageIcon::critical);
                return false;
            }
        }
    }
    const std::string& events = settings_.general.events_folder;
    if (!platform_.fs.is_directory(events)) {
        bool create = platform_.op.ask_yes_no("Warning!",
                                              "The event folder " + events + kCrLf +
                                                  " named on HW Setup doesn't exists!" + kCrLf +
                                                  "Do you want to create it?",
                                              true);
        if (create) {
            if (auto made = platform_.fs.create_directories(events); !made) {
                platform_.op.message(
                    "ERROR!", "The event folder " + events + " cannot be created: " + made.error,
                    platform::MessageIcon::critical);
            }
        } else {
            platform_.op.message("ERROR!", "The program will crash at first event recording.",
                                 platform::MessageIcon::critical);
        }
    }
    return true;
}

bool Station::start() {
    // START is not enabled while a run or a start-up is in progress: nothing may press it
    // again from inside its own questions and pauses (the timer's autostart included).
    if (in_run_ || starting_) return false;
    FlagScope starting(starting_);
    stop_requested_ = false;
    refused_ = false;
    run_end_ = RunEnd::none;
    if (!startup_checks()) {
        run_end_ = RunEnd::refused_by_settings;
        // Autostart would press START again at the next tick, message after message, before
        // the operator could mend the settings.
        refuse();
        common_exit();
        return false;
    }
    const auto& general = settings_.general;
    view_->set_run_controls(true, false, false);
    settings_.general.autostart = 1;
    view_->set_autostart_box(true);
    run_.restart_request = 1;
    run_.acquisition_running = 1;
    run_.data_frames = 0;
    run_.time_frames = 0;
    run_.rejected_frames = 0;
    // The handshake tells this run's firmware; an instrument has none.
    run_.firmware_version.clear();
    run_.outage_since = -1;
    run_.outage_logged_at = -1;
    // Nothing the last run derived from its board is this run's (a frame cut by the last
    // STOP, its board second, date and lock, a measured rate), and who set the board clock
    // is this run's to learn.
    board_clock_.run_started();
    begin_board_stream(StreamBegin::start);
    event_files_.run_started();
    run_.last_restart_time = -1;
    AppendTimeLog("START - Sync mode:" + board_clock_.state().sync_source_label +
                  " Status:Unlocked");
    ProgressMarker = 301;
    run_.last_data_time = platform_.clock.monotonic();

    driver_ = make_board_driver(general.ad_type);
    if (!driver_) {
        platform_.op.message("Error",
                             "The A/D interface " +
                                 std::string(config::ad_type_name(general.ad_type)) +
                                 " is not supported by this version.",
                             platform::MessageIcon::critical);
        run_end_ = RunEnd::refused_by_settings;
        refuse();
        common_exit();
        return false;
    }
    bool started = false;
    try {
        started = driver_->start_up(*this);
    } catch (const runtime::StepFailure& failure) {
        if (general.service_mode != 0) throw runtime::FatalError(failure.what());
        errors_.ReportError({failure.number, failure.what()}, ProgressMarker, "START");
    } catch (const StartupStopped&) {
        stopped_during_startup();
        return false;
    }
    if (stop_requested_) {
        stopped_during_startup();
        return false;
    }
    if (!started) {
        // The handshake's refusals are of a board that did not answer as one.
        if (run_end_ == RunEnd::none) run_end_ = RunEnd::board_not_found;
        refuse();
        common_exit();
        return false;
    }
    // The silence watch begins when the board has been started: a slow handshake is no
    // silence of the board.
    run_.last_data_time = platform_.clock.monotonic();
    set_clipping_limits();
    // The handshake may have changed the interface type, and with it the sample width.
    datalog_.start(settings_.general.ad_type);
    filled_logged_.fill(0);
    over_rate_logged_.fill(0);
    filled_hour_ = -1;
    view_->set_title(std::string(runtime::kProgramVersion) + " " + run_.board_description +
                     " - FDS:");

    ProgressMarker = 305;
    for (int c = 0; c < config::kChannels; ++c) {
        const auto& channel = settings_.channels[static_cast<size_t>(c)];
        int rate = config::start_rate(channel.sps_index);
        run_.configured_rate[static_cast<size_t>(c)] = rate;
        conditioner_.design(c, channel.period_extender, rate);
    }
    consumers_->run_started();
    in_run_ = true;
    return true;
}

void Station::stopped_during_startup() {
    // As STOP's exit sequence leaves a run: autostart off, port closed, START enabled; the
    // board had not sent a sample, so there is nothing to finish.
    run_end_ = RunEnd::stopped;
    view_->set_busy(false);
    settings_.general.autostart = 0;
    view_->set_autostart_box(false);
    AppendEventLog("STOP");
    if (platform_.port.is_open()) platform_.port.close();
    common_exit();
}

void Station::begin_board_stream(StreamBegin how) {
    // What the run derives from its board's stream is built anew here, the same way at START
    // and at a restart after an outage: the stream's own state (frames, board second, lock,
    // measured rates, pre-event samples), the board time and day turn, triggering that waits
    // for the first whole second, both warm-ups and the auto offset's level; after a
    // restart, the drums' pens and the spectrum's block too (at START their run begins).
    run_.begin_stream();
    board_clock_.board_restarted();
    detector_.trigger_armed = false;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        detector_.ResetDetector(ch, settings_.channels[static_cast<size_t>(ch)]);
    }
    conditioner_.reset_averages();
    if (how == StreamBegin::restart) consumers_->board_restarted();
}

void Station::log_restart() {
    // A board gone for the night would write a line at every attempt (every half minute)
    // and the 64,000-byte rule would then wipe the event summaries: the first restart of an
    // outage is logged, then one line an hour while it lasts.
    const double now = platform_.clock.monotonic();
    if (run_.outage_since < 0) {
        run_.outage_since = run_.last_data_time;
    } else if (now - run_.outage_logged_at < kOutageLogSeconds) {
        return;
    }
    const bool first = run_.outage_logged_at < 0;
    run_.outage_logged_at = now;
    AppendEventLog("Warning! A/D card restarted.");
    if (first) observer_->board_lost();
}

void Station::data_after_outage() {
    auto seconds = static_cast<long>(
        std::lround(std::max(0.0, platform_.clock.monotonic() - run_.outage_since)));
    run_.outage_since = -1;
    run_.outage_logged_at = -1;
    observer_->board_back(static_cast<double>(seconds));
    AppendEventLog("A/D card data back after " + std::to_string(seconds / 3600) + ":" +
                   text::zero_padded(static_cast<int>(seconds / 60 % 60), 2) + ":" +
                   text::zero_padded(static_cast<int>(seconds % 60), 2) + " without data.");
}

void Station::start_restart_block() {
    view_->set_lock_indicator("N");
    const bool restart = run_.restart_request > 1;
    if (restart) {
        run_step([&] { close_board_stream(StreamClose::restart); });
        begin_board_stream(StreamBegin::restart);
    }
    bool refused = false;
    {
        FlagScope in_block(in_start_block_);
        try {
            run_step([&] {
                if (restart) {
                    if (platform_.port.is_open()) platform_.port.close();
                    WaitSeconds(1);
                    run_.last_restart_time = platform_.clock.monotonic();
                    auto reopened = platform_.port.open();
                    log_restart();
                    if (!reopened) {
                        throw runtime::StepFailure(8002, "Invalid port number: " + reopened.text);
                    }
                }
                for (int c = 0; c < config::kChannels; ++c) {
                    run_.configured_rate[static_cast<size_t>(c)] =
                        config::start_rate(settings_.channels[static_cast<size_t>(c)].sps_index);
                }
                refused = !driver_->send_start(*this);
            });
        } catch (const StartupStopped&) {
            // STOP during a start script: the run ends at the top of the next pass.
        }
    }
    run_.restart_request = 0;
    view_->set_bad_frames(0);
    if (refused && run_.acquisition_running == 1) {
        // A driver says when its board is missing; otherwise the start commands' rate rules
        // refused the settings.
        if (run_end_ == RunEnd::none) run_end_ = RunEnd::refused_by_settings;
        refuse();
        run_.acquisition_running = 0;
    }
}

PassResult Station::pass() {
    PassResult result;
    if (!in_run_) {
        result.ended = true;
        return result;
    }
    if (run_.acquisition_running != 1) {
        exit_sequence();
        result.ended = true;
        return result;
    }
    ProgressMarker = 306;
    run_.main_loop_alive = 1;
    if (run_.restart_request > 0) {
        bool restarting = run_.restart_request > 1;
        start_restart_block();
        if (run_.acquisition_running != 1) {
            if (restarting || !refused_) {
                // A board lost while running, or STOP during the start script: what was
                // recorded is finished and saved as at STOP (event files, datalog, drums),
                // not left open, and the port is closed.
                exit_sequence();
            } else {
                // Refused before any data: nothing to finish.
                in_run_ = false;
                common_exit();
            }
            result.ended = true;
            return result;
        }
    }
    ProgressMarker = 308;
    ProgressMarker = 310;
    if (platform_.port.bytes_waiting() <= 3) {
        run_.idle_passes += 1;
        result.idle = true;
    } else {
        run_step([&] {
            driver_->gather(*this);
            if (run_.last_byte >= 0xF0) dispatch_frame();
        });
    }
    auto tick = static_cast<int64_t>(std::floor(platform_.clock.timer() * 10));
    if (tick != run_.last_yield_tick) {
        if (settings_.general.service_mode != 0) {
            view_->show_idle_passes(run_.idle_passes);
            run_.idle_passes = 0;
        }
        run_.last_yield_tick = tick;
        result.yield = true;
    }
    return result;
}

void Station::dispatch_frame() {
    std::string frame = std::move(run_.frame_buffer);
    run_.frame_buffer.clear();
    // The terminator's bits still apply when a wrong-length frame was replaced.
    auto terminator = static_cast<uint8_t>(run_.last_byte);
    run_.last_byte = 0;
    auto type = static_cast<uint8_t>(frame.front());
    if (type == 0x81) {
        // A new board second: the board clock checks it and restarts the per-channel
        // counters; then the second's work of the trigger, the event files and the datalog.
        run_.time_frames += 1;
        if (board_clock_.ProcessBoardTimeFrame(frame)) board_second_done();
        consumers_->board_time_frame(frame);
    } else if (type >= 0x82 && type <= 0x85) {
        int ch = (type - 0x82) & 3;
        run_.data_frames += 1;
        run_.last_data_time = platform_.clock.monotonic();
        if (run_.outage_since >= 0) data_after_outage();
        run_.raw_sample[static_cast<size_t>(ch)] = driver_->decode(frame, terminator);
        sample_chain(ch);
    } else if (type == 0x86) {
        clock_trim_.memory_read_reply(frame);
        consumers_->memory_read_reply(frame);
    } else {
        count_bad_frame();
    }
}

void Station::sample_chain(int ch) {
    auto c = static_cast<size_t>(ch);
    auto& channel = settings_.channels[c];
    if (settings_.general.no_charting == 0) consumers_->chart_pacing(ch);
    if (conditioner_.average(ch, run_)) {
        conditioner_.extend(ch, run_, channel.period_extender);
        run_.new_sample_flag[c] = 1;
        run_.second_check_count[c] = static_cast<int16_t>(run_.second_check_count[c] + 1);
        // In its warm-up the DC level is the sample itself: taken before the sample is
        // conditioned, so the first sample after START or a restart does not carry it.
        if (detector_.channel(ch).dc_warmup > 0) {
            conditioner_.dc_average[c] = run_.raw_sample[c];
        }
        conditioner_.ConditionSample(ch, run_, channel);
        int32_t value = run_.sample_value[c];
        if (channel.datalog_enabled != 0) {
            datalog_.AppendDatalogSample(ch, value);
            consumers_->datalog_append(ch, value);
        } else if (datalog_.has_sink()) {
            datalog_.AppendDatalogSample(ch, value);  // streamed, not logged
        }

        // Pre-event ring: the position runs 1..pre-event length and wraps to 1.
        run_.ring_at(ch, run_.ring_position[c]) = value;
        double length = std::min<double>(channel.pre_event_samples, runtime::kPreEventRingLength);
        run_.ring_position[c] += 1;
        if (run_.ring_position[c] > length) run_.ring_position[c] = 1;
        if (run_.ring_count[c] < runtime::kPreEventRingLength) run_.ring_count[c] += 1;

        run_.second_sample_count[c] += 1;
        if (ch == 0) run_.channel0_sample_total += 1;

        double fraction = 0;
        if (driver_->paced_by_pc_clock()) {
            double measured = run_.measured_rate > 0 ? run_.measured_rate : 50;
            fraction = (run_.second_sample_count[c] - 1) / (measured + 1e-8);
        } else if (run_.configured_rate[c] > 0) {
            fraction = (run_.second_sample_count[c] - 1) / run_.configured_rate[c];
        }
        if (fraction >= 1) fraction = 0.999;
        run_.sample_fraction[c] = fraction;

        if (fraction == 0) run_.second_started = true;
        // The board time of this sample, once the run has seen a whole second begin.
        if (run_.second_started) {
            // Formatted only when the view is to show it: at most ten times a second.
            const int tenth = std::clamp(static_cast<int>(fraction * 10), 0, 9);
            if (run_.board_epoch_second != run_.time_shown_second ||
                tenth > run_.time_shown_tenth) {
                run_.time_shown_second = run_.board_epoch_second;
                run_.time_shown_tenth = tenth;
                view_->show_sample_time(sample_time_text(fraction));
            }
        }

        int slot = static_cast<int>(fraction * 5);
        if (slot != run_.label_slot) {
            view_->show_values(run_.sample_value);
            platform_.host.do_events();
            run_.label_slot = slot;
        }
        detector_.statistics(ch, run_.raw_sample[c], channel);
        conditioner_.dc_average[c] = detector_.channel(ch).dc_average;
        consumers_->detector_statistics(ch, value);
        consumers_->spectrum(ch, value);
        detector_.decide(ch, value, settings_, acquisition_second(), event_files_);
        consumers_->trigger_and_record(ch, value);
    }
    if (settings_.general.no_charting == 0) consumers_->chart_draw(ch, run_.sample_value[c]);
    consumers_->drum(ch, run_.sample_value[c]);
}

std::string Station::sample_time_text(double fraction) const {
    // ".000": the fraction's first three digits, never rounded up into the next second.
    auto thousandths = static_cast<int64_t>(std::floor(fraction * 1000));
    return board_clock_.state().board_time_text + "." +
           text::zero_padded(std::clamp<int64_t>(thousandths, 0, 999), 3);
}

void Station::stop() {
    if (starting_) {
        // The start-up ends at its next pause.
        stop_requested_ = true;
        return;
    }
    if (!in_run_) return;
    if (run_end_ == RunEnd::none) run_end_ = RunEnd::stopped;
    run_.acquisition_running = 0;
    platform_.port.discard_input();
    std::string command = driver_ ? driver_->stop_command() : std::string();
    // STOP runs with errors skipped: a board that is gone cannot be told to stop.
    if (!command.empty() && platform_.port.is_open()) platform_.port.write(command);
}

void Station::close_board_stream(StreamClose how) {
    // What the run derived from the board's stream ends here, the same way at STOP and at a
    // restart after an outage: the datalog writes what it holds (and a restarted stream
    // begins new files), open events end as at STOP (their file must not close the gap up).
    // The next stream begins anew in begin_board_stream.
    auto report = [this](int, const std::string& what) { report_write_failure(what); };
    if (how == StreamClose::stop) {
        datalog_.stop(settings_, report);
    } else {
        datalog_.samples_interrupted(settings_, report);
    }
    for (int ch = 0; ch < config::kChannels; ++ch) {
        event_files_.close_at_stop(ch);
        detector_.run_ended(ch);
    }
}

void Station::exit_sequence() {
    if (run_end_ == RunEnd::none) run_end_ = RunEnd::failed;
    settings_.general.autostart = 0;
    view_->set_autostart_box(false);
    AppendEventLog("STOP");
    close_board_stream(StreamClose::stop);
    log_filled_samples(true);
    auto summary = [this](const std::array<long, config::kChannels>& counted, const char* head) {
        std::string told;
        for (int ch = 0; ch < config::kChannels; ++ch) {
            long count = counted[static_cast<size_t>(ch)];
            if (count > 0) {
                told += (told.empty() ? "" : ", ") + std::to_string(count) + " on channel " +
                        std::to_string(ch + 1);
            }
        }
        if (!told.empty()) AppendEventLog(head + told + ".");
    };
    summary(datalog_.filled(), "Samples filled in this run: ");
    summary(datalog_.over_rate(), "Samples over the rate cut in this run: ");
    for (int ch = 0; ch < config::kChannels; ++ch) consumers_->run_ended(ch);
    view_->show_values(run_.sample_value);
    if (platform_.port.is_open()) platform_.port.close();
    view_->clear_time_display();
    in_run_ = false;
    common_exit();
}

void Station::common_exit() {
    const auto& general = settings_.general;
    bool unlocked = general.settings_locked == 0;
    bool rates_editable =
        unlocked && general.ad_type != config::kInfiltec && general.ad_type != config::kLx1500;
    view_->set_run_controls(false, unlocked, rates_editable);
    run_.acquisition_running = 0;
    in_run_ = false;
}

int Station::SecondsSinceLastRestart() const {
    if (run_.last_restart_time < 0) return 86400;
    return static_cast<int>(
        text::round_half_even(platform_.clock.monotonic() - run_.last_restart_time));
}

void Station::tick() {
    if (in_tick_) return;  // a housekeeping pause does not tick again inside itself
    FlagScope ticking(in_tick_);
    timer_.OnTimerTick();
    for (auto& [number, hook] : tick_hooks_) hook();
}

void Station::exit() {
    if (platform_.port.is_open()) platform_.port.close();
    AppendEventLog("TERMINATING VELKANTOR...");
}

}  // namespace velkantor::acquisition
