#include "app/fdsn_description.h"

#include <chrono>
#include <filesystem>

#include "config/settings_file.h"
#include "config/trigger_rules.h"
#include "runtime/version.h"
#include "stream/stream_settings.h"
#include "text/number_text.h"

namespace velkantor::app {

namespace {

// When the channel settings were last changed: the settings file's time (a channel's epoch
// begins then). Now when it cannot be told.
web::fdsn::MicroTime settings_changed(const std::string& folder) {
    std::error_code error;
    auto path = std::filesystem::path(folder) / std::string(config::kSettingsFileName);
    auto written = std::filesystem::last_write_time(path, error);
    if (error) return system_now();
    auto system = std::chrono::file_clock::to_sys(written);
    return std::chrono::duration_cast<std::chrono::microseconds>(system.time_since_epoch()).count();
}

std::string sensor_text(const config::ChannelSettings& channel,
                        const std::optional<web::fdsn::SensorModel>& model) {
    if (model && !model->description.empty()) return model->description;
    const auto type = static_cast<size_t>(channel.sensor_type);
    if (channel.sensor_type <= 0 || type >= config::kSensorTypeTexts.size()) {
        return "Sensor type unknown";
    }
    return std::string(config::kSensorTypeTexts[type]) + " sensor";
}

}  // namespace

web::fdsn::MicroTime system_now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

StationDescriber::StationDescriber(runtime::ServicePort& station)
    : station_(station), path_(platform::join_path(station.folder(), "fdsn-epochs.txt")) {
    if (auto text = station_.fs().read_file(path_, 64 * 1024))
        epochs_ = web::fdsn::parse_epochs(*text);
}

std::shared_ptr<const web::fdsn::StationInfo> StationDescriber::describe(
    const web::WebSettings& settings) {
    auto& station = station_;
    auto info = std::make_shared<web::fdsn::StationInfo>();
    const auto& general = station.settings().general;
    info->network = settings.network;
    info->station = settings.station;
    info->site = general.location;
    info->description = settings.description;
    if (auto place = web::fdsn::parse_coordinates(general.coordinates)) {
        info->latitude = place->first;
        info->longitude = place->second;
    } else {
        info->coordinates_read = false;
    }
    info->elevation = text::leading_number(general.elevation).value_or(0);
    info->created = system_now();
    info->software = std::string(runtime::kProgramVersion);
    std::optional<web::fdsn::MicroTime> changed_at;
    bool changed = false;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        const auto c = static_cast<size_t>(ch);
        const auto& cs = station.settings().channels[c];
        const double rate = station.run().configured_rate[c];
        if (cs.sps_index <= 0 || !(rate > 0)) continue;
        web::fdsn::ChannelInfo channel;
        std::string code = settings.channel_codes[c];
        if (code.empty())
            code = stream::default_channel_code(rate, station.settings().channels, ch);
        if (code.empty()) continue;
        channel.id = {settings.network, settings.station, settings.location, code};
        channel.rate = rate;
        switch (cs.sensor_axis) {
            case 1:  // N
                channel.azimuth = 0;
                channel.dip = 0;
                break;
            case 2:  // E
                channel.azimuth = 90;
                channel.dip = 0;
                break;
            case 3:  // Z, up
                channel.azimuth = 0;
                channel.dip = -90;
                break;
            default:
                break;
        }
        channel.response = web::fdsn::channel_response(cs, rate, settings.sensors[c]);
        channel.sensor = sensor_text(cs, settings.sensors[c]);
        const std::string fingerprint = web::fdsn::channel_fingerprint(channel);
        if (!changed_at) changed_at = settings_changed(station.folder());
        channel.epoch = web::fdsn::epoch_start(epochs_, ch + 1, fingerprint, *changed_at, changed);
        info->channels.push_back(std::move(channel));
    }
    if (changed) {
        auto written = station_.fs().replace_file(path_, web::fdsn::epochs_text(epochs_));
        if (!written && !told_unwritable_) {
            station_.log("FDSN station service: " + path_ + " not written (" + written.error +
                         "); the channels' epochs begin anew at the next start");
        }
        told_unwritable_ = !written;
    }
    return info;
}

}  // namespace velkantor::app
