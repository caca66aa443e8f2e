#include "platform/real/seedlink_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/real/tcp_service.h"
#include "stream/record_ring.h"
#include "stream/seedlink_session.h"
#include "text/strings.h"

namespace velkantor::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using SteadyTime = std::chrono::steady_clock::time_point;

namespace {

// Records waiting for the service thread; more only if it stalls, and then the oldest go.
constexpr size_t kHandOverCapacity = 8192;
// Packets queued for one client beyond its socket: the ring is read at this pace, so a
// client catching up on an hour of records does not hold them all in memory at once.
constexpr size_t kQueuePace = 256;
// Replies (INFO packets) are queued whatever the pace; this many means nobody reads them.
constexpr size_t kQueueOverflow = 1024;
// A write that has not finished in this time: the client stopped reading.
constexpr auto kStallTime = std::chrono::seconds(20);
// A client whose transfer is over (FETCH, TIME) and that sends nothing in this time is let go.
constexpr auto kIdleTime = std::chrono::seconds(300);
// The ring's cap on memory, whatever its span of minutes (4 channels at 200 samples/s
// fill about 25 MB an hour).
constexpr size_t kRingBytes = size_t{128} << 20;
// A small kernel send buffer, so a client that stops reading is noticed in seconds.
constexpr int kSendBuffer = 64 * 1024;
constexpr size_t kMaxWebSocketMessage = 4096;

// When a record reached the ring: a clock that does not step with the station's.
stream::MicroTime steady_now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

stream::MicroTime system_now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// "60 s", "1.5 s": a duration for the event log.
std::string duration_text(std::chrono::milliseconds duration) {
    long long ms = duration.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

bool asks_for_seedlink(std::string_view protocols) {
    // "SeedLink3.1" among the comma-separated subprotocols the browser offers.
    for (const auto& one : text::split(protocols)) {
        if (text::equal_ignoring_case(one, "SeedLink3.1")) return true;
    }
    return false;
}

}  // namespace

class Connection;

struct SeedLinkServer::Impl {
    explicit Impl(Config c);

    static TcpService::Config service_config(const Config& config) {
        TcpService::Config c;
        c.name = "SeedLink";
        c.listen = config.listen;
        c.clients = config.clients;
        c.clients_per_address = config.clients_per_address;
        c.allow = config.allow;
        c.log_lines_per_minute = config.log_lines_per_minute;
        c.send_buffer = kSendBuffer;
        c.no_delay = true;
        return c;
    }

    Config config;
    stream::SeedLinkIdentity identity;
    bool running = false;  // engine thread only

    std::mutex mutex;  // guards what follows, shared with the engine thread
    std::deque<stream::MiniSeedRecord> incoming;
    size_t lost_records = 0;
    bool drain_posted = false;

    // Service thread only. The ring outlives the connections, which the service keeps.
    std::unique_ptr<stream::RecordRing> ring;
    TcpService service;
    asio::steady_timer timer{service.context()};

    void drain();
    void schedule_tick();
};

// One client, raw or over WebSocket; the service keeps it until it closes.
class Connection : public TcpConnection {
public:
    Connection(SeedLinkServer::Impl& server, TcpService& service, tcp::socket socket, TcpPeer peer)
        : TcpConnection(service, std::move(peer)),
          server_(server),
          socket_(std::move(socket)),
          session_(server.identity, *server.ring),
          deadline_(service.context()),
          last_input_(std::chrono::steady_clock::now()) {}

    void begin(bool over_limit) override;
    void pump();
    void check(SteadyTime now);

private:
    std::shared_ptr<Connection> self() {
        return std::static_pointer_cast<Connection>(shared_from_this());
    }
    void shut() override;
    void read_first();
    void start_websocket();
    void read_raw();
    void read_websocket();
    void after_input();
    void write_next();
    void written(const error_code& ec);
    void close_for(const error_code& ec);

    SeedLinkServer::Impl& server_;
    tcp::socket socket_;
    std::optional<websocket::stream<tcp::socket>> ws_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    stream::SeedLinkSession session_;
    asio::steady_timer deadline_;  // for beginning a transfer
    beast::flat_buffer first_{8192};
    beast::flat_buffer ws_buffer_;
    std::array<char, 2048> read_buffer_{};
    std::deque<stream::SeedLinkMessage> out_;
    std::string raw_write_;
    stream::SeedLinkMessage ws_write_;
    bool writing_ = false;
    SteadyTime write_started_;
    SteadyTime last_input_;
};

SeedLinkServer::Impl::Impl(Config c)
    : config(std::move(c)),
      service(service_config(config), [this](TcpService& s, tcp::socket socket, TcpPeer peer) {
          return std::make_shared<Connection>(*this, s, std::move(socket), std::move(peer));
      }) {
    identity.network = config.network;
    identity.station = config.station;
    identity.description = config.description;
    identity.software = config.software;
}

void Connection::begin(bool) {
    // Counted from the connect, not from the last byte: partial lines and keep-alives cost
    // a client nothing to send, so they must not keep a slot that serves no data.
    deadline_.expires_after(server_.config.start_deadline);
    std::weak_ptr<Connection> weak = self();
    deadline_.async_wait([weak](error_code ec) {
        auto self = weak.lock();
        if (ec || !self || self->closed() || self->session_.transfer_started()) return;
        self->close("no transfer begun within " +
                    duration_text(self->server_.config.start_deadline));
    });
    read_first();
}

void Connection::read_first() {
    // The first bytes tell a browser's "GET " from a SeedLink command.
    auto self = this->self();
    socket_.async_read_some(first_.prepare(1024), [this, self](error_code ec, size_t n) {
        if (ec) return close_for(ec);
        first_.commit(n);
        last_input_ = std::chrono::steady_clock::now();
        std::string data = beast::buffers_to_string(first_.data());
        const std::string_view get = "GET ";
        size_t k = std::min(data.size(), get.size());
        if (std::string_view(data).substr(0, k) == get.substr(0, k)) {
            if (data.size() < get.size()) return read_first();
            return start_websocket();
        }
        first_.consume(first_.size());
        session_.receive(data, system_now());
        after_input();
        if (!closed()) read_raw();
    });
}

void Connection::start_websocket() {
    ws_.emplace(std::move(socket_));
    parser_.emplace();
    parser_->header_limit(8192);
    parser_->body_limit(0);
    auto self = this->self();
    http::async_read(ws_->next_layer(), first_, *parser_, [this, self](error_code ec, size_t) {
        if (ec) return close("not a valid HTTP request");
        auto request = parser_->release();
        if (!websocket::is_upgrade(request)) return close("HTTP request without WebSocket upgrade");
        auto offered = request[http::field::sec_websocket_protocol];
        bool seedlink = asks_for_seedlink(std::string_view(offered.data(), offered.size()));
        ws_->set_option(websocket::stream_base::decorator([seedlink](websocket::response_type& r) {
            if (seedlink) r.set(http::field::sec_websocket_protocol, "SeedLink3.1");
            r.set(http::field::server, kServerHeader);
        }));
        ws_->read_message_max(kMaxWebSocketMessage);
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = std::chrono::seconds(30);
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        ws_->set_option(timeouts);
        ws_->async_accept(request, [this, self](error_code accept_ec) {
            if (accept_ec) return close("WebSocket handshake failed");
            read_websocket();
        });
    });
}

void Connection::read_raw() {
    auto self = this->self();
    socket_.async_read_some(asio::buffer(read_buffer_), [this, self](error_code ec, size_t n) {
        if (ec) return close_for(ec);
        last_input_ = std::chrono::steady_clock::now();
        session_.receive(std::string_view(read_buffer_.data(), n), system_now());
        after_input();
        if (!closed()) read_raw();
    });
}

void Connection::read_websocket() {
    auto self = this->self();
    ws_->async_read(ws_buffer_, [this, self](error_code ec, size_t) {
        if (ec) return close_for(ec);
        last_input_ = std::chrono::steady_clock::now();
        // Each message is one command; the CR ends it even when the client sent none.
        std::string text = beast::buffers_to_string(ws_buffer_.data()) + "\r";
        ws_buffer_.consume(ws_buffer_.size());
        session_.receive(text, system_now());
        after_input();
        if (!closed()) read_websocket();
    });
}

void Connection::after_input() {
    if (session_.closed()) {
        close(session_.close_reason());
        return;
    }
    pump();
}

void Connection::pump() {
    if (closed()) return;
    if (out_.size() < kQueuePace) session_.pump(kQueuePace - out_.size());
    for (auto& message : session_.take_output()) out_.push_back(std::move(message));
    if (session_.closed()) return close(session_.close_reason());
    if (out_.size() > kQueueOverflow) return close("output queue overflow");
    write_next();
}

void Connection::write_next() {
    if (writing_ || closed() || out_.empty()) return;
    writing_ = true;
    write_started_ = std::chrono::steady_clock::now();
    auto self = this->self();
    if (!ws_) {
        // Raw SeedLink is a byte stream: send many packets in one write.
        raw_write_.clear();
        while (!out_.empty() && raw_write_.size() < 64 * 1024) {
            raw_write_ += out_.front().bytes;
            out_.pop_front();
        }
        asio::async_write(socket_, asio::buffer(raw_write_),
                          [this, self](error_code ec, size_t) { written(ec); });
    } else {
        ws_write_ = std::move(out_.front());
        out_.pop_front();
        // Replies go out as binary messages too: browser clients read every message from
        // the server as an ArrayBuffer and take a text message for an error.
        ws_->binary(true);
        ws_->async_write(asio::buffer(ws_write_.bytes),
                         [this, self](error_code ec, size_t) { written(ec); });
    }
}

void Connection::written(const error_code& ec) {
    writing_ = false;
    if (ec) return close_for(ec);
    pump();
}

void Connection::check(SteadyTime now) {
    if (closed()) return;
    if (writing_ && now - write_started_ > kStallTime) {
        close("stopped reading");
    } else if (!session_.streaming() && now - last_input_ > kIdleTime) {
        close("idle");
    }
}

void Connection::close_for(const error_code& ec) {
    if (ec == asio::error::operation_aborted) return;  // our own close
    if (ec == asio::error::eof || ec == asio::error::connection_reset ||
        ec == websocket::error::closed || ec == asio::error::broken_pipe) {
        close("closed by the client");
    } else {
        close(ec.message());
    }
}

void Connection::shut() {
    deadline_.cancel();
    error_code ignored;
    tcp::socket& socket = ws_ ? ws_->next_layer() : socket_;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

void SeedLinkServer::Impl::drain() {
    std::deque<stream::MiniSeedRecord> batch;
    size_t lost = 0;
    {
        std::lock_guard lock(mutex);
        batch.swap(incoming);
        lost = lost_records;
        lost_records = 0;
        drain_posted = false;
    }
    if (lost > 0) {
        service.log("SeedLink server: " + std::to_string(lost) +
                    " records lost in the hand-over from the station (the server fell behind)");
    }
    const stream::MicroTime arrived = steady_now();
    for (auto& record : batch) ring->add(std::move(record), arrived);
    for (const auto& client : service.connections()) static_cast<Connection&>(*client).pump();
}

void SeedLinkServer::Impl::schedule_tick() {
    timer.expires_after(std::chrono::seconds(1));
    timer.async_wait([this](error_code ec) {
        if (ec) return;
        auto now = std::chrono::steady_clock::now();
        for (const auto& client : service.connections()) {
            static_cast<Connection&>(*client).check(now);
        }
        schedule_tick();
    });
}

SeedLinkServer::SeedLinkServer(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SeedLinkServer::~SeedLinkServer() {
    stop();
}

std::string SeedLinkServer::start() {
    Impl& i = *impl_;
    if (i.running) return "";
    stream::SeedLinkSession::prepare_packing();
    stream::MicroTime now = system_now();
    i.identity.started = now;
    // Before the first client can come.
    i.ring = std::make_unique<stream::RecordRing>(
        stream::initial_sequence(now),
        static_cast<stream::MicroTime>(std::max(i.config.ring_minutes, 0.0) * 60e6), kRingBytes);
    if (std::string failed = i.service.start(); !failed.empty()) return failed;
    asio::post(i.service.context(), [&i] { i.schedule_tick(); });
    i.running = true;
    return "";
}

void SeedLinkServer::stop() {
    Impl& i = *impl_;
    if (!i.running) return;
    i.running = false;
    i.service.stop();
}

int SeedLinkServer::port() const {
    return impl_->service.port();
}

void SeedLinkServer::record(const stream::MiniSeedRecord& record) {
    Impl& i = *impl_;
    if (!i.running) return;
    stream::MiniSeedRecord copy = record;
    bool post = false;
    {
        std::lock_guard lock(i.mutex);
        if (i.incoming.size() >= kHandOverCapacity) {
            i.incoming.pop_front();
            ++i.lost_records;
        }
        i.incoming.push_back(std::move(copy));
        post = !i.drain_posted;
        i.drain_posted = true;
    }
    if (post) asio::post(i.service.context(), [&i] { i.drain(); });
}

std::vector<std::string> SeedLinkServer::take_log_lines() {
    return impl_->service.take_log_lines();
}

}  // namespace velkantor::platform
