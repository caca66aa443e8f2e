// The SeedLink server on 127.0.0.1 with in-test clients: the socket side of what the
// session tests check in memory (greeting, live packets, INFO as a barrier, WebSocket
// framing, refusals and their log lines).
#include "platform/real/seedlink_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <cerrno>
#include <chrono>
#include <memory>
#include <utility>

#include "unit/seedlink_records.h"

namespace velkantor::platform {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

using stream::testing::kT0;
using stream::testing::make_record;
using stream::testing::test_stream;
const char* const kHello = "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\n";

SeedLinkServer::Config test_config() {
    SeedLinkServer::Config config;
    config.listen = {"127.0.0.1", 0};
    config.network = "XX";
    config.station = "VELK";
    config.description = "Test station";
    config.software = "VELKANTOR 2.28";
    return config;
}

// A blocking client whose reads give up after ten seconds instead of hanging the test.
struct RawClient {
    asio::io_context ioc;
    tcp::socket socket{ioc};
    // `from`: the loopback address to connect from (all of 127/8 is the loopback).
    explicit RawClient(int port, const char* from = "127.0.0.1") {
        socket.open(tcp::v4());
        socket.bind({asio::ip::make_address(from), 0});
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        read_limit(std::chrono::seconds(10));
    }
    void read_limit(std::chrono::microseconds limit) {
        timeval value{static_cast<time_t>(limit.count() / 1000000),
                      static_cast<suseconds_t>(limit.count() % 1000000)};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    }
    bool greeted() {
        send("HELLO\r");
        return read(std::string(kHello).size()) == kHello;
    }
    void send(const std::string& text) { asio::write(socket, asio::buffer(text)); }
    // Plain recv, not asio's blocking read: that one waits on past the socket's time limit.
    std::string read(size_t n) {
        std::string data;
        char buffer[4096];
        while (data.size() < n) {
            ssize_t got =
                ::recv(socket.native_handle(), buffer, std::min(sizeof buffer, n - data.size()), 0);
            if (got <= 0) break;
            data.append(buffer, static_cast<size_t>(got));
        }
        return data;
    }
    // Reads INFO packets up to the last one: everything sent before has been handled.
    void read_info() {
        for (;;) {
            std::string packet = read(8 + stream::kRecordLength);
            ASSERT_EQ(packet.size(), 8u + stream::kRecordLength);
            ASSERT_EQ(packet.substr(0, 6), "SLINFO");
            if (packet[7] == ' ') return;
        }
    }
    bool closed_by_server() {
        char c;
        ssize_t got = ::recv(socket.native_handle(), &c, 1, 0);
        return got == 0 || (got < 0 && errno == ECONNRESET);
    }
};

int count_lines(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}
int count_connects(const std::vector<std::string>& lines) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.size() > 10 && l.compare(l.size() - 10, 10, " connected") == 0;
    }));
}

TEST(SeedLinkServer, RawClientGetsTheGreetingAndLivePackets) {
    SeedLinkServer server(test_config());
    ASSERT_EQ(server.start(), "");
    ASSERT_GT(server.port(), 0);
    {
        RawClient client(server.port());
        client.send("HELLO\r");
        EXPECT_EQ(client.read(std::string(kHello).size()), kHello);
        client.send("STATION  VELK XX\rSELECT 00HHZ\rDATA\r");
        EXPECT_EQ(client.read(12), "OK\r\nOK\r\nOK\r\n");
        client.send("END\rINFO ID\r");
        client.read_info();
        auto hhz = make_record(test_stream("HHZ"), kT0, 100);
        server.record(make_record(test_stream("HHN"), kT0, 100));
        server.record(hhz);
        std::string packet = client.read(8 + stream::kRecordLength);
        ASSERT_EQ(packet.size(), 8u + stream::kRecordLength);
        EXPECT_EQ(packet.substr(0, 2), "SL");
        EXPECT_EQ(packet.substr(2, 6).find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(packet.substr(8), hhz.bytes);
        client.send("BYE\r");
        EXPECT_TRUE(client.closed_by_server());
    }
    server.stop();
    auto lines = server.take_log_lines();
    EXPECT_EQ(count_connects(lines), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(count_lines(lines, "disconnected: BYE"), 1) << ::testing::PrintToString(lines);
}

TEST(SeedLinkServer, RefusesBeyondTheLimitAndOutsideTheAllowList) {
    struct Case {
        const char* name;
        int clients;
        const char* allow;
        int admitted;  // of two clients
        const char* refusal;
    } cases[] = {
        {"limit", 1, nullptr, 1, "refused: the limit of 1 clients is reached"},
        {"allowed", 2, "127.0.0.0/8", 2, nullptr},
        {"outside", 2, "10.0.0.0/8", 0, "refused: not in the allow list"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto config = test_config();
        config.clients = c.clients;
        if (c.allow) config.allow.push_back(*config::parse_ip_network(c.allow));
        SeedLinkServer server(config);
        ASSERT_EQ(server.start(), "");
        RawClient first(server.port());
        // The first client's greeting proves it was admitted before the second connects.
        first.send("HELLO\r");
        bool first_in = first.read(std::string(kHello).size()) == kHello;
        RawClient second(server.port());
        second.send("HELLO\r");
        bool second_in = second.read(std::string(kHello).size()) == kHello;
        EXPECT_EQ(int(first_in) + int(second_in), c.admitted);
        server.stop();
        auto lines = server.take_log_lines();
        EXPECT_EQ(count_connects(lines), c.admitted) << ::testing::PrintToString(lines);
        if (c.refusal) {
            EXPECT_EQ(count_lines(lines, c.refusal), 2 - c.admitted)
                << ::testing::PrintToString(lines);
        }
    }
}

TEST(SeedLinkServer, ClientsFromOneAddressHaveTheirOwnLimit) {
    auto config = test_config();
    config.clients_per_address = 2;
    SeedLinkServer server(config);
    ASSERT_EQ(server.start(), "");
    // Each greeting proves the client was admitted before the next one connects.
    auto first = std::make_unique<RawClient>(server.port());
    EXPECT_TRUE(first->greeted());
    RawClient second(server.port());
    EXPECT_TRUE(second.greeted());
    RawClient third(server.port());
    EXPECT_TRUE(third.closed_by_server());
    RawClient other_host(server.port(), "127.0.0.2");
    EXPECT_TRUE(other_host.greeted());
    // A client that leaves frees its address's slot.
    first->send("BYE\r");
    EXPECT_TRUE(first->closed_by_server());
    first.reset();
    RawClient again(server.port());
    EXPECT_TRUE(again.greeted());
    server.stop();
    auto lines = server.take_log_lines();
    EXPECT_EQ(count_connects(lines), 4) << ::testing::PrintToString(lines);
    const std::string refusal =
        "127.0.0.1:" + std::to_string(third.socket.local_endpoint().port()) +
        " refused: the limit of 2 clients from one address is reached";
    EXPECT_EQ(count_lines(lines, refusal), 1) << ::testing::PrintToString(lines);
}

TEST(SeedLinkServer, AClientThatBeginsNoTransferIsLetGoWhateverItSends) {
    auto config = test_config();
    config.start_deadline = std::chrono::milliseconds(300);
    SeedLinkServer server(config);
    ASSERT_EQ(server.start(), "");
    RawClient streaming(server.port());
    streaming.send("DATA\r");  // uni-station: the transfer begins at once
    RawClient talker(server.port());
    EXPECT_TRUE(talker.greeted());
    // A line that never ends, a byte at a time, waiting up to 0.1 s for the server's close
    // after each: every byte is input, none of it a transfer.
    talker.read_limit(std::chrono::milliseconds(100));
    const int fd = talker.socket.native_handle();
    const std::string line = "INFO";  // then blanks
    bool closed = false;
    auto begun = std::chrono::steady_clock::now();
    for (size_t sent = 0;
         !closed && std::chrono::steady_clock::now() - begun < std::chrono::seconds(10); ++sent) {
        char byte = sent < line.size() ? line[sent] : ' ';
        ASSERT_TRUE(::send(fd, &byte, 1, MSG_NOSIGNAL) == 1 || errno == EPIPE ||
                    errno == ECONNRESET);
        char c;
        ssize_t got = ::recv(fd, &c, 1, 0);
        closed = got == 0 || (got < 0 && errno == ECONNRESET);
        ASSERT_TRUE(closed || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
            << "unexpected reply or error " << errno;
    }
    EXPECT_TRUE(closed);
    // The client that took data stays.
    streaming.send("INFO ID\r");
    streaming.read_info();
    server.stop();
    auto lines = server.take_log_lines();
    EXPECT_EQ(count_lines(lines, "disconnected: no transfer begun within 0.3 s"), 1)
        << ::testing::PrintToString(lines);
}

TEST(SeedLinkServer, AFloodOfConnectionsCannotFillTheEventLog) {
    auto config = test_config();
    config.allow.push_back(*config::parse_ip_network("10.0.0.0/8"));
    config.log_lines_per_minute = 3;
    SeedLinkServer server(config);
    ASSERT_EQ(server.start(), "");
    for (int i = 0; i < 10; ++i) {
        RawClient client(server.port());
        EXPECT_TRUE(client.closed_by_server());
    }
    server.stop();
    auto lines = server.take_log_lines();
    EXPECT_EQ(count_lines(lines, "refused"), 3) << ::testing::PrintToString(lines);
    EXPECT_EQ(count_lines(lines, "too many client lines this minute"), 1)
        << ::testing::PrintToString(lines);
}

TEST(SeedLinkServer, WebSocketClientsGetOneBinaryMessagePerReplyAndPacket) {
    SeedLinkServer server(test_config());
    ASSERT_EQ(server.start(), "");
    asio::io_context ioc;
    websocket::stream<tcp::socket> ws(ioc);
    ws.next_layer().connect(
        {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(server.port())});
    timeval limit{10, 0};
    setsockopt(ws.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ws.set_option(websocket::stream_base::decorator([](websocket::request_type& request) {
        request.set(beast::http::field::sec_websocket_protocol, "SeedLink3.1");
    }));
    websocket::response_type response;
    ws.handshake(response, "127.0.0.1", "/seedlink");
    EXPECT_EQ(response[beast::http::field::sec_websocket_protocol], "SeedLink3.1");

    auto exchange = [&](const std::string& command) {
        if (!command.empty()) ws.write(asio::buffer(command));
        beast::flat_buffer buffer;
        ws.read(buffer);
        EXPECT_TRUE(ws.got_binary());
        return beast::buffers_to_string(buffer.data());
    };
    ws.text(true);
    EXPECT_EQ(exchange("HELLO\r\n"), kHello);
    EXPECT_EQ(exchange("STATION VELK XX\r\n"), "OK\r\n");
    EXPECT_EQ(exchange("DATA\r\n"), "OK\r\n");
    ws.write(asio::buffer(std::string("END\r")));
    EXPECT_EQ(exchange("INFO ID\r").substr(0, 8), "SLINFO  ");
    auto record = make_record(test_stream("HHZ"), kT0, 100);
    server.record(record);
    std::string packet = exchange("");
    ASSERT_EQ(packet.size(), 8u + stream::kRecordLength);
    EXPECT_EQ(packet.substr(8), record.bytes);
    server.stop();
}

TEST(SeedLinkServer, ReportsAnAddressItCannotListenOn) {
    SeedLinkServer first(test_config());
    ASSERT_EQ(first.start(), "");
    auto config = test_config();
    config.listen.port = first.port();
    SeedLinkServer second(config);
    std::string error = second.start();
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
              std::string::npos)
        << error;
}

}  // namespace
}  // namespace velkantor::platform
