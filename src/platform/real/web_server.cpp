#include "platform/real/web_server.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <thread>

namespace velkantor::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

struct Shared {
    WebServer::Handler handler;
    WebServer::Limits limits;
    int open = 0;       // connections being served (touched on the service thread only)
    int rejecting = 0;  // connections over the limit being told 503
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Shared& shared, bool over_limit)
        : stream_(std::move(socket)),
          timer_(stream_.get_executor()),
          shared_(shared),
          over_limit_(over_limit) {
        ++(over_limit_ ? shared_.rejecting : shared_.open);
    }
    ~Session() { --(over_limit_ ? shared_.rejecting : shared_.open); }

    void run() {
        if (over_limit_) {
            // One answer, then the connection goes: the limit stays a limit.
            send(web::status_page(503), false, false);
            return;
        }
        read();
    }

  private:
    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(shared_.limits.header_bytes));
        parser_->body_limit(shared_.limits.body_bytes);
        // Our own timer rather than the stream's: the stream's closes the socket, and a
        // client that began a request should still hear 408.
        stream_.expires_never();
        timer_.expires_after(shared_.limits.idle);
        timer_.async_wait([weak = weak_from_this()](beast::error_code error) {
            auto self = weak.lock();
            if (error || !self) return;
            self->timed_out_ = true;
            beast::error_code ignored;
            self->stream_.socket().cancel(ignored);
        });
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, size_t) {
                             self->timer_.cancel();
                             self->on_read(error);
                         });
    }

    void on_read(beast::error_code error) {
        if (error == http::error::end_of_stream || error == asio::error::connection_reset ||
            error == asio::error::eof) {
            return close();
        }
        if (timed_out_) {
            // Only a client that began a request hears why it is dropped.
            if (buffer_.size() > 0 || parser_->got_some())
                return send(web::status_page(408), false, false);
            return close();
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
        send(std::move(response), request.method() == http::verb::head, request.keep_alive());
    }

    void send(web::Response response, bool head, bool keep_alive) {
        auto message = std::make_shared<http::response<http::string_body>>();
        message->version(11);
        message->result(static_cast<unsigned>(response.status));
        message->set(http::field::server, "station");
        message->set(http::field::content_type, response.content_type);
        if (!response.cache_control.empty())
            message->set(http::field::cache_control, response.cache_control);
        message->set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response.headers) message->set(name, value);
        message->keep_alive(keep_alive);
        size_t length = response.body.size();
        if (!head) message->body() = std::move(response.body);
        message->content_length(length);
        stream_.expires_after(shared_.limits.idle);
        http::async_write(
            stream_, *message,
            [self = shared_from_this(), message, keep_alive](beast::error_code error, size_t) {
                if (error || !keep_alive) return self->close();
                self->read();
            });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    asio::steady_timer timer_;
    bool timed_out_ = false;
    beast::flat_buffer buffer_{8192};
    std::optional<http::request_parser<http::string_body>> parser_;
    Shared& shared_;
    bool over_limit_;
};

}  // namespace

struct WebServer::Impl {
    Shared shared;  // first: the sessions the io_context still holds use it as they go
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    std::thread thread;
    std::atomic<int> port{0};

    void accept() {
        acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error == asio::error::operation_aborted) return;
            if (!error) {
                bool over = shared.open >= shared.limits.connections;
                // A flood beyond twice the limit is closed without a word.
                if (over && shared.rejecting >= shared.limits.connections) {
                    beast::error_code ignored;
                    socket.close(ignored);
                } else {
                    std::make_shared<Session>(std::move(socket), shared, over)->run();
                }
            }
            accept();
        });
    }
};

WebServer::WebServer(Handler handler, Limits limits) : impl_(std::make_unique<Impl>()) {
    impl_->shared.handler = std::move(handler);
    impl_->shared.limits = limits;
}

WebServer::~WebServer() {
    stop();
}

std::string WebServer::start(const std::string& address, int port) {
    beast::error_code error;
    auto ip = asio::ip::make_address(address, error);
    if (error) return "address " + address + " is not an IP address";
    tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    impl_->acceptor.open(endpoint.protocol(), error);
    if (!error) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) impl_->acceptor.bind(endpoint, error);
    if (!error) impl_->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        beast::error_code ignored;
        impl_->acceptor.close(ignored);
        return address + ":" + std::to_string(port) + ": " + error.message();
    }
    impl_->port = impl_->acceptor.local_endpoint().port();
    impl_->accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
    return "";
}

void WebServer::stop() {
    if (!impl_ || !impl_->thread.joinable()) return;
    impl_->io.stop();
    impl_->thread.join();
}

int WebServer::port() const {
    return impl_->port;
}

}  // namespace velkantor::platform
