#include "app/web_page.h"

#include <algorithm>
#include <cmath>

#include "app/fdsn_description.h"
#include "display/drum.h"
#include "display/fft_display.h"
#include "display/image_export.h"
#include "display/noise_models.h"
#include "platform/real/qt_picture_codec.h"
#include "platform/real/std_file_system.h"
#include "platform/real/web_server.h"
#include "stream/stream_settings.h"
#include "web/events.h"
#include "web/fdsn_service.h"

namespace velkantor::app {

namespace {

std::string picture_name(runtime::ServicePort& station, const std::string& drums,
                         const std::string& base, int16_t format) {
    std::string path =
        display::FindDrumImage(station.fs(), platform::join_path(drums, base), format);
    if (path.empty()) return "";
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

web::StateSnapshot take_snapshot(runtime::ServicePort& station, const web::WebSettings& settings) {
    const auto& general = station.settings().general;
    const auto& run = station.run();
    web::StateSnapshot s;
    s.title = settings.title;
    s.station = general.location;
    s.coordinates = general.coordinates;
    s.elevation = general.elevation;
    // A board that fell silent is no acquisition, whatever the run's flags say: the page
    // must not show "acquiring" at the last second's rates for minutes.
    if (station.in_run() && run.board_epoch_second > 0) {
        s.seconds_since_sample = std::max(0.0, station.clock().monotonic() - run.last_data_time);
    }
    const bool flowing = s.seconds_since_sample && *s.seconds_since_sample <= web::kSilentSeconds;
    s.acquiring = flowing && run.acquisition_running == 1;
    s.board = run.board_description;
    s.firmware = run.firmware_version;
    s.lock = station.lock_text();
    s.time_source = station.time_reference();
    s.board_time = station.in_run() ? run.board_epoch_second : 0;
    s.utc_offset = station.utc_offset();
    s.bad_frames = run.rejected_frames;
    int update = general.drum_update;
    s.drum_update_minutes =
        update >= 0 && update < static_cast<int>(display::kDrumUpdateMinutes.size())
            ? display::kDrumUpdateMinutes[static_cast<size_t>(update)]
            : display::kDrumUpdateMinutes[3];
    s.station_folder = station.folder();
    s.drums_folder = platform::join_path(station.folder(), "drums");
    s.events_folder = general.events_folder;
    s.event_log = station.event_log_path();
    s.events = settings.events;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        const auto& cs = station.settings().channels[static_cast<size_t>(ch)];
        if (cs.sps_index <= 0) continue;
        web::ChannelState c;
        c.number = ch + 1;
        double rate = run.configured_rate[static_cast<size_t>(ch)];
        c.seed_code = settings.channel_codes[static_cast<size_t>(ch)];
        if (c.seed_code.empty())
            c.seed_code = stream::default_channel_code(rate, station.settings().channels, ch);
        c.configured_rate = rate;
        c.measured_rate = flowing ? run.last_second_count[static_cast<size_t>(ch)] : 0;
        c.event_extension = cs.event_extension;
        if (cs.drum_enabled > 0) {
            c.drum = picture_name(station, s.drums_folder, "drum_" + std::to_string(ch + 1),
                                  general.drum_format);
        }
        if (cs.fft_enabled > 0) {
            c.spectrum = picture_name(station, s.drums_folder, "SPEC_" + std::to_string(ch + 1),
                                      general.drum_format);
            c.spectrum_time_frequency = cs.fft_display_mode == 2;
            double nyq = display::SpectrumNyquist(rate);
            c.spectrum_max_hz = nyq;
            int points = cs.fft_points > 0 ? cs.fft_points : 256;
            c.spectrum_min_hz = rate > 0 ? rate / points : 0;
            auto range = display::ScopeLevelRange(cs.fft_scope_max, cs.fft_scope_min);
            c.spectrum_max_db = range.top;
            c.spectrum_min_db = range.bottom;
        }
        s.channels.push_back(std::move(c));
    }
    return s;
}

WebPage::WebPage(runtime::ServicePort& station, web::WebSettings settings)
    : station_(station),
      settings_(std::move(settings)),
      describer_(station),
      codec_(std::make_unique<platform::QtPictureCodec>()),
      noise_(station.fs(), *codec_, platform::join_path(station.folder(), "drums")) {
    for (auto [points, model] : {std::pair{&display::LowNoiseModelPoints(), &low_model_},
                                 std::pair{&display::HighNoiseModelPoints(), &high_model_}}) {
        for (const auto& p : *points)
            model->emplace_back(std::pow(10, -p.log10_frequency), p.level_db);
    }
    snapshot_ = std::make_shared<const web::StateSnapshot>(take_snapshot(station_, settings_));
    description_ = describer_.describe(settings_);
}

WebPage::~WebPage() {
    stop();
}

void WebPage::second() {
    auto snapshot = std::make_shared<web::StateSnapshot>(take_snapshot(station_, settings_));
    // Free space changes slowly; asking the file system every few seconds is plenty.
    if (disk_countdown_-- <= 0) {
        disk_countdown_ = 10;
        const auto* disk = station_.devices().disk_space;
        free_bytes_ = disk ? disk->free_bytes(station_.folder()) : std::nullopt;
    }
    snapshot->free_disk_bytes = free_bytes_;
    const bool exposed = web::events_folder_holds_station(*snapshot);
    if (exposed && !told_exposed_folder_) {
        station_.log("Web page: the events folder " + snapshot->events_folder +
                     " is the station folder or holds it; no event file is served "
                     "while it is");
    }
    told_exposed_folder_ = exposed;
    if (!fed_from_outside_) trace_from_ring();
    show_noise(*snapshot);
    auto description = describer_.describe(settings_);
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
    description_ = std::move(description);
}

void WebPage::trace_second(int ch, int64_t first_sample_time_us, double rate,
                           const std::vector<int32_t>& values) {
    fed_from_outside_ = true;
    feed_noise(ch, first_sample_time_us, rate, values);
    std::lock_guard lock(mutex_);
    trace_.second(ch, first_sample_time_us, rate, values);
}

void WebPage::feed_noise(int ch, int64_t first_utc_us, double rate,
                         const std::vector<int32_t>& values) {
    auto c = static_cast<size_t>(ch & 3);
    std::string problem =
        noise_.add(ch, first_utc_us, rate, values, station_.settings().channels[c], seed_codes_[c]);
    // Once per kind of trouble, not every hour.
    if (!problem.empty() && problem != noise_problem_[c]) station_.log("Noise picture: " + problem);
    noise_problem_[c] = problem;
}

void WebPage::show_noise(web::StateSnapshot& snapshot) {
    snapshot.low_noise_model = low_model_;
    snapshot.high_noise_model = high_model_;
    for (auto& c : snapshot.channels) {
        const auto& noise = noise_.channel(c.number - 1);
        seed_codes_[static_cast<size_t>(c.number - 1)] = c.seed_code;
        c.noise_picture = noise.picture;
        // From the settings, not from the monitor, which learns them with the first samples
        // it is fed: the page says at once why a channel is in counts.
        const auto response = display::ChannelGroundResponse(
            station_.settings().channels[static_cast<size_t>(c.number - 1)]);
        c.noise_calibrated = response.calibrated();
        c.noise_note = response.uncalibrated_reason;
        if (c.noise_picture.empty() && snapshot.board_time > 0) {
            // Today's picture from before a restart, until this run ends an hour.
            auto day = static_cast<int64_t>(
                std::floor((snapshot.board_time - snapshot.utc_offset) / 86400));
            std::string name = display::NoiseMonitor::base_name(day, c.number - 1) + ".GIF";
            if (station_.fs().exists(platform::join_path(snapshot.drums_folder, name))) {
                c.noise_picture = name;
            }
        }
        if (!noise.last_hour) continue;
        c.noise_hour = static_cast<double>(noise.last_hour->start_us / 1'000'000);
        const auto& curve = noise.last_hour->curve;
        for (int band = curve.first_band; band <= curve.last_band(); ++band) {
            c.noise_psd.emplace_back(display::BandPeriod(band), *curve.level(band));
        }
    }
}

// The samples the pre-event ring took since the last second, timed back from the board's
// last second at the configured rate: good enough for a picture of the last minutes.
void WebPage::trace_from_ring() {
    auto& run = station_.run();
    if (!station_.in_run() || run.board_epoch_second <= 0) {
        ring_seen_.fill(0);
        return;
    }
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        const auto& cs = station_.settings().channels[c];
        double rate = run.configured_rate[c];
        int32_t length = static_cast<int32_t>(
            std::min<double>(cs.pre_event_samples, runtime::kPreEventRingLength));
        if (cs.sps_index <= 0 || !(rate > 0) || length <= 0) continue;
        int32_t position = run.ring_position[c];
        if (ring_seen_[c] <= 0 || ring_seen_[c] > length) {
            ring_seen_[c] = position;
            continue;
        }
        int32_t fresh = (position - ring_seen_[c] + length) % length;
        if (fresh <= 0 || fresh > static_cast<int32_t>(rate * 5)) {
            ring_seen_[c] = position;
            continue;
        }
        std::vector<int32_t> values;
        values.reserve(static_cast<size_t>(fresh));
        for (int32_t k = 0, at = ring_seen_[c]; k < fresh; ++k) {
            values.push_back(run.ring_at(ch, at));
            if (++at > length) at = 1;
        }
        ring_seen_[c] = position;
        auto end_us = static_cast<int64_t>((run.board_epoch_second + 1) * 1e6);
        auto span_us = static_cast<int64_t>(fresh * 1e6 / rate);
        int64_t first = ring_next_us_[c];
        if (first == 0 || std::llabs(first + span_us - end_us) > 2'000'000)
            first = end_us - span_us;
        ring_next_us_[c] = first + span_us;
        feed_noise(ch, first - int64_t{station_.utc_offset()} * 1'000'000, rate, values);
        std::lock_guard lock(mutex_);
        trace_.second(ch, first, rate, values);
    }
}

web::Response WebPage::answer(const web::Request& request, const platform::FileSystem& fs) const {
    std::shared_ptr<const web::StateSnapshot> snapshot;
    web::fdsn::Context fdsn;
    {
        std::lock_guard lock(mutex_);
        snapshot = snapshot_;
        fdsn.station = description_;
    }
    fdsn.archive_folder = settings_.archive_folder;
    fdsn.recent = &recent_;
    fdsn.now = system_now();
    web::Sources sources{*snapshot, fs,
                         [this](int ch, int64_t since) {
                             std::vector<web::TraceBuffer::Point> points;
                             {
                                 // The engine takes this lock every second: copy, then format.
                                 std::lock_guard lock(mutex_);
                                 points = trace_.after(ch, since);
                             }
                             return web::TraceBuffer::json_of(ch, points);
                         },
                         &fdsn};
    return web::route(request, sources);
}

std::string WebPage::start() {
    server_fs_ = std::make_unique<platform::StdFileSystem>();
    platform::WebServer::Limits limits;
    limits.connections = settings_.connections;
    server_ = std::make_unique<platform::WebServer>(
        [this](const web::Request& request) { return answer(request, *server_fs_); }, limits);
    return server_->start(settings_.listen.address, settings_.listen.port);
}

void WebPage::stop() {
    if (server_) server_->stop();
}

int WebPage::port() const {
    return server_ ? server_->port() : 0;
}

}  // namespace velkantor::app
