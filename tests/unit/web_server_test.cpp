#include "platform/real/web_server.h"

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace velkantor::platform {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// The real server on a loopback port with small limits, and raw clients that send bytes and
// read until the server closes (or answers): what a visitor's socket sees.
struct WebServerFixture : ::testing::Test {
    WebServerFixture() {
        WebServer::Limits limits;
        limits.connections = 2;
        limits.idle = std::chrono::milliseconds(300);
        server = std::make_unique<WebServer>(
            [](const web::Request& request) {
                return web::Response{
                    200, "text/plain", "no-store", "hello " + std::string(request.target), {}};
            },
            limits);
        EXPECT_EQ(server->start("127.0.0.1", 0), "");
    }
    tcp::socket connect() {
        tcp::socket socket(io);
        socket.connect(
            {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(server->port())});
        return socket;
    }
    // Sends `bytes` and reads the answer up to the server's close.
    std::string exchange(tcp::socket& socket, const std::string& bytes) {
        if (!bytes.empty()) asio::write(socket, asio::buffer(bytes));
        std::string reply;
        boost::system::error_code error;
        asio::read(socket, asio::dynamic_buffer(reply), error);
        return reply;
    }
    std::string exchange(const std::string& bytes) {
        auto socket = connect();
        return exchange(socket, bytes);
    }
    static int status(const std::string& reply) {
        return reply.size() > 12 && reply.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(reply.substr(9, 3))
                                                                     : 0;
    }

    asio::io_context io;
    std::unique_ptr<WebServer> server;
};

TEST_F(WebServerFixture, EachBadRequestGetsItsStatus) {
    std::string many_fields;
    for (int i = 0; i < 100; ++i) many_fields += "X-" + std::to_string(i) + ": 1\r\n";
    struct Case {
        const char* what;
        std::string request;
        int status;
    };
    const Case cases[] = {
        {"plain GET", "GET /a HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
        {"HTTP/1.0", "GET /a HTTP/1.0\r\n\r\n", 200},
        {"headers over 8 KiB", "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", 431},
        {"100 header lines", "GET / HTTP/1.1\r\n" + many_fields + "\r\n", 431},
        {"a body over the limit", "GET / HTTP/1.1\r\nContent-Length: 5000\r\n\r\n", 413},
        {"not HTTP", "HELLO THERE\r\n\r\n", 400},
        {"a NUL in the request line", std::string("GET /\0 HTTP/1.1\r\n\r\n", 20), 400},
        {"half a request, then silence", "GET / HTTP/1.1\r\nHost: x\r\n", 408},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reply = exchange(c.request);
        EXPECT_EQ(status(reply), c.status) << reply;
        EXPECT_NE(reply.find("Content-Length: "), std::string::npos);
    }
    // HEAD: GET's headers, no body.
    std::string head = exchange("HEAD /abc HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    // An idle connection that never began a request is closed without a word.
    EXPECT_EQ(exchange(""), "");
}

TEST_F(WebServerFixture, ConnectionsOverTheLimitHear503AndTheOthersAreServed) {
    auto first = connect();
    auto second = connect();
    asio::write(first, asio::buffer(std::string("GET /1 HTTP/1.1\r\n")));
    asio::write(second, asio::buffer(std::string("GET /2 HTTP/1.1\r\n")));
    // Connections are accepted in order: the third finds the two slots taken.
    std::string third = exchange("GET /3 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(status(third), 503) << third;
    EXPECT_EQ(status(exchange(first, "Host: x\r\nConnection: close\r\n\r\n")), 200);
    EXPECT_EQ(status(exchange(second, "Host: x\r\nConnection: close\r\n\r\n")), 200);
    // With the two gone, a new visitor is served.
    std::string again;
    for (int tries = 0; tries < 50 && status(again) != 200; ++tries) {
        again = exchange("GET /4 HTTP/1.1\r\nConnection: close\r\n\r\n");
    }
    EXPECT_EQ(status(again), 200);
}

}  // namespace
}  // namespace velkantor::platform
