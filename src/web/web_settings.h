#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/network_ini.h"
#include "web/fdsn_station.h"

namespace velkantor::web {

// The [web] section of network.ini with the command line's --web.
struct WebSettings {
    bool on = false;  // listen given (file or command line) and every value good
    config::ListenAddress listen;
    std::string title;
    int events = 20;  // how many recent events the page and /api/events.json list
    int connections = 32;
    // The channels' SEED codes as the station's records name them ([station] channels of
    // network.ini); an empty one is chosen from the rate and axis.
    std::array<std::string, 4> channel_codes;
    // What the FDSN services describe and serve: the station's SEED codes ([station] of
    // network.ini), the day archive's folder ("" = none) and the sensors' poles and zeros
    // ([sensor.N]).
    std::string network = "XX", station = "VELK", location, description;
    std::string archive_folder;
    std::array<std::optional<fdsn::SensorModel>, 4> sensors;
};

// Reads [web]; the command line's --web replaces the file's `listen`. Each bad value is one
// line of `problems` naming the key (or the option), and leaves the page off; so does an
// unknown key, which may be a misspelt one.
WebSettings read_web_settings(const config::IniFile& ini, const config::NetworkOptions& options,
                              std::vector<std::string>& problems);

}  // namespace velkantor::web
