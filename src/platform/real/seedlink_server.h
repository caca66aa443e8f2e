#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "config/network_ini.h"
#include "stream/miniseed_record.h"

namespace velkantor::platform {

// The SeedLink server: raw SeedLink and SeedLink over WebSocket on one port. One service
// thread owns every socket; the engine hands records over through a small bounded queue
// and never waits for a client. A client that stops reading is dropped and can resume by
// sequence number; the station loses nothing.
class SeedLinkServer : public stream::RecordSink {
public:
    struct Config {
        config::ListenAddress listen;  // 0.0.0.0:18000 etc.; port 0 = any free port
        double ring_minutes = 60;
        int clients = 16;
        // Clients from one address: one host cannot take every slot.
        int clients_per_address = 4;
        // A client that has not begun a transfer (DATA, FETCH, TIME, END) this long after it
        // connected is let go, whatever it sends meanwhile: nothing it sends buys a slot,
        // only taking data does. INFO and CAT clients are done well within it.
        std::chrono::milliseconds start_deadline{60000};
        std::vector<config::IpNetwork> allow;  // empty = everyone
        std::string network, station;          // codes for STATION / INFO
        std::string description;               // the greeting's second line
        std::string software;                  // e.g. "VELKANTOR 2.28"
        // Connect, refusal and disconnect lines per minute; beyond, they are counted, so a
        // flood of connections cannot push everything else out of the bounded event log.
        int log_lines_per_minute = 100;
    };

    explicit SeedLinkServer(Config config);
    ~SeedLinkServer() override;  // stops

    // Binds, listens and starts the service thread; "" or what went wrong ("cannot listen on
    // 0.0.0.0:18000: Address already in use"), for the caller to put in context.
    std::string start();
    void stop();
    int port() const;  // the bound port

    // Engine thread; never waits (a full hand-over queue loses its oldest record, counted).
    void record(const stream::MiniSeedRecord& record) override;
    // Engine thread: one line per client connect, refusal and disconnect, and problems.
    std::vector<std::string> take_log_lines();

    struct Impl;  // the service thread's side, in the .cpp

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace velkantor::platform
