#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "stream/miniseed_record.h"

namespace velkantor::platform {

// Pushes the station's records to a DataLink server (a ring server that takes writes) from a
// thread of its own. Each record goes out as it is built and counts as delivered only when the
// server acknowledges it. With the day archive and the backfill on, what was not
// acknowledged (the uplink down, the server gone or not answering, records the hand-over had
// to drop) is sent later from the archive, oldest first and in order per stream, at a bounded
// rate beside the live records; what was acknowledged is kept in a state file, so a station
// started again goes on where it stopped and sends nothing twice. The engine hands records
// over through a queue bounded by bytes and never waits: a server that stops reading costs
// it nothing.
class DataLinkSender : public stream::RecordSink {
public:
    struct Config {
        std::string host;
        int port = 0;
        std::string program = "VELKANTOR";
        std::string user;  // the ID's user part: the station ("XX_VELK") or a client id
        // The day archive's folder, and the state file; the backfill is off without both.
        std::string archive_folder;
        std::string state_path;
        double backfill_rate = 20;    // records per second sent late, at most
        int backfill_window = 4;      // late records written and not yet acknowledged
        double timeout_seconds = 30;  // no acknowledgement this long: the server is gone
        std::chrono::milliseconds first_retry{2000};
        std::chrono::milliseconds last_retry{60000};
        size_t queue_bytes = 1u << 20;  // live records waiting to be written
    };

    struct Counters {
        uint64_t live = 0;     // records acknowledged as they were built
        uint64_t late = 0;     // records acknowledged from the archive
        uint64_t dropped = 0;  // records the hand-over did not take (left to the backfill)
        uint64_t connects = 0;
    };

    DataLinkSender(Config config, FileSystem& fs);
    ~DataLinkSender() override;  // stops

    // Reads the state file (a line in the event log when it cannot be used) and starts the
    // thread, which connects at once and again after each loss, with a growing pause.
    void start();
    // Closes the connection and writes the state file; nothing waits on the server.
    void stop();

    // Engine thread; never waits.
    void record(const stream::MiniSeedRecord& record) override;
    // Engine thread: the uplink lost and back, records sent late, problems.
    std::vector<std::string> take_log_lines();
    Counters counters() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace velkantor::platform
