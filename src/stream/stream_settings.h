#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/network_ini.h"
#include "config/settings.h"

namespace velkantor::stream {

// The station's SEED identity: `[station]` of network.ini.
struct StationCodes {
    std::string network = "XX";
    std::string station = "VELK";
    std::string location;
    // One channel code per channel; empty = chosen from the channel's rate and axis.
    std::array<std::string, config::kChannels> channels;
    std::string description;  // how clients see the station ("VELKANTOR station VELK")
};

struct SeedLinkSettings {
    bool enabled = false;
    config::ListenAddress listen{"0.0.0.0", 18000};
    double ring_minutes = 60;
    double latency_seconds = 5;  // a record is sent when full or when its oldest sample is this old
    int clients = 16;
    int clients_per_address = 4;           // so that one host cannot take every slot
    std::vector<config::IpNetwork> allow;  // empty: every client address
};

struct ArchiveSettings {
    bool enabled = false;
    std::string folder = "archive";  // relative to the station folder unless absolute
    bool event_mseed = false;        // every event file also as miniSEED beside it
};

struct StreamSettings {
    StationCodes codes;
    SeedLinkSettings seedlink;
    ArchiveSettings archive;
    // A bad value in [station] leaves every miniSEED service off: records under a wrong name
    // would be worse than none.
    bool codes_valid = true;
};

// Reads [station], [seedlink] and [archive], with the command line's --seedlink (for
// [seedlink] listen) and --archive (for [archive] folder). Each bad value is one line in
// `problems` (naming the file, section, key and line, or the option) and turns off what it
// belongs to.
StreamSettings ParseStreamSettings(const config::IniFile& ini, std::vector<std::string>& problems,
                                   const config::NetworkOptions& options = {});

// The SEED band code for a sample rate (broadband instruments): F >= 1000, C >= 250,
// H >= 80, B >= 10, M > 1, L about 1, V about 0.1, U about 0.01, R lower.
char band_code(double rate);
// "HHZ": band code from the rate, instrument code from the sensor type (N for an
// accelerometer, H for the rest), orientation from the channel's axis (Z, N, E). Channels
// without one of those axes get 1, 2 and 3 in channel order; a fourth such channel has no
// valid code: the answer is empty, and it is not streamed until network.ini names it.
std::string default_channel_code(
    double rate, const std::array<config::ChannelSettings, config::kChannels>& channels, int ch);

}  // namespace velkantor::stream
