#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "board_model.h"
#include "signal_generator.h"

namespace velkantor::sim {

// An instrument without a clock or frames of its own (INFILTEC, N.E. LX1500, DATAQ DI194RS):
// while it streams, it sends one unit (a reading, a scan) at every tick of its sampling
// clock. The sampling clock runs at the PC rate (or off it by the clock's drift), shifted by
// the options' start time; tick k falls at instrument time k / ticks-per-second, so every
// unit can be recomputed.
//
// Like the ZEDA boards, it makes the bytes due up to each PC time it is told (receive,
// advance_to); a connection change takes effect at the last time it was told. A unit's bytes
// go out one after another at the line's byte rate, as a UART sends them, so a host that
// reads the port in batches sees them arrive as it would on a real line.
class InstrumentBoard : public BoardModel {
public:
    void receive(std::string_view bytes, double now) override;
    std::string advance_to(double now) override;
    double next_send_time() const override;
    int32_t signal_at(int channel, double board_epoch_seconds) const override;
    void set_connected(bool connected) override;

    bool streaming() const { return streaming_; }
    int ticks_per_second() const { return ticks_per_second_; }

protected:
    InstrumentBoard(const BoardOptions& options, int sample_bits, double bytes_per_second);

    // The station's bytes, heard while connected.
    virtual void hear(std::string_view bytes, double now) = 0;
    // The bytes of tick `tick`; `value` gives the signal of a channel at that tick and tells
    // the sample listener about it.
    virtual std::string unit(int64_t tick) = 0;

    // Sending starts with the first tick after `now` (a new rate takes effect at once).
    void start_streaming(int ticks_per_second, double now);
    void stop_streaming() { streaming_ = false; }
    int32_t value(int channel, int64_t tick) const;

private:
    void produce(double now);
    double tick_time(int64_t tick) const;
    void resume_after(double now);

    BoardOptions options_;
    int sample_bits_;
    double offset_;  // instrument epoch seconds minus PC epoch seconds
    double rate_;    // the sampling clock's seconds per PC second
    int ticks_per_second_ = 1;
    std::optional<SignalGenerator> signal_;
    bool connected_ = true;
    bool streaming_ = false;
    int64_t next_tick_ = 0;
    double told_ = -1e300;  // latest PC time the instrument was told

    // Made, not yet taken by advance_to: each byte with the PC time it has gone out by.
    struct Pending {
        double at;
        char byte;
    };
    std::deque<Pending> outgoing_;
    double byte_seconds_;
    double line_free_ = -1e300;  // when the last byte made has gone out
};

}  // namespace velkantor::sim
