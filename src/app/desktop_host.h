#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "acquisition/station.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/serial_port.h"

namespace velkantor::app {

// The station inside the Qt event loop. A notifier on the serial port runs the main loop's
// passes when bytes arrive; between passes the loop yields every tenth of a second; the
// one-second timer `Timer1` runs the housekeeping. Waits of the engine are nested event
// loops, so the windows stay live during the board's handshake. Nothing spins: with no byte
// waiting the program sleeps in the event loop.
class DesktopHost : public QObject, public platform::Host {
public:
    DesktopHost(const platform::Clock& clock, platform::SerialPort& port);
    ~DesktopHost() override;

    void attach(acquisition::Station* station) { station_ = station; }

    void do_events() override;
    void wait(double seconds) override;
    void wait_for_input(double seconds) override;
    void hold_while(const std::function<bool()>& condition) override;

    // START (the button, or the timer's autostart): the handshake, then the run in the loop.
    bool start();
    // STOP: the run ends at the loop's next pass; the exit sequence follows.
    void stop();
    // Enables `Timer1` (the main window's load, last step).
    void enable_timer();

    // After every tick (the windows' indicators) and when a run ended.
    std::function<void()> on_tick;
    std::function<void()> on_run_ended;
    // After the passes of a batch, at most 25 times a second: the windows copy what the
    // passes drew to the screen.
    std::function<void()> on_refresh;

private:
    void on_port_ready();
    void run_passes();
    void tick_if_due();
    double now_epoch() const;
    void arm_notifier();
    void follow_port();

    const platform::Clock& clock_;
    platform::SerialPort& port_;
    acquisition::Station* station_ = nullptr;
    void refresh_if_due(bool now);

    // Bytes are let gather this long after the port wakes the loop: the charts move 25 times
    // a second, and every wake-up costs more than the passes it runs.
    static constexpr int kBatchMilliseconds = 40;
    static constexpr double kRefreshSeconds = 0.04;
    QTimer timer1_;
    std::chrono::steady_clock::time_point last_refresh_{};
    std::unique_ptr<QSocketNotifier> notifier_;
    double last_tick_second_ = -1;
    bool ticking_ = false;
    bool in_pass_ = false;
    bool pass_scheduled_ = false;
};

}  // namespace velkantor::app
