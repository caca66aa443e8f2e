#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The station's settings model: what `velkant.ini` and `velkant.sch` hold.
namespace velkantor::config {

inline constexpr int kChannels = 4;
inline constexpr int kScheduleLines = 25;
inline constexpr int kScheduleEntries = 20;

// A scheduled recording: its start second and the channel (1..4) it names; channel 0 (an
// entry that is not a time, or names no channel) never fires.
struct ScheduledRecording {
    double start_epoch = 0;
    int channel = 0;
};

// The axis names that file headers and drums show, indexed by `sensor_axis`.
inline constexpr std::array<std::string_view, 5> kAxisNames = {" ", "N", "E", "Z", "G"};

struct ChannelSettings {
    int16_t sps_index = 4;
    int16_t sensor_axis = 0;  // default is the channel number, see SetDefaultConfiguration
    double dc_offset = 0;
    double y_scale = 1;
    int16_t trigger_mode = 1;
    std::string start_params = "2000,2,2,1,30,3";
    std::string stop_params = "1800,2";
    int16_t invert = 0;
    int16_t record_enabled = 0;
    int16_t alarm_enabled = 0;
    int16_t alarm_threshold = 5000;
    int16_t datalog_enabled = 0;
    int16_t auto_offset = 0;
    int16_t extend_trigger = 0;
    std::string event_extension;  // "CH" + channel number
    int16_t drum_enabled = 0;
    int16_t drum_hidden = 0;
    std::string magnitude_correction = "0.001,0.001,0.001,0.001,0.001";
    int16_t fft_enabled = 0;
    double drum_scale = 2;
    int16_t sensor_type = 0;
    double sensor_sensitivity = 1;
    double amplifier_gain = 1000;
    double ad_bits = 16;
    double ad_range = 20;
    double resolution = 1;
    int16_t measure_unit = 0;
    double filter_delay = 0;
    int16_t period_extender = 0;
    int16_t freeze_lta = 0;
    int16_t fft_save_mode = 0;
    int16_t fft_save_updating = 0;
    int16_t fft_save_incrementing = 0;
    int16_t jtf_base = 0;
    int16_t jtf_max = 0;
    int16_t jtf_min = 0;
    int16_t fft_scope_min = 0;
    int16_t fft_scope_max = 0;
    int16_t fft_points = 0;
    int16_t fft_display_mode = 0;
    int16_t and_channels = 0;
    int16_t trigger_window = 1;

    // Decoded from start_params.
    int32_t start_amplitude = 2000;
    double start_samples = 2;
    double pre_event_minutes = 2;
    double sta_seconds = 1;
    double lta_seconds = 30;
    double start_ratio = 3;
    // Decoded from stop_params.
    int32_t stop_amplitude = 1800;
    double post_event_minutes = 2;
    double stop_ratio = 0;
    double max_event_minutes = 0;
    // Decoded from magnitude_correction.
    std::array<std::string, 5> mag_corr{"0.001", "0.001", "0.001", "0.001", "0.001"};

    // Derived from the nominal rate of sps_index.
    double pre_event_samples = 0;
    double post_event_samples = 0;
    double max_event_samples = 0;
};

struct GeneralSettings {
    std::string elevation = "100";
    std::string location = "Location";
    std::string coordinates = "0.0N 0.0E";
    int16_t chart_speed = 20;
    int16_t comm_port = 1;
    int16_t autostart = 0;
    std::string event_browser;  // set by SetDefaultConfiguration
    std::string events_folder;  // station folder + "/events"
    int16_t pc_rtc = 0;
    int16_t pc_sync = 0;
    int16_t sync_every = 3;
    int16_t gmt_offset = 0;
    int16_t lpt_port = 0;
    int16_t watchdog_enabled = 0;
    int16_t watchdog_period = 60;
    int16_t use_velkmon = 0;
    int16_t drum_update = 3;
    int16_t drum_hours_per_row = 3;
    int16_t flush_period = 2;
    int16_t purge_days = 30;
    int16_t never_purge = 1;
    int16_t hw_alarm = 0;
    int16_t alarm_on_l2 = 0;
    int16_t alarm_on_events = 0;
    int16_t send_sms = 0;
    int16_t send_mail = 0;
    double review_y_scale = 10;
    int16_t review_rows = 6;
    double review_chart_speed = 50;
    std::string datalog_folder;  // station folder
    int16_t event_format = 0;
    int16_t no_charting = 0;
    int16_t service_mode = 0;
    int16_t no_version_warn = 0;
    int16_t no_logo = 0;
    std::string settings_password;
    int16_t settings_locked = 0;
    int16_t extract_channels = 0;
    int16_t ad_type = 1;
    int16_t baud_index = 4;
    int16_t print_quake = 0;
    int16_t drum_format = 3;
    int16_t alarm_wav = 0;
    int16_t sync_source = 1;
    int16_t y_scale_all = 0;
    std::string clock_trim_hex = "FFFFFFFF";
    std::string board_serial = "FFFFFFFF";
    int16_t blind_start = 0;
    int16_t set_board_time_at_start = 0;

    // Not stored in the file.
    int16_t datekeeping = 0;
};

struct Settings {
    GeneralSettings general;
    std::array<ChannelSettings, kChannels> channels;
    std::array<std::string, kScheduleLines> schedule_lines;  // elements 1..25 at 0..24
    // Elements 1..20 as the trigger reads them, decoded from the lines by DecodeSchedule
    // whenever they are read or changed (never per sample).
    std::array<ScheduledRecording, kScheduleEntries> schedule;
};

// Interface types (`ad_type`).
enum AdType : int16_t {
    kZeda10 = 0,
    kZeda18 = 1,
    kInfiltec = 2,
    kLx1500 = 3,
    kDataqDi194rs = 4,
    kZeda20 = 5,
    kZeda30 = 6,
};

bool is_zeda(int16_t ad_type);

}  // namespace velkantor::config
