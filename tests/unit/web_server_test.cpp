#include "platform/real/web_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/real/std_file_system.h"

namespace velkantor::platform {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// A visitor's connection to the server on loopback; `receive_buffer` > 0: a visitor on a slow
// link, whose socket holds little.
tcp::socket connect_to(asio::io_context& io, int port, int receive_buffer) {
    tcp::socket socket(io);
    socket.open(tcp::v4());
    if (receive_buffer > 0) {
        socket.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    }
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    return socket;
}

// The real server on a loopback port with small limits, and raw clients that send bytes and
// read until the server closes (or answers): what a visitor's socket sees.
struct WebServerFixture : ::testing::Test {
    WebServerFixture() {
        WebServer::Limits limits;
        limits.connections = 2;
        // Long enough that on a loaded machine the busy connections are not closed as stuck
        // before the newcomer comes.
        limits.idle = std::chrono::milliseconds(1000);
        server = std::make_unique<WebServer>(
            [](const web::Request& request) {
                // An answer too large for the sockets' buffers keeps its connection busy
                // while the visitor does not read.
                if (request.target == "/big") {
                    return web::Response{
                        200, "text/plain", "no-store", std::string(32 << 20, 'b'), {}};
                }
                return web::Response{
                    200, "text/plain", "no-store", "hello " + std::string(request.target), {}};
            },
            limits);
        EXPECT_EQ(server->start("127.0.0.1", 0), "");
    }
    tcp::socket connect(int receive_buffer = 0) {
        return connect_to(io, server->port(), receive_buffer);
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

// The slots are all taken by connections that wait for a request: each newcomer takes the
// slot of the one waiting longest, so a flood of idle connections never locks visitors out.
TEST_F(WebServerFixture, AnIdleConnectionFloodNeverDeniesThePage) {
    std::vector<tcp::socket> flood;
    for (int i = 0; i < 200; ++i) flood.push_back(connect());
    // Half a request counts as waiting for one, too.
    for (int i = 0; i < 5; ++i) {
        flood.push_back(connect());
        asio::write(flood.back(), asio::buffer(std::string("GET /slow HTTP/1.1\r\n")));
    }
    std::string reply = exchange("GET /visitor HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(status(reply), 200) << reply;
    EXPECT_NE(reply.find("hello /visitor"), std::string::npos);
    // The first of the flood was closed for it at once, without a word (long before the
    // idle time would have closed it).
    EXPECT_EQ(exchange(flood.front(), ""), "");
}

// Only connections busy answering fill the page for good: a newcomer then hears 503, and is
// served once they are done.
TEST_F(WebServerFixture, ConnectionsBusyAnsweringMakeANewcomerHear503) {
    std::vector<tcp::socket> busy;
    for (int i = 0; i < 2; ++i) {
        busy.push_back(connect(4096));
        asio::write(busy.back(), asio::buffer(std::string("GET /big HTTP/1.1\r\nHost: x\r\n\r\n")));
        // The answer has begun: the server is writing, and the visitor reads no more.
        char start[12];
        asio::read(busy.back(), asio::buffer(start));
        EXPECT_EQ(std::string(start, sizeof start), "HTTP/1.1 200");
    }
    std::string third = exchange("GET /3 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(status(third), 503) << third;
    for (auto& socket : busy) socket.close();
    // With the two gone, a new visitor is served.
    std::string again;
    for (int tries = 0; tries < 50 && status(again) != 200; ++tries) {
        again = exchange("GET /4 HTTP/1.1\r\nConnection: close\r\n\r\n");
    }
    EXPECT_EQ(status(again), 200);
}

// The real server answering from a real station folder on disk, the way the page does: its
// events folder holds event files, their miniSEED copies, and what must not go out.
struct WebServerFiles : ::testing::Test {
    WebServerFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velkantor-web-XXXXXX");
        folder = mkdtemp(pattern.data());
        events = folder + "/events";
        std::filesystem::create_directories(events);
        std::filesystem::create_directories(folder + "/drums");
        put(folder + "/velkant.ini", "secret settings");
        put(folder + "/network.ini", "secret settings");
        put(folder + "/mqtt.pw", "secret password");
        put(events + "/20260301_120000.CH1", "event bytes");
        put(events + "/20260301_120000.CH1.mseed", "mseed bytes");
        put(events + "/notes.txt", "secret notes");
        put(events + "/20260301_130000.CH1", std::string());  // the large one, see below
        std::filesystem::create_symlink("/etc/passwd", events + "/20260301_140000.CH1");
        std::filesystem::create_symlink(folder + "/mqtt.pw", events + "/20260301_150000.CH1");
        std::filesystem::create_symlink(folder + "/velkant.ini",
                                        events + "/20260301_120000.CH1.msd");
        put(folder + "/20260301_160000.CH1", "secret under an event's name");
        state.station_folder = folder;
        state.drums_folder = folder + "/drums";
        state.events_folder = events;
        state.event_log = folder + "/evtfile.dat";
        web::ChannelState channel;
        channel.number = 1;
        channel.event_extension = "CH1";
        channel.configured_rate = 100;
        state.channels.push_back(channel);
    }
    ~WebServerFiles() override {
        if (server) server->stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    static void put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void start(WebServer::Limits limits) {
        server = std::make_unique<WebServer>(
            [this](const web::Request& request) {
                std::lock_guard lock(state_mutex);
                web::Sources sources{state, fs, {}};
                return web::route(request, sources);
            },
            limits);
        ASSERT_EQ(server->start("127.0.0.1", 0), "");
    }
    tcp::socket connect(int receive_buffer = 0) {
        return connect_to(io, server->port(), receive_buffer);
    }
    // The whole answer to a GET, up to the server's close.
    std::string get(const std::string& target) {
        auto socket = connect();
        asio::write(socket,
                    asio::buffer("GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n"));
        std::string reply;
        boost::system::error_code error;
        asio::read(socket, asio::dynamic_buffer(reply), error);
        return reply;
    }
    static std::string body(const std::string& reply) {
        size_t end = reply.find("\r\n\r\n");
        return end == std::string::npos ? "" : reply.substr(end + 4);
    }

    std::string folder, events;
    std::mutex state_mutex;
    web::StateSnapshot state;
    StdFileSystem fs;
    asio::io_context io;
    std::unique_ptr<WebServer> server;
};

TEST_F(WebServerFiles, OnlyTheListedEventFilesAreServedAndNoLinkIsFollowed) {
    start({});
    struct Case {
        const char* target;
        int status;
        const char* body;
    };
    const Case cases[] = {
        {"/events/20260301_120000.CH1", 200, "event bytes"},
        {"/events/20260301_120000.CH1.mseed", 200, "mseed bytes"},
        {"/events/notes.txt", 404, nullptr},
        // Links with an event file's name, to a file of the machine and to the station's own.
        {"/events/20260301_140000.CH1", 404, nullptr},
        {"/events/20260301_150000.CH1", 404, nullptr},
        {"/events/20260301_120000.CH1.msd", 404, nullptr},
        {"/events/..%2fvelkant.ini", 404, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        std::string reply = get(c.target);
        EXPECT_EQ(WebServerFixture::status(reply), c.status) << reply;
        if (c.body) {
            EXPECT_EQ(body(reply), c.body);
        }
        EXPECT_EQ(reply.find("secret"), std::string::npos) << reply;
        EXPECT_EQ(reply.find("root:"), std::string::npos) << reply;
    }
    // The events folder set to the station folder, or a folder above it: nothing of it goes
    // out, not even a file that bears an event file's name.
    for (std::string above :
         {folder, folder + "/", std::filesystem::path(folder).parent_path().string()}) {
        SCOPED_TRACE(above);
        {
            std::lock_guard lock(state_mutex);
            state.events_folder = above;
        }
        for (const char* name : {"20260301_160000.CH1", "velkant.ini", "network.ini", "mqtt.pw"}) {
            std::string reply = get(std::string("/events/") + name);
            EXPECT_EQ(WebServerFixture::status(reply), 404) << name;
            EXPECT_EQ(reply.find("secret"), std::string::npos) << reply;
        }
    }
}

// Thirty visitors on slow links download a large event file at once. The file goes out from
// disk in chunks: the server never holds more than its bound of file bytes whatever the
// visitors' number, and each download, though it lasts many times the idle time, arrives
// whole because its deadline is renewed while bytes flow.
TEST_F(WebServerFiles, SlowDownloadsOfALargeFileArriveWholeInBoundedMemory) {
    std::string large(1 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919) >> 8);
    put(events + "/20260301_130000.CH1", large);
    WebServer::Limits limits;
    limits.connections = 40;
    limits.idle = std::chrono::milliseconds(200);
    limits.file_chunk_bytes = 64 * 1024;
    limits.file_buffer_bytes = 256 * 1024;
    start(limits);

    constexpr int kVisitors = 30;
    // A visitor takes at most one slice a round and a round lasts at least 4 ms: the file's
    // 256 slices take more than a second, five idle times, however fast the server is.
    constexpr size_t kSlice = 4 * 1024;
    std::vector<tcp::socket> sockets;
    std::vector<std::string> replies(kVisitors);
    std::vector<bool> done(kVisitors, false);
    for (int i = 0; i < kVisitors; ++i) {
        sockets.push_back(connect(8192));
        asio::write(sockets.back(),
                    asio::buffer(std::string("GET /events/20260301_130000.CH1 HTTP/1.1\r\n"
                                             "Connection: close\r\n\r\n")));
    }
    const auto begun = std::chrono::steady_clock::now();
    int open = kVisitors;
    while (open > 0) {
        std::vector<pollfd> ready;
        for (int i = 0; i < kVisitors; ++i) {
            if (!done[static_cast<size_t>(i)]) {
                ready.push_back({sockets[static_cast<size_t>(i)].native_handle(), POLLIN, 0});
            }
        }
        ASSERT_GT(::poll(ready.data(), ready.size(), 10000), 0) << "the downloads stalled";
        for (int i = 0, k = 0; i < kVisitors; ++i) {
            auto index = static_cast<size_t>(i);
            if (done[index]) continue;
            if (ready[static_cast<size_t>(k++)].revents == 0) continue;
            char slice[kSlice];
            boost::system::error_code error;
            size_t got = sockets[index].read_some(asio::buffer(slice), error);
            replies[index].append(slice, got);
            if (error) {
                done[index] = true;
                --open;
            }
        }
        // A slow link: each visitor takes at most one slice per round, a round every few
        // milliseconds (the pace of the visitors, not a wait for the server).
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_GT(took, 3 * limits.idle) << "the downloads were not slow enough to show anything";
    for (const auto& reply : replies) {
        ASSERT_EQ(WebServerFixture::status(reply), 200) << reply.substr(0, 200);
        EXPECT_NE(reply.find("Content-Length: " + std::to_string(large.size())), std::string::npos);
        EXPECT_TRUE(body(reply) == large) << body(reply).size() << " bytes of " << large.size();
    }
    auto stats = server->stats();
    EXPECT_LE(stats.file_bytes_buffered_peak, limits.file_buffer_bytes);
    EXPECT_GE(stats.file_bytes_buffered_peak, limits.file_chunk_bytes);
    EXPECT_EQ(stats.file_bytes_buffered, 0u);
}

}  // namespace
}  // namespace velkantor::platform

namespace velkantor::platform {
namespace {

// A body made of file ranges and held bytes (an FDSN dataselect answer) goes out whole, in
// chunks smaller than its parts; a range its file no longer holds ends the connection short
// of the length promised rather than sending other bytes.
TEST_F(WebServerFiles, ABodyInPartsArrivesWholeAndAPartGoneEndsTheConnection) {
    std::string day;
    for (int i = 0; i < 4096; ++i) day += static_cast<char>('a' + i % 26);
    const std::string path = folder + "/day";
    put(path, day);
    WebServer::Limits limits;
    limits.file_chunk_bytes = 300;
    server = std::make_unique<WebServer>(
        [&](const web::Request& request) {
            web::Response r{200, "application/vnd.fdsn.mseed", "no-store", {}, {}};
            if (request.target == "/parts") {
                r.parts = {{path, 512, 1024, {}}, {"", 0, 0, "held"}, {path, 3072, 1024, {}}};
            } else {
                r.parts = {{"", 0, 0, "x"}, {path, 4000, 1000, {}}};
            }
            return r;
        },
        limits);
    ASSERT_EQ(server->start("127.0.0.1", 0), "");
    auto whole = get("/parts");
    EXPECT_NE(whole.find("Content-Length: 2052\r\n"), std::string::npos) << whole;
    EXPECT_EQ(body(whole), day.substr(512, 1024) + "held" + day.substr(3072, 1024));

    auto socket = connect();
    asio::write(socket,
                asio::buffer(std::string("HEAD /parts HTTP/1.1\r\nConnection: close\r\n\r\n")));
    std::string head;
    boost::system::error_code error;
    asio::read(socket, asio::dynamic_buffer(head), error);
    EXPECT_NE(head.find("Content-Length: 2052\r\n"), std::string::npos);
    EXPECT_EQ(body(head), "");

    auto gone = get("/gone");
    EXPECT_NE(gone.find("Content-Length: 1001\r\n"), std::string::npos);
    EXPECT_EQ(body(gone), "x");
}

}  // namespace
}  // namespace velkantor::platform
