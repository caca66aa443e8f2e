#pragma once

#include <cstdint>
#include <functional>

#include "acquisition/station.h"
#include "platform/fake/memory_serial_port.h"
#include "platform/fake/virtual_clock.h"
#include "platform/host.h"

namespace velkantor::app {

// The tests' host: virtual time, an in-memory line, nothing waits for real. Time moves only
// when the station waits or idles, straight to the next thing that happens (a byte from the
// board, a timer tick, the end of a wait), so a day of acquisition runs in seconds.
class VirtualHost : public platform::Host {
public:
    // What is on the other end of the line: it delivers what is due up to the clock's now
    // and tells when it next has something to say.
    struct Line {
        std::function<void()> pump;
        std::function<double()> next_send_time;
    };

    explicit VirtualHost(platform::VirtualClock& clock) : clock_(clock) {}

    void attach(acquisition::Station* station, platform::SerialPort* port) {
        station_ = station;
        port_ = port;
    }
    void attach_line(Line line) { line_ = std::move(line); }

    void do_events() override;
    void wait(double seconds) override;
    void wait_for_input(double seconds) override;
    void hold_while(const std::function<bool()>& condition) override;

    // Presses START and runs the main loop for `seconds` of virtual time, then STOP and the
    // exit sequence. False when START was refused.
    bool run_for(double seconds);
    // Runs the loop until `epoch` (virtual) without stopping.
    void run_until(double epoch);

    // Called once per timer tick, after the station's own tick, with the virtual now.
    std::function<void(double)> on_tick;
    // Called while a caller is held (BREAK): the test presses a button here.
    std::function<void()> on_hold;

    int ticks() const { return ticks_; }

    // Batches as the real hosts take them: once the port wakes an idle loop, the bytes are
    // let gather for a while (here between `shortest` and `longest` seconds, varying from
    // batch to batch) before the passes run, and the second's tick waits for the passes to
    // take the batch, at most 0.2 s into the second. Off (0): every byte is handed over the
    // moment it arrives.
    void set_batches(double shortest, double longest) {
        batch_shortest_ = shortest;
        batch_longest_ = longest;
    }

private:
    void advance(double target, bool until_input);
    void run_due_ticks();
    double next_batch_seconds();

    platform::VirtualClock& clock_;
    acquisition::Station* station_ = nullptr;
    platform::SerialPort* port_ = nullptr;
    Line line_;
    double last_tick_second_ = -1;
    int ticks_ = 0;
    bool ticking_ = false;
    double batch_shortest_ = 0;
    double batch_longest_ = 0;
    uint64_t batch_draw_ = 0x9E3779B97F4A7C15ull;
    // Woken by the port, and the passes have not gone idle since.
    bool batch_waiting_ = false;
};

}  // namespace velkantor::app
