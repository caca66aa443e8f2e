#include "timekeeping/periodic_timer.h"

#include "datalog/datalog_reader.h"

namespace velkantor::timekeeping {

std::optional<text::DateTime> datalog_file_date(std::string_view name) {
    // The readers' own name check: the purge deletes exactly the files they read, ".2",
    // ".3", ... (seconds that came again) with the rest, and the notes of filled samples
    // beside them, and nothing else.
    if (name.size() > datalog::kFilledSuffix.size() && name.ends_with(datalog::kFilledSuffix)) {
        name.remove_suffix(datalog::kFilledSuffix.size());
    }
    auto file = datalog::ParseDatalogName(name);
    if (!file) return std::nullopt;
    text::DateTime started = text::from_epoch_seconds(file->start_epoch);
    return text::DateTime{started.year, started.month, started.day, 0, 0, 0, 0};
}

void PeriodicTimer::step(int marker, const std::function<void()>& body) {
    env_.progress_marker = static_cast<int16_t>(marker);
    try {
        body();
    } catch (const runtime::StepFailure& failure) {
        if (env_.settings.general.service_mode != 0) {
            throw runtime::FatalError(failure.what());
        }
        env_.errors.ReportError({failure.number, failure.what()}, marker, "Timer 1");
    }
}

void PeriodicTimer::OnTimerTick() {
    const int16_t remembered = env_.progress_marker;
    auto& run = env_.run;
    step(200, [&] { channel_indicators(); });
    step(201, [&] { event_list_check(); });
    step(202, [&] { bad_frame_counter(); });
    if (run.acquisition_running != 1) step(203, [&] { idle_time_display(); });
    step(204, [&] { stop_button(); });
    step(205, [&] { restart_request(); });
    // A main loop that runs but does not pass any more gets no pulse and no heartbeat, so
    // the supervision outside notices the stall.
    if (run.main_loop_alive == 1 || run.acquisition_running != 1) {
        run.main_loop_alive = 0;
        step(206, [&] { heartbeat(); });
        step(207, [&] { watchdog(); });
    }
    step(208, [&] { serial_input(); });
    step(209, [&] { autostart(); });
    step(210, [&] { buffer_guard(); });
    step(211, [&] { alarm_outputs(); });
    env_.progress_marker = 212;
    free_disk_space();
    step(213, [&] { purge(); });
    env_.progress_marker = remembered;
}

void PeriodicTimer::channel_indicators() {
    events::Detector& detector = env_.detector;
    HousekeepingView& view = env_.housekeeping_view();
    detector.refresh_captions();
    for (int ch = 0; ch < config::kChannels; ++ch) {
        view.show_trigger_indicator(ch, detector.channel(ch).trigger_countdown > 0);
        view.show_record_button(ch, detector.channel(ch).stop_caption);
    }
}

void PeriodicTimer::event_list_check() {
    if (++event_file_check_ticks_ <= 120) return;
    event_file_check_ticks_ = 0;
    // An emptied event list ends the event alarm.
    auto size = env_.fs.file_size(env_.event_log_path);
    if (size && *size < 20) env_.alarms.event_recorded = 0;
}

void PeriodicTimer::bad_frame_counter() {
    auto& run = env_.run;
    if (++badrx_reset_ticks_ > 600 && run.bad_frames < 5) {
        badrx_reset_ticks_ = 0;
        run.bad_frames = 0;
        env_.view().set_bad_frames(0);
    }
}

void PeriodicTimer::idle_time_display() {
    BoardClock& clock = env_.board_clock;
    clock.RefreshPcTimestamp();
    env_.housekeeping_view().show_pc_time(clock.state().pc_now_text +
                                          clock.state().pc_fraction_text);
    env_.housekeeping_view().show_time_window(clock.time_window_texts());
}

void PeriodicTimer::stop_button() {
    if (env_.detector.any_recording()) {
        env_.housekeeping_view().enable_stop_button(false);
    } else if (env_.run.acquisition_running == 1) {
        env_.housekeeping_view().enable_stop_button(true);
    }
}

void PeriodicTimer::restart_request() {
    // A silent board is restarted by the main loop. A board takes up to a second to send
    // after its start command, so a restart that has just been made is left to work a few
    // seconds: restarting it on every tick would close the port on its first frames.
    auto& run = env_.run;
    if (run.acquisition_running == 1 && env_.restart_due()) {
        run.restart_request = 2;
    }
}

void PeriodicTimer::heartbeat() {
    if (env_.settings.general.use_velkmon != 1) return;
    std::string path = platform::join_path(env_.folder, "velkant.dct");
    if (auto written = env_.fs.replace_file(path, "doctor\r\n"); !written) {
        throw runtime::StepFailure(75, path + ": " + written.error);
    }
}

void PeriodicTimer::watchdog() {
    const auto& general = env_.settings.general;
    HousekeepingView& view = env_.housekeeping_view();
    if (general.watchdog_enabled != 1) {
        view.show_watchdog_bit(false);
        return;
    }
    events::Alarms& alarms = env_.alarms;
    watchdog_ticks_ += 1;
    if (watchdog_ticks_ == general.watchdog_period - 3) {
        alarms.LptWrite(general.lpt_port,
                        static_cast<int16_t>(alarms.LptRead(general.lpt_port) | 1));
        env_.wait(0.1);
        alarms.LptWrite(general.lpt_port,
                        static_cast<int16_t>(alarms.LptRead(general.lpt_port) & 0xFE));
        watchdog_ticks_ += 1;
        view.show_watchdog_bit(true);
    }
    if (watchdog_ticks_ > general.watchdog_period) {
        view.show_watchdog_bit(false);
        watchdog_ticks_ = 0;
    }
}

void PeriodicTimer::serial_input() {
    auto& run = env_.run;
    if (run.acquisition_running != 1) {
        env_.port.discard_input();
    } else if (run.bad_frames > 5 && env_.port.bytes_waiting() < 20) {
        env_.event_log("Noisy serial communications.");
        run.bad_frames = 0;
        env_.view().set_bad_frames(0);
    }
}

void PeriodicTimer::autostart() {
    // Armed (2) by the load; START makes it 1, a refusal or a stop 0. START is pressed only
    // where it is enabled: not during a run, nor while START is still asking or waiting.
    if (!env_.in_run() && !env_.starting() && env_.settings.general.autostart == 2) {
        start_requested_ = true;
    }
}

void PeriodicTimer::buffer_guard() {
    auto& general = env_.settings.general;
    auto& port = env_.port;
    const size_t size = port.buffer_size();
    if (size > 0) {
        double load = static_cast<double>(port.bytes_waiting()) / static_cast<double>(size);
        if (load > 0.65) {
            // Drawing is what a slow machine can shed; the data must not be lost.
            general.no_charting = 1;
            if (!buffer_warned_) {
                buffer_warned_ = true;
                env_.event_log("Serial buffer at 65%. Chart draw disabled");
            }
        } else {
            buffer_warned_ = false;
        }
        if (load > 0.95) {
            env_.discard_board_input();
            env_.event_log("Serial buffer overload. Buffer flushed.");
        }
        if (!no_charts_box_ && general.no_charting > 0 && load < 0.25) general.no_charting = 0;
    }
    env_.housekeeping_view().show_buffer_load(port.bytes_waiting(), size);
}

void PeriodicTimer::alarm_outputs() {
    events::Alarms& alarms = env_.alarms;
    HousekeepingView& view = env_.housekeeping_view();
    alarms.AlarmTick();
    view.show_alarm_bit((alarms.LptRead(env_.settings.general.lpt_port) & 2) != 0);
    if (alarms.event_recorded == 1) {
        events_blink_ = !events_blink_;
        view.show_events_blink(events_blink_);
    } else {
        view.show_events_blink(false);
    }
}

void PeriodicTimer::free_disk_space() {
    std::string fds = "FDS: N.A.";
    if (const platform::DiskSpace* disk = env_.devices.disk_space) {
        if (auto free = disk->free_bytes(env_.folder)) {
            fds = "FDS: " + std::to_string(*free / 1000) + " Kb";
            env_.observer().disk_space_checked(*free);
        }
    }
    env_.housekeeping_view().show_free_disk_space(fds);
}

void PeriodicTimer::purge() {
    const auto& general = env_.settings.general;
    const auto& run = env_.run;
    // Ages are counted from the board's date, the clock the files are named by. The PC's
    // date can be years off (a mistyped year, a wrong board date copied to the PC) and would
    // delete the whole datalog; until the run's first time frame there is no date to go by.
    if (general.never_purge != 0 || run.acquisition_running != 1 || run.board_epoch_second <= 0) {
        return;
    }
    const std::string folder = platform::join_path(env_.folder, "datalog");
    // One file per tick; the listing is taken again each time the index wraps.
    if (purge_index_ >= purge_list_.size()) {
        purge_index_ = 0;
        purge_list_ = env_.fs.list_directory(folder);
        if (purge_list_.empty()) return;
    }
    const std::string name = purge_list_[purge_index_++];
    auto started = datalog_file_date(name);
    if (!started) return;
    const text::DateTime today = text::from_epoch_seconds(run.board_epoch_second);
    int64_t age = text::days_from_civil(today.year, today.month, today.day) -
                  text::days_from_civil(started->year, started->month, started->day);
    // A file dated after the board's day is never old, whatever the purge setting says: the
    // board clock itself may be the one that is wrong now.
    if (age < 0 || age <= general.purge_days) return;
    std::string path = platform::join_path(folder, name);
    if (auto removed = env_.fs.remove(path); !removed && env_.fs.exists(path)) {
        throw runtime::StepFailure(75, path + ": " + removed.error);
    }
}

}  // namespace velkantor::timekeeping
