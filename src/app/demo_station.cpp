#include "app/demo_station.h"

#include <cmath>
#include <cstdlib>

#include "config/network_ini.h"
#include "config/settings_file.h"

namespace velkantor::app {

std::string demo_station_folder(const std::string& model) {
    const char* home = std::getenv("HOME");
    // One demo station per model: each needs settings of its own.
    std::string name = "velkantor-demo";
    if (model != "ZEDA18") {
        name += "-";
        for (char c : model) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return platform::join_path(home && *home ? home : ".", name);
}

const char* const kDemoNetworkIni =
    "; The demo station's services, on this machine only (127.0.0.1). Another address in\n"
    "; front of a port (0.0.0.0: every address) opens it to the network; a port that is taken\n"
    "; turns its service off with a line in the event log, and acquisition goes on.\n"
    "[station]\n"
    "description = Demo station (simulated board)\n"
    "[seedlink]\n"
    "listen = 127.0.0.1:18000\n"
    "[archive]\n"
    "folder = archive\n"
    "[web]\n"
    "listen = 127.0.0.1:8080\n"
    "title = VELKANTOR demo station\n";

platform::IoResult seed_demo_station(platform::FileSystem& fs, const std::string& folder,
                                     const std::string& model) {
    if (fs.exists(platform::join_path(folder, config::kSettingsFileName))) {
        return platform::IoResult::ok();
    }
    if (auto made = fs.create_directories(folder); !made) return made;
    config::Settings settings;
    config::SetDefaultConfiguration(settings, folder);
    auto& general = settings.general;
    general.location = "Demo station (simulated board)";
    struct Demo {
        const char* model;
        int16_t ad_type;
        int16_t sps_index;  // a rate the board accepts on every channel
    };
    static const Demo kDemos[] = {
        {"ZEDA10", config::kZeda10, 15},      {"ZEDA18", config::kZeda18, 15},
        {"ZEDA20", config::kZeda20, 15},      {"ZEDA30", config::kZeda30, 15},
        {"INFILTEC", config::kInfiltec, 7},   {"LX1500", config::kLx1500, 12},
        {"DATAQ", config::kDataqDi194rs, 13},  // 4 x 60: the instrument's whole budget
    };
    const Demo* demo = &kDemos[1];
    for (const auto& d : kDemos) {
        if (model == d.model) demo = &d;
    }
    general.ad_type = demo->ad_type;
    general.baud_index = 6;  // 115200
    general.comm_port = 1;
    general.board_serial = kDemoBoardSerial;
    general.clock_trim_hex = kDemoBoardTrim;
    // A page of the simulated signal that can be read (the default scale is for quieter
    // sensors and draws it as a tangle).
    general.review_y_scale = 1;
    for (auto& channel : settings.channels) {
        channel.sps_index = demo->sps_index;
        channel.record_enabled = 1;
        channel.datalog_enabled = 1;
        channel.drum_enabled = 1;
        // The simulated noise is a few hundred counts: big enough to see on charts and drums.
        channel.drum_scale = 40;
        channel.y_scale = 7;
        channel.start_params = "2000,2,1,1,30,3";
        channel.stop_params = "1800,1,2,5";
        config::DecodeStartParams(channel);
        config::DecodeStopParams(channel);
        config::UpdateDerivedCounts(channel);
    }
    // Channels 2 to 4 are calibrated as a geophone of 28.8 V per m/s through an amplifier of
    // 1000 into the board's bits over 5 V, so that their noise pictures are in ground
    // acceleration against the noise models; channel 1 stays in counts (its spectrum is
    // drawn from counts) and its picture says so.
    const double bits = demo->ad_type == config::kZeda18         ? 18
                        : demo->ad_type == config::kZeda20       ? 24
                        : demo->ad_type == config::kDataqDi194rs ? 10
                                                                 : 16;
    for (size_t c = 1; c < settings.channels.size(); ++c) {
        auto& channel = settings.channels[c];
        channel.sensor_type = 1;   // velocity
        channel.measure_unit = 1;  // m
        channel.sensor_sensitivity = 28.8;
        channel.amplifier_gain = 1000;
        channel.ad_bits = bits;
        channel.ad_range = 5;
        // Units per count, as the settings window computes it from the same figures.
        channel.resolution = channel.ad_range / (channel.sensor_sensitivity *
                                                 channel.amplifier_gain * std::exp2(bits));
    }
    // Channel 1's spectrum, saved every 2 frames as drums/SPEC_1 beside the drums.
    auto& first = settings.channels[0];
    first.fft_enabled = 1;
    first.fft_display_mode = 1;
    first.fft_points = 1024;
    first.fft_scope_max = 80;
    first.fft_scope_min = -40;
    first.jtf_base = -120;
    first.fft_save_mode = 2;
    first.fft_save_updating = 1;
    // The text instruments carry one channel.
    if (demo->ad_type == config::kInfiltec || demo->ad_type == config::kLx1500) {
        for (size_t c = 1; c < settings.channels.size(); ++c) {
            auto& channel = settings.channels[c];
            channel.sps_index = 0;
            channel.record_enabled = 0;
            channel.datalog_enabled = 0;
            channel.drum_enabled = 0;
            config::UpdateDerivedCounts(channel);
        }
    }
    if (auto written = config::WriteConfiguration(settings, fs, folder); !written) return written;
    // A network.ini the owner brought along is theirs.
    const std::string network = platform::join_path(folder, config::kNetworkFileName);
    if (fs.exists(network)) return platform::IoResult::ok();
    return fs.write_file(network, kDemoNetworkIni);
}

}  // namespace velkantor::app
