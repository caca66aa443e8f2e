#include "app/desktop_host.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cmath>

namespace velkantor::app {

DesktopHost::DesktopHost(const platform::Clock& clock, platform::SerialPort& port)
    : clock_(clock), port_(port) {
    // The second's edge is looked for five times a second, so the housekeeping runs within
    // 0.2 s of each PC second, as a one-second window timer would.
    timer1_.setInterval(200);
    connect(&timer1_, &QTimer::timeout, this, [this] { tick_if_due(); });
}

DesktopHost::~DesktopHost() = default;

double DesktopHost::now_epoch() const {
    return text::to_epoch_seconds(clock_.now());
}

void DesktopHost::enable_timer() {
    timer1_.start();
}

void DesktopHost::tick_if_due() {
    if (ticking_ || !station_) return;
    double second = std::floor(now_epoch());
    if (last_tick_second_ < 0) last_tick_second_ = second;
    if (second == last_tick_second_) return;
    last_tick_second_ = second;
    ticking_ = true;
    station_->tick();
    ticking_ = false;
    if (on_tick) on_tick();
    // A silent board sends nothing to wake the notifier: the loop still passes once a
    // second, as it must to notice a stop or a restart.
    if (station_->in_run() && !in_pass_ && !pass_scheduled_) {
        pass_scheduled_ = true;
        QTimer::singleShot(0, this, [this] { run_passes(); });
    }
    // Autostart: the timer presses START (never from inside START's own questions and pauses).
    if (!station_->in_run() && !station_->starting() && station_->timer().take_start_request()) {
        start();
    }
}

void DesktopHost::do_events() {
    // The engine's yield: windows, buttons and the timer run; the port's notifier cannot
    // start a pass inside a pass.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    tick_if_due();
}

void DesktopHost::wait(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(std::max(0, static_cast<int>(std::lround(seconds * 1000))), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

void DesktopHost::wait_for_input(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(std::max(0, static_cast<int>(std::lround(seconds * 1000))), &loop,
                       &QEventLoop::quit);
    std::unique_ptr<QSocketNotifier> input;
    int fd = port_.wait_handle();
    if (fd >= 0) {
        input = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(input.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    bool main_notifier = notifier_ && notifier_->isEnabled();
    if (notifier_) notifier_->setEnabled(false);
    loop.exec();
    if (notifier_) notifier_->setEnabled(main_notifier);
}

void DesktopHost::hold_while(const std::function<bool()>& condition) {
    // Held by the error list's BREAK: the event loop sleeps until a button (or the timer)
    // wakes it, then the condition is looked at again.
    while (condition()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick_if_due();
    }
}

void DesktopHost::arm_notifier() {
    int fd = port_.wait_handle();
    notifier_.reset();
    if (fd < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { on_port_ready(); });
}

bool DesktopHost::start() {
    if (!station_ || station_->in_run() || station_->starting()) return false;
    if (!station_->start()) return false;
    arm_notifier();
    run_passes();
    return true;
}

void DesktopHost::stop() {
    if (station_ && station_->starting()) {
        // STOP during the handshake or a start-up question: the start-up ends at its next
        // pause and START's own return restores the buttons.
        station_->stop();
        return;
    }
    if (!station_ || !station_->in_run()) return;
    station_->stop();
    // The exit sequence runs in the next passes, whether or not bytes arrive.
    if (!pass_scheduled_) {
        pass_scheduled_ = true;
        QTimer::singleShot(0, this, [this] { run_passes(); });
    }
}

void DesktopHost::follow_port() {
    // A device that hung up (an adapter pulled out, a board's line gone) reads as ready for
    // ever: it is not watched until the restart has opened the port again, perhaps on
    // another descriptor; meanwhile the tick's pass once a second notices the silence.
    int fd = port_.wait_handle();
    if (fd < 0) {
        notifier_.reset();
    } else if (!notifier_ || notifier_->socket() != fd) {
        arm_notifier();
    } else {
        notifier_->setEnabled(true);
    }
}

void DesktopHost::refresh_if_due(bool now) {
    auto at = std::chrono::steady_clock::now();
    if (!now && at - last_refresh_ < std::chrono::duration<double>(kRefreshSeconds)) return;
    last_refresh_ = at;
    if (on_refresh) on_refresh();
}

void DesktopHost::on_port_ready() {
    if (!notifier_) return;
    // Off until the passes have read what is there (follow_port turns it on again): while
    // bytes wait, the notifier fires at every turn of the event loop. Inside a pass that
    // is the engine's DoEvents, whose loop would otherwise go round on this one source,
    // polling, until its time limit, at each value-label refresh.
    notifier_->setEnabled(false);
    if (in_pass_) return;
    // The first bytes of a batch: the passes run once a few milliseconds' worth has come.
    if (!pass_scheduled_) {
        pass_scheduled_ = true;
        QTimer::singleShot(kBatchMilliseconds, this, [this] { run_passes(); });
    }
}

void DesktopHost::run_passes() {
    pass_scheduled_ = false;
    if (!station_ || in_pass_) return;
    in_pass_ = true;
    bool ended = false;
    bool more = false;
    while (station_->in_run()) {
        auto result = station_->pass();
        if (result.ended || !station_->in_run()) {
            ended = true;
            break;
        }
        if (result.idle && station_->run().acquisition_running == 1) break;
        if (result.yield) {
            // Back to the event loop for the windows; the passes go on right after.
            more = true;
            break;
        }
    }
    in_pass_ = false;
    follow_port();
    if (ended) {
        notifier_.reset();
        refresh_if_due(true);
        if (on_run_ended) on_run_ended();
        return;
    }
    refresh_if_due(false);
    // A stopping run or a yield goes on without waiting for the port (the port may have
    // bytes in its own buffer, which the notifier does not see).
    if ((more || station_->run().acquisition_running != 1) && !pass_scheduled_) {
        pass_scheduled_ = true;
        QTimer::singleShot(0, this, [this] { run_passes(); });
    }
    tick_if_due();
}

}  // namespace velkantor::app
