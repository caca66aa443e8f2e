#pragma once

#include <memory>
#include <string>
#include <vector>

#include "alerts/alert_settings.h"
#include "app/command_line.h"
#include "app/web_page.h"
#include "config/network_ini.h"
#include "runtime/service_port.h"

namespace velkantor::app {

// The services that publish the station to the network and the disk beyond its own files:
// the miniSEED records (archive, SeedLink server), the station's web page, the alerts. Their
// settings are the station folder's network.ini with the command line's overrides. A bad
// value turns its service off with a message naming the key and the file; acquisition never
// depends on them. Everything here runs on the engine's thread and hands work to the
// services' own threads without waiting.
class NetworkServices {
public:
    NetworkServices(runtime::ServicePort& station, const Options& options);
    ~NetworkServices();
    NetworkServices(const NetworkServices&) = delete;
    NetworkServices& operator=(const NetworkServices&) = delete;

    // Reads network.ini (a missing file: everything off) and applies the overrides. Each
    // problem is one line of `problems()`, also written to the event log by `start`.
    void configure();
    // Starts what is configured; a service that cannot start (a port in use) is reported and
    // stays off. Call after the station has loaded its settings.
    void start();
    // Ends the services' threads (after the station's STOP, so the last records are out).
    void stop();

    const std::vector<std::string>& problems() const { return problems_; }
    // One line per service that is on, for the console: "SeedLink server on 0.0.0.0:18000".
    const std::vector<std::string>& started() const { return started_; }

    // The station's web page while it is on (the record builder feeds its live trace).
    WebPage* page() { return page_.get(); }
    // Where a browser on this machine opens the page ("http://127.0.0.1:8080/"); empty while
    // the page is off.
    std::string page_address() const { return page_ ? page_address_ : std::string(); }

private:
    void second();  // the engine's one-second work of the services
    void configure_streaming();
    void start_streaming();
    void start_event_miniseed();
    void start_datalink(const std::string& archive_folder);
    alerts::StationIdentity station_identity() const;
    void configure_alerts();
    void start_alerts();
    void second_alerts();

    runtime::ServicePort& station_;
    // The station's moments the services hook into, released at stop.
    runtime::Registration second_;
    runtime::Registration event_files_;
    runtime::Registration observer_;
    runtime::Registration sink_;
    Options options_;
    config::IniFile ini_;
    std::vector<std::string> problems_;
    std::vector<std::string> started_;

    struct Streaming;
    std::unique_ptr<Streaming> streaming_;

    web::WebSettings web_settings_;
    std::unique_ptr<WebPage> page_;
    std::string page_address_;
    struct Alerts;
    std::unique_ptr<Alerts> alerts_;
};

}  // namespace velkantor::app
