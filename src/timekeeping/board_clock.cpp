#include "timekeeping/board_clock.h"

#include <cmath>
#include <cstdlib>

#include "runtime/firmware.h"
#include "text/number_text.h"
#include "timekeeping/date_format_check.h"

namespace velkantor::timekeeping {

namespace {

std::string two_digits(int value) {
    return text::zero_padded(value, 2);
}

std::optional<text::DateTime> parse_date(const std::string& date) {
    return text::parse_datetime(date + " 00:00:00");
}

// Seconds since midnight of a well-formed "HH:MM:SS".
int seconds_of_day(std::string_view time) {
    auto field = [&](size_t at) { return (time[at] - '0') * 10 + (time[at + 1] - '0'); };
    if (time.size() != 8) return 0;
    return field(0) * 3600 + field(3) * 60 + field(6);
}

const platform::ProgramDateFormats kProgramFormats;

std::string next_day(const std::string& date) {
    auto day = parse_date(date);
    if (!day) return date;
    return text::format_date(
        text::civil_from_days(text::days_from_civil(day->year, day->month, day->day) + 1));
}

}  // namespace

bool time_frame_has_date(std::string_view v) {
    return runtime::firmware(v).dated_time_frames;
}
bool time_frame_date_used(std::string_view v) {
    return runtime::firmware(v).date_trusted;
}
bool needs_midnight_date_fix(std::string_view v) {
    return runtime::firmware(v).date_late_at_midnight;
}
bool sets_pc_date(std::string_view v) {
    return runtime::firmware(v).date_sets_pc_date;
}

std::string normalise_pc_now(std::string text) {
    // A short form without the hour's leading zero, or midnight shown as the date alone.
    if (text.size() == 18) text = text.substr(0, 10) + " 0" + text.substr(text.size() - 7);
    if (text.size() < 17) text += " 00:00:00";
    for (size_t at : {13u, 16u}) {
        if (text.size() > at && text[at] == '.') text[at] = ':';
    }
    return text;
}

void BoardClock::load() {
    const auto& general = env_.settings.general;
    state_.sync_source_label = general.sync_source != 0 ? "DCF" : "GPS";
    const platform::DateFormats& formats =
        env_.devices.date_formats ? *env_.devices.date_formats : kProgramFormats;
    SystemDateFormats found = probe_date_formats(formats);
    state_.system_date_format = found.date_format;
    state_.system_time_format = found.time_format;
    if (general.no_version_warn == 0 && !found.expected) {
        auto now = env_.clock.now();
        env_.op.warn(date_format_warning(found, general.service_mode, formats.short_date(now),
                                         formats.short_time(now)));
    }
    env_.run.lock_state = "N";
}

void BoardClock::run_started() {
    clear_board_time();
    state_.time_source = BoardTimeSource::pc;
    state_.utc_offset = 0;
    last_pc_sync_second_ = -1;
    pc_clock_off_ = false;
}

void BoardClock::board_restarted() {
    clear_board_time();
}

void BoardClock::clear_board_time() {
    state_.board_seconds = 0;
    state_.board_minutes = 0;
    state_.board_hours = 0;
    state_.board_status = 0;
    state_.raw_time_frame.clear();
    state_.board_time_text.clear();
    state_.board_date_text.clear();
    state_.board_datetime_text.clear();
    state_.board_second_of_day = 0;
    state_.previous_board_time.clear();
    state_.rollover_reference.clear();
    state_.sync_handled = 0;
    state_.bad_time_flag = 0;
    skip_next_jump_check_ = false;
}

bool BoardClock::ProcessBoardTimeFrame(std::string_view frame) {
    auto& run = env_.run;
    const auto& general = env_.settings.general;
    SecondListener& listener = env_.second_listener();
    if (!decode(frame)) return false;

    bool time_valid =
        state_.board_seconds <= 59 && state_.board_minutes <= 59 && state_.board_hours <= 23;
    bool corrected = !time_valid || !parse_date(state_.board_date_text);
    if (corrected) correct_bad_time();

    midnight_date_fix();
    if (general.no_charting == 0) listener.draw_time_marks();

    state_.board_datetime_text = state_.board_date_text + " " + state_.board_time_text;
    state_.board_second_of_day = seconds_of_day(state_.board_time_text);
    run.measured_rate = run.second_sample_count[0];
    run.last_second_count = run.second_sample_count;
    run.second_sample_count.fill(0);

    if (auto stamp = text::parse_datetime(state_.board_datetime_text)) {
        run.board_epoch_second = text::to_epoch_seconds(*stamp);
    }

    count_samples();
    listener.board_time_of_day(state_.board_second_of_day);
    listener.show_measured_rate(run.measured_rate);
    env_.housekeeping_view().show_second_sample_counts(run.last_second_count, run.configured_rate);

    synchronisation();
    update_lock();
    update_utc_offset();
    env_.housekeeping_view().show_input_lines((state_.board_status & 0x08) != 0,
                                              (state_.board_status & 0x10) != 0);
    auto pc_now = env_.clock.now();
    pc_to_board(pc_now);
    board_to_pc(pc_now);
    RefreshPcTimestamp();
    env_.housekeeping_view().show_time_window(time_window_texts());
    jump_check(corrected);
    return true;
}

std::string_view BoardClock::firmware() const {
    // The instruments without a clock of their own send the short frame whatever firmware
    // a ZEDA board of an earlier run reported.
    if (!config::is_zeda(env_.settings.general.ad_type)) return {};
    return env_.run.firmware_version;
}

bool BoardClock::decode(std::string_view frame) {
    std::string_view firmware = this->firmware();
    bool dated = time_frame_has_date(firmware);
    if (frame.size() != (dated ? 9u : 6u)) return false;
    auto byte = [&](size_t i) { return static_cast<int16_t>(static_cast<uint8_t>(frame[i])); };
    state_.raw_time_frame = frame;
    size_t at = dated ? 4 : 1;
    state_.board_seconds = byte(at);
    state_.board_minutes = byte(at + 1);
    state_.board_hours = byte(at + 2);
    state_.board_status = byte(at + 3);
    state_.board_time_text = two_digits(state_.board_hours) + ":" +
                             two_digits(state_.board_minutes) + ":" +
                             two_digits(state_.board_seconds);
    if (auto reading = env_.reading_second()) {
        // An instrument's seconds are the PC's: its frame is dated by the PC second it was
        // made for (a PC clock set back over midnight, or by half a day, turns the day back
        // with it; the time of day alone cannot tell).
        state_.board_date_text =
            text::format_date(text::from_epoch_seconds(static_cast<double>(*reading)));
    } else if (time_frame_date_used(firmware)) {
        state_.board_date_text = text::zero_padded(2000 + byte(1), 4) + "/" + two_digits(byte(2)) +
                                 "/" + two_digits(byte(3));
    } else if (state_.board_date_text.empty()) {
        // A board that does not tell its date starts on the PC's...
        state_.board_date_text = text::format_date(env_.clock.now());
    } else if (!state_.rollover_reference.empty() &&
               seconds_of_day(state_.board_time_text) + 43200 <
                   seconds_of_day(state_.rollover_reference)) {
        // ...and turns the day when its time of day does.
        state_.board_date_text = next_day(state_.board_date_text);
    }
    return true;
}

void BoardClock::correct_bad_time() {
    env_.event_log("Warning! Bad time from A/D card: " + state_.board_date_text + " " +
                   state_.board_time_text);
    auto pc = env_.clock.now();
    state_.board_hours = static_cast<int16_t>(pc.hour);
    state_.board_minutes = static_cast<int16_t>(pc.minute);
    state_.board_seconds = static_cast<int16_t>(pc.second);
    // The second is processed with the PC's time even when the board cannot be told.
    state_.board_time_text = text::format_time(pc);
    state_.board_date_text = text::format_date(pc);
    state_.bad_time_flag = 1;
    if (guarded([&] { send_clock(pc); })) {
        env_.event_log("Warning! Time corrected to: " + text::format_datetime(pc));
    }
    env_.discard_board_input();
    // The seconds that came during the pauses were just discarded: the next frame's step
    // is this correction's doing, not a jump of the board.
    skip_next_jump_check_ = true;
}

void BoardClock::midnight_date_fix() {
    // These firmwares send the first frame of a day with the day before.
    if (needs_midnight_date_fix(firmware()) && state_.board_time_text < "00:00:30" &&
        state_.board_time_text < state_.rollover_reference) {
        state_.board_date_text = next_day(state_.board_date_text);
    }
    state_.rollover_reference = state_.board_time_text;
}

void BoardClock::count_samples() {
    auto& run = env_.run;
    if (env_.settings.general.service_mode == 3) {
        for (size_t ch = 0; ch < run.second_check_count.size(); ++ch) {
            if (run.second_check_count[ch] == run.configured_rate[ch]) continue;
            long count = ++state_.xerror[ch];
            env_.housekeeping_view().show_sample_count_errors(static_cast<int>(ch), count);
            env_.event_log("Xerror " + std::to_string(count) + " AT " + state_.board_time_text);
        }
    }
    run.second_check_count.fill(0);
}

void BoardClock::synchronisation() {
    if ((state_.board_status & 0x20) == 0) {
        state_.sync_handled = 0;
        state_.bad_time_flag = 0;
        return;
    }
    if (state_.sync_handled != 0 || state_.bad_time_flag != 0) return;
    state_.sync_handled = 1;
    state_.sync_minute_marks[static_cast<size_t>(state_.board_second_of_day) / 60] = 1;
    if (auto synced = text::parse_datetime(state_.board_datetime_text)) {
        state_.last_sync_text =
            text::format_datetime(text::from_epoch_seconds(text::to_epoch_seconds(*synced) - 1));
    }
    state_.last_sync_board_time = state_.board_datetime_text;
    state_.time_source = BoardTimeSource::receiver;
    const auto& general = env_.settings.general;
    env_.time_log("SYNC:" + state_.last_sync_text + " TPS:" + state_.raw_time_frame + " PCRTC:" +
                  std::to_string(general.pc_rtc) + " PCSYN:" + std::to_string(general.pc_sync));
    env_.synchronised();
}

void BoardClock::update_lock() {
    auto last = text::parse_datetime(state_.last_sync_board_time);
    if (!last) {
        state_.last_sync_board_time = kNoSync;
        last = text::parse_datetime(kNoSync);
    }
    auto now = text::parse_datetime(state_.board_datetime_text);
    if (!now) return;
    const int timeout_minutes = env_.settings.general.sync_source != 0 ? 719 : 10;
    double minutes =
        std::floor((text::to_epoch_seconds(*now) - text::to_epoch_seconds(*last)) / 60.0);
    const std::string& label = state_.sync_source_label;
    std::string& lock_state = env_.run.lock_state;
    if (minutes > timeout_minutes) {
        if (lock_state != "N") {
            lock_state = "N";
            env_.time_log(label + " Status:Unlocked");
            env_.event_log("Time UnLocked");
        }
    } else if (lock_state != "L") {
        lock_state = "L";
        env_.time_log(label + " Status:Locked");
        env_.event_log("Time Locked");
    }
    // The start block shows "N"; the indicator follows the state again from here.
    env_.view().set_lock_indicator(lock_state);
}

void BoardClock::update_utc_offset() {
    const auto& general = env_.settings.general;
    UtcOffsetInputs in;
    // An instrument without a clock of its own stamps its seconds with the PC's time.
    in.source = env_.time_from_pc_clock() ? BoardTimeSource::pc : state_.time_source;
    in.sync_source = general.sync_source;
    in.gmt_offset = general.gmt_offset;
    in.dcf_daylight = (state_.board_status & 0x40) != 0;
    if (in.source == BoardTimeSource::pc) {
        auto board = text::parse_datetime(state_.board_datetime_text);
        in.pc_offset = board ? env_.clock.utc_offset_at(*board) : env_.clock.utc_offset_now();
    }
    state_.utc_offset = board_utc_offset(in);
}

bool BoardClock::guarded(const std::function<void()>& send) {
    // A write to the port that fails is reported as any failing statement of the run, and
    // the rest of the second's work (datalog, event lines, trigger windows) still runs.
    try {
        send();
        return true;
    } catch (const runtime::StepFailure& failure) {
        env_.report_step_failure(failure);
        return false;
    }
}

void BoardClock::pc_to_board(const text::DateTime& pc_now) {
    const auto& general = env_.settings.general;
    // An instrument whose seconds are the PC's has no clock to set (nor the commands).
    if (env_.time_from_pc_clock()) return;
    if (general.pc_sync != 1 || general.sync_every < 0 ||
        general.sync_every >= static_cast<int>(kSyncPeriodHours.size())) {
        return;
    }
    auto period =
        static_cast<int64_t>(kSyncPeriodHours[static_cast<size_t>(general.sync_every)] * 3600);
    int64_t second_of_day = pc_now.hour * 3600 + pc_now.minute * 60 + pc_now.second;
    if (second_of_day % period != 0) return;
    // Two board frames can fall in the same PC second: the board is set once.
    auto pc_second = static_cast<int64_t>(std::floor(text::to_epoch_seconds(pc_now)));
    if (pc_second == last_pc_sync_second_) return;
    last_pc_sync_second_ = pc_second;
    if (!guarded([&] { env_.board.set_time(pc_now.hour, pc_now.minute, pc_now.second); })) {
        return;
    }
    state_.time_source = BoardTimeSource::pc;
    env_.event_log("A/D card syncronized with PC time at: " + text::format_time(pc_now));
}

void BoardClock::board_to_pc(const text::DateTime& pc_now) {
    const auto& general = env_.settings.general;
    std::string pc_time = text::format_time(pc_now);
    // Never within two minutes of midnight, where the PC and the board may see other days.
    if (!(pc_time > "00:02:00" && pc_time < "23:58:00")) return;
    if (general.pc_rtc == 1 || general.pc_sync != 0 || pc_clock_off_) return;
    if (env_.time_from_pc_clock()) {
        // Its time is the PC clock's own: setting the PC from it would only add the second
        // of every setting, frame after frame.
        pc_clock_off_ = true;
        std::string board = env_.run.board_description;
        while (!board.empty() && board.back() == ' ') board.pop_back();
        env_.event_log("The PC clock is not set from " + board +
                       ": its time is the PC clock's own.");
        return;
    }
    platform::PcClockSetter* setter = env_.devices.pc_clock;
    if (!setter) {
        pc_clock_off_ = true;
        env_.event_log(
            "The PC clock is not set from the A/D card time: start VELKANTOR with "
            "--set-pc-clock to allow it.");
        return;
    }
    auto board = text::parse_datetime(state_.board_datetime_text);
    if (!board) return;
    text::DateTime target;
    if (sets_pc_date(firmware())) {
        target = text::from_epoch_seconds(text::to_epoch_seconds(*board) + 1);
    } else {
        int second = (static_cast<int>(state_.board_second_of_day) + 1) % 86400;
        target = pc_now;
        target.hour = second / 3600;
        target.minute = second / 60 % 60;
        target.second = second % 60;
        target.millisecond = 0;
    }
    auto result = setter->set_local_time(target);
    if (!result) {
        pc_clock_off_ = true;
        env_.event_log("The PC clock cannot be set from the A/D card time: " + result.text);
    }
}

void BoardClock::RefreshPcTimestamp() {
    auto now = env_.clock.now();
    const platform::DateFormats& formats =
        env_.devices.date_formats ? *env_.devices.date_formats : kProgramFormats;
    std::string time = formats.short_time(now);
    state_.pc_now_text =
        normalise_pc_now(formats.short_date(now) + (time.empty() ? "" : " " + time));
    state_.pc_fraction_text = "." + text::zero_padded(now.millisecond, 3);
    state_.pc_date_text = text::format_date(now);
    state_.pc_time_text = text::format_time(now);
}

TimeWindowTexts BoardClock::time_window_texts() const {
    TimeWindowTexts texts;
    bool dcf = state_.sync_source_label == "DCF";
    texts.sync = (dcf ? "DCF77 Sync: " : "GPS   Sync: ") + state_.last_sync_text;
    if (env_.run.lock_state == "N") {
        texts.status = "Status: Not Locked";
        texts.hour_type = "...";
    } else {
        texts.status = "Status: Locked";
        if (!dcf) {
            texts.hour_type = "GPS tx UTC time";
        } else if ((state_.board_status & 0x40) != 0) {
            texts.hour_type = "DCF tx daylight time";
        } else {
            texts.hour_type = "DCF tx solar time";
        }
    }
    texts.sync_bit = (state_.board_status & 0x20) != 0;
    texts.minute_of_day = static_cast<int>(state_.board_second_of_day) / 60;
    return texts;
}

void BoardClock::jump_check(bool corrected_now) {
    if (state_.previous_board_time.empty() || (skip_next_jump_check_ && !corrected_now)) {
        state_.previous_board_time = state_.board_time_text;
        skip_next_jump_check_ = false;
    }
    int difference =
        seconds_of_day(state_.board_time_text) - seconds_of_day(state_.previous_board_time);
    if (std::abs(difference) > 2 && state_.board_time_text != "00:00:00" &&
        state_.previous_board_time != "23:59:59") {
        env_.event_log("Warning! Too much time difference:");
        env_.event_log("Previous:" + state_.previous_board_time +
                       " Received:" + state_.board_time_text);
    }
    state_.previous_board_time = state_.board_time_text;
}

void BoardClock::SetBoardClockFromPc() {
    send_clock(env_.clock.now());
}

void BoardClock::send_clock(const text::DateTime& time) {
    state_.time_source = BoardTimeSource::pc;
    env_.board.set_time(time.hour, time.minute, time.second);
    env_.wait(1);
    env_.board.set_time_zone(env_.settings.general.gmt_offset);
    env_.wait(1);
    // The date of the moment it is sent: a day that began during the pauses is the board's.
    auto date = env_.clock.now();
    env_.board.set_date(date.year, date.month, date.day);
}

}  // namespace velkantor::timekeeping
