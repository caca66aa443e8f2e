#include "timekeeping/clock_trim.h"

#include <algorithm>
#include <cmath>

#include "runtime/firmware.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::timekeeping {

namespace {

int64_t capped(int64_t value) {
    if (value > kMaxTrim) return kMaxTrim;
    if (value < -kMaxTrim) return -kMaxTrim;
    return value;
}

std::optional<uint8_t> hex_byte(std::string_view token) {
    if (token.empty() || token.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (char c : token) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(value);
}

}  // namespace

TrimRecord trim_record(int64_t value) {
    auto bits = static_cast<uint32_t>(capped(value));  // two's complement
    return {static_cast<uint8_t>(bits & 0xFF), static_cast<uint8_t>((bits >> 8) & 0xFF),
            static_cast<uint8_t>((bits >> 16) & 0xFF), static_cast<uint8_t>(value < 0 ? 0 : 1)};
}

std::string trim_record_text(const TrimRecord& r) {
    return "XX " + text::hex2(r[0]) + " " + text::hex2(r[1]) + " " + text::hex2(r[2]) + " " +
           text::hex2(r[3]) + " XX XX XX XX";
}

std::optional<TrimRecord> parse_trim_record_text(std::string_view text) {
    std::array<std::string_view, 5> tokens{};
    size_t count = 0;
    size_t i = 0;
    while (i < text.size() && count < tokens.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        size_t begin = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i > begin) tokens[count++] = text.substr(begin, i - begin);
    }
    if (count < tokens.size()) return std::nullopt;
    TrimRecord record{};
    for (size_t k = 0; k < 4; ++k) {
        auto byte = hex_byte(tokens[k + 1]);
        if (!byte) return std::nullopt;
        record[k] = *byte;
    }
    return record;
}

int64_t trim_from_error(double seconds_per_day) {
    if (seconds_per_day == 0 || !std::isfinite(seconds_per_day)) return kMaxTrim;
    double n = text::round_half_even(86400.0 / seconds_per_day);
    if (n > kMaxTrim) return kMaxTrim;
    if (n < -kMaxTrim) return -kMaxTrim;
    return static_cast<int64_t>(n);
}

void ClockTrim::MeasureTrim() {
    const auto& run = env_.run;
    const std::string last_sync = env_.last_sync();
    if (display_.first_timing.empty()) {
        display_.first_timing = last_sync;
        first_sample_total_ = run.channel0_sample_total;
    }
    display_.last_timing = last_sync;
    double samples = run.channel0_sample_total - first_sample_total_;
    double seconds = 0;
    auto first = text::parse_datetime(display_.first_timing);
    auto last = text::parse_datetime(display_.last_timing);
    if (first && last) {
        seconds = std::round(text::to_epoch_seconds(*last) - text::to_epoch_seconds(*first));
    }
    display_.samples = text::shortest_real(samples);
    display_.interval = text::shortest_real(seconds);
    // The channel's own rate: the window asks for 100 per second, but any rate measures.
    double rate = run.configured_rate[0];
    double drift = samples - seconds * rate;
    if (drift == 0 || seconds == 0) {
        display_.trim = "Wait...";
        return;
    }
    trim_value_ = seconds * rate / drift;
    display_.trim = text::shortest_real(trim_value_);
    TrimRecord record = trim_record(static_cast<int64_t>(text::round_half_even(trim_value_)));
    record[3] = trim_value_ < 0 ? 0x00 : 0x01;
    display_.record =
        text::hex2(record[0]) + " " + text::hex2(record[1]) + " " + text::hex2(record[2]);
    display_.manual_trim = trim_record_text(record);
}

bool ClockTrim::may_trim(bool needs_run) {
    const auto& run = env_.run;
    if (needs_run && !env_.acquiring()) {
        env_.op.message("Time trimming", kNeedsRun, platform::MessageIcon::warning);
        return false;
    }
    if (!runtime::firmware(run.firmware_version).trimmable) {
        env_.op.message("Time trimming", kOldFirmware, platform::MessageIcon::warning);
        return false;
    }
    return true;
}

void ClockTrim::send(const std::function<void(runtime::BoardCommands&)>& command) {
    // The window's buttons run with errors skipped: a port that is closed writes nothing.
    try {
        command(env_.board);
    } catch (const runtime::StepFailure& failure) {
        if (env_.settings.general.service_mode != 0) {
            throw runtime::FatalError(failure.what());
        }
    }
}

void ClockTrim::write_record(const TrimRecord& record) {
    send([&](runtime::BoardCommands& board) { board.write_trim(record); });
}

bool ClockTrim::eeread() {
    if (!may_trim(true)) return false;
    display_.memory.clear();
    read_address_ = 0;
    reading_ = true;
    send([&](runtime::BoardCommands& board) { board.read_memory(read_address_); });
    return true;
}

void ClockTrim::memory_read_reply(std::string_view frame) {
    // Replies that no read of this window asked for are not its business.
    if (!reading_ || frame.size() < 2) return;
    display_.memory += text::hex2(static_cast<uint8_t>(frame[1]));
    if (read_address_ < 8) {
        read_address_ += 1;
        send([&](runtime::BoardCommands& board) { board.read_memory(read_address_); });
    } else {
        reading_ = false;
    }
}

bool ClockTrim::set_trim_data() {
    if (!may_trim(true)) return false;
    TrimRecord record{};
    auto byte = [](double value) {
        return static_cast<uint8_t>(static_cast<int64_t>(std::floor(value)) & 0xFF);
    };
    double value = std::clamp<double>(trim_value_, -kMaxTrim, kMaxTrim);
    record[0] = byte(value);
    record[1] = byte(value / 256);
    record[2] = byte(value / 65536);
    record[3] = value > 0 ? 0x01 : (value < 0 ? 0x00 : 0x02);
    write_record(record);
    return true;
}

bool ClockTrim::nulltrimm() {
    if (!may_trim(true)) return false;
    display_.manual_trim = "XX FF FF FF 02 XX XX XX XX";
    write_record(kNullTrim);
    return true;
}

bool ClockTrim::cmd_manual_trim() {
    if (!may_trim(false)) return false;
    auto record = parse_trim_record_text(display_.manual_trim);
    if (!record) {
        // A typing slip must not reach the board's memory.
        env_.op.message("Time trimming",
                        "The trimming record must read XX b1 b2 b3 S XX XX XX XX "
                        "(hexadecimal bytes).",
                        platform::MessageIcon::warning);
        return false;
    }
    write_record(*record);
    env_.op.message("Time trimming", kCheckSettings, platform::MessageIcon::information);
    return true;
}

void ClockTrim::error_entered(double seconds_per_day) {
    display_.manual_trim = trim_record_text(trim_record(trim_from_error(seconds_per_day)));
}

}  // namespace velkantor::timekeeping
