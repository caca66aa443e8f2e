// The TCP service under the SeedLink server and the web page, on loopback with a line
// protocol of the test's own: admission, eviction, listen addresses, the client lines and a
// stop that no peer holds up.
#include "platform/real/tcp_service.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace velkantor::platform {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// Says "hi" when let in ("full" when over the limit, and then waits for the client to go);
// answers one line "x" with "page x" and closes; the line "flood" gets more bytes than any
// socket holds. `evictable`: waiting for its line, it may give its slot to a newcomer.
class LineConnection : public TcpConnection {
public:
    LineConnection(TcpService& service, tcp::socket socket, TcpPeer peer, bool evictable)
        : TcpConnection(service, std::move(peer)),
          socket_(std::move(socket)),
          evictable_(evictable) {}

    void begin(bool over_limit) override {
        auto self = shared_from_this();
        write(over_limit ? "full\n" : "hi\n", [this, over_limit] {
            if (!over_limit) return read_line();
            socket_.async_read_some(asio::buffer(byte_),
                                    [this, self = shared_from_this()](error_code ec, size_t) {
                                        close(ec ? "closed by the client" : "said something");
                                    });
        });
    }

private:
    void read_line() {
        if (evictable_) waiting_for_request(true);
        asio::async_read_until(
            socket_, input_, '\n', [this, self = shared_from_this()](error_code ec, size_t n) {
                waiting_for_request(false);
                if (closed()) return;
                if (ec) return close("closed by the client");
                std::string line(asio::buffers_begin(input_.data()),
                                 asio::buffers_begin(input_.data()) + static_cast<long>(n) - 1);
                if (line == "flood") {
                    output_ = std::string(32 << 20, 'f');
                    return write_output([this] { close("flooded"); });
                }
                write("page " + line + "\n", [this] { close("answered"); });
            });
    }

    template <class Then>
    void write(std::string text, Then then) {
        output_ = std::move(text);
        write_output(then);
    }
    template <class Then>
    void write_output(Then then) {
        asio::async_write(socket_, asio::buffer(output_),
                          [this, then, self = shared_from_this()](error_code ec, size_t) {
                              if (closed()) return;
                              if (ec) return close(ec.message());
                              then();
                          });
    }
    void shut() override {
        error_code ignored;
        socket_.close(ignored);
    }

    tcp::socket socket_;
    bool evictable_;
    asio::streambuf input_;
    std::string output_;
    char byte_[1];
};

TcpService::Config test_config() {
    TcpService::Config config;
    config.name = "Test";
    config.listen = {"127.0.0.1", 0};
    return config;
}

std::unique_ptr<TcpService> make_service(TcpService::Config config, bool evictable = false) {
    return std::make_unique<TcpService>(
        std::move(config), [evictable](TcpService& service, tcp::socket socket, TcpPeer peer) {
            return std::make_shared<LineConnection>(service, std::move(socket), std::move(peer),
                                                    evictable);
        });
}

// A blocking client whose reads give up after ten seconds instead of hanging the test.
struct Client {
    asio::io_context io;
    tcp::socket socket{io};

    Client(const std::string& to, int port, const std::string& from = "") {
        auto address = asio::ip::make_address(to);
        socket.open(address.is_v4() ? tcp::v4() : tcp::v6());
        if (!from.empty()) socket.bind({asio::ip::make_address(from), 0});
        socket.connect({address, static_cast<unsigned short>(port)});
        timeval limit{10, 0};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    // Up to the end of a line, or what came before the server closed ("" when it said
    // nothing).
    std::string line() {
        std::string text;
        char c;
        while (::recv(socket.native_handle(), &c, 1, 0) == 1) {
            if (c == '\n') return text;
            text += c;
        }
        return text;
    }
    void send(const std::string& text) {
        ::send(socket.native_handle(), text.data(), text.size(), MSG_NOSIGNAL);
    }
    std::string ask(const std::string& request) {
        send(request + "\n");
        return line();
    }
};

int count_lines(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}

TEST(TcpService, AdmitsByAllowListLimitsAndEviction) {
    struct Case {
        const char* name;
        int clients;
        int per_address;
        const char* allow;
        int answer_full;
        bool evictable;
        // One a client, each connecting after the one before was let in or turned away:
        // "from>greeting" ("" = closed without a word).
        std::vector<std::string> clients_in_turn;
        // Then, in turn, each client greeted "hi" asks for a page: "page" while it holds its
        // slot, "" when it was closed to make room.
        std::string pages;
        const char* log_part;
        int log_count;
    };
    const Case cases[] = {
        {"total limit",
         2,
         0,
         nullptr,
         0,
         false,
         {"127.0.0.1>hi", "127.0.0.2>hi", "127.0.0.3>"},
         "pp",
         "Test client 127.0.0.3:",
         1},
        {"total limit's line",
         1,
         0,
         nullptr,
         0,
         false,
         {"127.0.0.1>hi", "127.0.0.1>"},
         "p",
         "refused: the limit of 1 clients is reached",
         1},
        {"per address",
         4,
         2,
         nullptr,
         0,
         false,
         {"127.0.0.1>hi", "127.0.0.1>hi", "127.0.0.1>", "127.0.0.2>hi"},
         "ppp",
         "refused: the limit of 2 clients from one address is reached",
         1},
        {"allow list",
         4,
         0,
         "127.0.0.2/32",
         0,
         false,
         {"127.0.0.1>", "127.0.0.2>hi", "127.0.0.3>"},
         "p",
         "refused: not in the allow list",
         2},
        {"over the limit told so, then closed",
         1,
         0,
         nullptr,
         1,
         false,
         {"127.0.0.1>hi", "127.0.0.1>full", "127.0.0.1>"},
         "p",
         "refused: the limit of 1 clients is reached",
         2},
        // Idle connections make room for newcomers, the one waiting longest first.
        {"eviction",
         2,
         0,
         nullptr,
         0,
         true,
         {"127.0.0.1>hi", "127.0.0.1>hi", "127.0.0.1>hi", "127.0.0.1>hi"},
         "--pp",
         "disconnected: its slot went to a newcomer",
         2},
        // Never over the allow list or the address's own limit.
        {"eviction within the rules",
         2,
         2,
         "127.0.0.1/32",
         0,
         true,
         {"127.0.0.1>hi", "127.0.0.1>hi", "127.0.0.1>", "127.0.0.2>"},
         "pp",
         " refused: ",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto config = test_config();
        config.clients = c.clients;
        config.clients_per_address = c.per_address;
        if (c.allow) config.allow.push_back(*config::parse_ip_network(c.allow));
        config.answer_full = c.answer_full;
        auto service = make_service(config, c.evictable);
        ASSERT_EQ(service->start(), "");
        std::vector<std::unique_ptr<Client>> clients;
        std::string greeted;
        for (const auto& step : c.clients_in_turn) {
            size_t arrow = step.find('>');
            clients.push_back(
                std::make_unique<Client>("127.0.0.1", service->port(), step.substr(0, arrow)));
            std::string greeting = clients.back()->line();
            EXPECT_EQ(greeting, step.substr(arrow + 1)) << clients.size();
            if (greeting == "hi") greeted += char('0' + clients.size() - 1);
        }
        std::string pages;
        for (char at : greeted) {
            pages += clients[size_t(at - '0')]->ask("x") == "page x" ? 'p' : '-';
        }
        EXPECT_EQ(pages, c.pages);
        service->stop();
        auto lines = service->take_log_lines();
        EXPECT_EQ(count_lines(lines, c.log_part), c.log_count) << ::testing::PrintToString(lines);
        // Every admitted client has its connect line and its disconnect line; the refused
        // ones, and the ones told the service is full, have only their refusal.
        EXPECT_EQ(count_lines(lines, " connected"), static_cast<int>(greeted.size()));
        EXPECT_EQ(count_lines(lines, " disconnected: "), static_cast<int>(greeted.size()));
    }
}

// What a web visitor meets: every slot held by a connection that never asks, and a flood of
// more; a real request still gets its page.
TEST(TcpService, AnIdleFloodLeavesRoomForARequest) {
    auto config = test_config();
    config.clients = 4;
    config.log_clients = false;
    auto service = make_service(config, true);
    ASSERT_EQ(service->start(), "");
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 100; ++i) {
        flood.push_back(std::make_unique<Client>("127.0.0.1", service->port()));
    }
    Client visitor("127.0.0.1", service->port());
    EXPECT_EQ(visitor.line(), "hi");
    EXPECT_EQ(visitor.ask("index"), "page index");
    // The oldest of the flood went, without a word after its greeting, for a newcomer.
    EXPECT_EQ(flood.front()->line(), "hi");
    EXPECT_EQ(flood.front()->line(), "");
    service->stop();
    EXPECT_TRUE(service->take_log_lines().empty());
}

bool has_ipv6_loopback() {
    asio::io_context io;
    tcp::acceptor acceptor(io);
    error_code ec;
    acceptor.open(tcp::v6(), ec);
    if (!ec) acceptor.bind({asio::ip::make_address("::1"), 0}, ec);
    return !ec;
}

TEST(TcpService, ListensOnNamesAndBracketedAddresses) {
    struct Case {
        const char* listen;
        const char* connect_to;
        bool ipv6;
        const char* where;
    } cases[] = {
        {"localhost", "127.0.0.1", false, "localhost:0"},
        {"127.0.0.1", "127.0.0.1", false, "127.0.0.1:0"},
        {"::1", "::1", true, "[::1]:0"},
        {"[::1]", "::1", true, "[::1]:0"},
    };
    const bool ipv6 = has_ipv6_loopback();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listen);
        if (c.ipv6 && !ipv6) continue;  // no IPv6 on this machine
        auto config = test_config();
        config.listen.address = c.listen;
        auto service = make_service(config);
        EXPECT_EQ(service->where(), c.where);
        ASSERT_EQ(service->start(), "");
        ASSERT_GT(service->port(), 0);
        Client client(c.connect_to, service->port());
        EXPECT_EQ(client.line(), "hi");
        EXPECT_EQ(client.ask("a"), "page a");
        service->stop();
    }
    if (!ipv6) GTEST_SKIP() << "no IPv6 loopback: the IPv6 forms were not tried";
}

TEST(TcpService, ReportsAnAddressItCannotListenOn) {
    auto first = make_service(test_config());
    ASSERT_EQ(first->start(), "");
    auto config = test_config();
    config.listen.port = first->port();
    auto second = make_service(config);
    EXPECT_EQ(second->start().rfind(
                  "cannot listen on 127.0.0.1:" + std::to_string(first->port()) + ": ", 0),
              0u);
    EXPECT_FALSE(second->running());
    EXPECT_EQ(second->port(), 0);
}

// A client that never reads what it asked for, one that never asks: neither holds up the
// stop, and both are told the server stops in the event log.
TEST(TcpService, StopsAtOnceWhateverThePeersDo) {
    auto service = make_service(test_config());
    ASSERT_EQ(service->start(), "");
    Client sleeper("127.0.0.1", service->port());
    EXPECT_EQ(sleeper.line(), "hi");
    Client hoarder("127.0.0.1", service->port());
    EXPECT_EQ(hoarder.line(), "hi");
    hoarder.send("flood\n");
    // The first byte: the flood has begun, and is read no further.
    char first = 0;
    ASSERT_EQ(::recv(hoarder.socket.native_handle(), &first, 1, 0), 1);
    EXPECT_EQ(first, 'f');
    auto begun = std::chrono::steady_clock::now();
    service->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
    EXPECT_FALSE(service->running());
    auto lines = service->take_log_lines();
    EXPECT_EQ(count_lines(lines, "disconnected: server stopping"), 2)
        << ::testing::PrintToString(lines);
    // The sleeper hears the close, not silence.
    EXPECT_EQ(sleeper.line(), "");
}

TEST(ClientLog, KeepsAMinutesRateAndCountsTheRest) {
    using std::chrono::seconds;
    const ClientLog::Time t0{};
    ClientLog log("Test", 3);
    for (int i = 0; i < 5; ++i) log.add("line " + std::to_string(i), t0 + seconds(i));
    EXPECT_EQ(log.take(t0 + seconds(30)),
              (std::vector<std::string>{
                  "line 0", "line 1", "line 2",
                  "Test server: too many client lines this minute; the rest are counted"}));
    // The minute is over: what was left out is counted in one line, and lines come again.
    log.add("line 5", t0 + seconds(61));
    EXPECT_EQ(log.take(t0 + seconds(62)),
              (std::vector<std::string>{"Test server: 2 client lines left out in the last minute",
                                        "line 5"}));
    // The count comes out when the minute is over, even with no new line to bring it.
    for (int i = 0; i < 4; ++i) log.add("again", t0 + seconds(70));
    EXPECT_EQ(log.take(t0 + seconds(80)).size(), 3u);  // 2 new ones and the notice
    EXPECT_EQ(
        log.take(t0 + seconds(125)),
        (std::vector<std::string>{"Test server: 2 client lines left out in the last minute"}));
    // Kept lines have a bound of their own when nobody takes them.
    ClientLog unbounded("Test", 1 << 20);
    for (size_t i = 0; i < ClientLog::kCapacity + 10; ++i) unbounded.add("x", t0);
    EXPECT_EQ(unbounded.take(t0).size(), ClientLog::kCapacity);
}

}  // namespace
}  // namespace velkantor::platform
