#include "config/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>
#include <type_traits>

#include "platform/fake/memory_file_system.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::config {
namespace {

constexpr const char* kStation = "/station";
constexpr const char* kIniPath = "/station/velkant.ini";
constexpr const char* kSchPath = "/station/velkant.sch";

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fs.create_directories(kStation)); }

    ReadReport read(std::string ini) {
        fs.put(kIniPath, std::move(ini));
        return ReadConfiguration(settings, fs, kStation);
    }

    platform::MemoryFileSystem fs;
    Settings settings;
};

std::string golden(const char* name) {
    std::ifstream in(std::string(VELKANTOR_GOLDEN_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string empty_schedule() {
    std::string lines;
    for (int k = 0; k < kScheduleLines; ++k) lines += "\r\n";
    return lines;
}

TEST_F(SettingsFileTest, FirstStartWritesTheDefaultFiles) {
    ReadReport report = ReadConfiguration(settings, fs, kStation);

    EXPECT_TRUE(report.created);
    EXPECT_TRUE(report.write) << report.write.error;
    EXPECT_EQ(fs.contents(kIniPath), golden("velkant.ini"));
    EXPECT_EQ(fs.contents(kSchPath), empty_schedule());

    // Reading the file just written fails nowhere; COR comes back normalised.
    EXPECT_TRUE(report.failed_lines.empty());
    EXPECT_EQ(settings.channels[0].magnitude_correction, "0.001;0.001;0.001;0.001;0.001");

    ReadReport again = ReadConfiguration(settings, fs, kStation);
    EXPECT_FALSE(again.created);
}

// A station's own file, as the program saves it (lists in their stored form), written by hand
// with values other than the defaults in every section: each value reaches its field, nothing
// is refused, and writing the settings back gives the file's exact bytes (a field read into
// the wrong place or written in another form shows).
TEST_F(SettingsFileTest, AStationsOwnFileReadsIntoItsFieldsAndWritesBackUnchanged) {
    const std::string file = golden("velkant_field.ini");
    fs.put(kIniPath, file);
    ReadReport report = ReadConfiguration(settings, fs, kStation);
    EXPECT_FALSE(report.created);
    EXPECT_TRUE(report.failed_lines.empty()) << report.failed_lines.size() << " refused";

    const auto& c = settings.channels;
    const auto& g = settings.general;
    EXPECT_EQ(c[0].sps_index, 6);
    EXPECT_EQ(c[0].sensor_axis, 3);
    EXPECT_EQ(c[0].alarm_threshold, 8000);
    EXPECT_EQ(c[0].datalog_enabled, 1);
    EXPECT_EQ(c[0].event_extension, "NS1");
    EXPECT_EQ(c[0].stop_amplitude, 1200);
    EXPECT_EQ(c[0].magnitude_correction, "0.002;0.003;0.004;0.005;0.006");
    EXPECT_EQ(c[1].sps_index, 5);
    EXPECT_EQ(c[1].trigger_mode, 2);
    EXPECT_EQ(c[1].invert, 1);
    EXPECT_EQ(c[2].fft_enabled, 1);
    EXPECT_EQ(c[2].event_extension, "Z1");
    EXPECT_EQ(c[3].sps_index, 0);
    EXPECT_EQ(c[3].alarm_threshold, 12000);
    EXPECT_EQ(g.elevation, "345");
    EXPECT_EQ(g.location, "Backyard vault");
    EXPECT_EQ(g.comm_port, 3);
    EXPECT_EQ(g.gmt_offset, 1);
    EXPECT_EQ(g.sync_every, 4);
    EXPECT_EQ(g.datalog_folder, "/data/log");
    EXPECT_EQ(g.clock_trim_hex, "12345678");

    EXPECT_EQ(ConfigurationText(settings), file);
    ASSERT_TRUE(WriteConfiguration(settings, fs, kStation));
    EXPECT_EQ(fs.contents(kIniPath), file);
}

TEST(SettingsDefaults, DecodedFieldsMatchTheDefaultTexts) {
    Settings settings;
    settings.channels[2].pre_event_samples = 99;
    SetDefaultConfiguration(settings, "/st");

    for (int k = 0; k < kChannels; ++k) {
        SCOPED_TRACE(k);
        const ChannelSettings& channel = settings.channels[static_cast<size_t>(k)];
        EXPECT_EQ(channel.sensor_axis, k + 1);
        EXPECT_EQ(channel.event_extension, "CH" + std::to_string(k + 1));
        // "1800,2" at 1 sample per second: the missing entries decode as 0.
        EXPECT_EQ(channel.stop_amplitude, 1800);
        EXPECT_EQ(channel.stop_ratio, 0);
        EXPECT_EQ(channel.max_event_minutes, 0);
        EXPECT_EQ(channel.pre_event_samples, 120);
        EXPECT_EQ(channel.post_event_samples, 120);
        EXPECT_EQ(channel.max_event_samples, 0);
        EXPECT_EQ(channel.magnitude_correction, "0.001,0.001,0.001,0.001,0.001");
    }
    EXPECT_EQ(settings.general.events_folder, "/st/events");
    EXPECT_EQ(settings.general.datalog_folder, "/st");
}

// One field of the model as text, so table rows can name the field a line should reach.
using Getter = std::function<std::string(const Settings&)>;

template <class T>
std::string show(const T& value) {
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_floating_point_v<T>)
        return text::shortest_real(value);
    else
        return std::to_string(value);
}

template <class T>
Getter channel_field(size_t index, T ChannelSettings::*member) {
    return [=](const Settings& s) { return show(s.channels[index].*member); };
}

template <class T>
Getter general_field(T GeneralSettings::*member) {
    return [=](const Settings& s) { return show(s.general.*member); };
}

struct ReadCase {
    const char* name;
    std::string file;
    Getter field;
    std::string expected;
    std::vector<std::string> failed;
};

TEST_F(SettingsFileTest, ReaderQuirks) {
    using C = ChannelSettings;
    using G = GeneralSettings;
    const std::vector<ReadCase> cases = {
        {"lower-case channel key",
         "[CHANNEL2]\nsps= 2 \n",
         channel_field(1, &C::sps_index),
         "2",
         {}},
        {"lower-case general key ignored",
         "[GENERAL]\nloc=Home\n[END GENERAL]\n",
         general_field(&G::location),
         "Location",
         {}},
        {"general header compared upper-cased",
         "[general]\nLOC=Home\n",
         general_field(&G::location),
         "Home",
         {}},
        {"general key outside the section ignored",
         "LOC=Home\n",
         general_field(&G::location),
         "Location",
         {}},
        {"EXT keeps 3 characters",
         "EXT=ABCDEF\n",
         channel_field(0, &C::event_extension),
         "ABC",
         {}},
        {"i16 overflow keeps the earlier value",
         "ALV= 1234 \nALV= 40000 \n",
         channel_field(0, &C::alarm_threshold),
         "1234",
         {"ALV= 40000 "}},
        {"i16 rounds halves to even", "ALV=2.5\n", channel_field(0, &C::alarm_threshold), "2", {}},
        {"leading parse stops at junk", "DCO=2x\n", channel_field(0, &C::dc_offset), "2", {}},
        {"leading parse of nothing is 0", "SPS=\n", channel_field(0, &C::sps_index), "0", {}},
        {"strict real rejects junk", "DRS=2x\n", channel_field(0, &C::drum_scale), "2", {"DRS=2x"}},
        {"strict real rejects nothing", "DRS=\n", channel_field(0, &C::drum_scale), "2", {"DRS="}},
        {"strict real accepts blanks and exponent",
         "DRS= 1.5e-3 \n",
         channel_field(0, &C::drum_scale),
         "0.0015",
         {}},
        {"strict i16 rounds halves to even",
         "STY=2.5\n",
         channel_field(0, &C::sensor_type),
         "2",
         {}},
        {"strict i16 out of range fails",
         "[GENERAL]\nCOM=70000\n",
         general_field(&G::comm_port),
         "1",
         {"COM=70000"}},
        {"ADU is hexadecimal", "[GENERAL]\nADU=A\n", general_field(&G::baud_index), "10", {}},
        {"ADU 10 reads as sixteen", "[GENERAL]\nADU=10\n", general_field(&G::baud_index), "16", {}},
        {"keys before a header go to channel 1",
         "SPS= 7 \n[CHANNEL3]\nSPS= 9 \n",
         channel_field(0, &C::sps_index),
         "7",
         {}},
        {"header selects its channel",
         "SPS= 7 \n[CHANNEL3]\nSPS= 9 \n",
         channel_field(2, &C::sps_index),
         "9",
         {}},
        {"channel 9 lines fail",
         "[CHANNEL9]\nSPS= 9 \nVAX= 2 \n",
         channel_field(0, &C::sps_index),
         "4",
         {"SPS= 9 ", "VAX= 2 "}},
        {"channel 0 lines fail",
         "[CHANNEL0]\nSPS= 9 \n",
         channel_field(0, &C::sps_index),
         "4",
         {"SPS= 9 "}},
        {"a bad header does not stop the next good one",
         "[CHANNEL]\nSPS= 9 \n[CHANNEL4]\nSPS= 8 \n",
         channel_field(3, &C::sps_index),
         "8",
         {"SPS= 9 "}},
        {"general section runs to the end of file",
         "[GENERAL]\nLOC=Home\nSPS= 9 \n",
         general_field(&G::location),
         "Home",
         {}},
        {"channel keys ignored inside the general section",
         "[GENERAL]\nSPS= 9 \n",
         channel_field(0, &C::sps_index),
         "4",
         {}},
        {"channel keys count again after the general section",
         "[CHANNEL2]\n[GENERAL]\n[END GENERAL]\nSPS= 9 \n",
         channel_field(1, &C::sps_index),
         "9",
         {}},
        {"last occurrence wins", "SPS= 5 \nSPS= 6 \n", channel_field(0, &C::sps_index), "6", {}},
        {"blank before a key", " SPS= 7 \n", channel_field(0, &C::sps_index), "4", {}},
        {"blank before a general key",
         "[GENERAL]\n LOC=Home\n",
         general_field(&G::location),
         "Location",
         {}},
        {"fourth character not examined", "SPS: 7\n", channel_field(0, &C::sps_index), "7", {}},
        {"CR LF stripped from texts",
         "[GENERAL]\r\nLOC=Home\r\n[END GENERAL]\r\n",
         general_field(&G::location),
         "Home",
         {}},
        {"only one CR stripped",
         "[GENERAL]\nPSW=pw\r\r\n",
         general_field(&G::settings_password),
         "pw\r",
         {}},
        {"text value kept with its blanks",
         "[GENERAL]\nPSW= a b \n",
         general_field(&G::settings_password),
         " a b ",
         {}},
    };

    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReadReport report = read(c.file);
        EXPECT_EQ(c.field(settings), c.expected);
        EXPECT_EQ(report.failed_lines, c.failed);
        EXPECT_TRUE(report.fatal_error.empty());
    }
}

TEST_F(SettingsFileTest, ServiceModeStopsAtTheFirstFailingLine) {
    ReadReport report = read("[CHANNEL1]\nDRS=x\n[GENERAL]\nDBG= 1 \nPAP=fast\nLOC=Home\n");

    EXPECT_EQ(report.failed_lines, (std::vector<std::string>{"DRS=x", "PAP=fast"}));
    EXPECT_EQ(report.fatal_error, "Settings file line 5 cannot be read: PAP=fast");
    EXPECT_EQ(settings.general.location, "Location");
}

TEST_F(SettingsFileTest, DecodingUsesTheRateReadFromTheFile) {
    // STA before SPS: the pre-event count still follows the file's rate (200 sps).
    read("[CHANNEL1]\nSTA=5000;4;3;1;60;4\nSPS= 17 \n");
    EXPECT_EQ(settings.channels[0].pre_event_samples, 200 * 3 * 60);
}

// A maximum event length below the pre-event plus post-event time would end each event right
// after its pre-event part: loading raises it to that sum and says so in the stop list.
TEST_F(SettingsFileTest, ShortMaximumEventLengthIsRaisedAtLoad) {
    struct Case {
        const char* sta;
        const char* sto;
        double max_minutes;
        const char* stop_list;
    };
    const Case cases[] = {
        {"2000,2,2,1,30,3", "1800,2", 4, "1800;2;0;4"},  // a new station's defaults
        {"2000,2,0.5,1,30,3", "1800;1.5;2;1", 2, "1800;1.5;2;2"},
        {"2000,2,2,1,30,3", "1800;2;2;4", 4, "1800;2;2;4"},     // exactly enough: kept
        {"2000,2,2,1,30,3", "1800;2;2;60", 60, "1800;2;2;60"},  // longer: kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sto);
        read(std::string("[CHANNEL1]\r\nSPS= 15 \r\nSTA=") + c.sta + "\r\nSTO=" + c.sto + "\r\n");
        const auto& channel = settings.channels[0];
        EXPECT_EQ(channel.max_event_minutes, c.max_minutes);
        EXPECT_EQ(channel.max_event_samples, c.max_minutes * 60 * 100);
        EXPECT_EQ(channel.stop_params, c.stop_list);
    }
    // The defaults as such stay as the file is first written.
    Settings defaults;
    SetDefaultConfiguration(defaults, kStation);
    EXPECT_EQ(defaults.channels[0].stop_params, "1800,2");
}

struct ListCase {
    const char* text;
    int count;
    double minimum;
    double maximum;
    std::string result;
    std::vector<std::string> values;
};

TEST(SettingsNumberList, Cases) {
    const std::vector<ListCase> cases = {
        {"1,2,3", 5, -100, 100, "!1;2;3", {"1", "2", "3", "", ""}},
        {"200;-300;1;2;3", 5, -100, 100, "100;-100;1;2;3", {"100", "-100", "1", "2", "3"}},
        {"1;2;3;4;5;6", 5, -100, 100, "", {"1", "2", "3", "4", "5"}},
        {"1;2;3;4;5;", 5, -100, 100, "", {"1", "2", "3", "4", "5"}},
        {"1;2;3;4;5 ", 5, -100, 100, "", {"1", "2", "3", "4", "5"}},
        {"1 , 2x;3", 3, 0, 10, "1;2;3", {"1", "2", "3"}},
        {"1.50;+2;-0", 3, -10, 10, "1.5;2;0", {"1.50", "+2", "-0"}},
        {"1,,3", 3, 0, 10, "1;0;3", {"1", "", "3"}},
        {"", 5, -100, 100, "!0", {"", "", "", "", ""}},
        {"", 1, -100, 100, "0", {""}},
        // Fixed notation: an exponent would not survive being read back as a list.
        {"0.0000001;-0.00001", 2, -100, 100, "0.0000001;-0.00001", {"0.0000001", "-0.00001"}},
        {"99999999999999999999;-1", 2, 0, 8300000, "8300000;0", {"8300000", "0"}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> values{"stale"};
        EXPECT_EQ(ParseNumberList(c.text, c.count, c.minimum, c.maximum, values), c.result);
        EXPECT_EQ(values, c.values);
    }
}

TEST(SettingsNumberList, HugeEntryIsClampedBySign) {
    std::vector<std::string> values;
    std::string huge(400, '9');
    EXPECT_EQ(ParseNumberList(huge + ";-" + huge, 2, -5, 5, values), "5;-5");
}

TEST(SettingsStartParams, Cases) {
    struct Case {
        const char* text;
        int16_t sps_index;
        int32_t amplitude;
        double samples, pre_minutes, sta, lta, ratio, pre_samples;
    };
    const std::vector<Case> cases = {
        {"5000;4;3;1;60;4", 4, 5000, 4, 3, 1, 60, 4, 180},
        {"2000,2,2,1,30,3", 4, 2000, 2, 2, 1, 30, 3, 120},
        // Clamped into 0..8300000.
        {"9000000;-4;3;1;60;4", 4, 8300000, 0, 3, 1, 60, 4, 180},
        // Overflowed: the first six entries, without clamping.
        {"9000000;-4;3;1;60;4;7", 4, 9000000, -4, 3, 1, 60, 4, 180},
        // Too few entries: the missing ones decode as 0.
        {"100;5", 4, 100, 5, 0, 0, 0, 0, 0},
        // Pre-event samples are not capped: 1200 sps x 20 min.
        {"1;1;20;1;1;1", 24, 1, 1, 20, 1, 1, 1, 1440000},
        // A rate index outside the list has no rate.
        {"1;1;20;1;1;1", 99, 1, 1, 20, 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ChannelSettings channel;
        channel.sps_index = c.sps_index;
        channel.start_params = c.text;
        DecodeStartParams(channel);
        EXPECT_EQ(channel.start_amplitude, c.amplitude);
        EXPECT_EQ(channel.start_samples, c.samples);
        EXPECT_EQ(channel.pre_event_minutes, c.pre_minutes);
        EXPECT_EQ(channel.sta_seconds, c.sta);
        EXPECT_EQ(channel.lta_seconds, c.lta);
        EXPECT_EQ(channel.start_ratio, c.ratio);
        EXPECT_EQ(channel.pre_event_samples, c.pre_samples);
        EXPECT_EQ(channel.start_params, c.text);
    }
}

TEST(SettingsStopParams, Cases) {
    struct Case {
        const char* text;
        int16_t sps_index;
        int32_t amplitude;
        double post_minutes, ratio, max_minutes, post_samples, max_samples;
    };
    const std::vector<Case> cases = {
        {"1800,2", 4, 1800, 2, 0, 0, 120, 0},
        {"700;3;2;10", 7, 700, 3, 2, 10, 1800, 6000},
        // A negative coda time counts by its size (the minus survives only an overflowed list).
        {"700;-3;2;10;1", 4, 700, 3, 2, 10, 180, 600},
        // 1200 sps: 20 minutes is 1,440,000 samples, cut to 1,000,000; 13 minutes is below.
        {"1;20;1;13", 24, 1, 20, 1, 13, 1000000, 936000},
        {"1;13;1;20", 24, 1, 13, 1, 20, 936000, 1000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ChannelSettings channel;
        channel.sps_index = c.sps_index;
        channel.stop_params = c.text;
        DecodeStopParams(channel);
        EXPECT_EQ(channel.stop_amplitude, c.amplitude);
        EXPECT_EQ(channel.post_event_minutes, c.post_minutes);
        EXPECT_EQ(channel.stop_ratio, c.ratio);
        EXPECT_EQ(channel.max_event_minutes, c.max_minutes);
        EXPECT_EQ(channel.post_event_samples, c.post_samples);
        EXPECT_EQ(channel.max_event_samples, c.max_samples);
    }
}

TEST(SettingsMagnitudeCorrection, Cases) {
    struct Case {
        const char* text;
        std::string kept_text;
        std::array<std::string, 5> factors;
    };
    const std::vector<Case> cases = {
        {"1,2,3", "1,2,3", {"0", "0", "0", "0", "0"}},
        {"200;-300;1;2;3", "100;-100;1;2;3", {"100", "-100", "1", "2", "3"}},
        {"0.001,0.001,0.001,0.001,0.001",
         "0.001;0.001;0.001;0.001;0.001",
         {"0.001", "0.001", "0.001", "0.001", "0.001"}},
        // Overflowed: the list comes back empty, the entries as far as they were filled.
        {"1;2;3;4;5;6", "", {"1", "2", "3", "4", "5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ChannelSettings channel;
        channel.magnitude_correction = c.text;
        DecodeMagnitudeCorrection(channel);
        EXPECT_EQ(channel.magnitude_correction, c.kept_text);
        EXPECT_EQ(channel.mag_corr, c.factors);
    }
}

// Every stored field, plus what is decoded from them.
auto channel_tuple(const ChannelSettings& c) {
    return std::tie(
        c.sps_index, c.sensor_axis, c.dc_offset, c.y_scale, c.trigger_mode, c.start_params,
        c.stop_params, c.invert, c.record_enabled, c.alarm_enabled, c.alarm_threshold,
        c.datalog_enabled, c.auto_offset, c.extend_trigger, c.event_extension, c.drum_enabled,
        c.drum_hidden, c.magnitude_correction, c.fft_enabled, c.drum_scale, c.sensor_type,
        c.sensor_sensitivity, c.amplifier_gain, c.ad_bits, c.ad_range, c.resolution, c.measure_unit,
        c.filter_delay, c.period_extender, c.freeze_lta, c.fft_save_mode, c.fft_save_updating,
        c.fft_save_incrementing, c.jtf_base, c.jtf_max, c.jtf_min, c.fft_scope_min, c.fft_scope_max,
        c.fft_points, c.fft_display_mode, c.and_channels, c.trigger_window, c.start_amplitude,
        c.start_samples, c.pre_event_minutes, c.sta_seconds, c.lta_seconds, c.start_ratio,
        c.stop_amplitude, c.post_event_minutes, c.stop_ratio, c.max_event_minutes, c.mag_corr,
        c.pre_event_samples, c.post_event_samples, c.max_event_samples);
}

auto general_tuple(const GeneralSettings& g) {
    return std::tie(
        g.elevation, g.location, g.coordinates, g.chart_speed, g.comm_port, g.autostart,
        g.event_browser, g.events_folder, g.pc_rtc, g.pc_sync, g.sync_every, g.gmt_offset,
        g.lpt_port, g.watchdog_enabled, g.watchdog_period, g.use_velkmon, g.drum_update,
        g.drum_hours_per_row, g.flush_period, g.purge_days, g.never_purge, g.hw_alarm,
        g.alarm_on_l2, g.alarm_on_events, g.send_sms, g.send_mail, g.review_y_scale, g.review_rows,
        g.review_chart_speed, g.datalog_folder, g.event_format, g.no_charting, g.service_mode,
        g.no_version_warn, g.no_logo, g.settings_password, g.settings_locked, g.extract_channels,
        g.ad_type, g.baud_index, g.print_quake, g.drum_format, g.alarm_wav, g.sync_source,
        g.y_scale_all, g.clock_trim_hex, g.board_serial, g.blind_start, g.set_board_time_at_start);
}

// Every field away from its default and unlike its neighbours, so a key stored into the
// wrong field shows.
Settings unusual_settings() {
    Settings s;
    SetDefaultConfiguration(s, kStation);
    int16_t next = 101;
    for (size_t k = 0; k < s.channels.size(); ++k) {
        ChannelSettings& c = s.channels[k];
        for (int16_t* field :
             {&c.sps_index,      &c.sensor_axis,    &c.trigger_mode,      &c.invert,
              &c.record_enabled, &c.alarm_enabled,  &c.alarm_threshold,   &c.datalog_enabled,
              &c.auto_offset,    &c.extend_trigger, &c.drum_enabled,      &c.drum_hidden,
              &c.fft_enabled,    &c.sensor_type,    &c.measure_unit,      &c.period_extender,
              &c.freeze_lta,     &c.fft_save_mode,  &c.fft_save_updating, &c.fft_save_incrementing,
              &c.jtf_base,       &c.jtf_max,        &c.jtf_min,           &c.fft_scope_min,
              &c.fft_scope_max,  &c.fft_points,     &c.fft_display_mode,  &c.and_channels,
              &c.trigger_window}) {
            *field = next++;
        }
        c.sps_index = 17;
        c.jtf_min = -32768;
        c.fft_scope_max = 32767;
        c.dc_offset = 0.1;
        c.y_scale = -2.5;
        c.drum_scale = 1e-7;
        c.sensor_sensitivity = 0.1 + 0.2;
        c.amplifier_gain = 12345.678;
        c.ad_bits = 24;
        c.ad_range = -1e300;
        c.resolution = 5e-324;
        c.filter_delay = 1.5e-7;
        c.start_params = "5000;4;3;1;60;4";
        c.stop_params = "700;3;2;10";
        c.event_extension = "E" + std::to_string(k + 5);
        c.magnitude_correction = "0.5;-1;2;3;0.0000001";
        DecodeStartParams(c);
        DecodeStopParams(c);
        DecodeMagnitudeCorrection(c);
    }
    GeneralSettings& g = s.general;
    for (int16_t* field : {&g.chart_speed,
                           &g.comm_port,
                           &g.autostart,
                           &g.pc_rtc,
                           &g.pc_sync,
                           &g.sync_every,
                           &g.gmt_offset,
                           &g.lpt_port,
                           &g.watchdog_enabled,
                           &g.watchdog_period,
                           &g.use_velkmon,
                           &g.drum_update,
                           &g.drum_hours_per_row,
                           &g.flush_period,
                           &g.purge_days,
                           &g.never_purge,
                           &g.hw_alarm,
                           &g.alarm_on_l2,
                           &g.alarm_on_events,
                           &g.send_sms,
                           &g.send_mail,
                           &g.review_rows,
                           &g.event_format,
                           &g.no_charting,
                           &g.service_mode,
                           &g.no_version_warn,
                           &g.no_logo,
                           &g.settings_locked,
                           &g.extract_channels,
                           &g.ad_type,
                           &g.print_quake,
                           &g.drum_format,
                           &g.alarm_wav,
                           &g.sync_source,
                           &g.y_scale_all,
                           &g.blind_start,
                           &g.set_board_time_at_start}) {
        *field = next++;
    }
    g.comm_port = -3;
    g.gmt_offset = -11;
    g.baud_index = 6;  // written in decimal, read as hexadecimal: equal only up to 9
    g.elevation = "1234.5 m";
    g.location = "Rifugio, hut 2";
    g.coordinates = "45.8N 6.9E";
    g.event_browser = "/usr/bin/less -R";
    g.events_folder = "/data/my events";
    g.datalog_folder = "/data/log";
    g.settings_password = " pa ss=word ";
    g.clock_trim_hex = "0A1B2C3D";
    g.board_serial = "12345678";
    g.review_y_scale = 0.1;
    g.review_chart_speed = -2.5;
    s.schedule_lines[0] = "2005/03/12 14:30:00 Ch:2";
    s.schedule_lines[19] = "2005/03/12 14:31:00 Ch:4";
    s.schedule_lines[24] = "last";
    return s;
}

TEST_F(SettingsFileTest, WrittenSettingsReadBackEqual) {
    const Settings written = unusual_settings();
    ASSERT_TRUE(WriteConfiguration(written, fs, kStation));

    ReadReport report = ReadConfiguration(settings, fs, kStation);
    ReadSchedule(settings, fs, kStation);

    EXPECT_FALSE(report.created);
    EXPECT_TRUE(report.failed_lines.empty());
    for (size_t k = 0; k < written.channels.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(channel_tuple(settings.channels[k]), channel_tuple(written.channels[k]));
    }
    EXPECT_EQ(general_tuple(settings.general), general_tuple(written.general));
    EXPECT_EQ(settings.schedule_lines, written.schedule_lines);
}

TEST_F(SettingsFileTest, ScheduleReadsAtMost25LinesAndClearsFirst) {
    settings.schedule_lines[3] = "stale";
    ReadSchedule(settings, fs, kStation);
    EXPECT_EQ(settings.schedule_lines, decltype(settings.schedule_lines){});

    std::string file = "2005/03/12 14:30:00 Ch:2\r\nb\n";
    for (int k = 0; k < 30; ++k) file += "x" + std::to_string(k) + "\r\n";
    fs.put(kSchPath, file);
    ReadSchedule(settings, fs, kStation);
    EXPECT_EQ(settings.schedule_lines[0], "2005/03/12 14:30:00 Ch:2");
    EXPECT_EQ(settings.schedule_lines[1], "b");
    EXPECT_EQ(settings.schedule_lines[24], "x22");
}

// The trigger reads the schedule as decoded when it is read or changed, not its text.
TEST_F(SettingsFileTest, ScheduleIsDecodedWhenRead) {
    fs.put(kSchPath,
           "2005/03/12 14:30:00 Ch:2\r\n2005/03/12 14:31:00 Ch:\r\n"
           "2005/13/12 14:30:00 Ch:1\r\n\r\n2005/03/12 14:32:07 4\r\n");
    ReadSchedule(settings, fs, kStation);
    struct Expected {
        size_t element;
        text::DateTime start;
        int channel;
    };
    const Expected expected[] = {{0, {2005, 3, 12, 14, 30, 0, 0}, 2},
                                 {1, {}, 0},  // no channel
                                 {2, {}, 0},  // month 13
                                 {3, {}, 0},
                                 {4, {2005, 3, 12, 14, 32, 7, 0}, 4}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.element);
        const auto& recording = settings.schedule[e.element];
        EXPECT_EQ(recording.channel, e.channel);
        if (e.channel != 0) {
            EXPECT_EQ(recording.start_epoch, text::to_epoch_seconds(e.start));
        }
    }
    settings.schedule_lines[0] = "2005/03/12 14:30:00 Ch:3";
    DecodeSchedule(settings);
    EXPECT_EQ(settings.schedule[0].channel, 3);
}

TEST_F(SettingsFileTest, GarbageKeepsFieldsAndDoesNotCrash) {
    using C = ChannelSettings;
    using G = GeneralSettings;
    std::string binary;
    for (int k = 0; k < 65536; ++k) {
        char c = static_cast<char>((k * 131 + 7) % 256);
        binary += c == '\n' ? '\x01' : c;
    }
    binary[0] = '\xFF';  // not the start of a key
    const std::string megabyte_of_nines(1 << 20, '9');
    const std::string megabyte_of_blanks(1 << 20, ' ');

    const std::vector<ReadCase> cases = {
        {"binary line between good lines",
         "SPS= 7 \n" + binary + "\nVAX= 3 \n",
         channel_field(0, &C::sps_index),
         "7",
         {}},
        {"binary value of a strict key",
         "DRS= 3 \nDRS=" + binary + "\n",
         channel_field(0, &C::drum_scale),
         "3",
         {("DRS=" + binary).substr(0, 200)}},
        {"1 MB number too large for i16",
         "ALV=" + megabyte_of_nines + "\n",
         channel_field(0, &C::alarm_threshold),
         "5000",
         {("ALV=" + megabyte_of_nines).substr(0, 200)}},
        {"1 MB number too large for a double",
         "DCO=" + megabyte_of_nines + "\n",
         channel_field(0, &C::dc_offset),
         "0",
         {("DCO=" + megabyte_of_nines).substr(0, 200)}},
        {"1 MB of blanks",
         "SPS=" + megabyte_of_blanks + "7\n",
         channel_field(0, &C::sps_index),
         "7",
         {}},
        {"1 MB list decodes clamped",
         "STA=" + megabyte_of_nines + "\n",
         channel_field(0, &C::start_amplitude),
         "8300000",
         {}},
        {"NUL ends a number",
         std::string("SPS= 7\0 9\n", 10),
         channel_field(0, &C::sps_index),
         "7",
         {}},
        {"NUL kept in a text",
         std::string("[GENERAL]\nLOC=Ho\0me\n", 20),
         general_field(&G::location),
         std::string("Ho\0me", 5),
         {}},
        {"no line end at all", "[CHANNEL2]\nSPS= 7 ", channel_field(1, &C::sps_index), "7", {}},
        {"lone CRs do not end lines",
         "SPS= 7 \rVAX= 3 \r\n",
         channel_field(0, &C::sensor_axis),
         "1",
         {}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        settings = Settings{};
        ReadReport report = read(c.file);
        EXPECT_EQ(c.field(settings), c.expected);
        EXPECT_EQ(report.failed_lines, c.failed);
    }
}

TEST_F(SettingsFileTest, FailedLinesListIsBounded) {
    std::string file;
    for (int k = 0; k < 5000; ++k) file += "DRS=x\n";
    ReadReport report = read(file);
    EXPECT_FALSE(report.failed_lines.empty());
    EXPECT_LT(report.failed_lines.size(), 5000u);
    EXPECT_EQ(settings.channels[0].drum_scale, 2);
}

TEST_F(SettingsFileTest, FullDiskKeepsThePreviousFiles) {
    ReadConfiguration(settings, fs, kStation);
    const std::string before = fs.contents(kIniPath);
    settings.general.location = "Elsewhere";
    settings.schedule_lines[0] = "2005/03/12 14:30:00 Ch:2";

    fs.set_full(true);
    platform::IoResult result = WriteConfiguration(settings, fs, kStation);

    EXPECT_FALSE(result);
    EXPECT_EQ(fs.contents(kIniPath), before);
    EXPECT_EQ(fs.contents(kSchPath), empty_schedule());
}

// Fails the replacement of one file and records the order files are replaced in.
class OneFileFails : public platform::MemoryFileSystem {
public:
    explicit OneFileFails(std::string failing) : failing_(std::move(failing)) {}
    platform::IoResult replace_file(const std::string& path, std::string_view bytes) override {
        replaced.push_back(path);
        if (path == failing_) return platform::IoResult::fail("Disk quota exceeded");
        return MemoryFileSystem::replace_file(path, bytes);
    }
    std::vector<std::string> replaced;

private:
    std::string failing_;
};

TEST(SettingsFileWrite, ScheduleFirstAndFirstFailureReturned) {
    struct Case {
        const char* name;
        const char* failing;
        int16_t service_mode;
        bool ini_rewritten;
    };
    const std::vector<Case> cases = {
        {"schedule fails, errors resumed", kSchPath, 0, true},
        {"schedule fails, service mode stops", kSchPath, 1, false},
        {"settings fail", kIniPath, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneFileFails fs(c.failing);
        fs.put(kIniPath, "old");
        fs.put(kSchPath, "old");
        Settings settings;
        SetDefaultConfiguration(settings, kStation);
        settings.general.service_mode = c.service_mode;

        platform::IoResult result = WriteConfiguration(settings, fs, kStation);

        EXPECT_EQ(result.error, "Disk quota exceeded");
        EXPECT_EQ(fs.replaced.front(), kSchPath);
        EXPECT_EQ(fs.contents(kIniPath) != "old", c.ini_rewritten);
    }
}

TEST(SettingsFileFirstStart, FullDiskStillGivesDefaults) {
    platform::MemoryFileSystem fs;
    EXPECT_TRUE(fs.create_directories(kStation));
    fs.set_full(true);
    Settings settings;
    settings.channels[1].sps_index = 9;

    ReadReport report = ReadConfiguration(settings, fs, kStation);

    EXPECT_TRUE(report.created);
    EXPECT_FALSE(report.write);
    EXPECT_FALSE(fs.exists(kIniPath));
    EXPECT_EQ(settings.channels[1].sps_index, 4);
    EXPECT_EQ(settings.channels[1].pre_event_samples, 120);
}

}  // namespace
}  // namespace velkantor::config
