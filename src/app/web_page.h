#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/fdsn_description.h"
#include "display/noise_monitor.h"
#include "runtime/service_port.h"
#include "stream/record_index.h"
#include "web/fdsn_station.h"
#include "web/router.h"
#include "web/state.h"
#include "web/trace.h"
#include "web/web_settings.h"

namespace velkantor::platform {
class WebServer;
}

namespace velkantor::app {

// The station's state as the page shows it, read on the engine's thread.
web::StateSnapshot take_snapshot(runtime::ServicePort& station, const web::WebSettings& settings);

// The station's web page: the engine fills the snapshot and the trace once a second and the
// server's thread answers from them. The hand-over is a pointer swap and a short lock; the
// engine never waits for a visitor.
class WebPage {
public:
    WebPage(runtime::ServicePort& station, web::WebSettings settings);
    ~WebPage();

    // Engine thread, once a second.
    void second();
    // Engine thread: one channel's conditioned samples of a board second, with the time of
    // the first. Until something calls this, the trace is fed from the pre-event ring.
    void trace_second(int ch, int64_t first_sample_time_us, double rate,
                      const std::vector<int32_t>& values);

    // Any thread: the answer to a request, files read through `fs`.
    web::Response answer(const web::Request& request, const platform::FileSystem& fs) const;

    // The real server (platform). Empty text, or why it cannot start.
    std::string start();
    void stop();
    int port() const;
    const web::WebSettings& settings() const { return settings_; }
    // The records the FDSN dataselect service serves before the archive holds them (the
    // record builder adds them on the engine's thread).
    stream::RecordSink& recent_records() { return recent_; }

private:
    void trace_from_ring();
    // The noise pictures take the same samples as the trace, with UTC times.
    void feed_noise(int ch, int64_t first_utc_us, double rate, const std::vector<int32_t>& values);
    void show_noise(web::StateSnapshot& snapshot);

    runtime::ServicePort& station_;
    web::WebSettings settings_;
    mutable std::mutex mutex_;
    std::shared_ptr<const web::StateSnapshot> snapshot_;
    StationDescriber describer_;
    std::shared_ptr<const web::fdsn::StationInfo> description_;  // guarded by mutex_
    stream::RecentRecords recent_{8u << 20};
    web::TraceBuffer trace_;  // guarded by mutex_
    bool fed_from_outside_ = false;
    std::array<int32_t, config::kChannels> ring_seen_{};
    std::array<int64_t, config::kChannels> ring_next_us_{};
    std::optional<uint64_t> free_bytes_;
    int disk_countdown_ = 0;
    bool told_exposed_folder_ = false;
    std::unique_ptr<platform::PictureCodec> codec_;
    display::NoiseMonitor noise_;  // engine thread only
    std::array<std::string, config::kChannels> noise_problem_;
    std::array<std::string, config::kChannels> seed_codes_;
    std::vector<std::pair<double, double>> low_model_, high_model_;
    std::unique_ptr<platform::FileSystem> server_fs_;
    std::unique_ptr<platform::WebServer> server_;
};

}  // namespace velkantor::app
