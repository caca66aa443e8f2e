#include "platform/real/datalink_sender.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "stream/datalink_backfill.h"
#include "stream/datalink_protocol.h"
#include "stream/datalink_state.h"

namespace velkantor::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Steady = std::chrono::steady_clock;

namespace {

// Bytes written and not yet through the socket beyond which no more live records are taken
// from the hand-over queue (they wait there, or it drops them, counted).
constexpr size_t kMaxUnwritten = 64 * 1024;
// Records written and not acknowledged, at most.
constexpr size_t kMaxInFlight = 256;
// The archive not written up to a gap's end this long: the records missing are taken as lost
// to the archive (it was full or failing) and the gap as closed.
constexpr auto kArchiveWait = std::chrono::minutes(5);
// What the stop waits at most for the last records' acknowledgements.
constexpr auto kStopGrace = std::chrono::seconds(3);

constexpr const char* kArchitecture =
#if defined(__x86_64__)
    "x86_64";
#elif defined(__aarch64__)
    "aarch64";
#elif defined(__arm__)
    "arm";
#else
    "unknown";
#endif

stream::MicroTime system_now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

stream::MicroTime steady_micros(Steady::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

std::string seconds_text(Steady::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

}  // namespace

struct DataLinkSender::Impl {
    enum class Phase { Idle, Connecting, Identifying, Ready };

    struct Queued {
        stream::MiniSeedRecord record;
        uint64_t serial = 0;  // the stream's count of records handed over
    };
    struct InFlight {
        bool late = false;
        std::string stream;
        stream::MicroTime start = 0;
        uint64_t serial = 0;
        Steady::time_point sent;
    };

    Impl(Config c, FileSystem& f)
        : config(std::move(c)),
          fs(f),
          backfill_on(!config.archive_folder.empty() && !config.state_path.empty()),
          retry_pause(config.first_retry),
          reader(f, config.archive_folder),
          rate(config.backfill_rate, std::max(1.0, config.backfill_rate)) {}

    std::string where() const {
        return (config.host.find(':') != std::string::npos ? "[" + config.host + "]"
                                                           : config.host) +
               ":" + std::to_string(config.port);
    }

    // Any thread.
    void log(std::string line) {
        std::lock_guard lock(mutex);
        if (lines.size() < 1000) lines.push_back("DataLink: " + std::move(line));
    }

    void load_state();
    void save_state();
    void connect();
    void fail(const std::string& reason);
    void read();
    void received(const stream::DataLinkPacket& packet);
    void acknowledged();
    void pump();
    void backfill();
    void flush();
    void schedule_tick();
    void schedule_backfill(Steady::time_point at);
    void shutdown();
    // Stopping: ends once what was written is acknowledged (or the grace is over).
    void finish_if_done();

    Config config;
    FileSystem& fs;
    const bool backfill_on;
    asio::io_context context{1};
    std::thread thread;
    bool running = false;
    bool stopping = false;
    asio::steady_timer grace_timer{context};

    // The hand-over from the engine.
    mutable std::mutex mutex;
    std::deque<Queued> queue;
    size_t queue_bytes = 0;
    bool drain_posted = false;
    bool accepting = false;  // connected and identified: live records are taken
    std::map<std::string, uint64_t> serials;
    std::vector<std::string> lines;
    Counters counters;

    // The service thread's own.
    tcp::resolver resolver{context};
    tcp::socket socket{context};
    asio::steady_timer retry_timer{context};
    asio::steady_timer tick_timer{context};
    asio::steady_timer backfill_timer{context};
    bool backfill_timer_set = false;
    Phase phase = Phase::Idle;
    Steady::time_point phase_since;
    uint64_t attempt = 0;  // tells a stale handler from the current connection's
    std::array<char, 4096> read_buffer{};
    stream::DataLinkReader replies;
    std::string unwritten;  // frames waiting for the socket
    std::string writing;    // the frames being written
    bool write_busy = false;
    std::deque<InFlight> in_flight;
    std::map<std::string, uint64_t> live_acknowledged;  // this connection's last, per stream
    std::chrono::milliseconds retry_pause;

    stream::DeliveryState state;
    bool state_dirty = false;
    bool state_failing = false;
    stream::ArchiveReader reader;
    stream::RateBound rate;
    // The gap being sent, the start of the last record of it written, whether the archive
    // holds nothing more of it (closed once what was written is acknowledged).
    std::optional<stream::DeliveryGap> gap;
    stream::MicroTime gap_sent_after = 0;
    size_t late_in_flight = 0;
    bool gap_exhausted = false;
    std::optional<Steady::time_point> archive_behind_since;
    uint64_t late_told = 0;  // records sent late since the last "caught up" line

    // The uplink as the event log knows it.
    bool up = false;
    bool ever_up = false;
    bool unreachable_told = false;
    Steady::time_point lost_at;
};

void DataLinkSender::Impl::load_state() {
    state = stream::DeliveryState(where(), system_now());
    if (!backfill_on) return;
    if (!fs.exists(config.state_path)) {
        state_dirty = true;
        return;
    }
    auto text = fs.read_file(config.state_path, 1 << 20);
    std::string error = text ? "" : "it cannot be read";
    std::optional<stream::DeliveryState> loaded;
    if (text) loaded = stream::DeliveryState::parse(*text, error);
    if (!loaded) {
        log("the state file " + config.state_path + " cannot be used (" + error +
            "): records not yet sent from before this start are not sent late");
    } else if (loaded->server() != where()) {
        log("the state file " + config.state_path + " is for the server " + loaded->server() +
            ": for " + where() + " only the records from this start on are sent");
    } else {
        state = std::move(*loaded);
        return;
    }
    state_dirty = true;
}

void DataLinkSender::Impl::save_state() {
    if (!backfill_on || !state_dirty) return;
    if (auto written = fs.replace_file(config.state_path, state.format()); !written) {
        if (!state_failing) {
            log("the state file " + config.state_path + " cannot be written (" + written.error +
                "): a restart may send records again");
        }
        state_failing = true;
        return;
    }
    state_failing = false;
    state_dirty = false;
}

void DataLinkSender::Impl::connect() {
    phase = Phase::Connecting;
    phase_since = Steady::now();
    const uint64_t current = ++attempt;
    resolver.async_resolve(
        config.host, std::to_string(config.port), tcp::resolver::numeric_service,
        [this, current](error_code ec, tcp::resolver::results_type found) {
            if (current != attempt) return;
            if (ec) return fail("the name " + config.host + " cannot be resolved: " + ec.message());
            asio::async_connect(
                socket, found, [this, current](error_code connect_ec, const tcp::endpoint&) {
                    if (current != attempt) return;
                    if (connect_ec) return fail(connect_ec.message());
                    error_code ignored;
                    socket.set_option(tcp::no_delay(true), ignored);
                    phase = Phase::Identifying;
                    phase_since = Steady::now();
                    replies = stream::DataLinkReader();
                    unwritten += stream::datalink_frame(stream::datalink_id(
                        config.program, config.user, static_cast<long>(::getpid()), kArchitecture));
                    flush();
                    read();
                });
        });
}

void DataLinkSender::Impl::fail(const std::string& reason) {
    if (phase == Phase::Idle) return;
    ++attempt;  // the handlers of this connection find themselves stale
    error_code ignored;
    resolver.cancel();
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    backfill_timer.cancel();
    backfill_timer_set = false;
    {
        std::lock_guard lock(mutex);
        accepting = false;
        // They are in the archive: the backfill sends them once the uplink is back.
        counters.dropped += queue.size();
        queue.clear();
        queue_bytes = 0;
    }
    const size_t unacknowledged = in_flight.size();
    in_flight.clear();
    unwritten.clear();
    write_busy = false;
    gap.reset();
    late_in_flight = 0;
    gap_exhausted = false;
    live_acknowledged.clear();
    phase = Phase::Idle;
    if (up) {
        up = false;
        lost_at = Steady::now();
        unreachable_told = true;  // the loss is said; the failed tries that follow are not
        log("uplink to " + where() + " lost (" + reason + "), " + std::to_string(unacknowledged) +
            " records unacknowledged; " +
            (backfill_on ? "what it misses is sent later from the archive"
                         : "records made until it is back are not delivered"));
    } else if (!unreachable_told) {
        unreachable_told = true;
        log("the server " + where() + " cannot be reached (" + reason + "); trying again");
    }
    save_state();
    if (stopping) return shutdown();
    retry_timer.expires_after(retry_pause);
    retry_pause = std::min(retry_pause * 2, config.last_retry);
    retry_timer.async_wait([this](error_code ec) {
        if (!ec && running) connect();
    });
}

void DataLinkSender::Impl::read() {
    const uint64_t current = attempt;
    socket.async_read_some(asio::buffer(read_buffer), [this, current](error_code ec, size_t n) {
        if (current != attempt) return;
        if (ec) {
            return fail(ec == asio::error::eof ? std::string("closed by the server")
                                               : ec.message());
        }
        replies.feed(std::string_view(read_buffer.data(), n));
        while (auto packet = replies.next()) {
            received(*packet);
            if (current != attempt) return;
        }
        if (replies.failed()) return fail(replies.error());
        read();
    });
}

void DataLinkSender::Impl::received(const stream::DataLinkPacket& packet) {
    auto reply = stream::parse_datalink_reply(packet);
    if (!reply) {
        return fail("a reply that is not understood: \"" + packet.header.substr(0, 60) + "\"");
    }
    using Kind = stream::DataLinkReply::Kind;
    if (phase == Phase::Identifying) {
        if (reply->kind != Kind::Id) return fail("no ID in answer to ours");
        if (!reply->can_write()) {
            return fail(
                "the server does not take records from this station (no WRITE in "
                "its capabilities)");
        }
        phase = Phase::Ready;
        phase_since = Steady::now();
        ++counters.connects;
        {
            std::lock_guard lock(mutex);
            accepting = true;
        }
        if (ever_up && !up && lost_at != Steady::time_point{}) {
            log("uplink to " + where() + " back after " + seconds_text(Steady::now() - lost_at));
        } else {
            log("uplink to " + where() + " up (" + reply->server + ")");
        }
        up = true;
        ever_up = true;
        unreachable_told = false;
        pump();
        return;
    }
    if (reply->kind == Kind::Ok) {
        if (in_flight.empty()) return fail("an acknowledgement of nothing written");
        acknowledged();
        retry_pause = config.first_retry;
        pump();
        finish_if_done();
        return;
    }
    if (reply->kind == Kind::Error) {
        std::string what = in_flight.empty() ? std::string("nothing") : in_flight.front().stream;
        return fail("the server refused a record of " + what + ": " + std::to_string(reply->value) +
                    " " + reply->message);
    }
    fail("an unexpected \"" + reply->message + "\"");
}

void DataLinkSender::Impl::acknowledged() {
    InFlight done = std::move(in_flight.front());
    in_flight.pop_front();
    state_dirty = true;
    if (done.late) {
        state.late_acknowledged(done.stream, done.start);
        {
            std::lock_guard lock(mutex);
            ++counters.late;
        }
        ++late_told;
        if (late_in_flight > 0) --late_in_flight;
        if (gap_exhausted && late_in_flight == 0 && gap) {
            state.gap_closed(*gap);
            gap.reset();
            gap_exhausted = false;
        }
        return;
    }
    auto previous = live_acknowledged.find(done.stream);
    const bool follows = previous != live_acknowledged.end() && previous->second + 1 == done.serial;
    state.live_acknowledged(done.stream, done.start, follows);
    live_acknowledged[done.stream] = done.serial;
    std::lock_guard lock(mutex);
    ++counters.live;
}

void DataLinkSender::Impl::pump() {
    {
        std::unique_lock lock(mutex);
        drain_posted = false;
        if (phase != Phase::Ready) return;
        while (!queue.empty() && unwritten.size() < kMaxUnwritten &&
               in_flight.size() < kMaxInFlight) {
            Queued next = std::move(queue.front());
            queue.pop_front();
            queue_bytes -= next.record.bytes.size();
            lock.unlock();
            InFlight entry;
            entry.stream = next.record.id.text();
            entry.serial = next.serial;
            // The start as the archive's header says it, so that both ways name it alike.
            auto header = stream::parse_record_header(next.record.bytes);
            entry.start = header ? header->start : next.record.start;
            entry.sent = Steady::now();
            unwritten += stream::datalink_write(next.record, true);
            in_flight.push_back(std::move(entry));
            lock.lock();
        }
    }
    backfill();
    flush();
}

void DataLinkSender::Impl::backfill() {
    if (!backfill_on || stopping) return;
    for (;;) {
        if (late_in_flight >= static_cast<size_t>(std::max(1, config.backfill_window)) ||
            gap_exhausted || unwritten.size() >= kMaxUnwritten ||
            in_flight.size() >= kMaxInFlight) {
            return;
        }
        if (late_in_flight == 0) {
            gap = state.oldest_gap();
            // A stream's records after its last acknowledged one are owed until a live record
            // of this connection closes the gap behind them.
            const bool tails_closed = std::all_of(
                state.streams().begin(), state.streams().end(),
                [this](const auto& entry) { return live_acknowledged.count(entry.first) > 0; });
            if (!gap) {
                if (late_told > 0 && tails_closed) {
                    log("caught up: " + std::to_string(late_told) +
                        " records sent late from the archive");
                    late_told = 0;
                }
                return;
            }
            gap_sent_after = gap->after;
        }
        auto id = stream::stream_id_from_text(gap->stream);
        if (!id) {
            state.gap_closed(*gap);
            gap.reset();
            continue;
        }
        const auto now = Steady::now();
        const stream::MicroTime next_token = rate.next_token(steady_micros(now));
        if (next_token > steady_micros(now)) {
            schedule_backfill(now + std::chrono::microseconds(next_token - steady_micros(now)));
            return;
        }
        auto step = reader.next(*id, gap_sent_after, gap->before);
        using Kind = stream::BackfillStep::Kind;
        if (step.kind == Kind::NotYet) {
            if (!archive_behind_since) archive_behind_since = now;
            if (now - *archive_behind_since < kArchiveWait) {
                schedule_backfill(now + std::chrono::seconds(1));
                return;
            }
            step.kind = Kind::Closed;  // what is missing never came to the archive
        }
        archive_behind_since.reset();
        if (step.kind == Kind::Closed) {
            if (late_in_flight > 0) {
                gap_exhausted = true;
                return;
            }
            state.gap_closed(*gap);
            state_dirty = true;
            gap.reset();
            continue;
        }
        rate.take(steady_micros(now));
        InFlight entry;
        entry.late = true;
        entry.stream = gap->stream;
        entry.start = step.record.start;
        entry.sent = now;
        step.record.id = *id;
        unwritten += stream::datalink_write(step.record, true);
        in_flight.push_back(std::move(entry));
        gap_sent_after = step.record.start;
        ++late_in_flight;
    }
}

void DataLinkSender::Impl::schedule_backfill(Steady::time_point at) {
    if (backfill_timer_set) return;
    backfill_timer_set = true;
    backfill_timer.expires_at(at);
    const uint64_t current = attempt;
    backfill_timer.async_wait([this, current](error_code ec) {
        if (ec || current != attempt) return;
        backfill_timer_set = false;
        pump();
    });
}

void DataLinkSender::Impl::flush() {
    if (write_busy || unwritten.empty() || phase == Phase::Idle) return;
    writing.swap(unwritten);
    unwritten.clear();
    write_busy = true;
    const uint64_t current = attempt;
    asio::async_write(socket, asio::buffer(writing), [this, current](error_code ec, size_t) {
        if (current != attempt) return;
        write_busy = false;
        if (ec) return fail(ec.message());
        pump();
    });
}

void DataLinkSender::Impl::schedule_tick() {
    tick_timer.expires_after(std::chrono::seconds(1));
    tick_timer.async_wait([this](error_code ec) {
        if (ec || !running) return;
        const auto now = Steady::now();
        const auto timeout = std::chrono::duration_cast<Steady::duration>(
            std::chrono::duration<double>(config.timeout_seconds));
        if (phase == Phase::Connecting && now - phase_since > timeout) {
            fail("no connection after " + seconds_text(timeout));
        } else if (phase == Phase::Identifying && now - phase_since > timeout) {
            fail("no answer to ID after " + seconds_text(timeout));
        } else if (phase == Phase::Ready && !in_flight.empty() &&
                   now - in_flight.front().sent > timeout) {
            fail("no acknowledgement for " + seconds_text(timeout));
        }
        if (auto given_up = state.take_given_up(); given_up > 0) {
            log(std::to_string(given_up) +
                " gaps given up: a stream had more breaks than the state file keeps");
        }
        save_state();
        schedule_tick();
    });
}

void DataLinkSender::Impl::finish_if_done() {
    if (!stopping || !running) return;
    bool waiting = false;
    {
        std::lock_guard lock(mutex);
        waiting = !queue.empty();
    }
    if (phase != Phase::Ready || (!waiting && in_flight.empty())) shutdown();
}

void DataLinkSender::Impl::shutdown() {
    if (!running) return;
    running = false;
    grace_timer.cancel();
    ++attempt;
    error_code ignored;
    resolver.cancel();
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    retry_timer.cancel();
    tick_timer.cancel();
    backfill_timer.cancel();
    phase = Phase::Idle;
    {
        std::lock_guard lock(mutex);
        accepting = false;
    }
    if (late_told > 0 && state.oldest_gap()) {
        log(std::to_string(late_told) +
            " records sent late from the archive; the rest go when the station runs again");
    }
    save_state();
    context.stop();
}

DataLinkSender::DataLinkSender(Config config, FileSystem& fs)
    : impl_(std::make_unique<Impl>(std::move(config), fs)) {}

DataLinkSender::~DataLinkSender() {
    stop();
}

void DataLinkSender::start() {
    Impl& i = *impl_;
    if (i.running) return;
    i.load_state();
    i.running = true;
    asio::post(i.context, [&i] {
        i.schedule_tick();
        i.connect();
    });
    i.thread = std::thread([&i] { i.context.run(); });
}

void DataLinkSender::stop() {
    Impl& i = *impl_;
    if (!i.thread.joinable()) return;
    // The last records, handed over as the station stopped, get a short grace to be written
    // and acknowledged; a server that does not answer does not hold the stop up longer.
    asio::post(i.context, [&i] {
        i.stopping = true;
        i.grace_timer.expires_after(kStopGrace);
        i.grace_timer.async_wait([&i](error_code ec) {
            if (!ec) i.shutdown();
        });
        i.pump();
        i.finish_if_done();
    });
    i.thread.join();
}

void DataLinkSender::record(const stream::MiniSeedRecord& record) {
    Impl& i = *impl_;
    bool post = false;
    {
        std::lock_guard lock(i.mutex);
        const uint64_t serial = ++i.serials[record.id.text()];
        if (!i.accepting) return;  // the archive keeps it for the backfill
        if (i.queue_bytes + record.bytes.size() > i.config.queue_bytes) {
            ++i.counters.dropped;
            return;
        }
        i.queue.push_back({record, serial});
        i.queue_bytes += record.bytes.size();
        post = !i.drain_posted;
        i.drain_posted = true;
    }
    if (post) asio::post(i.context, [&i] { i.pump(); });
}

std::vector<std::string> DataLinkSender::take_log_lines() {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> out;
    out.swap(impl_->lines);
    return out;
}

DataLinkSender::Counters DataLinkSender::counters() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->counters;
}

}  // namespace velkantor::platform
