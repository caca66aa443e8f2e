#include <gtest/gtest.h>

#include "config/network_ini.h"
#include "platform/fake/memory_file_system.h"
#include "web/events.h"
#include "web/json.h"
#include "web/router.h"
#include "web/trace.h"
#include "web/web_settings.h"

namespace velkantor::web {
namespace {

// A station folder with a secret beside the served folders, and a snapshot naming them.
struct WebFixture : ::testing::Test {
    WebFixture() {
        fs.put("/srv/velk/velkant.ini", "secret");
        fs.put("/srv/velk/drums/drum_1.JPG", "jpeg-bytes");
        fs.put("/srv/velk/drums/drum_1.dat", "2026/03/01 3");
        fs.put("/srv/velk/events/20260301_120000.CH1", "event-bytes");
        fs.put("/srv/velk/events/20260301_120000.CH1.mseed", "mseed-bytes");
        fs.put("/srv/velk/events/sent/20260201_000000.CH1", "old");
        fs.put("/srv/velk/events/notes.txt", "secret notes");
        fs.put(
            "/srv/velk/evtfile.dat",
            "2026/03/01 12:03:00 20260301_120000.CH1 2026/03/01 12:00:00 L:00018000 Max SLTA:12.5 "
            "Max Amplit:004321\r\n2026/03/01 12:03:01 STOP\r\n2026/03/01 12:04:00 half a li");
        state.station_folder = "/srv/velk";
        state.drums_folder = "/srv/velk/drums";
        state.events_folder = "/srv/velk/events";
        state.event_log = "/srv/velk/evtfile.dat";
        ChannelState channel;
        channel.number = 1;
        channel.seed_code = "HHZ";
        channel.configured_rate = 100;
        channel.event_extension = "CH1";
        channel.drum = "drum_1.JPG";
        state.channels.push_back(channel);
    }
    Response get(std::string_view target, std::string_view method = "GET") {
        Sources sources{state, fs, [](int ch, int64_t since) {
                            return "trace " + std::to_string(ch) + " " + std::to_string(since);
                        }};
        return route({method, target}, sources);
    }
    // What the server sends: the body, or the bytes of the file the answer names.
    std::string bytes(const Response& response) const {
        return response.file.empty() ? response.body
                                     : fs.read_file(response.file, 64u << 20).value_or("");
    }
    platform::MemoryFileSystem fs;
    StateSnapshot state;
};

TEST_F(WebFixture, RequestsGetTheirStatusAndNothingOutsideTheFoldersIsServed) {
    struct Case {
        std::string_view method, target;
        int status;
        std::string_view content_type;
    };
    const Case cases[] = {
        {"GET", "/", 200, "text/html; charset=utf-8"},
        {"HEAD", "/", 200, "text/html; charset=utf-8"},
        {"GET", "/api/state.json", 200, "application/json; charset=utf-8"},
        {"GET", "/api/events.json?x=1", 200, "application/json; charset=utf-8"},
        {"GET", "/api/trace.json?channel=1&since=5", 200, "application/json; charset=utf-8"},
        {"GET", "/api/trace.json?channel=5", 400, "text/plain; charset=utf-8"},
        {"GET", "/api/trace.json?channel=1&since=-3", 400, "text/plain; charset=utf-8"},
        {"GET", "/drums/drum_1.JPG", 200, "image/jpeg"},
        {"GET", "/drums/drum_1.JPG?v=7", 200, "image/jpeg"},
        {"GET", "/drums/drum_%31.JPG", 200, "image/jpeg"},
        {"GET", "/events/20260301_120000.CH1", 200, "application/octet-stream"},
        {"GET", "/events/20260301_120000.CH1.mseed", 200, "application/octet-stream"},
        // Methods that are not GET or HEAD.
        {"POST", "/", 405, "text/plain; charset=utf-8"},
        {"PUT", "/drums/drum_1.JPG", 405, "text/plain; charset=utf-8"},
        {"DELETE", "/events/20260301_120000.CH1", 405, "text/plain; charset=utf-8"},
        {"OPTIONS", "*", 405, "text/plain; charset=utf-8"},
        // Traversal in every spelling, absolute paths, NUL, folders, files that are no picture.
        {"GET", "/drums/../velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/..%2fvelkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/..%2Fvelkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/%2e%2e/velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/..%5cvelkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/%2fsrv%2fvelk%2fvelkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums//srv/velk/velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/events/sent%2f20260201_000000.CH1", 404, "text/plain; charset=utf-8"},
        {"GET", "/events/sent", 404, "text/plain; charset=utf-8"},
        // The events folder's other files: only what the events listing links is served.
        {"GET", "/events/notes.txt", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/drum_1.JPG%00.dat", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/drum_1.dat", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/", 404, "text/plain; charset=utf-8"},
        {"GET", "/velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/srv/velk/velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "http://host/velkant.ini", 404, "text/plain; charset=utf-8"},
        {"GET", "/drums/%zz", 400, "text/plain; charset=utf-8"},
        {"GET", "/drums/%2", 400, "text/plain; charset=utf-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + std::string(c.target));
        Response response = get(c.target, c.method);
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.content_type, c.content_type);
        EXPECT_FALSE(response.cache_control.empty());
        EXPECT_EQ(bytes(response).find("secret"), std::string::npos);
        EXPECT_EQ(response.body.find("/srv/velk"), std::string::npos) << "a path of the machine";
        if (c.status == 405) {
            EXPECT_EQ(response.headers.at(0).second, "GET, HEAD");
        }
    }
}

TEST_F(WebFixture, FilesAreServedWithTheirExactBytesAndDownloadName) {
    EXPECT_EQ(bytes(get("/drums/drum_1.JPG")), "jpeg-bytes");
    EXPECT_EQ(get("/drums/drum_1.JPG").cache_control, "no-cache");
    Response event = get("/events/20260301_120000.CH1");
    EXPECT_EQ(bytes(event), "event-bytes");
    EXPECT_EQ(event.headers.at(0).second, "attachment; filename=\"20260301_120000.CH1\"");
    EXPECT_EQ(get("/api/trace.json?channel=2&since=9").body, "trace 1 9");
}

// An events folder set to the station folder (or above it) would hand out velkant.ini,
// network.ini and the MQTT password file under event-like names: nothing of it is served.
TEST_F(WebFixture, AnEventsFolderHoldingTheStationServesNothing) {
    fs.put("/srv/velk/20260301_120000.CH1", "secret settings under an event file's name");
    fs.put("/srv/velk/network.ini", "secret");
    struct Case {
        const char* events_folder;
        bool holds_station;
    };
    const Case cases[] = {
        {"/srv/velk", true},
        {"/srv/velk/", true},
        {"/srv/velk/./events/..", true},
        {"/srv", true},
        {"/", true},
        {"/srv/velk/events", false},
        {"/srv/velk2", false},
        {"/srv/velk/events/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.events_folder);
        state.events_folder = c.events_folder;
        EXPECT_EQ(events_folder_holds_station(state), c.holds_station);
        if (!c.holds_station) continue;
        for (const char* name : {"/events/20260301_120000.CH1", "/events/network.ini",
                                 "/events/velkant.ini", "/events/evtfile.dat"}) {
            EXPECT_EQ(get(name).status, 404) << name;
        }
        for (const auto& event : list_events(fs, state)) EXPECT_FALSE(event.downloadable);
    }
}

TEST_F(WebFixture, EventsJoinTheLogFiguresWithTheFolderFiles) {
    fs.put("/srv/velk/events/20260301_130000.CH1", "newer, its log line trimmed away");
    auto events = list_events(fs, state);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].file, "20260301_130000.CH1");  // newest first
    EXPECT_EQ(events[0].start, "2026/03/01 13:00:00");
    EXPECT_EQ(events[0].samples, 0);
    EXPECT_EQ(events[1].start, "2026/03/01 12:00:00");
    EXPECT_EQ(events[1].channel, 1);
    EXPECT_EQ(events[1].samples, 18000);
    EXPECT_DOUBLE_EQ(events[1].duration, 180);
    EXPECT_EQ(events[1].peak, 4321);
    EXPECT_DOUBLE_EQ(events[1].max_ratio, 12.5);
    EXPECT_TRUE(events[1].downloadable);
    EXPECT_EQ(events[1].mseed, "20260301_120000.CH1.mseed");
    state.events = 1;
    EXPECT_EQ(list_events(fs, state).size(), 1u);
    std::string json = events_json(list_events(fs, state), state);
    EXPECT_NE(json.find("\"download\":\"events/20260301_130000.CH1\""), std::string::npos) << json;
}

TEST(WebSettingsTest, ValuesAndProblemsNameTheKey) {
    struct Case {
        std::string ini, command_line;
        bool on;
        std::string problem;  // part of the only problem, "" = none
    };
    const Case cases[] = {
        {"", "", false, ""},
        {"[web]\nlisten = 127.0.0.1:8080\ntitle = Home\nevents = 5\n", "", true, ""},
        {"[web]\nlisten = 127.0.0.1:8080\n", "9000", true, ""},
        {"", "127.0.0.1:9000", true, ""},
        {"[web]\nlisten = 127.0.0.1:99999\n", "", false, "[web] listen (line 2)"},
        {"[web]\nlisten = 8080\nevents = many\n", "", false, "[web] events (line 3)"},
        {"[web]\nlisten = 8080\nevents = 0\n", "", false, "[web] events"},
        {"[web]\nlisten = 8080\ncolour = red\n", "", false, "[web] colour"},
        {"", "host:port", false, "--web host:port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini + " / " + c.command_line);
        std::vector<std::string> problems;
        WebSettings s = read_web_settings(config::IniFile::parse(c.ini),
                                          config::NetworkOptions{.web = c.command_line}, problems);
        EXPECT_EQ(s.on, c.on);
        if (c.problem.empty()) {
            EXPECT_TRUE(problems.empty());
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        }
    }
    std::vector<std::string> problems;
    WebSettings s = read_web_settings(
        config::IniFile::parse("[web]\nlisten = 127.0.0.1:8080\ntitle = Home\nevents = 5\n"),
        config::NetworkOptions{.web = "9000"}, problems);
    EXPECT_EQ(s.listen.port, 9000);
    EXPECT_EQ(s.title, "Home");
    EXPECT_EQ(s.events, 5);
}

TEST(WebTraceTest, KeepsMinAndMaxOfEachStretchForTheLastMinutesOnly) {
    TraceBuffer trace(/*keep_seconds=*/10, /*points_per_second=*/10);
    std::vector<int32_t> second(100, 0);
    second[37] = 900;  // a spike inside the 4th stretch
    second[38] = -900;
    trace.second(0, 1'000'000'000, 100, second);
    ASSERT_EQ(trace.points(0).size(), 10u);
    EXPECT_EQ(trace.points(0)[3].time_ms, 1'000'300);
    EXPECT_EQ(trace.points(0)[3].high, 900);
    EXPECT_EQ(trace.points(0)[3].low, -900);
    for (int s = 1; s <= 30; ++s) trace.second(0, 1'000'000'000 + s * 1'000'000LL, 100, second);
    EXPECT_LE(trace.points(0).size(), 101u);
    EXPECT_GE(trace.points(0).front().time_ms, 1'030'000 - 10'000);
    // A clock set back: the trace starts again rather than drawing backwards.
    trace.second(0, 900'000'000, 100, second);
    EXPECT_EQ(trace.points(0).front().time_ms, 900'000);
    EXPECT_EQ(trace.json(0, 900'800), "{\"channel\":1,\"points\":[[900900,0,0]]}");
    // A page that has the last point asks again with its time: nothing new is nothing.
    EXPECT_EQ(trace.json(0, 900'900), "{\"channel\":1,\"points\":[]}");
    // Bad input is ignored.
    trace.second(7, 0, 100, second);
    trace.second(1, 0, 0, second);
    EXPECT_TRUE(trace.points(1).empty());
}

TEST(WebJsonTest, StringsAreEscapedAndBrokenUtf8Replaced) {
    EXPECT_EQ(json_string("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    EXPECT_EQ(json_string("Z\xc3\xbcrich"), "\"Z\xc3\xbcrich\"");
    EXPECT_EQ(json_string("bad\xff"), "\"bad\\ufffd\"");
    EXPECT_EQ(json_number(1.0 / 0.0), "null");
    EXPECT_EQ(url_segment("a b/..%"), "a%20b%2F..%25");
}

}  // namespace
}  // namespace velkantor::web
