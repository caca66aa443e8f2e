#include "platform/real/tcp_service.h"

#include <algorithm>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <utility>

namespace velkantor::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// After a failed accept (no file descriptor left, say), the next one waits this long
// instead of failing again at once.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

std::string bracketed(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

// "[::1]" as the listen address: the brackets belong to the address's text, not to it.
std::string bare(const std::string& address) {
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        return address.substr(1, address.size() - 2);
    }
    return address.empty() ? "0.0.0.0" : address;
}

// An address that this machine does not have (no IPv6 on it, say): one of several a name
// stands for may be left out.
bool unavailable(const error_code& ec) {
    return ec == asio::error::address_family_not_supported ||
           ec == boost::system::errc::address_not_available;
}

}  // namespace

void ClientLog::add(std::string line, Time now) {
    roll(now);
    if (minute_lines_ >= lines_per_minute_) {
        if (left_out_++ == 0) {
            push(name_ + " server: too many client lines this minute; the rest are counted");
        }
        return;
    }
    ++minute_lines_;
    push(std::move(line));
}

std::vector<std::string> ClientLog::take(Time now) {
    roll(now);
    std::vector<std::string> lines;
    lines.swap(lines_);
    return lines;
}

void ClientLog::roll(Time now) {
    if (minute_ && now - *minute_ < std::chrono::minutes(1)) return;
    if (left_out_ > 0) {
        push(name_ + " server: " + std::to_string(left_out_) +
             " client lines left out in the last minute");
    }
    minute_ = now;
    minute_lines_ = 0;
    left_out_ = 0;
}

void ClientLog::push(std::string line) {
    if (lines_.size() < kCapacity) lines_.push_back(std::move(line));
}

TcpPeer tcp_peer(const tcp::endpoint& endpoint) {
    asio::ip::address address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    TcpPeer peer;
    peer.endpoint = endpoint;
    peer.text = bracketed(address.to_string()) + ":" + std::to_string(endpoint.port());
    peer.address = address.is_v4()
                       ? asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes()
                       : address.to_v6().to_bytes();
    return peer;
}

void TcpConnection::close(const std::string& reason) {
    if (closed_) return;
    closed_ = true;
    auto self = shared_from_this();  // the service's hold on it goes now
    service_.remove(*this);
    if (!over_limit_) service_.log_client(peer_.text + " disconnected: " + reason);
    shut();
}

void TcpConnection::waiting_for_request(bool waiting) {
    if (waiting == waiting_.has_value() || (waiting && closed_)) return;
    if (waiting) {
        waiting_ = service_.waiting_.insert(service_.waiting_.end(), this);
    } else {
        service_.waiting_.erase(*waiting_);
        waiting_.reset();
    }
}

TcpService::TcpService(Config config, Factory factory)
    : config_(std::move(config)),
      factory_(std::move(factory)),
      log_(config_.name, config_.log_lines_per_minute) {}

TcpService::~TcpService() {
    stop();
}

std::string TcpService::where() const {
    return bracketed(bare(config_.listen.address)) + ":" + std::to_string(config_.listen.port);
}

std::string TcpService::start() {
    if (running()) return "";
    const std::string host = bare(config_.listen.address);
    error_code ec;
    tcp::resolver resolver(context_);
    auto found = resolver.resolve(host, std::to_string(config_.listen.port),
                                  tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) {
        return "cannot use the address " + where() + ": " +
               (ec ? ec.message() : std::string("it stands for no address"));
    }
    std::vector<tcp::endpoint> endpoints;
    for (const auto& entry : found) {
        if (std::find(endpoints.begin(), endpoints.end(), entry.endpoint()) == endpoints.end()) {
            endpoints.push_back(entry.endpoint());
        }
    }
    const bool both_families = std::any_of(endpoints.begin(), endpoints.end(),
                                           [](auto& e) { return e.address().is_v4(); }) &&
                               std::any_of(endpoints.begin(), endpoints.end(),
                                           [](auto& e) { return e.address().is_v6(); });
    acceptors_.clear();
    unsigned short port = static_cast<unsigned short>(config_.listen.port);
    for (auto endpoint : endpoints) {
        // Port 0: the first address picks a free port, and the others listen on that one too.
        endpoint.port(port);
        auto acceptor = std::make_unique<tcp::acceptor>(context_);
        acceptor->open(endpoint.protocol(), ec);
        if (!ec) acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec && both_families && endpoint.address().is_v6()) {
            acceptor->set_option(asio::ip::v6_only(true), ec);
        }
        if (!ec) acceptor->bind(endpoint, ec);
        if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (!ec) port = acceptor->local_endpoint(ec).port();
        if (ec) {
            error_code ignored;
            acceptor->close(ignored);
            if (unavailable(ec) && endpoints.size() > 1) continue;
            acceptors_.clear();
            return "cannot listen on " + where() + ": " + ec.message();
        }
        acceptors_.push_back(std::move(acceptor));
    }
    if (acceptors_.empty()) return "cannot listen on " + where() + ": " + ec.message();
    port_ = port;
    context_.restart();
    for (auto& acceptor : acceptors_) accept(*acceptor);
    thread_ = std::thread([this] { context_.run(); });
    return "";
}

void TcpService::stop() {
    if (!thread_.joinable()) return;
    asio::post(context_, [this] { shutdown(); });
    thread_.join();
}

void TcpService::shutdown() {
    error_code ignored;
    for (auto& acceptor : acceptors_) acceptor->close(ignored);
    for (auto* set : {&connections_, &over_limit_}) {
        auto connections = *set;
        for (const auto& connection : connections) connection->close("server stopping");
    }
    // What the closes cancelled is not run: the handlers go with the context.
    context_.stop();
}

void TcpService::accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([this, &acceptor](error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            admit(std::move(socket));
            return accept(acceptor);
        }
        auto pause = std::make_shared<asio::steady_timer>(context_, kAcceptRetry);
        pause->async_wait([this, &acceptor, pause](error_code wait_ec) {
            if (!wait_ec && acceptor.is_open()) accept(acceptor);
        });
    });
}

std::string TcpService::refusal(const TcpPeer& peer, bool& over_limit) const {
    over_limit = false;
    if (!config_.allow.empty() &&
        std::none_of(config_.allow.begin(), config_.allow.end(),
                     [&](const config::IpNetwork& n) { return n.contains(peer.address); })) {
        return "not in the allow list";
    }
    if (static_cast<int>(connections_.size()) >= config_.clients && waiting_.empty()) {
        over_limit = true;
        return "the limit of " + std::to_string(config_.clients) + " clients is reached";
    }
    if (config_.clients_per_address > 0 &&
        std::count_if(connections_.begin(), connections_.end(), [&](const auto& c) {
            return c->peer().address == peer.address;
        }) >= config_.clients_per_address) {
        return "the limit of " + std::to_string(config_.clients_per_address) +
               " clients from one address is reached";
    }
    return "";
}

void TcpService::admit(tcp::socket socket) {
    error_code ec;
    tcp::endpoint endpoint = socket.remote_endpoint(ec);
    if (ec) return;
    TcpPeer peer = tcp_peer(endpoint);
    bool over_limit = false;
    std::string why = refusal(peer, over_limit);
    if (!why.empty()) log_client(peer.text + " refused: " + why);
    if (!why.empty() &&
        !(over_limit && static_cast<int>(over_limit_.size()) < config_.answer_full)) {
        socket.close(ec);
        return;
    }
    if (why.empty() && static_cast<int>(connections_.size()) >= config_.clients) {
        // Full, but a connection waits for a request: it makes room.
        waiting_.front()->close("its slot went to a newcomer");
    }
    if (config_.no_delay) socket.set_option(tcp::no_delay(true), ec);
    if (config_.send_buffer > 0) {
        socket.set_option(asio::socket_base::send_buffer_size(config_.send_buffer), ec);
    }
    auto connection = factory_(*this, std::move(socket), peer);
    connection->over_limit_ = over_limit;
    (over_limit ? over_limit_ : connections_).insert(connection);
    if (!over_limit) log_client(peer.text + " connected");
    connection->begin(over_limit);
}

void TcpService::remove(TcpConnection& connection) {
    if (connection.waiting_) {
        waiting_.erase(*connection.waiting_);
        connection.waiting_.reset();
    }
    auto& set = connection.over_limit_ ? over_limit_ : connections_;
    auto self = connection.shared_from_this();
    set.erase(self);
}

void TcpService::log(std::string line) {
    std::lock_guard lock(log_mutex_);
    log_.add(std::move(line), std::chrono::steady_clock::now());
}

void TcpService::log_client(const std::string& text) {
    if (config_.log_clients) log(config_.name + " client " + text);
}

std::vector<std::string> TcpService::take_log_lines() {
    std::lock_guard lock(log_mutex_);
    return log_.take(std::chrono::steady_clock::now());
}

std::vector<std::shared_ptr<TcpConnection>> TcpService::connections() const {
    return {connections_.begin(), connections_.end()};
}

}  // namespace velkantor::platform
