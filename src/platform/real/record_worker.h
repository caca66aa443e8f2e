#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::platform {

// Hands records over to a sink that may be slow (the day archive on an SD card or a network
// share) and runs it on a thread of its own, so the engine never waits for a write. The
// hand-over is bounded by bytes: when the sink falls that far behind, new records are not
// taken (counted, and said once per episode) rather than the engine waiting or memory
// growing without end; the datalog still holds their samples.
class RecordWorker : public stream::RecordSink {
public:
    RecordWorker(stream::RecordSink& target, size_t max_bytes);
    ~RecordWorker() override;  // stops
    RecordWorker(const RecordWorker&) = delete;
    RecordWorker& operator=(const RecordWorker&) = delete;

    // Engine thread; never waits for the sink.
    void record(const stream::MiniSeedRecord& record) override;
    // Lets the sink finish what was handed over, then ends the thread.
    void stop();
    // Lines for the event log (the sink's, through `tell`, and the worker's own), taken on
    // the engine's thread.
    std::vector<std::string> take_lines();
    // Any thread: a line for the event log.
    void tell(std::string line);

    long dropped() const;
    // Records handed over and not yet through the sink.
    size_t waiting() const;

private:
    void run();

    stream::RecordSink& target_;
    const size_t max_bytes_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<stream::MiniSeedRecord> queue_;
    size_t bytes_ = 0;
    size_t busy_ = 0;  // records taken by the thread and not yet written
    bool stopping_ = false;
    bool full_ = false;
    long dropped_ = 0;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace velkantor::platform
