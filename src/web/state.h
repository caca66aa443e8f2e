#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkantor::web {

// One channel as the page shows it.
struct ChannelState {
    int number = 0;  // 1..4
    std::string seed_code;
    double configured_rate = 0;   // samples per second the board was asked for
    double measured_rate = 0;     // samples counted in the last board second
    std::string event_extension;  // "CH1": the event files of this channel end so
    std::string drum;             // today's drum picture in the drums folder, "" = none
    std::string spectrum;         // the latest spectrum picture, "" = none
    // What the spectrum picture spans, for the axes the page draws around it.
    double spectrum_min_hz = 0;  // the block's bin spacing: the left edge
    double spectrum_max_hz = 0;
    double spectrum_min_db = 0;
    double spectrum_max_db = 0;
    bool spectrum_time_frequency = false;  // a day-long time-frequency picture (JTF)
    // The channel's noise: the day's picture of its hourly PSDs in the drums folder, and the
    // last hour's PSD as (band centre period in s, dB) pairs: of ground acceleration, in dB
    // relative to 1 (m/s^2)^2/Hz, when the channel's settings hold its calibration, else of
    // counts.
    std::string noise_picture;  // "" = none yet
    bool noise_calibrated = false;
    std::string noise_note;  // why the levels are in counts
    double noise_hour = 0;   // UTC epoch seconds of the last hour's start, 0 = none yet
    std::vector<std::pair<double, double>> noise_psd;
};

// Seconds without a sample after which the station is no longer said to be acquiring (and
// the page marks what it shows as stale).
inline constexpr double kSilentSeconds = 3;

// The station as the page shows it, filled on the engine's thread once a second and handed
// to the server whole. Nothing in it refers back to the station.
struct StateSnapshot {
    std::string title;
    std::string station;  // the station's location name
    std::string coordinates;
    std::string elevation;
    bool acquiring = false;  // in a run, and samples came within kSilentSeconds
    // Seconds since the board's last sample (engine time at the snapshot), none outside a run.
    std::optional<double> seconds_since_sample;
    std::string board;
    std::string firmware;
    std::string lock;         // "L" locked to the time receiver, "N" not
    std::string time_source;  // "GPS" or "DCF"
    double board_time = 0;    // epoch seconds of the last board second, 0 = none yet
    int utc_offset = 0;       // board time minus UTC, seconds
    long bad_frames = 0;
    std::optional<uint64_t> free_disk_bytes;
    int drum_update_minutes = 0;         // how often the drums are saved
    std::vector<ChannelState> channels;  // the channels that are on
    // The reference noise models as (period in s, dB of acceleration), longest period first.
    std::vector<std::pair<double, double>> low_noise_model;
    std::vector<std::pair<double, double>> high_noise_model;
    // Folders and files the server may read (never from a URL).
    std::string station_folder;  // only to refuse an events folder that holds it
    std::string drums_folder;
    std::string events_folder;
    std::string event_log;
    int events = 20;
};

std::string state_json(const StateSnapshot& state);

// The last hour's PSD of channel `number` (1..4) with the noise models to draw it against;
// none when the channel is not on.
std::optional<std::string> psd_json(const StateSnapshot& state, int number);

// "YYYY/MM/DD HH:MM:SS" of the board time, "" when there is none.
std::string board_time_text(double epoch_seconds);

}  // namespace velkantor::web
