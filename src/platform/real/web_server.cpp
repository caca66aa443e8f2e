#include "platform/real/web_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>

#include "platform/real/tcp_service.h"

namespace velkantor::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

class Session;

// What the sessions share; touched on the service thread only, but for the figures that
// `stats()` reads from elsewhere.
struct Shared {
    WebServer::Handler handler;
    WebServer::Limits limits;
    bool stopped = false;
    // The file chunks in memory, and the sessions waiting for room for theirs (in turn).
    size_t buffered = 0;
    std::deque<std::pair<std::weak_ptr<Session>, size_t>> buffer_waiters;
    std::atomic<size_t> buffered_now{0};
    std::atomic<size_t> buffered_peak{0};

    // Room for a chunk of `bytes`, unless others wait for room before it.
    bool take(size_t bytes) {
        if (!buffer_waiters.empty() || buffered + bytes > limits.file_buffer_bytes) return false;
        add(bytes);
        return true;
    }
    void add(size_t bytes) {
        buffered += bytes;
        buffered_now = buffered;
        if (buffered > buffered_peak) buffered_peak = buffered;
    }
    void give_back(size_t bytes);
};

class Session : public TcpConnection {
public:
    Session(TcpService& service, tcp::socket socket, TcpPeer peer, Shared& shared)
        : TcpConnection(service, std::move(peer)),
          stream_(std::move(socket)),
          timer_(stream_.get_executor()),
          room_timer_(stream_.get_executor()),
          shared_(shared) {}
    ~Session() override {
        drop_chunk();
        if (granted_ > 0) shared_.give_back(granted_);
        if (file_ >= 0) ::close(file_);
    }

    void begin(bool over_limit) override {
        if (over_limit) {
            // One answer, then the connection goes: the limit stays a limit.
            send(web::status_page(503), false, false);
            return;
        }
        read();
    }

    // Room for the chunk this session waits for was set aside for it.
    void grant(size_t bytes) {
        granted_ = bytes;
        room_timer_.cancel();
    }

private:
    std::shared_ptr<Session> self() {
        return std::static_pointer_cast<Session>(shared_from_this());
    }

    // Every close ends here. A connection that waited for a request and gives its slot to a
    // newcomer goes without a word (it asked for nothing, or not all of it yet).
    void shut() override {
        timer_.cancel();
        room_timer_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
    }

    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(shared_.limits.header_bytes));
        parser_->body_limit(shared_.limits.body_bytes);
        waiting_for_request(true);
        // Our own timer rather than the stream's: the stream's closes the socket, and a
        // client that began a request should still hear 408.
        stream_.expires_never();
        timer_.expires_after(shared_.limits.idle);
        timer_.async_wait([weak = std::weak_ptr<Session>(self())](beast::error_code error) {
            auto self = weak.lock();
            if (error || !self) return;
            self->timed_out_ = true;
            beast::error_code ignored;
            self->stream_.socket().cancel(ignored);
        });
        http::async_read(stream_, buffer_, *parser_,
                         [self = self()](beast::error_code error, size_t) {
                             self->timer_.cancel();
                             self->on_read(error);
                         });
    }

    void on_read(beast::error_code error) {
        waiting_for_request(false);
        if (closed()) return;
        if (error == http::error::end_of_stream || error == asio::error::connection_reset ||
            error == asio::error::eof) {
            return close("closed by the client");
        }
        if (timed_out_) {
            // Only a client that began a request hears why it is dropped.
            if (buffer_.size() > 0 || parser_->got_some())
                return send(web::status_page(408), false, false);
            return close("idle");
        }
        if (error == http::error::header_limit) return send(web::status_page(431), false, false);
        if (error == http::error::body_limit) return send(web::status_page(413), false, false);
        if (error) return send(web::status_page(400), false, false);

        auto& request = parser_->get();
        int fields = 0;
        for (auto it = request.begin(); it != request.end(); ++it) ++fields;
        if (fields > shared_.limits.header_fields) return send(web::status_page(431), false, false);
        std::string method(request.method_string());
        std::string target(request.target());
        web::Response response;
        try {
            response = shared_.handler(web::Request{method, target});
        } catch (const std::exception&) {
            response = web::status_page(503);
        }
        bool head = request.method() == http::verb::head;
        if (!response.file.empty())
            return send_file(std::move(response), head, request.keep_alive());
        if (!response.parts.empty())
            return send_parts(std::move(response), head, request.keep_alive());
        send(std::move(response), head, request.keep_alive());
    }

    template <class Body>
    static void set_headers(http::response<Body>& message, const web::Response& response,
                            bool keep_alive) {
        message.version(11);
        message.result(static_cast<unsigned>(response.status));
        message.set(http::field::server, kServerHeader);
        message.set(http::field::content_type, response.content_type);
        if (!response.cache_control.empty())
            message.set(http::field::cache_control, response.cache_control);
        message.set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response.headers) message.set(name, value);
        message.keep_alive(keep_alive);
    }

    void send(web::Response response, bool head, bool keep_alive) {
        auto message = std::make_shared<http::response<http::string_body>>();
        set_headers(*message, response, keep_alive);
        size_t length = response.body.size();
        if (!head) message->body() = std::move(response.body);
        // A 204 carries no body and says no length.
        if (response.status != 204) message->content_length(length);
        stream_.expires_after(shared_.limits.idle);
        http::async_write(stream_, *message,
                          [self = self(), message, keep_alive](beast::error_code error, size_t) {
                              if (error) return self->close(error.message());
                              if (!keep_alive) return self->close("answered");
                              self->read();
                          });
    }

    // The file is opened here, not by name twice: a symbolic link put in its place, a folder
    // or a device is no file to send.
    void send_file(web::Response response, bool head, bool keep_alive) {
        int fd = ::open(response.file.c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (fd >= 0) ::close(fd);
            return send(web::status_page(404), head, keep_alive);
        }
        file_ = fd;
        offset_ = 0;
        remaining_ = head ? 0 : static_cast<uint64_t>(info.st_size);
        pending_.clear();
        send_header(response, static_cast<uint64_t>(info.st_size), keep_alive);
    }

    // A body of file ranges and held bytes: the length is known from the parts, each file is
    // opened when its turn comes.
    void send_parts(web::Response response, bool head, bool keep_alive) {
        uint64_t length = 0;
        for (const auto& part : response.parts)
            length += part.file.empty() ? part.bytes.size() : part.length;
        pending_.clear();
        if (!head)
            pending_.assign(std::make_move_iterator(response.parts.begin()),
                            std::make_move_iterator(response.parts.end()));
        response.parts.clear();
        file_ = -1;
        offset_ = 0;
        remaining_ = 0;
        send_header(response, length, keep_alive);
    }

    // The next part of a body in parts, or false when there is none or it cannot be kept.
    bool next_part() {
        if (file_ >= 0) ::close(file_);
        file_ = -1;
        held_.clear();
        while (!pending_.empty()) {
            web::Response::Part part = std::move(pending_.front());
            pending_.pop_front();
            if (part.file.empty()) {
                if (part.bytes.empty()) continue;
                held_ = std::move(part.bytes);
                offset_ = 0;
                remaining_ = held_.size();
                return true;
            }
            if (part.length == 0) continue;
            int fd = ::open(part.file.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
            struct stat info {};
            if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
                static_cast<uint64_t>(info.st_size) < part.offset + part.length) {
                if (fd >= 0) ::close(fd);
                return false;
            }
            file_ = fd;
            offset_ = part.offset;
            remaining_ = part.length;
            return true;
        }
        return false;
    }

    void send_header(const web::Response& response, uint64_t length, bool keep_alive) {
        keep_alive_ = keep_alive;
        auto message = std::make_shared<http::response<http::empty_body>>();
        set_headers(*message, response, keep_alive);
        message->content_length(length);
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*message);
        stream_.expires_after(shared_.limits.idle);
        http::async_write_header(
            stream_, *serializer,
            [self = self(), message, serializer](beast::error_code error, size_t) {
                if (error) return self->close(error.message());
                self->next_chunk();
            });
    }

    void next_chunk() {
        if (remaining_ == 0) {
            if (!pending_.empty()) {
                if (!next_part()) return close("a part of the answer is no longer there");
                return next_chunk();
            }
            if (file_ >= 0) ::close(file_);
            file_ = -1;
            held_.clear();
            if (!keep_alive_) return close("answered");
            return read();
        }
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk_bytes(), remaining_));
        if (granted_ != want && !shared_.take(want)) return wait_for_room(want);
        granted_ = 0;
        chunk_.reset(new char[want]);
        chunk_reserved_ = want;
        ssize_t got = 0;
        if (file_ >= 0) {
            got = ::pread(file_, chunk_.get(), want, static_cast<off_t>(offset_));
        } else {
            std::memcpy(chunk_.get(), held_.data() + offset_, want);
            got = static_cast<ssize_t>(want);
        }
        if (got <= 0) {
            // The file shrank under us: the length already promised cannot be kept.
            drop_chunk();
            return close("the file shrank while it was sent");
        }
        chunk_length_ = static_cast<size_t>(got);
        chunk_sent_ = 0;
        write_some();
    }

    void wait_for_room(size_t want) {
        shared_.buffer_waiters.emplace_back(self(), want);
        room_timer_.expires_at(asio::steady_timer::time_point::max());
        room_timer_.async_wait([self = self()](beast::error_code) {
            if (self->granted_ > 0 && !self->closed()) self->next_chunk();
        });
    }

    // Part by part, each with the deadline anew: a slow download lives while its bytes flow.
    void write_some() {
        stream_.expires_after(shared_.limits.idle);
        stream_.async_write_some(
            asio::buffer(chunk_.get() + chunk_sent_, chunk_length_ - chunk_sent_),
            [self = self()](beast::error_code error, size_t written) {
                if (error) {
                    self->drop_chunk();
                    return self->close(error.message());
                }
                self->chunk_sent_ += written;
                if (self->chunk_sent_ < self->chunk_length_) return self->write_some();
                self->offset_ += self->chunk_length_;
                self->remaining_ -= self->chunk_length_;
                self->drop_chunk();
                self->next_chunk();
            });
    }

    void drop_chunk() {
        if (!chunk_) return;
        chunk_.reset();
        shared_.give_back(chunk_reserved_);
        chunk_reserved_ = 0;
    }

    size_t chunk_bytes() const {
        return std::max<size_t>(
            1, std::min(shared_.limits.file_chunk_bytes, shared_.limits.file_buffer_bytes));
    }

    beast::tcp_stream stream_;
    asio::steady_timer timer_;
    asio::steady_timer room_timer_;
    bool timed_out_ = false;
    beast::flat_buffer buffer_{8192};
    std::optional<http::request_parser<http::string_body>> parser_;
    Shared& shared_;
    // The file being sent (or the bytes of a part held here) and the chunk of it in memory,
    // then the parts still to come.
    int file_ = -1;
    std::string held_;
    std::deque<web::Response::Part> pending_;
    uint64_t offset_ = 0;
    uint64_t remaining_ = 0;
    bool keep_alive_ = false;
    std::unique_ptr<char[]> chunk_;
    size_t chunk_reserved_ = 0;
    size_t chunk_length_ = 0;
    size_t chunk_sent_ = 0;
    size_t granted_ = 0;
};

void Shared::give_back(size_t bytes) {
    buffered -= bytes;
    buffered_now = buffered;
    if (stopped) return;
    // The room goes to the waiting sessions in turn, set aside for each before it wakes.
    while (!buffer_waiters.empty()) {
        auto [weak, want] = buffer_waiters.front();
        auto session = weak.lock();
        if (session && buffered + want > limits.file_buffer_bytes) break;
        buffer_waiters.pop_front();
        if (!session) continue;
        add(want);
        session->grant(want);
    }
}

}  // namespace

struct WebServer::Impl {
    Shared shared;  // first: the sessions the service still holds use it as they go
    std::unique_ptr<TcpService> service;
};

WebServer::WebServer(Handler handler, Limits limits) : impl_(std::make_unique<Impl>()) {
    impl_->shared.handler = std::move(handler);
    impl_->shared.limits = limits;
}

WebServer::~WebServer() {
    stop();
}

std::string WebServer::start(const std::string& address, int port) {
    if (impl_->service) return "";
    TcpService::Config config;
    config.name = "Web page";
    config.listen = {address, port};
    config.clients = impl_->shared.limits.connections;
    // Beyond the limit as many again hear 503; a flood beyond that is closed without a word.
    config.answer_full = impl_->shared.limits.connections;
    // Every visit of the page is a connection: not a line of the event log each.
    config.log_clients = false;
    Shared& shared = impl_->shared;
    auto service = std::make_unique<TcpService>(
        config, [&shared](TcpService& s, tcp::socket socket, TcpPeer peer) {
            return std::make_shared<Session>(s, std::move(socket), std::move(peer), shared);
        });
    if (std::string failed = service->start(); !failed.empty()) return failed;
    impl_->service = std::move(service);
    return "";
}

void WebServer::stop() {
    if (!impl_ || !impl_->service) return;
    impl_->service->stop();
    // The sessions still held go with the service; none of them is to be woken then.
    impl_->shared.stopped = true;
}

int WebServer::port() const {
    return impl_->service ? impl_->service->port() : 0;
}

WebServer::Stats WebServer::stats() const {
    return {impl_->shared.buffered_now.load(), impl_->shared.buffered_peak.load()};
}

}  // namespace velkantor::platform
