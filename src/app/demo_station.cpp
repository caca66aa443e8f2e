#include "app/demo_station.h"

#include <cstdlib>

#include "config/settings_file.h"

namespace velkantor::app {

std::string demo_station_folder() {
    const char* home = std::getenv("HOME");
    return platform::join_path(home && *home ? home : ".", "velkantor-demo");
}

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
    general.ad_type = model == "ZEDA10" ? 0 : model == "ZEDA20" ? 5 : model == "ZEDA30" ? 6 : 1;
    general.baud_index = 6;  // 115200
    general.comm_port = 1;
    for (auto& channel : settings.channels) {
        channel.sps_index = 15;  // 100 samples per second
        channel.record_enabled = 1;
        channel.datalog_enabled = 1;
        channel.drum_enabled = 1;
        channel.start_params = "2000,2,1,1,30,3";
        channel.stop_params = "1800,1,2,5";
        config::DecodeStartParams(channel);
        config::DecodeStopParams(channel);
        config::UpdateDerivedCounts(channel);
    }
    return config::WriteConfiguration(settings, fs, folder);
}

}  // namespace velkantor::app
