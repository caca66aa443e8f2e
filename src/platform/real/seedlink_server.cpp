#include "platform/real/seedlink_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

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
constexpr size_t kLogCapacity = 1000;
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

std::array<uint8_t, 16> peer_bytes(const asio::ip::address& address) {
    if (address.is_v4()) {
        return asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes();
    }
    return address.to_v6().to_bytes();
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

std::string peer_text(const tcp::endpoint& endpoint) {
    asio::ip::address address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    std::string port = std::to_string(endpoint.port());
    return address.is_v6() ? "[" + address.to_string() + "]:" + port
                           : address.to_string() + ":" + port;
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
    explicit Impl(Config c) : config(std::move(c)) {
        identity.network = config.network;
        identity.station = config.station;
        identity.description = config.description;
        identity.software = config.software;
    }

    Config config;
    stream::SeedLinkIdentity identity;
    asio::io_context ioc;
    tcp::acceptor acceptor{ioc};
    asio::steady_timer timer{ioc};
    std::thread thread;
    std::atomic<int> bound_port{0};
    bool running = false;  // engine thread only

    std::mutex mutex;  // guards what follows, shared with the engine thread
    std::deque<stream::MiniSeedRecord> incoming;
    size_t lost_records = 0;
    bool drain_posted = false;
    std::vector<std::string> log_lines;
    SteadyTime log_minute{};
    int log_minute_lines = 0;
    size_t log_left_out = 0;

    // Service thread only.
    std::unique_ptr<stream::RecordRing> ring;
    std::set<std::shared_ptr<Connection>> connections;

    void log(std::string line) {
        std::lock_guard lock(mutex);
        roll_log_minute();
        if (log_minute_lines >= config.log_lines_per_minute) {
            if (log_left_out++ == 0) {
                push_log_line("SeedLink server: too many client lines this minute; the rest "
                              "are counted");
            }
            return;
        }
        ++log_minute_lines;
        push_log_line(std::move(line));
    }
    // With the mutex held.
    void roll_log_minute() {
        auto now = std::chrono::steady_clock::now();
        if (now - log_minute < std::chrono::minutes(1)) return;
        if (log_left_out > 0) {
            push_log_line("SeedLink server: " + std::to_string(log_left_out) +
                          " client lines left out in the last minute");
        }
        log_minute = now;
        log_minute_lines = 0;
        log_left_out = 0;
    }
    void push_log_line(std::string line) {
        if (log_lines.size() < kLogCapacity) log_lines.push_back(std::move(line));
    }
    void accept();
    void admit(tcp::socket socket);
    void drain();
    void schedule_tick();
    void shutdown();
};

// One client, raw or over WebSocket; lives in the server's set until closed.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(SeedLinkServer::Impl& server, tcp::socket socket, std::string peer,
               const std::array<uint8_t, 16>& address)
        : server_(server),
          socket_(std::move(socket)),
          peer_(std::move(peer)),
          address_(address),
          session_(server.identity, *server.ring),
          deadline_(server.ioc),
          last_input_(std::chrono::steady_clock::now()) {}

    void begin();
    const std::array<uint8_t, 16>& address() const { return address_; }
    void pump();
    void check(SteadyTime now);
    void close(const std::string& reason);

private:
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
    std::string peer_;
    std::array<uint8_t, 16> address_;
    stream::SeedLinkSession session_;
    asio::steady_timer deadline_;  // for beginning a transfer
    beast::flat_buffer first_{8192};
    beast::flat_buffer ws_buffer_;
    std::array<char, 2048> read_buffer_{};
    std::deque<stream::SeedLinkMessage> out_;
    std::string raw_write_;
    stream::SeedLinkMessage ws_write_;
    bool writing_ = false;
    bool closed_ = false;
    SteadyTime write_started_;
    SteadyTime last_input_;
};

void Connection::begin() {
    // Counted from the connect, not from the last byte: partial lines and keep-alives cost
    // a client nothing to send, so they must not keep a slot that serves no data.
    deadline_.expires_after(server_.config.start_deadline);
    std::weak_ptr<Connection> weak = shared_from_this();
    deadline_.async_wait([weak](error_code ec) {
        auto self = weak.lock();
        if (ec || !self || self->closed_ || self->session_.transfer_started()) return;
        self->close("no transfer begun within " +
                    duration_text(self->server_.config.start_deadline));
    });
    read_first();
}

void Connection::read_first() {
    // The first bytes tell a browser's "GET " from a SeedLink command.
    auto self = shared_from_this();
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
        if (!closed_) read_raw();
    });
}

void Connection::start_websocket() {
    ws_.emplace(std::move(socket_));
    parser_.emplace();
    parser_->header_limit(8192);
    parser_->body_limit(0);
    auto self = shared_from_this();
    http::async_read(ws_->next_layer(), first_, *parser_, [this, self](error_code ec, size_t) {
        if (ec) return close("not a valid HTTP request");
        auto request = parser_->release();
        if (!websocket::is_upgrade(request)) return close("HTTP request without WebSocket upgrade");
        auto offered = request[http::field::sec_websocket_protocol];
        bool seedlink = asks_for_seedlink(std::string_view(offered.data(), offered.size()));
        ws_->set_option(websocket::stream_base::decorator([seedlink](websocket::response_type& r) {
            if (seedlink) r.set(http::field::sec_websocket_protocol, "SeedLink3.1");
            r.set(http::field::server, "VELKANTOR");
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
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(read_buffer_), [this, self](error_code ec, size_t n) {
        if (ec) return close_for(ec);
        last_input_ = std::chrono::steady_clock::now();
        session_.receive(std::string_view(read_buffer_.data(), n), system_now());
        after_input();
        if (!closed_) read_raw();
    });
}

void Connection::read_websocket() {
    auto self = shared_from_this();
    ws_->async_read(ws_buffer_, [this, self](error_code ec, size_t) {
        if (ec) return close_for(ec);
        last_input_ = std::chrono::steady_clock::now();
        // Each message is one command; the CR ends it even when the client sent none.
        std::string text = beast::buffers_to_string(ws_buffer_.data()) + "\r";
        ws_buffer_.consume(ws_buffer_.size());
        session_.receive(text, system_now());
        after_input();
        if (!closed_) read_websocket();
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
    if (closed_) return;
    if (out_.size() < kQueuePace) session_.pump(kQueuePace - out_.size());
    for (auto& message : session_.take_output()) out_.push_back(std::move(message));
    if (session_.closed()) return close(session_.close_reason());
    if (out_.size() > kQueueOverflow) return close("output queue overflow");
    write_next();
}

void Connection::write_next() {
    if (writing_ || closed_ || out_.empty()) return;
    writing_ = true;
    write_started_ = std::chrono::steady_clock::now();
    auto self = shared_from_this();
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
    if (closed_) return;
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

void Connection::close(const std::string& reason) {
    if (closed_) return;
    closed_ = true;
    server_.log("SeedLink client " + peer_ + " disconnected: " + reason);
    deadline_.cancel();
    error_code ignored;
    tcp::socket& socket = ws_ ? ws_->next_layer() : socket_;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    server_.connections.erase(shared_from_this());
}

void SeedLinkServer::Impl::accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (!ec) admit(std::move(socket));
        accept();
    });
}

void SeedLinkServer::Impl::admit(tcp::socket socket) {
    error_code ec;
    tcp::endpoint endpoint = socket.remote_endpoint(ec);
    if (ec) return;
    std::string peer = peer_text(endpoint);
    auto bytes = peer_bytes(endpoint.address());
    std::string refusal;
    if (!config.allow.empty() &&
        std::none_of(config.allow.begin(), config.allow.end(),
                     [&](const config::IpNetwork& n) { return n.contains(bytes); })) {
        refusal = "not in the allow list";
    } else if (static_cast<int>(connections.size()) >= config.clients) {
        refusal = "the limit of " + std::to_string(config.clients) + " clients is reached";
    } else if (std::count_if(connections.begin(), connections.end(), [&](const auto& c) {
                   return c->address() == bytes;
               }) >= config.clients_per_address) {
        refusal = "the limit of " + std::to_string(config.clients_per_address) +
                  " clients from one address is reached";
    }
    if (!refusal.empty()) {
        log("SeedLink client " + peer + " refused: " + refusal);
        socket.close(ec);
        return;
    }
    socket.set_option(tcp::no_delay(true), ec);
    socket.set_option(asio::socket_base::send_buffer_size(kSendBuffer), ec);
    auto connection = std::make_shared<Connection>(*this, std::move(socket), peer, bytes);
    connections.insert(connection);
    log("SeedLink client " + peer + " connected");
    connection->begin();
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
        log("SeedLink server: " + std::to_string(lost) +
            " records lost in the hand-over from the station (the server fell behind)");
    }
    const stream::MicroTime arrived = steady_now();
    for (auto& record : batch) ring->add(std::move(record), arrived);
    auto clients = connections;
    for (const auto& client : clients) client->pump();
}

void SeedLinkServer::Impl::schedule_tick() {
    timer.expires_after(std::chrono::seconds(1));
    timer.async_wait([this](error_code ec) {
        if (ec) return;
        auto now = std::chrono::steady_clock::now();
        auto clients = connections;
        for (const auto& client : clients) client->check(now);
        schedule_tick();
    });
}

void SeedLinkServer::Impl::shutdown() {
    error_code ignored;
    acceptor.close(ignored);
    timer.cancel();
    auto clients = connections;
    for (const auto& client : clients) client->close("server stopping");
    ioc.stop();
}

SeedLinkServer::SeedLinkServer(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SeedLinkServer::~SeedLinkServer() { stop(); }

std::string SeedLinkServer::start() {
    Impl& i = *impl_;
    if (i.running) return "";
    stream::SeedLinkSession::prepare_packing();
    std::string address = i.config.listen.address.empty() ? "0.0.0.0" : i.config.listen.address;
    std::string where = address + ":" + std::to_string(i.config.listen.port);
    error_code ec;
    tcp::resolver resolver(i.ioc);
    auto found = resolver.resolve(address, std::to_string(i.config.listen.port),
                                  tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) return "cannot use the address " + where + ": " + ec.message();
    tcp::endpoint endpoint = found.begin()->endpoint();
    i.acceptor.open(endpoint.protocol(), ec);
    if (!ec) i.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) i.acceptor.bind(endpoint, ec);
    if (!ec) i.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error_code ignored;
        i.acceptor.close(ignored);
        return "cannot listen on " + where + ": " + ec.message();
    }
    i.bound_port = i.acceptor.local_endpoint(ec).port();
    stream::MicroTime now = system_now();
    i.identity.started = now;
    i.ring = std::make_unique<stream::RecordRing>(
        stream::initial_sequence(now),
        static_cast<stream::MicroTime>(std::max(i.config.ring_minutes, 0.0) * 60e6), kRingBytes);
    i.accept();
    i.schedule_tick();
    i.running = true;
    i.thread = std::thread([&i] { i.ioc.run(); });
    return "";
}

void SeedLinkServer::stop() {
    Impl& i = *impl_;
    if (!i.running) return;
    i.running = false;
    asio::post(i.ioc, [&i] { i.shutdown(); });
    i.thread.join();
}

int SeedLinkServer::port() const { return impl_->bound_port; }

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
    if (post) asio::post(i.ioc, [&i] { i.drain(); });
}

std::vector<std::string> SeedLinkServer::take_log_lines() {
    std::lock_guard lock(impl_->mutex);
    impl_->roll_log_minute();
    std::vector<std::string> lines;
    lines.swap(impl_->log_lines);
    return lines;
}

}  // namespace velkantor::platform
