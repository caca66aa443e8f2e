#include "stream/stream_feed.h"

#include <cmath>
#include <cstdlib>

namespace velkantor::stream {

StreamFeed::StreamFeed(StationCodes codes, double latency_seconds, const config::Settings& settings)
    : codes_(std::move(codes)),
      latency_(std::llround(latency_seconds * 1e6)),
      settings_(settings) {}

StreamFeed::~StreamFeed() {
    for (auto& builder : builders_) builder.reset();  // flushes into the outputs, still alive
}

StreamId StreamFeed::stream_id(int ch, double rate) const {
    auto c = static_cast<size_t>(ch);
    std::string channel = codes_.channels[c];
    if (channel.empty()) channel = default_channel_code(rate, settings_.channels, ch);
    return {codes_.network, codes_.station, codes_.location, channel};
}

void StreamFeed::samples(int ch, double second, double rate, char lock,
                         const std::vector<int32_t>& values, bool continues) {
    if (ch < 0 || ch >= config::kChannels || values.empty()) return;
    auto& builder = builders_[static_cast<size_t>(ch)];
    StreamId id = stream_id(ch, rate);
    if (id.channel.empty()) {
        if (!clash_reported_[static_cast<size_t>(ch)] && on_problem) {
            on_problem("Channel " + std::to_string(ch + 1) +
                       " has no SEED orientation code left (N, E, Z, 1, 2 and 3 are taken): it is "
                       "not streamed (name it in network.ini, [station] channels)");
        }
        clash_reported_[static_cast<size_t>(ch)] = true;
        return;
    }
    // Two channels under one name would interleave their samples in one stream.
    for (int other = 0; other < config::kChannels; ++other) {
        const auto& theirs = builders_[static_cast<size_t>(other)];
        if (other == ch || !theirs || !(theirs->id() == id)) continue;
        if (!clash_reported_[static_cast<size_t>(ch)] && on_problem) {
            on_problem("Channel " + std::to_string(ch + 1) + " has the stream name " + id.text() +
                       " of channel " + std::to_string(other + 1) +
                       ": it is not streamed (name it in network.ini, [station] channels)");
        }
        clash_reported_[static_cast<size_t>(ch)] = true;
        return;
    }
    if (!builder || !(builder->id() == id)) {
        builder.reset();  // a new name (the rate's band changed): its records are finished
        builder = std::make_unique<RecordBuilder>(id, *this);
        continues = false;
    }
    const auto first = static_cast<MicroTime>(std::llround(second * 1e6));
    // A day's records stay in the day: at midnight the record in progress ends, and the new
    // day begins at its own second (an instrument paced by the PC may have drifted from it).
    idle_seconds_[static_cast<size_t>(ch)] = 0;
    if (std::fmod(second, 86400.0) == 0) {
        builder->end_segment();
        continues = false;
    }
    // An instrument paced by the PC clock sends about its rate, never exactly: counted on at
    // the rate's spacing its samples drift from their seconds. Once the running position is
    // more than half a sample from the second's own time, the record ends and the stream
    // goes on from that time.
    if (continues && builder->open() && std::llabs(builder->next_time() - first) * rate > 500000) {
        builder->end_segment();
        continues = false;
    }
    if (on_samples) on_samples(ch, first, rate, values);
    builder->add(first, rate, lock == 'L', values, continues);
    // A record waits for more samples at most the latency.
    const auto now = static_cast<MicroTime>(std::llround((second + 1) * 1e6));
    if (builder->pending() && now - builder->oldest_pending() >= latency_) builder->flush();
}

void StreamFeed::idle_second() {
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        if (!builders_[c] || !builders_[c]->pending()) continue;
        if (++idle_seconds_[c] * int64_t{1000000} >= latency_) builders_[c]->flush();
    }
}

void StreamFeed::cut() {
    for (auto& builder : builders_) {
        if (builder) builder->end_segment();
    }
}

void StreamFeed::record(const MiniSeedRecord& record) {
    ++records_;
    for (auto* output : outputs_) output->record(record);
}

}  // namespace velkantor::stream
