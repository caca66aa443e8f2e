#include "app/virtual_host.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velkantor::app {

namespace {

// As the headless host: a tick waits this long into its second for a batch to be taken.
constexpr double kTickDelaySeconds = 0.2;

}  // namespace

double VirtualHost::next_batch_seconds() {
    // A fixed sequence (xorshift), so that a failing run can be run again as it was.
    batch_draw_ ^= batch_draw_ << 13;
    batch_draw_ ^= batch_draw_ >> 7;
    batch_draw_ ^= batch_draw_ << 17;
    double unit = static_cast<double>(batch_draw_ >> 11) * 0x1.0p-53;
    return batch_shortest_ + (batch_longest_ - batch_shortest_) * unit;
}

void VirtualHost::run_due_ticks() {
    if (ticking_) return;  // a tick that waits must not tick again inside itself
    double now = clock_.epoch_seconds();
    double second = std::floor(now);
    if (last_tick_second_ < 0) last_tick_second_ = second;
    if (batch_waiting_ && last_tick_second_ < second && now - second < kTickDelaySeconds) return;
    ticking_ = true;
    while (last_tick_second_ < second) {
        last_tick_second_ += 1;
        ++ticks_;
        if (station_) station_->tick();
        if (on_tick) on_tick(clock_.epoch_seconds());
    }
    ticking_ = false;
}

void VirtualHost::do_events() {
    if (line_.pump) line_.pump();
    run_due_ticks();
}

void VirtualHost::advance(double target, bool until_input) {
    size_t waiting = port_ ? port_->bytes_waiting() : 0;
    int ticks = ticks_;
    for (;;) {
        if (line_.pump) line_.pump();
        run_due_ticks();
        // Like the real hosts, an idle wait ends with new bytes or with a timer tick.
        if (until_input && ((port_ && port_->bytes_waiting() > waiting) || ticks_ != ticks)) {
            return;
        }
        double now = clock_.epoch_seconds();
        if (now >= target) return;
        double next = std::min(target, std::floor(now) + 1);
        if (line_.next_send_time) next = std::min(next, line_.next_send_time());
        // Time always moves on, even when the board says it is already due.
        clock_.set(std::max(next, std::nextafter(now, std::numeric_limits<double>::infinity())));
    }
}

// The engine's own pauses: no pass is taking a batch meanwhile.
void VirtualHost::wait(double seconds) {
    batch_waiting_ = false;
    advance(clock_.epoch_seconds() + seconds, false);
}

void VirtualHost::wait_for_input(double seconds) {
    batch_waiting_ = false;
    advance(clock_.epoch_seconds() + seconds, true);
}

void VirtualHost::hold_while(const std::function<bool()>& condition) {
    // Only the test can release a held caller; give it the chance once per virtual second.
    for (int turns = 0; condition() && turns < 100000; ++turns) {
        if (on_hold) on_hold();
        if (!condition()) return;
        advance(clock_.epoch_seconds() + 1, false);
    }
}

void VirtualHost::run_until(double epoch) {
    while (station_ && station_->in_run() && clock_.epoch_seconds() < epoch) {
        auto result = station_->pass();
        if (result.ended) return;
        if (result.yield) do_events();
        if (result.idle) {
            batch_waiting_ = false;
            size_t waiting = port_ ? port_->bytes_waiting() : 0;
            advance(epoch, true);
            if (batch_longest_ > 0 && station_->run().acquisition_running == 1) {
                batch_waiting_ = port_ && port_->bytes_waiting() > waiting;
                advance(std::min(epoch, clock_.epoch_seconds() + next_batch_seconds()), false);
            }
        }
    }
}

bool VirtualHost::run_for(double seconds) {
    if (!station_ || !station_->start()) return false;
    run_until(clock_.epoch_seconds() + seconds);
    station_->stop();
    while (station_->in_run()) {
        auto result = station_->pass();
        if (result.ended) break;
    }
    return true;
}

}  // namespace velkantor::app
