#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "platform/operator.h"
#include "runtime/board_commands.h"
#include "runtime/run_state.h"

namespace velkantor::timekeeping {

// The board's trimming record: the low 24 bits of the trim value N (least significant byte
// first) and the sign byte (0x00 negative, 0x01 positive, 0x02 no trimming).
using TrimRecord = std::array<uint8_t, 4>;

inline constexpr int64_t kMaxTrim = 16777215;
inline constexpr TrimRecord kNullTrim{0xFF, 0xFF, 0xFF, 0x02};

// The record of a whole trim value, magnitude capped at 16,777,215; sign 0x00 for a negative
// value, 0x01 otherwise.
TrimRecord trim_record(int64_t value);
// "XX b1 b2 b3 S XX XX XX XX", the manual field's form.
std::string trim_record_text(const TrimRecord& record);
// The manual field read back: tokens 2 to 5 as hexadecimal bytes; nullopt when they are not.
std::optional<TrimRecord> parse_trim_record_text(std::string_view text);
// The trim value for a known clock error in seconds per day: 86400 / e rounded (halves to
// even), 16,777,215 for no error, magnitude capped.
int64_t trim_from_error(double seconds_per_day);

// The clock trimming window's logic: the measurement against the time receiver, the record's
// computation and the board commands. The window shows `display()`.
class ClockTrim {
public:
    struct Display {
        std::string first_timing;  // "YYYY/MM/DD HH:MM:SS" of the first synchronisation
        std::string last_timing;
        std::string samples;      // channel-1 samples counted since the first timing
        std::string interval;     // whole seconds from the first to the last timing
        std::string trim;         // "Need trim of 1/100 every" value, or "Wait..."
        std::string record;       // "b1 b2 b3"
        std::string manual_trim;  // `txt_manual_trim`
        std::string memory;       // the board memory read, two hex digits per byte
    };

    static constexpr const char* kNeedsRun =
        "Trimming needs A/D card must run at 100 SPS on channel 1.";
    static constexpr const char* kOldFirmware =
        "Trimming not possible for this version firmware version.";
    static constexpr const char* kCheckSettings = "Check the settings reading the values.";

    // What the trimming uses of the station.
    struct Environment {
        const runtime::RunState& run;
        const config::Settings& settings;
        platform::Operator& op;
        runtime::BoardCommands& board;
        // The station is in a run and acquiring.
        std::function<bool()> acquiring;
        // The board time of the last synchronisation (the board clock's `last_sync_text`).
        std::function<std::string()> last_sync;
    };

    explicit ClockTrim(Environment environment) : env_(std::move(environment)) {}

    void open_window() { window_open_ = true; }
    void close_window() {
        window_open_ = false;
        reading_ = false;
    }
    bool window_open() const { return window_open_; }

    // On every synchronisation from the time receiver while the window is open.
    void MeasureTrim();

    // The window's buttons. Each returns false when its precondition refused (the message
    // has been shown).
    bool eeread();           // "Read Trim Data"
    bool set_trim_data();    // "Set Trim Data"
    bool nulltrimm();        // "Null Trimm."
    bool cmd_manual_trim();  // "Manual Trim"
    // `txt_error` + ENTER: the record for a known error, into the manual field.
    void error_entered(double seconds_per_day);

    // A memory-read reply (0x86) from the main loop: the read goes on up to address 8.
    void memory_read_reply(std::string_view frame);

    Display& display() { return display_; }
    const Display& display() const { return display_; }
    double trim_value() const { return trim_value_; }
    void set_trim_value(double value) { trim_value_ = value; }

private:
    bool may_trim(bool needs_run);
    void send(const std::function<void(runtime::BoardCommands&)>& command);
    void write_record(const TrimRecord& record);

    Environment env_;
    Display display_;
    bool window_open_ = false;
    double trim_value_ = 0;
    double first_sample_total_ = 0;  // channel-1 sample count at the first timing
    bool reading_ = false;
    int read_address_ = 0;
};

}  // namespace velkantor::timekeeping
