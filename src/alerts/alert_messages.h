#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velkantor::alerts {

// What every message says of the station at the moment it is made.
struct Moment {
    std::string station;     // station code ("VELK")
    double board_epoch = 0;  // the acquisition clock (board time), epoch seconds
    std::string lock;        // "L" locked to the time receiver, "N" not
    int utc_offset = 0;      // board time minus UTC, seconds
};

// One channel's side of a message.
struct ChannelFacts {
    int channel = 1;   // 1..4
    std::string seed;  // "XX.VELK..HHZ", empty when the codes are not valid
};

struct EventStart {
    ChannelFacts channel;
    std::string file_name;
    std::string start;  // the event's start, "YYYY/MM/DD HH:MM:SS" board time
    bool scheduled = false;
};

struct EventEnd {
    ChannelFacts channel;
    std::string file_name;
    std::string start;
    double duration_seconds = 0;
    double peak = 0;       // the largest half-wave peak, counts
    double max_ratio = 0;  // the largest STA/LTA ratio
    double samples = 0;
    bool at_stop = false;  // cut short by STOP
};

struct AlarmFacts {
    ChannelFacts channel;
    int32_t value = 0;
    int32_t threshold = 0;
};

// "board_lost", "board_back" (with `seconds`), "disk_low" (with `free_mb`), "alerts_dropped"
// (with `count`).
struct HealthFacts {
    std::string what;
    std::string detail_key;
    double detail = 0;
};

struct StateFacts {
    bool online = true;
    bool running = false;
    bool board_ok = true;
    std::vector<int> recording;  // channels (1..4) writing an event now
    std::string last_event;      // the last event's file name
    uint64_t alerts_dropped = 0;
};

// The messages, one JSON object each. Times are ISO 8601 UTC of the board clock
// ("2026-12-11T00:42:13Z").
std::string event_start_json(const Moment& m, const EventStart& e);
std::string event_end_json(const Moment& m, const EventEnd& e);
std::string alarm_json(const Moment& m, const AlarmFacts& a);
std::string health_json(const Moment& m, const HealthFacts& h);
std::string state_json(const Moment& m, const StateFacts& s);
// The last will: the retained state while the station is not connected.
std::string offline_json(const std::string& station);

// JSON pieces.
std::string json_string(std::string_view text);
std::string json_number(double value);  // shortest form; null when not finite
std::string iso_time(double epoch_seconds);
// A board time in ISO 8601 with its zone: "2026-06-11T02:02:13+02:00".
std::string iso_board_time(double board_epoch_seconds, int utc_offset);

}  // namespace velkantor::alerts
