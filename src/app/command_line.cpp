#include "app/command_line.h"

#include <algorithm>
#include <cstdlib>

#include "alerts/alert_settings.h"
#include "config/network_ini.h"
#include "platform/file_system.h"
#include "text/number_text.h"

namespace velkantor::app {

Options parse_command_line(const std::vector<std::string>& args) {
    Options options;
    auto value_of = [&](size_t& i, const std::string& name) -> std::string {
        const std::string& arg = args[i];
        auto equals = arg.find('=');
        if (equals != std::string::npos) return arg.substr(equals + 1);
        if (i + 1 >= args.size()) {
            options.error = name + " needs a value";
            return {};
        }
        return args[++i];
    };
    for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg.substr(0, arg.find('='));
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--set-pc-clock") {
            options.set_pc_clock = true;
        } else if (name == "--simulate") {
            options.simulate = true;
            if (arg.find('=') != std::string::npos) options.model = arg.substr(arg.find('=') + 1);
            if (options.model.empty()) options.error = "--simulate= needs a model name";
        } else if (name == "--station") {
            options.station = value_of(i, name);
        } else if (name == "--port") {
            options.port = value_of(i, name);
        } else if (name == "--open") {
            std::string value = value_of(i, name);
            for (size_t at = 0; at <= value.size();) {
                size_t comma = std::min(value.find(',', at), value.size());
                if (comma > at) options.open_windows.push_back(value.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (name == "--seedlink" || name == "--web") {
            std::string value = value_of(i, name);
            if (options.error.empty() && !config::parse_listen_address(value, "0.0.0.0")) {
                options.error = name + " needs [ADDRESS:]PORT, not \"" + value + "\"";
            }
            (name == "--seedlink" ? options.seedlink : options.web) = value;
        } else if (name == "--archive") {
            options.archive = value_of(i, name);
        } else if (name == "--datalink") {
            std::string value = value_of(i, name);
            auto server = config::parse_listen_address(value, "");
            if (options.error.empty() && (!server || server->address.empty())) {
                options.error = "--datalink needs HOST:PORT, not \"" + value + "\"";
            }
            options.datalink = value;
        } else if (name == "--mqtt") {
            std::string value = value_of(i, name);
            auto broker = config::parse_listen_address(value, "");
            if (options.error.empty() && !broker) {
                options.error = "--mqtt needs HOST:PORT, not \"" + value + "\"";
            }
            options.mqtt = value;
        } else if (name == "--webhook") {
            std::string value = value_of(i, name);
            if (options.error.empty() && value.rfind("http://", 0) != 0 &&
                value.rfind("https://", 0) != 0) {
                // Not all of it: a mistyped address may still hold its token.
                options.error = "--webhook needs an http:// or https:// URL, not \"" +
                                alerts::webhook_for_log(value) + "...\"";
            }
            options.webhooks.push_back(value);
        } else if (name == "--screenshot") {
            options.screenshot = value_of(i, name);
        } else if (name == "--for") {
            std::string value = value_of(i, name);
            auto seconds = text::strict_number(value);
            if (options.error.empty() && (!seconds || *seconds <= 0)) {
                options.error = "--for needs a number of seconds above 0, not \"" + value + "\"";
            } else if (seconds) {
                options.for_seconds = *seconds;
            }
        } else {
            options.error = "unknown option \"" + arg + "\"";
        }
    }
    if (options.error.empty() && !options.screenshot.empty()) {
        if (options.headless) options.error = "--screenshot needs the desktop, not --headless";
        if (options.for_seconds <= 0) options.for_seconds = 20;
    }
    return options;
}

std::string environment_station_folder() {
    const char* env = std::getenv("VELKANTOR_STATION");
    return env && *env ? env : "";
}

std::string default_station_folder() {
    std::string env = environment_station_folder();
    if (!env.empty()) return env;
    const char* home = std::getenv("HOME");
    return platform::join_path(home && *home ? home : ".", "velkantor");
}

std::string usage_text() {
    return R"(Usage: velkantor [options]
       velkantor extract --from "YYYY/MM/DD HH:MM:SS" --minutes M [options]  (see extract --help)
       velkantor export --from "YYYY/MM/DD HH:MM:SS" --minutes M [options]   (see export --help)
       velkantor review --channel N --from "YYYY/MM/DD HH:MM:SS" --png FILE   (see review --help)
       velkantor drum --channel N --date YYYY/MM/DD [--out FILE]              (see drum --help)

Data logger for a seismic station: acquires the A/D board on a serial port, records
events, keeps the datalog and the logs in the station folder.

Options:
  --headless           run without windows, as a service; stops cleanly on SIGINT/SIGTERM
  --simulate[=MODEL]   use a simulated board (default ZEDA18) on a pseudo-terminal; without
                       --station the demo station folder ~/velkantor-demo is used (created
                       and seeded on first use; a real station's settings are never touched)
  --station DIR        station folder (default: $VELKANTOR_STATION, else ~/velkantor)
  --port DEVICE        serial device for this run, overriding COM n of the settings and the
                       station's velkant.ports map (COM n is /dev/ttyS<n-1> by default)
  --for SECONDS        stop acquisition after this many seconds
  --screenshot FILE    desktop: save the screen as a PNG when --for ends (default after 20 s),
                       then EXIT
  --open NAMES         desktop: open these windows at start, by the names of the main
                       window's buttons (active, set_triggers, timeset, events, ch_review)
                       or trimming, cmd_scheduler; separated by commas
  --set-pc-clock       allow the A/D board's time to set the machine's clock (needs the
                       right to set it, e.g. CAP_SYS_TIME); without it the machine's clock
                       is never changed
  --seedlink [ADDRESS:]PORT
                       serve the station's samples as miniSEED over SeedLink (and SeedLink
                       over WebSocket) on this port (default address 0.0.0.0), whatever
                       the station's network.ini says
  --archive DIR        keep the miniSEED day archive (SDS layout) in DIR
  --web [ADDRESS:]PORT serve the station's web page on this port
  --mqtt HOST:PORT     send alerts to this MQTT broker
  --webhook URL        send alerts as HTTP POSTs to this URL (may be given more than once)
  --datalink HOST:PORT push the station's miniSEED records to this DataLink server (with
                       the archive on, what an outage held back is sent late from it)
  --version            print the program version
  --help               this text

The station starts acquisition at once (START), and on a signal or after --for it stops
(STOP), closes its files and ends (EXIT); the settings file is never written by a stop.
Questions get fixed answers without windows: "create the missing events folder?" Yes;
"confirm a new board as the operative one?" No.
Exit status (a service manager restarts on 3, 4 and 6, not on 1, 2 and 5):
  0  a stop that was asked for (a signal, --for, STOP)
  1  the station folder cannot be used
  2  a bad command line
  3  an error stopped the program in service mode
  4  the board was not found at START, or not found again after it was lost
  5  START was refused by the settings (a start-up check, the board's rate rules)
  6  the run ended for another reason
)";
}

}  // namespace velkantor::app
