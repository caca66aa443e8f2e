#include "app/headless_host.h"

#include <poll.h>

#include <cerrno>
#include <cmath>

namespace velkantor::app {

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int) {
    g_stop_signal = 1;
}

}  // namespace

void HeadlessHost::install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll() returns at once on a signal
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool HeadlessHost::stop_requested() {
    return g_stop_signal != 0;
}

double HeadlessHost::now_epoch() const {
    return text::to_epoch_seconds(clock_.now());
}

void HeadlessHost::do_events() {
    if (ticking_ || !station_) return;
    double now = now_epoch();
    double second = std::floor(now);
    if (last_tick_second_ < 0) last_tick_second_ = second;
    // A clock step of several seconds gives one tick, as a window timer would.
    if (second == last_tick_second_) return;
    if (batch_waiting_ && now - second < kTickDelaySeconds) return;
    ticking_ = true;
    last_tick_second_ = second;
    station_->tick();
    ticking_ = false;
}

void HeadlessHost::sleep_until(double deadline, bool until_input) {
    for (;;) {
        do_events();
        // Deadlines are monotonic; the tick follows the PC clock's second, whose edge is
        // looked for at most a second ahead (a PC clock stepped meanwhile is seen then).
        double now = clock_.monotonic();
        if (now >= deadline || stop_requested()) return;
        double wall = now_epoch();
        double to_tick = std::floor(wall) + 1 - wall;
        double until = std::min(deadline, now + to_tick);
        int timeout_ms = static_cast<int>(std::ceil((until - now) * 1000));
        if (timeout_ms < 1) timeout_ms = 1;
        int fd = until_input ? port_.wait_handle() : -1;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, fd >= 0 ? 1 : 0, timeout_ms);
        if (ready > 0 && until_input) {
            batch_waiting_ = true;
            do_events();
            return;
        }
        if (until_input && clock_.monotonic() >= now + to_tick) {
            do_events();
            return;  // a tick may have changed what the loop must do
        }
    }
}

// The engine's own pauses: no pass is taking a batch meanwhile, so the ticks keep the second.
void HeadlessHost::wait(double seconds) {
    batch_waiting_ = false;
    sleep_until(clock_.monotonic() + seconds, false);
    stop_if_asked();
}

void HeadlessHost::wait_for_input(double seconds) {
    batch_waiting_ = false;
    sleep_until(clock_.monotonic() + seconds, true);
    stop_if_asked();
}

void HeadlessHost::stop_if_asked() {
    // A signal during the start-up (a handshake with a half-answering board takes up to
    // 40 s) or during an instrument's start script (sent from the first pass, when START has
    // returned) is STOP pressed then: either ends at this pause, not after every later step
    // has been sent. A run already stopping is not told again.
    if (!stop_requested() || !station_) return;
    if (station_->starting() || station_->run().acquisition_running == 1) station_->stop();
}

bool HeadlessHost::run(double for_seconds) {
    if (!station_) return false;
    // --for is a duration: a PC clock set back an hour must not add the hour to it.
    double deadline = for_seconds > 0 ? clock_.monotonic() + for_seconds : INFINITY;
    if (!station_->start()) return false;
    while (station_->in_run()) {
        if ((stop_requested() || clock_.monotonic() >= deadline) &&
            station_->run().acquisition_running == 1) {
            station_->stop();
        }
        auto result = station_->pass();
        if (result.ended) break;
        if (result.yield) do_events();
        if (result.idle) batch_waiting_ = false;
        if (result.idle && station_->run().acquisition_running == 1) {
            sleep_until(std::min(deadline, clock_.monotonic() + 1), true);
            // The board's frames trickle in a few bytes at a time; waking for each would cost
            // more than handling them. Let a batch gather (the port's buffer holds seconds).
            if (!stop_requested()) sleep_until(clock_.monotonic() + kBatchSeconds, false);
        }
    }
    return true;
}

}  // namespace velkantor::app
