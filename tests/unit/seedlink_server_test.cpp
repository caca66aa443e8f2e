// The SeedLink server on 127.0.0.1 with in-test clients: the socket side of what the
// session tests check in memory (greeting, live packets, INFO as a barrier, WebSocket
// framing, refusals and their log lines).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <utility>

#include "platform/real/seedlink_server.h"
#include "unit/seedlink_records.h"

namespace velkantor::platform {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr stream::MicroTime kT0 = 1'765'411'200LL * 1000000;
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
    explicit RawClient(int port) {
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        timeval limit{10, 0};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void send(const std::string& text) { asio::write(socket, asio::buffer(text)); }
    std::string read(size_t n) {
        std::string data(n, '\0');
        boost::system::error_code ec;
        size_t got = asio::read(socket, asio::buffer(data), ec);
        data.resize(got);
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
        boost::system::error_code ec;
        socket.read_some(asio::buffer(&c, 1), ec);
        return ec == asio::error::eof || ec == asio::error::connection_reset;
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
        auto hhz = stream::testing::make_record(stream::testing::test_stream("HHZ"), kT0, 100);
        server.record(stream::testing::make_record(stream::testing::test_stream("HHN"), kT0, 100));
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
    auto record = stream::testing::make_record(stream::testing::test_stream("HHZ"), kT0, 100);
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
