#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "datalog/datalog_writer.h"
#include "stream/record_builder.h"
#include "stream/stream_settings.h"

namespace velkantor::stream {

// The station's miniSEED streams: fed with every channel's samples at the datalog's time
// positions, one record builder per channel, the finished records handed to every output
// (the day archive, the SeedLink server) on the engine's thread.
class StreamFeed : public runtime::SecondSink, public RecordSink {
public:
    StreamFeed(StationCodes codes, double latency_seconds, const config::Settings& settings);
    ~StreamFeed() override;

    void add_output(RecordSink* output) { outputs_.push_back(output); }
    // Each channel's samples as they are placed (for a live trace), before records are built.
    std::function<void(int ch, MicroTime first, double rate, const std::vector<int32_t>& values)>
        on_samples;
    // A problem the station's owner must hear of (once per run and channel).
    std::function<void(const std::string&)> on_problem;

    // runtime::SecondSink
    void samples(int ch, double second, double rate, char lock, const std::vector<int32_t>& values,
                 bool continues) override;
    void cut() override;
    // Once a second of the PC clock: a record whose channel has sent nothing for the latency
    // (a silent board) goes out with what it holds, without waiting for the restart.
    void idle_second();

    // The stream name of a channel as its records carry it (the code chosen from the rate
    // when network.ini names none).
    StreamId stream_id(int ch, double rate) const;
    long records() const { return records_; }

    // RecordSink: the builders' finished records, handed on to every output.
    void record(const MiniSeedRecord& record) override;

private:
    StationCodes codes_;
    MicroTime latency_;
    const config::Settings& settings_;
    std::array<std::unique_ptr<RecordBuilder>, config::kChannels> builders_;
    std::vector<RecordSink*> outputs_;
    long records_ = 0;
    std::array<bool, config::kChannels> clash_reported_{};
    std::array<int, config::kChannels> idle_seconds_{};
};

}  // namespace velkantor::stream
