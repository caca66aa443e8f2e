#pragma once

#include <csignal>
#include <functional>

#include "acquisition/station.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/serial_port.h"

namespace velkantor::app {

// The station as a service: a poll() loop on the serial port, the one-second timer, and
// SIGINT/SIGTERM for a clean STOP. It sleeps whenever no data waits.
class HeadlessHost : public platform::Host {
public:
    // After the port wakes the loop, bytes are let gather this long before the passes run
    // (nothing waits on a headless station: fewer wake-ups are what it saves).
    static constexpr double kBatchSeconds = 0.05;
    // The second's housekeeping judges the line by what waits in the port (bad frames with
    // little waiting are a noisy line; much waiting is a backlog). A batch just woken for is
    // neither: the tick waits for the passes to take it, but at most this long.
    static constexpr double kTickDelaySeconds = 0.2;

    HeadlessHost(const platform::Clock& clock, platform::SerialPort& port)
        : clock_(clock), port_(port) {}

    void attach(acquisition::Station* station) { station_ = station; }

    void do_events() override;
    void wait(double seconds) override;
    void wait_for_input(double seconds) override;
    // No window can release a held caller here, so nothing is held.
    void hold_while(const std::function<bool()>&) override {}

    // START, the main loop until a signal or `for_seconds` (0: no limit), STOP, the exit
    // sequence. Returns false when START was refused.
    bool run(double for_seconds);

    // Installs the SIGINT/SIGTERM handlers that ask the loop to stop.
    static void install_signal_handlers();
    static bool stop_requested();

private:
    // Sleeps until the monotonic `deadline`, or new input, ticking on the way.
    void sleep_until(double deadline, bool until_input);
    double now_epoch() const;
    void stop_if_asked();

    const platform::Clock& clock_;
    platform::SerialPort& port_;
    acquisition::Station* station_ = nullptr;
    double last_tick_second_ = -1;
    bool ticking_ = false;
    // Woken by the port, and the passes have not gone idle since.
    bool batch_waiting_ = false;
};

}  // namespace velkantor::app
