// The FDSN web services' core: queries read strictly, the channels' responses computed from
// their calibration, the StationXML and text answers, and dataselect and availability
// answered from a day archive in memory.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/fake/memory_file_system.h"
#include "seedlink_records.h"
#include "stream/record_index.h"
#include "stream/sds_archive.h"
#include "text/number_text.h"
#include "web/fdsn_service.h"

namespace velkantor::web::fdsn {
namespace {

using stream::testing::make_record;

constexpr MicroTime kSecond = 1000000;
// 2026-12-11T10:00:00Z
constexpr MicroTime kTen = 1796983200LL * kSecond;

int status_of(Service service, std::string_view query) {
    auto parsed = parse_query(service, query);
    if (auto* failure = std::get_if<Failure>(&parsed)) return failure->status;
    return 200;
}

TEST(FdsnQuery, BadQueriesAreRefusedAndGoodOnesRead) {
    struct Case {
        Service service;
        const char* query;
        int status;
    };
    const Case cases[] = {
        {Service::dataselect, "net=XX&sta=VELK&loc=--&cha=HH?&start=2026-12-11&end=2026-12-12",
         200},
        {Service::dataselect, "network=X*&station=V%2A&starttime=2026-12-11T10:00:00.5Z", 200},
        {Service::dataselect, "nodata=404&quality=D&format=miniseed&longestonly=false", 200},
        {Service::dataselect, "bogus=1", 400},                          // unknown parameter
        {Service::dataselect, "level=channel", 400},                    // another service's
        {Service::dataselect, "start=2026-12-11&end=2026-12-10", 400},  // end before start
        {Service::dataselect, "start=2026-13-01", 400},                 // malformed times
        {Service::dataselect, "start=2026-12-11T25:00:00", 400},
        {Service::dataselect, "start=2026-12-11T10:00:00.1234567", 400},
        {Service::dataselect, "start=yesterday", 400},
        {Service::dataselect, "start=2026-12-11&start=2026-12-12", 400},  // twice
        {Service::dataselect, "nodata=500", 400},
        {Service::dataselect, "format=text", 400},
        {Service::dataselect, "cha=HH_", 400},  // not a code
        {Service::dataselect, "sta=TOOLONGNAME", 400},
        {Service::dataselect, "net=", 400},
        {Service::dataselect, "start=%zz", 400},
        {Service::station, "level=response&format=text&includerestricted=true", 200},
        {Service::station, "level=everything", 400},
        {Service::station, "minlat=-91", 400},
        {Service::station, "lat=46&lon=13&maxradius=1", 200},
        {Service::station, "maxradius=1", 400},  // a radius without its centre
        {Service::station, "matchtimeseries=maybe", 400},
        {Service::availability_query, "format=json&mergegaps=1.5&limit=10", 200},
        {Service::availability_query, "format=xml", 400},
        {Service::availability_extent, "merge=samplerate,quality", 200},
        {Service::availability_extent, "merge=everything", 400},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_of(c.service, c.query), c.status) << c.query;
    }
    auto q = std::get<Query>(parse_query(
        Service::dataselect, "net=xx&loc=--,00&cha=HHZ,HN*&start=2026-12-11T10:00:00.25"));
    EXPECT_EQ(q.networks, std::vector<std::string>{"XX"});
    EXPECT_EQ(q.locations, (std::vector<std::string>{"--", "00"}));
    EXPECT_EQ(*q.start, kTen + kSecond / 4);
    EXPECT_EQ(q.nodata, 204);
}

TEST(FdsnQuery, TimesReadAndWritten) {
    EXPECT_EQ(parse_time("2026-12-11"), kTen - 10 * 3600 * kSecond);
    EXPECT_EQ(parse_time("2026-12-11T10:00:00"), kTen);
    EXPECT_EQ(parse_time("2026-12-11T10:00:00Z"), kTen);
    EXPECT_EQ(parse_time("2026-12-11T10:00:01.000001"), kTen + kSecond + 1);
    EXPECT_EQ(parse_time("2026-12-11T11:30:00.5+01:30"), kTen + kSecond / 2);
    EXPECT_EQ(parse_time("2026-12-11T09:00:00-0100"), kTen);
    EXPECT_EQ(parse_time("2026-12-11T10:00:00+00:00"), kTen);
    EXPECT_EQ(parse_time("2026-12-11T10:00:00+1:00"), std::nullopt);
    EXPECT_EQ(parse_time("2026-02-30"), std::nullopt);
    EXPECT_EQ(parse_time("2026-12-11T10:00"), std::nullopt);
    EXPECT_EQ(time_text(kTen + 1500000), "2026-12-11T10:00:01.500000Z");
    EXPECT_EQ(time_text(-1), "1969-12-31T23:59:59.999999Z");
}

TEST(FdsnQuery, Wildcards) {
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    };
    const Case cases[] = {
        {"HH?", "HHZ", true},  {"HH?", "HH", false},    {"*", "", true},      {"H*Z", "HHZ", true},
        {"H*Z", "HHE", false}, {"*Z*", "Z", true},      {"hhz", "HHZ", true}, {"**?", "", false},
        {"V*K", "VELK", true}, {"V*K", "VELKX", false},
    };
    for (const auto& c : cases) EXPECT_EQ(matches(c.pattern, c.text), c.match) << c.pattern;
    EXPECT_TRUE(matches_any({"--"}, ""));
    EXPECT_FALSE(matches_any({"--"}, "00"));
    EXPECT_TRUE(matches_any({}, "anything"));
}

TEST(FdsnStation, CoordinatesInTheFormsOperatorsWriteThem) {
    struct Case {
        const char* text;
        std::optional<std::pair<double, double>> place;
    };
    const Case cases[] = {
        {"0.0N 0.0E", std::pair{0.0, 0.0}},
        {"46.05N 13.24E", std::pair{46.05, 13.24}},
        {"46.05S 13.24W", std::pair{-46.05, -13.24}},
        {"46.05 N 13.24 E", std::pair{46.05, 13.24}},
        {"-33.9, 151.2", std::pair{-33.9, 151.2}},
        {"91N 0E", std::nullopt},
        {"46.05E 13.24N", std::nullopt},
        {"somewhere", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_coordinates(c.text), c.place) << c.text;
}

config::ChannelSettings calibrated(int type, int unit, double sensitivity) {
    config::ChannelSettings c;
    c.sensor_type = static_cast<int16_t>(type);
    c.measure_unit = static_cast<int16_t>(unit);
    c.sensor_sensitivity = sensitivity;
    c.amplifier_gain = 100;
    c.ad_bits = 24;
    c.ad_range = 10;
    return c;
}

TEST(FdsnStation, SensitivityFromTheCalibrationInGroundUnits) {
    const double counts_per_volt = std::pow(2.0, 24) / 10;
    struct Case {
        int type, unit;
        double sensitivity;  // volts per measured unit
        const char* input;
        double expected;  // counts per input unit
        bool note;
    };
    const Case cases[] = {
        // 0.028 V per mm/s is 28 V per m/s.
        {1, 3, 0.028, "m/s", 28 * 100 * counts_per_volt, false},
        {2, 4, 0.5, "m", 0.5e6 * 100 * counts_per_volt, false},
        {3, 1, 2.0, "m/s**2", 2.0 * 100 * counts_per_volt, false},
        // Unknown sensor, or no unit: from the amplifier's input in volts, and said so.
        {0, 1, 1.0, "V", 100 * counts_per_volt, true},
        {1, 0, 1.0, "V", 100 * counts_per_volt, true},
    };
    for (const auto& c : cases) {
        auto r = channel_response(calibrated(c.type, c.unit, c.sensitivity), 100, std::nullopt);
        EXPECT_EQ(r.input, c.input);
        EXPECT_NEAR(r.sensitivity / c.expected, 1, 1e-12) << c.type;
        EXPECT_EQ(!r.note.empty(), c.note);
        EXPECT_EQ(r.stages.back().output, "counts");
        EXPECT_EQ(r.frequency, 1);
    }
}

TEST(FdsnStation, AVelocitySensorsPolesAndZerosAreNormalizedWhereItIsFlat) {
    auto model = velocity_sensor(1.0, 0.707);
    ASSERT_EQ(model.poles.size(), 2u);
    EXPECT_NEAR(std::abs(model.poles[0]), 2 * M_PI, 1e-9);  // at the natural frequency
    EXPECT_NEAR(-model.poles[0].real() / std::abs(model.poles[0]), 0.707, 1e-12);
    EXPECT_EQ(model.zeros, (std::vector<std::complex<double>>{0.0, 0.0}));
    // Well above the corner the sensor is flat: stated there.
    EXPECT_EQ(model.normalization_frequency, 5);
    EXPECT_NEAR(transfer_magnitude(model, 50), 1, 1e-3);
    auto r = channel_response(calibrated(1, 1, 28), 100, model);
    const auto& sensor = r.stages.front();
    ASSERT_TRUE(sensor.poles_zeros);
    EXPECT_EQ(r.frequency, 5);
    EXPECT_NEAR(sensor.normalization_factor * transfer_magnitude(model, 5), 1, 1e-12);
    EXPECT_NEAR(r.sensitivity, 28 * 100 * std::pow(2.0, 24) / 10, 1e-3);
    // A natural period says nothing of an accelerometer: left out, and said so.
    auto accelerometer = channel_response(calibrated(3, 1, 28), 100, model);
    EXPECT_FALSE(accelerometer.stages.front().poles_zeros);
    EXPECT_EQ(accelerometer.input, "m/s**2");
    EXPECT_FALSE(accelerometer.note.empty());
    // A geophone's corner near the Nyquist frequency: stated below it.
    auto fast = channel_response(calibrated(1, 1, 28), 20, velocity_sensor(1 / 4.5, 0.7));
    EXPECT_EQ(fast.frequency, 8);
}

TEST(FdsnStation, SensorSectionsOfNetworkIni) {
    struct Case {
        const char* ini;
        size_t poles;  // 0: no model
        bool problem;
    };
    const Case cases[] = {
        {"[sensor.1]\nnatural_period = 1\ndamping = 0.7\n", 2, false},
        {"[sensor.1]\nnatural_period = 1\n", 2, false},
        {"[sensor.1]\npoles = -0.037+0.037j, -0.037-0.037j, -250\nzeros = 0, 0\n", 3, false},
        {"[sensor.1]\nnatural_period = -1\n", 0, true},
        {"[sensor.1]\nnatural_period = 1\npoles = -1\n", 0, true},
        {"[sensor.1]\npoles = -1+j2x\n", 0, true},
        {"[sensor.1]\nperiod = 1\n", 0, true},
        {"[sensor.1]\ndescription = only words\n", 0, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> problems;
        auto sensors = read_sensor_sections(config::IniFile::parse(c.ini), problems);
        EXPECT_EQ(sensors[0] ? sensors[0]->poles.size() : 0u, c.poles) << c.ini;
        EXPECT_EQ(!problems.empty(), c.problem) << c.ini << (problems.empty() ? "" : problems[0]);
        EXPECT_FALSE(sensors[1]);
    }
}

// A channel's epoch survives restarts and unrelated changes; a change of what describes it
// (its calibration, here) begins a new one, at the time the caller says the change was made.
TEST(FdsnStation, EpochsBeginWhenAChannelsDescriptionChanges) {
    ChannelInfo c;
    c.id = {"XX", "VELK", "", "HHZ"};
    c.rate = 100;
    c.response = channel_response(calibrated(1, 1, 28), 100, std::nullopt);
    const std::string before = channel_fingerprint(c);
    c.response = channel_response(calibrated(1, 1, 30), 100, std::nullopt);
    const std::string after = channel_fingerprint(c);
    EXPECT_NE(before, after);

    std::vector<EpochEntry> book;
    bool changed = false;
    EXPECT_EQ(epoch_start(book, 3, before, 100, changed), 100);
    EXPECT_TRUE(changed);
    // Saved and read back, as the next run finds it.
    book = parse_epochs(epochs_text(book) + "garbage line\n9|1|out of range\n");
    ASSERT_EQ(book.size(), 1u);
    changed = false;
    EXPECT_EQ(epoch_start(book, 3, before, 200, changed), 100);
    EXPECT_FALSE(changed);
    EXPECT_EQ(epoch_start(book, 3, after, 300, changed), 300);
    EXPECT_TRUE(changed);
    changed = false;
    EXPECT_EQ(epoch_start(book, 1, before, 400, changed), 400);  // another channel: its own
    EXPECT_TRUE(changed);
    EXPECT_EQ(epoch_start(book, 3, after, 500, changed), 300);
    EXPECT_EQ(book.size(), 2u);
}

StationInfo demo_station() {
    StationInfo s;
    s.network = "XX";
    s.station = "VELK";
    s.site = "Garden & shed <north>";
    s.latitude = 46.05;
    s.longitude = 13.24;
    s.elevation = 100;
    s.created = kTen;
    s.software = "test";
    const char* codes[] = {"HHZ", "HHN", "HNE"};
    for (int i = 0; i < 3; ++i) {
        ChannelInfo c;
        c.id = {"XX", "VELK", "", codes[i]};
        c.rate = 100;
        c.epoch = kTen - 86400 * kSecond;
        c.response = channel_response(calibrated(1, 1, 28), 100, velocity_sensor(1, 0.707));
        c.sensor = "Velocity sensor";
        s.channels.push_back(c);
    }
    return s;
}

Query station_query(const std::string& text) {
    return std::get<Query>(parse_query(Service::station, text));
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(FdsnStation, LevelsAndSelectionsOfTheXmlAndTextAnswers) {
    const auto station = demo_station();
    struct Case {
        const char* query;
        size_t stations, channels, responses;
    };
    const Case cases[] = {
        {"level=network", 0, 0, 0},
        {"", 1, 0, 0},
        {"level=channel", 1, 3, 0},
        {"level=response&cha=HH?", 1, 2, 2},
        {"level=channel&cha=HNE&loc=--", 1, 1, 0},
        {"level=channel&start=2026-12-12", 1, 3, 0},  // the epoch is open
        {"level=channel&minlat=40&maxlat=50&lat=46&lon=13&maxradius=1", 1, 3, 0},
    };
    for (const auto& c : cases) {
        auto xml = station_xml(station, station_query(c.query));
        ASSERT_TRUE(xml) << c.query;
        EXPECT_EQ(count(*xml, "<Station "), c.stations) << c.query;
        EXPECT_EQ(count(*xml, "<Channel "), c.channels) << c.query;
        EXPECT_EQ(count(*xml, "<InstrumentSensitivity>"), c.responses) << c.query;
        EXPECT_EQ(count(*xml, "<Network "), 1u);
    }
    for (const char* none : {"cha=BHZ", "net=YY", "end=2026-12-01", "minlat=50",
                             "startafter=2026-12-11", "endbefore=2030-01-01"}) {
        EXPECT_FALSE(station_xml(station, station_query(none))) << none;
        EXPECT_FALSE(station_text(station, station_query(none))) << none;
    }
    auto xml = *station_xml(station, station_query("level=station"));
    EXPECT_NE(xml.find("<Name>Garden &amp; shed &lt;north&gt;</Name>"), std::string::npos);
    auto lines = *station_text(station, station_query("level=channel&cha=HHZ"));
    EXPECT_EQ(lines,
              "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
              "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n"
              "XX|VELK||HHZ|46.05|13.24|100|0|||Velocity sensor|" +
                  text::shortest_real(station.channels[0].response.sensitivity) +
                  "|5|m/s|100|2026-12-10T10:00:00.000000Z|\n");
}

// A day archive in memory with records of two channels, a gap in one, and the records the
// archive has not written yet.
struct FdsnArchive : ::testing::Test {
    FdsnArchive() {
        station = std::make_shared<StationInfo>(demo_station());
        for (int i = 0; i < 6; ++i) {
            // Five records of one second each, a gap of 3 s, then one more.
            MicroTime start = kTen + (i < 5 ? i : 8) * kSecond;
            archive.record(make_record(z, start, 100, 100, i * 1000));
        }
        archive.record(make_record(n, kTen, 100, 100, 7));
        // The newest records: one the archive already holds, two it does not.
        recent.record(make_record(z, kTen + 8 * kSecond, 100, 100, 5000));
        recent.record(make_record(z, kTen + 9 * kSecond, 100, 100, 9000));
        recent.record(make_record(z, kTen + 10 * kSecond, 100, 100, 10000));
        context.station = station;
        context.archive_folder = "/archive";
        context.recent = &recent;
        context.now = kTen + 60 * kSecond;
    }
    Response get(const std::string& path, const std::string& query) {
        return answer(path, query, path + "?" + query, fs, context);
    }
    // The body as the server sends it: the parts in order.
    std::string body(const Response& r) {
        if (r.parts.empty()) return r.body;
        std::string out;
        for (const auto& part : r.parts) {
            out += part.file.empty() ? part.bytes
                                     : *fs.read_range(part.file, part.offset, part.length);
        }
        return out;
    }

    stream::StreamId z{"XX", "VELK", "", "HHZ"};
    stream::StreamId n{"XX", "VELK", "", "HHN"};
    platform::MemoryFileSystem fs;
    stream::SdsArchive archive{fs, "/archive", [](const std::string&) {}};
    stream::RecentRecords recent{1 << 20};
    std::shared_ptr<StationInfo> station;
    Context context;
};

TEST_F(FdsnArchive, DataselectAnswersTheArchivedAndTheNewestRecordsOnce) {
    auto r = get("/fdsnws/dataselect/1/query",
                 "net=XX&sta=VELK&cha=HHZ&start=2026-12-11T10:00:01.5&end=2026-12-11T10:00:30");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.content_type, "application/vnd.fdsn.mseed");
    std::string data = body(r);
    ASSERT_EQ(data.size() % stream::kRecordLength, 0u);
    std::vector<MicroTime> starts;
    for (size_t at = 0; at < data.size(); at += stream::kRecordLength) {
        auto header = stream::ParseRecordHeader(std::string_view(data).substr(at, 512));
        ASSERT_TRUE(header);
        EXPECT_EQ(header->id, z);
        starts.push_back((header->start - kTen) / kSecond);
    }
    // The record that ends before the window is left out; the one that overlaps it is in.
    EXPECT_EQ(starts, (std::vector<MicroTime>{1, 2, 3, 4, 8, 9, 10}));
    // The archived ones go out from the day file as one range.
    EXPECT_FALSE(r.parts.front().file.empty());
    EXPECT_EQ(r.parts.front().length, 5u * 512);
}

TEST_F(FdsnArchive, DataselectRefusalsAndEmptyAnswers) {
    struct Case {
        const char* query;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"cha=HH?&start=2026-12-11T10:00:00&end=2026-12-12T10:00:01", 413, "at most 86400"},
        {"cha=BHZ&start=2026-12-11T10:00:00&end=2026-12-11T11:00:00", 204, ""},
        {"cha=BHZ&start=2026-12-11T10:00:00&end=2026-12-11T11:00:00&nodata=404", 404,
         "Error 404: Not Found"},
        {"start=2026-12-10T10:00:00&end=2026-12-10T11:00:00", 204, ""},
        {"end=2026-12-10T11:00:00", 400, "starttime is required"},
        {"start=2026-12-11T10:00:00&end=2026-12-11T09:00:00", 400, "endtime before starttime"},
        {"start=2026-12-11T10:00:00&quality=R", 204, ""},
        {"start=2026-12-11T10:00:00&foo=bar", 400, "unknown parameter: foo"},
    };
    for (const auto& c : cases) {
        auto r = get("/fdsnws/dataselect/1/query", c.query);
        EXPECT_EQ(r.status, c.status) << c.query;
        EXPECT_NE(r.body.find(c.says), std::string::npos) << c.query << "\n" << r.body;
        if (c.status >= 400) {
            EXPECT_EQ(r.body.rfind("Error " + std::to_string(c.status) + ": ", 0), 0u);
            EXPECT_NE(r.body.find("Service version:\n1.1.0"), std::string::npos);
        }
    }
    // Both channels, all of the window.
    auto both =
        get("/fdsnws/dataselect/1/query", "start=2026-12-11T10:00:00&end=2026-12-11T10:01:00");
    EXPECT_EQ(body(both).size(), (6 + 1 + 2) * 512u);
}

TEST_F(FdsnArchive, AvailabilityListsTheSpansWithTheirGap) {
    auto r = get("/fdsnws/availability/1/query",
                 "cha=HHZ&start=2026-12-11T09:00:00&end=2026-12-11T11:00:00");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.body,
              "#Network Station Location Channel Quality SampleRate Earliest Latest\n"
              "XX VELK -- HHZ D 100.0 2026-12-11T10:00:00.000000Z 2026-12-11T10:00:05.000000Z\n"
              "XX VELK -- HHZ D 100.0 2026-12-11T10:00:08.000000Z 2026-12-11T10:00:09.000000Z\n");
    // A gap of 3 s merged when asked to.
    auto merged = get("/fdsnws/availability/1/query",
                      "cha=HHZ&start=2026-12-11T09:00:00&end=2026-12-11T11:00:00&mergegaps=3.5&"
                      "format=request");
    EXPECT_EQ(merged.body,
              "XX VELK -- HHZ 2026-12-11T10:00:00.000000Z 2026-12-11T10:00:09.000000Z\n");
    auto extent = get("/fdsnws/availability/1/extent", "format=json");
    ASSERT_EQ(extent.status, 200);
    EXPECT_NE(extent.body.find("\"channel\":\"HHN\",\"quality\":\"D\",\"samplerate\":100.0,"
                               "\"earliest\":\"2026-12-11T10:00:00.000000Z\",\"latest\":\"2026-"
                               "12-11T10:00:01.000000Z\""),
              std::string::npos)
        << extent.body;
    EXPECT_EQ(get("/fdsnws/availability/1/query", "start=2026-12-01&end=2026-12-11").status, 413);
    EXPECT_EQ(get("/fdsnws/availability/1/query", "start=2026-12-01&end=2026-12-02").status, 204);
    EXPECT_EQ(get("/fdsnws/availability/1/extent", "sta=OTHER&nodata=404").status, 404);
}

TEST_F(FdsnArchive, VersionsAndDescriptionsOfEachService) {
    for (const char* service : {"dataselect", "station", "availability"}) {
        const std::string base = std::string("/fdsnws/") + service + "/1/";
        auto version = get(base + "version", "");
        EXPECT_EQ(version.status, 200);
        EXPECT_EQ(version.content_type.rfind("text/plain", 0), 0u);
        auto wadl = get(base + "application.wadl", "");
        EXPECT_EQ(wadl.status, 200);
        EXPECT_NE(
            wadl.body.find("<param name=\"starttime\" style=\"query\" type=\"xsd:dateTime\"/>"),
            std::string::npos);
        EXPECT_EQ(get(base + "queryauth", "").status, 404);
    }
    EXPECT_NE(get("/fdsnws/station/1/application.wadl", "").body.find("name=\"level\""),
              std::string::npos);
}

TEST(FdsnSpans, RecordsThatFollowOnWithinHalfASampleMakeOneSpan) {
    auto header = [](double start_s, int samples, double rate) {
        stream::RecordHeader h;
        h.start = static_cast<MicroTime>(start_s * 1e6);
        h.rate = rate;
        h.samples = samples;
        h.end = h.start + static_cast<MicroTime>((samples - 1) * 1e6 / rate);
        return h;
    };
    auto spans = continuous_spans(
        {header(0, 100, 100), header(1.004, 100, 100), header(2.5, 100, 100), header(3.5, 50, 50)},
        0);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].end, 2004000);  // jitter within half a sample joins
    EXPECT_EQ(spans[1].start, 2500000);
    EXPECT_EQ(spans[2].rate, 50);  // a new rate starts a new span
}

}  // namespace
}  // namespace velkantor::web::fdsn
