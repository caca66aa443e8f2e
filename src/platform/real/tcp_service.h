#pragma once

#include <array>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/network_ini.h"

namespace velkantor::platform {

// What every HTTP answer of the station says it comes from (the page and the WebSocket
// upgrade alike).
inline constexpr const char* kServerHeader = "VELKANTOR";

// Client lines per minute into a bounded list; beyond the rate they are counted, and the
// count goes out as one line when the minute is over, so a flood of connections cannot push
// everything else out of the event log. `name` begins the two lines of its own
// ("SeedLink server: ...").
class ClientLog {
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr size_t kCapacity = 1000;

    ClientLog(std::string name, int lines_per_minute)
        : name_(std::move(name)), lines_per_minute_(lines_per_minute) {}
    void add(std::string line, Time now);
    std::vector<std::string> take(Time now);

private:
    void roll(Time now);
    void push(std::string line);

    std::string name_;
    int lines_per_minute_;
    std::vector<std::string> lines_;
    std::optional<Time> minute_;
    int minute_lines_ = 0;
    size_t left_out_ = 0;
};

// A connected client as the log names it, and its address as an allow list compares it.
struct TcpPeer {
    boost::asio::ip::tcp::endpoint endpoint;
    std::string text;                 // "192.168.1.5:40312", "[2001:db8::7]:40312"
    std::array<uint8_t, 16> address;  // IPv4 as IPv4-mapped IPv6
};
TcpPeer tcp_peer(const boost::asio::ip::tcp::endpoint& endpoint);

class TcpService;

// One connection as a protocol serves it: the socket is the connection's own, the slot the
// service's. Created by the service's factory on the service thread and kept by the service
// until closed; it lives on while its own asynchronous operations hold it.
class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
    TcpConnection(TcpService& service, TcpPeer peer) : service_(service), peer_(std::move(peer)) {}
    virtual ~TcpConnection() = default;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Starts serving. A connection let in over the limit (see TcpService::Config::answer_full)
    // only says so, then closes.
    virtual void begin(bool over_limit) = 0;
    // Once: frees the slot, writes the disconnect line, then shut(). Service thread.
    void close(const std::string& reason);
    bool closed() const { return closed_; }
    const TcpPeer& peer() const { return peer_; }
    TcpService& service() { return service_; }

protected:
    // Between a request and the next, the connection may be evicted: when every slot is
    // taken, the one that has waited longest for a request gives its slot to a newcomer.
    // A connection that never says so keeps its slot until it closes.
    void waiting_for_request(bool waiting);
    // Closes the socket and cancels the timers; nothing here may wait on the peer.
    virtual void shut() = 0;

private:
    friend class TcpService;
    TcpService& service_;
    TcpPeer peer_;
    bool closed_ = false;
    bool over_limit_ = false;
    std::optional<std::list<TcpConnection*>::iterator> waiting_;
};

// A listening TCP service on one thread of its own: the acceptors for every address the
// listen address stands for, admission (allow list, total and per-address limits, eviction of
// a connection waiting for a request), the client lines of the event log, and a stop that
// closes every connection without waiting on any peer. What a connection says is its
// handler's business.
class TcpService {
public:
    using Factory = std::function<std::shared_ptr<TcpConnection>(
        TcpService& service, boost::asio::ip::tcp::socket socket, TcpPeer peer)>;

    struct Config {
        // "SeedLink" for "SeedLink client 10.0.0.5:40312 connected" and the like.
        std::string name;
        config::ListenAddress listen;  // a host name, an IP address or "" (0.0.0.0); port 0 = any
        int clients = 16;
        int clients_per_address = 0;           // 0 = no limit of its own
        std::vector<config::IpNetwork> allow;  // empty = everyone
        // Connections over the limit handed to the factory to be told so (an HTTP 503), at
        // most this many at once; 0 = closed at once. Never over the allow list or the
        // per-address limit.
        int answer_full = 0;
        bool log_clients = true;  // connect, refusal and disconnect lines
        int log_lines_per_minute = 100;
        int send_buffer = 0;  // bytes of the kernel's send buffer; 0 = the system's
        bool no_delay = false;
    };

    TcpService(Config config, Factory factory);
    ~TcpService();  // stops
    TcpService(const TcpService&) = delete;
    TcpService& operator=(const TcpService&) = delete;

    // Binds, listens and starts the service thread: "" or what went wrong ("cannot listen on
    // 0.0.0.0:18000: Address already in use", "cannot use the address nowhere.invalid:80: ...").
    std::string start();
    // Closes the acceptors and every connection, then ends the thread. A peer that reads
    // nothing or sends nothing does not hold it up. Any thread but the service's.
    void stop();
    bool running() const { return thread_.joinable(); }
    int port() const { return port_; }
    // "127.0.0.1:18000", "[::1]:18000": where it listens, for messages.
    std::string where() const;

    boost::asio::io_context& context() { return context_; }
    // Service thread: what the protocol has to say in the event log; counts toward the rate.
    void log(std::string line);
    // Any thread.
    std::vector<std::string> take_log_lines();
    // Service thread: the connections being served.
    std::vector<std::shared_ptr<TcpConnection>> connections() const;

private:
    friend class TcpConnection;
    void accept(boost::asio::ip::tcp::acceptor& acceptor);
    void admit(boost::asio::ip::tcp::socket socket);
    std::string refusal(const TcpPeer& peer, bool& over_limit) const;
    void log_client(const std::string& text);
    void remove(TcpConnection& connection);
    void shutdown();

    Config config_;
    Factory factory_;
    boost::asio::io_context context_{1};
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> acceptors_;
    std::thread thread_;
    std::atomic<int> port_{0};

    std::mutex log_mutex_;
    ClientLog log_;

    // Service thread only.
    std::set<std::shared_ptr<TcpConnection>> connections_;
    std::set<std::shared_ptr<TcpConnection>> over_limit_;
    // Connections waiting for a request, the one waiting longest first (each one is in
    // `connections_`, which keeps it).
    std::list<TcpConnection*> waiting_;
};

}  // namespace velkantor::platform
