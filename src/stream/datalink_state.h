#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::stream {

// What a DataLink server has acknowledged, per stream, as spans of records: from the record
// starting at `first` to the one starting at `last`, every record the archive holds was
// acknowledged. Live records make a new span after each break (an outage, a record the
// sender had to drop); the records between two spans are in the archive only, and the
// backfill sends them oldest first, extending the earlier span until it meets the later.
// Record start times are the key: the server's packet ids are its own and get reused.
struct DeliveredSpan {
    MicroTime first = 0;
    MicroTime last = 0;
    bool operator==(const DeliveredSpan&) const = default;
};

// Records the archive holds between two spans, still to be sent: those starting after
// `after` and before `before`.
struct DeliveryGap {
    std::string stream;  // "XX_VELK_00_HHZ"
    MicroTime after = 0;
    MicroTime before = 0;
    bool operator==(const DeliveryGap&) const = default;
};

class DeliveryState {
public:
    // Spans kept per stream; beyond, the oldest gap is given up (its records stay unsent).
    static constexpr size_t kMaxSpans = 256;

    // `since`: records starting before it are never sent late (those of a station's first
    // run with the sender begin there, not at the start of the archive).
    explicit DeliveryState(std::string server = {}, MicroTime since = 0)
        : server_(std::move(server)), since_(since) {}

    const std::string& server() const { return server_; }
    MicroTime since() const { return since_; }

    // A live record was acknowledged. `follows`: the record before it in the stream was
    // acknowledged live just before it, with nothing dropped between (the span goes on).
    void live_acknowledged(const std::string& stream, MicroTime start, bool follows);
    // A record sent from the archive was acknowledged: the span it follows now reaches it.
    void late_acknowledged(const std::string& stream, MicroTime start);
    // The archive holds nothing more in the gap: the spans around it become one (the span
    // before may have grown meanwhile; the one after is found by its first record).
    void gap_closed(const DeliveryGap& gap);

    // The oldest gap of all streams (by the time it begins), if any.
    std::optional<DeliveryGap> oldest_gap() const;
    // The gaps given up to the span limit, and records given up with them (counted by the
    // caller, which knows them); taken when read.
    size_t take_given_up() {
        size_t n = given_up_;
        given_up_ = 0;
        return n;
    }

    const std::map<std::string, std::vector<DeliveredSpan>>& streams() const { return streams_; }
    bool operator==(const DeliveryState&) const = default;

    // The state file: a first line naming the format, "server HOST:PORT", "since MICROS",
    // then one "STREAM FIRST LAST" line per span, streams and spans in order.
    std::string format() const;
    // Nullopt, with the reason in `error`, for anything but a well-formed file.
    static std::optional<DeliveryState> parse(const std::string& text, std::string& error);

private:
    std::string server_;
    MicroTime since_ = 0;
    std::map<std::string, std::vector<DeliveredSpan>> streams_;
    size_t given_up_ = 0;
};

// The stream id a state line names ("XX_VELK_00_HHZ" or "XX_VELK__HHZ"); nullopt when it is
// not four codes joined by "_".
std::optional<StreamId> stream_id_from_text(const std::string& text);

// Records per second the backfill may send: a bucket of `burst` tokens refilled at `rate`.
// Time is the caller's (a steady clock), in microseconds.
class RateBound {
public:
    RateBound(double rate, double burst) : rate_(rate), burst_(burst), tokens_(burst) {}
    // Takes a token when one is there.
    bool take(MicroTime now);
    // When the next token is there (now, if one is).
    MicroTime next_token(MicroTime now);

private:
    void refill(MicroTime now);
    double rate_;
    double burst_;
    double tokens_;
    std::optional<MicroTime> last_;
};

}  // namespace velkantor::stream
