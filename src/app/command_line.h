#pragma once

#include <string>
#include <vector>

namespace velkantor::app {

struct Options {
    bool headless = false;
    bool simulate = false;
    std::string model = "ZEDA18";
    std::string station;     // --station DIR
    std::string port;        // --port DEVICE
    double for_seconds = 0;  // --for SECONDS (0: until a signal)
    std::string screenshot;  // --screenshot FILE: the desktop's screen when --for ends
    std::vector<std::string> open_windows;  // --open NAME[,NAME...]: windows opened at start
    bool set_pc_clock = false;  // --set-pc-clock: the board's time may set the machine's clock
    // Network services, overriding the station's network.ini for this run.
    std::string seedlink;               // --seedlink [ADDRESS:]PORT: the SeedLink server on
    std::string archive;                // --archive DIR: the miniSEED day archive on, in DIR
    std::string web;                    // --web [ADDRESS:]PORT: the station's web page on
    std::string mqtt;                   // --mqtt HOST:PORT: alerts to this MQTT broker
    std::vector<std::string> webhooks;  // --webhook URL (repeatable): alerts as HTTP POSTs
    std::string datalink;               // --datalink HOST:PORT: records pushed to this server
    bool help = false;
    bool version = false;
    std::string error;  // set when the command line cannot be used
};

Options parse_command_line(const std::vector<std::string>& args);

// The station folder when none is named: $VELKANTOR_STATION, else ~/velkantor; and the
// environment's choice alone (empty when unset).
std::string environment_station_folder();
std::string default_station_folder();
std::string usage_text();

}  // namespace velkantor::app
