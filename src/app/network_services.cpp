#include "app/network_services.h"

#include <unistd.h>

#include <filesystem>

#include "alerts/alert_center.h"
#include "alerts/alert_settings.h"
#include "platform/file_system.h"
#include "platform/real/datalink_sender.h"
#include "platform/real/mqtt_alerts.h"
#include "platform/real/record_worker.h"
#include "platform/real/seedlink_server.h"
#include "platform/real/webhook_alerts.h"
#include "runtime/version.h"
#include "stream/datalink_settings.h"
#include "stream/event_miniseed.h"
#include "stream/sds_archive.h"
#include "stream/stream_feed.h"
#include "stream/stream_settings.h"
#include "text/number_text.h"

namespace velkantor::app {

// The miniSEED side: records built from the datalog's seconds, the day archive, the SeedLink
// server.
struct NetworkServices::Streaming {
    stream::StreamSettings settings;
    std::unique_ptr<stream::StreamFeed> feed;
    std::unique_ptr<stream::SdsArchive> archive;
    // The archive writes on a thread of its own: a slow card never holds up the engine.
    std::unique_ptr<platform::RecordWorker> archive_worker;
    std::unique_ptr<platform::SeedLinkServer> server;
    stream::DataLinkSettings datalink;
    std::unique_ptr<platform::DataLinkSender> sender;
};

namespace {
// Records the archive may fall behind by (about an hour of four busy channels).
constexpr size_t kArchiveBacklogBytes = 16u << 20;

// The options that stand for keys of network.ini.
config::NetworkOptions network_options(const Options& options) {
    return {options.seedlink, options.archive,  options.web,
            options.mqtt,     options.webhooks, options.datalink};
}
}  // namespace

// The alerts: the station's observer turns events, alarms and health into messages for the
// MQTT broker and the webhooks, which send them from their own threads.
struct NetworkServices::Alerts {
    alerts::AlertSettings settings;
    std::unique_ptr<alerts::AlertCenter> center;
    std::unique_ptr<platform::MqttAlerts> mqtt;
    std::unique_ptr<platform::WebhookAlerts> webhooks;
    // Alerts a full queue pushed out, as far as the event log has told them, and when.
    uint64_t queue_drops_told = 0;
    double queue_drops_told_at = -1;
    double started_at = 0;
    bool unreachable_told = false;
};

NetworkServices::NetworkServices(runtime::ServicePort& station, const Options& options)
    : station_(station), options_(options) {}

NetworkServices::~NetworkServices() {
    stop();
}

void NetworkServices::configure() {
    problems_.clear();
    const std::string path = platform::join_path(station_.folder(), config::kNetworkFileName);
    if (station_.fs().exists(path)) {
        auto text = station_.fs().read_file(path, 1 << 20);
        if (!text) {
            problems_.push_back(std::string(config::kNetworkFileName) + " cannot be read");
        } else {
            ini_ = config::IniFile::parse(*text);
            for (const auto& bad : ini_.bad_lines()) {
                problems_.push_back(std::string(config::kNetworkFileName) + ", line " +
                                    std::to_string(bad.line) + ": not a \"key = value\" line: \"" +
                                    bad.text + "\"");
            }
        }
    }
    configure_streaming();
    web_settings_ = web::read_web_settings(ini_, network_options(options_), problems_);
    configure_alerts();
}

void NetworkServices::configure_streaming() {
    streaming_ = std::make_unique<Streaming>();
    auto& settings = streaming_->settings;
    settings = stream::ParseStreamSettings(ini_, problems_, network_options(options_));
    streaming_->datalink =
        stream::ParseDataLinkSettings(ini_, problems_, network_options(options_));
    if (!settings.codes_valid) {
        streaming_->datalink.enabled = false;
        if (settings.seedlink.enabled || settings.archive.enabled) {
            problems_.push_back(std::string(config::kNetworkFileName) +
                                ": the station's codes are not valid; no miniSEED is made");
        }
        settings.seedlink.enabled = false;
        settings.archive.enabled = false;
        settings.archive.event_mseed = false;
    }
}

void NetworkServices::start_streaming() {
    auto& s = *streaming_;
    if (!s.settings.seedlink.enabled && !s.settings.archive.enabled &&
        !s.settings.archive.event_mseed && !s.datalink.enabled) {
        return;
    }
    s.feed = std::make_unique<stream::StreamFeed>(
        s.settings.codes, s.settings.seedlink.latency_seconds, station_.settings());
    s.feed->on_problem = [this](const std::string& line) { station_.log(line); };
    if (s.settings.archive.enabled) {
        std::string folder = s.settings.archive.folder;
        if (folder.front() != '/') folder = platform::join_path(station_.folder(), folder);
        // The archive's lines come from the worker's thread: they reach the event log each
        // second, on the engine's.
        s.archive = std::make_unique<stream::SdsArchive>(station_.fs(), folder,
                                                         [&s](const std::string& line) {
                                                             if (s.archive_worker)
                                                                 s.archive_worker->tell(line);
                                                         });
        s.archive_worker =
            std::make_unique<platform::RecordWorker>(*s.archive, kArchiveBacklogBytes);
        s.feed->add_output(s.archive_worker.get());
        started_.push_back("miniSEED archive in " + folder);
    }
    if (s.settings.seedlink.enabled) {
        platform::SeedLinkServer::Config config;
        config.listen = s.settings.seedlink.listen;
        config.ring_minutes = s.settings.seedlink.ring_minutes;
        config.clients = s.settings.seedlink.clients;
        config.clients_per_address = s.settings.seedlink.clients_per_address;
        config.allow = s.settings.seedlink.allow;
        config.network = s.settings.codes.network;
        config.station = s.settings.codes.station;
        config.description = s.settings.codes.description;
        config.software = std::string(runtime::kProgramVersion);
        auto server = std::make_unique<platform::SeedLinkServer>(config);
        const std::string where = (config.listen.address.find(':') != std::string::npos
                                       ? "[" + config.listen.address + "]"
                                       : config.listen.address) +
                                  ":";
        if (std::string failed = server->start(); !failed.empty()) {
            // "SeedLink server: cannot listen on ADDRESS:PORT: Address already in use"
            station_.log("SeedLink server: " + failed + "; the server stays off");
            s.settings.seedlink.enabled = false;
        } else {
            s.server = std::move(server);
            s.feed->add_output(s.server.get());
            started_.push_back("SeedLink server on " + where + std::to_string(s.server->port()));
        }
    }
    if (s.datalink.enabled) start_datalink(s.archive ? s.archive->folder() : std::string());
    // The samples are taken only where records go (the event copies need the names alone).
    if (s.settings.archive.enabled || s.settings.seedlink.enabled || s.datalink.enabled) {
        sink_ = station_.take_seconds(*s.feed);
    }
}

void NetworkServices::start_datalink(const std::string& archive_folder) {
    auto& s = *streaming_;
    const auto& d = s.datalink;
    platform::DataLinkSender::Config config;
    config.host = d.host;
    config.port = d.port;
    config.user = d.client_id.empty() ? s.settings.codes.network + "_" + s.settings.codes.station
                                      : d.client_id;
    config.backfill_rate = d.backfill_rate;
    config.timeout_seconds = d.timeout_seconds;
    if (d.backfill && !archive_folder.empty()) {
        config.archive_folder = archive_folder;
        config.state_path = platform::join_path(station_.folder(), "datalink.state");
    }
    s.sender = std::make_unique<platform::DataLinkSender>(config, station_.fs());
    s.sender->start();
    for (const auto& line : s.sender->take_log_lines()) station_.log(line);
    s.feed->add_output(s.sender.get());
    const std::string server =
        (d.host.find(':') != std::string::npos ? "[" + d.host + "]" : d.host) + ":" +
        std::to_string(d.port);
    if (!config.archive_folder.empty()) {
        started_.push_back("DataLink to " + server + ", what an outage holds back sent late " +
                           "from the archive (at most " + text::shortest_real(d.backfill_rate) +
                           " records a second)");
    } else {
        started_.push_back("DataLink to " + server);
        station_.log(std::string("DataLink: ") +
                     (d.backfill ? "no miniSEED archive" : "backfill = 0") +
                     ": records made while the uplink is down or the server is not answering "
                     "are lost to it");
    }
}

void NetworkServices::start_event_miniseed() {
    event_files_ = station_.on_event_file([this](int ch, const std::string& path) {
        auto& fs = station_.fs();
        auto text = fs.read_file(path, 256u << 20);
        if (!text) return;
        double rate = station_.run().configured_rate[static_cast<size_t>(ch)];
        stream::StreamId id =
            streaming_->feed ? streaming_->feed->stream_id(ch, rate) : stream::StreamId{};
        // The event just ended: the board's zone now is the one its header's time is in.
        auto converted = stream::EventFileToMiniSeed(*text, id, station_.utc_offset());
        std::string name = path + ".mseed";
        if (!converted.error.empty()) {
            station_.log("Event " + path.substr(path.rfind('/') + 1) +
                         ": no miniSEED copy: " + converted.error);
        } else if (auto written = fs.replace_file(name, converted.records); !written) {
            station_.log("Event " + path.substr(path.rfind('/') + 1) +
                         ": miniSEED copy not written: " + written.error);
        }
    });
}

void NetworkServices::start() {
    for (const auto& problem : problems_) station_.log(problem);
    if (streaming_) {
        start_streaming();
        if (streaming_->settings.archive.event_mseed) start_event_miniseed();
    }
    if (web_settings_.on) {
        if (streaming_) {
            const auto& st = *streaming_;
            web_settings_.channel_codes = st.settings.codes.channels;
            web_settings_.network = st.settings.codes.network;
            web_settings_.station = st.settings.codes.station;
            web_settings_.location = st.settings.codes.location;
            web_settings_.description = st.settings.codes.description;
            if (st.archive) web_settings_.archive_folder = st.archive->folder();
        }
        page_ = std::make_unique<WebPage>(station_, web_settings_);
        if (std::string failed = page_->start(); !failed.empty()) {
            std::string line = "Web page off: " + failed;
            problems_.push_back(line);
            station_.log(line);
            page_.reset();
        } else {
            auto url = [this](const std::string& host) {
                return "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                       ":" + std::to_string(page_->port()) + "/";
            };
            const std::string& host = web_settings_.listen.address;
            started_.push_back("Web page on " + url(host));
            // On this machine a page listening on every address is reached through loopback.
            page_address_ = url(host == "0.0.0.0" ? "127.0.0.1" : host == "::" ? "::1" : host);
        }
    }
    // The FDSN dataselect service serves the records built since the archive last wrote.
    if (page_ && streaming_ && streaming_->feed && sink_.active()) {
        streaming_->feed->add_output(&page_->recent_records());
    }
    // The page's live trace takes the samples as the records do, where records are made.
    if (page_ && streaming_ && streaming_->feed && sink_.active()) {
        streaming_->feed->on_samples = [this](int ch, stream::MicroTime first, double rate,
                                              const std::vector<int32_t>& values) {
            page_->trace_second(ch, first, rate, values);
        };
    }
    if (alerts_) start_alerts();
    for (const auto& line : started_) station_.log(line);
    second_ = station_.on_second([this] { second(); });
}

void NetworkServices::stop() {
    // The records first: what the feed holds goes out to the archive and the SeedLink
    // clients, whatever the alerts' senders are doing.
    second_.reset();
    event_files_.reset();
    if (streaming_) {
        if (streaming_->feed) {
            sink_.reset();
            streaming_->feed.reset();  // what is pending goes out as records first
        }
        if (streaming_->archive_worker) {
            streaming_->archive_worker->stop();  // the archive writes every record handed over
            for (const auto& line : streaming_->archive_worker->take_lines()) {
                station_.log(line);
            }
        }
        if (streaming_->sender) {
            // What it has not had acknowledged is in the archive and the state file says so.
            streaming_->sender->stop();
            for (const auto& line : streaming_->sender->take_log_lines()) station_.log(line);
            streaming_->sender.reset();
        }
        if (streaming_->server) {
            streaming_->server->stop();
            for (const auto& line : streaming_->server->take_log_lines()) {
                station_.log(line);
            }
            streaming_->server.reset();
        }
    }
    // Then the alerts: the last ones (the run's end) are handed over, and each sender has a
    // bounded grace to get them out; none waits on a broker or a web server beyond it.
    if (alerts_) {
        observer_.reset();
        if (alerts_->center) alerts_->center->second(station_.clock().monotonic());
        if (alerts_->webhooks) alerts_->webhooks->stop();
        if (alerts_->mqtt) alerts_->mqtt->stop();
        alerts_.reset();
    }
    // The page last: it only reads the station.
    if (page_) page_->stop();
}

// The machine and the station folder: what the default MQTT client id and topic are made of,
// so that two stations on one broker keep apart.
alerts::StationIdentity NetworkServices::station_identity() const {
    alerts::StationIdentity identity;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) identity.host = host;
    std::error_code error;
    auto folder = std::filesystem::absolute(station_.folder(), error).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    identity.folder = folder.filename().string();
    return identity;
}

void NetworkServices::configure_alerts() {
    alerts_ = std::make_unique<Alerts>();
    auto& settings = alerts_->settings;
    settings =
        alerts::ParseAlertSettings(ini_, problems_, station_identity(), network_options(options_));
}

void NetworkServices::start_alerts() {
    auto& a = *alerts_;
    if (!a.settings.any()) return;
    const std::string station_code = streaming_ ? streaming_->settings.codes.station : "VELK";
    alerts::AlertCenter::Source source;
    source.moment = [this, station_code] {
        return alerts::Moment{station_code, station_.acquisition_second(), station_.lock_text(),
                              station_.utc_offset()};
    };
    source.seed = [this](int ch) -> std::string {
        if (!streaming_ || !streaming_->settings.codes_valid) return "";
        const auto& codes = streaming_->settings.codes;
        const auto c = static_cast<size_t>(ch);
        std::string channel = codes.channels[c];
        if (channel.empty()) {
            channel = stream::default_channel_code(station_.run().configured_rate[c],
                                                   station_.settings().channels, ch);
        }
        return codes.network + "." + codes.station + "." + codes.location + "." + channel;
    };
    source.running = [this] { return station_.run().acquisition_running == 1; };
    a.center = std::make_unique<alerts::AlertCenter>(a.settings, std::move(source));
    const auto queue = static_cast<size_t>(a.settings.queue);
    if (a.settings.mqtt_enabled) {
        platform::MqttAlerts::Options o;
        o.host = a.settings.mqtt_host;
        o.port = a.settings.mqtt_port;
        o.client_id = a.settings.mqtt_client_id;
        o.user = a.settings.mqtt_user;
        o.prefix = a.settings.mqtt_topic;
        o.station = station_code;
        o.queue = queue;
        bool usable = true;
        if (!a.settings.mqtt_password_file.empty()) {
            std::string path = a.settings.mqtt_password_file;
            if (path.front() != '/') path = platform::join_path(station_.folder(), path);
            if (auto text = station_.fs().read_file(path, 4096)) {
                std::string password = *text;
                while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
                    password.pop_back();
                }
                o.password = password;
            } else {
                station_.log("Alerts: the MQTT password file " + path +
                             " cannot be read; no MQTT alerts");
                usable = false;
            }
        }
        if (usable) {
            a.started_at = station_.clock().monotonic();
            a.mqtt = std::make_unique<platform::MqttAlerts>(o);
            if (a.mqtt->start()) {
                a.center->add_output(a.mqtt.get());
                started_.push_back("MQTT alerts to " + o.host + ":" + std::to_string(o.port) +
                                   " under " + o.prefix);
            } else {
                station_.log("Alerts: " + a.mqtt->error() + "; no MQTT alerts");
                a.mqtt.reset();
            }
        }
    }
    if (!a.settings.webhooks.empty()) {
        platform::WebhookAlerts::Options o;
        o.urls = a.settings.webhooks;
        o.timeout_seconds = a.settings.webhook_timeout;
        o.queue = queue;
        a.webhooks = std::make_unique<platform::WebhookAlerts>(o);
        a.webhooks->start();
        a.center->add_output(a.webhooks.get());
        // The address's path and query hold its token: the log gets scheme, host and port.
        for (const auto& url : o.urls) {
            started_.push_back("Webhook alerts to " + alerts::webhook_for_log(url));
        }
    }
    observer_ = station_.observe(*a.center);
}

void NetworkServices::second() {
    if (page_) page_->second();
    if (streaming_) {
        if (streaming_->feed) streaming_->feed->idle_second();
        if (streaming_->archive_worker) {
            for (const auto& line : streaming_->archive_worker->take_lines()) {
                station_.log(line);
            }
        }
        if (streaming_->sender) {
            for (const auto& line : streaming_->sender->take_log_lines()) station_.log(line);
        }
        // Client connects and disconnects, told by the server's thread, go to the event log here.
        if (streaming_->server) {
            for (const auto& line : streaming_->server->take_log_lines()) {
                station_.log(line);
            }
        }
    }
    if (alerts_ && alerts_->center) second_alerts();
}

void NetworkServices::second_alerts() {
    auto& a = *alerts_;
    // What the senders' threads have to say goes to the event log from here, the engine.
    if (a.mqtt) {
        for (const auto& line : a.mqtt->take_log_lines()) station_.log(line);
        a.mqtt->pump();
    }
    if (a.webhooks) {
        for (const auto& line : a.webhooks->take_log_lines()) station_.log(line);
    }
    const double now = station_.clock().monotonic();
    // A broker never reached (a wrong address, a firewall) is said once; the tries go on.
    if (a.mqtt && !a.unreachable_told && now - a.started_at >= 30 && !a.mqtt->ever_connected()) {
        a.unreachable_told = true;
        station_.log("Alerts: the MQTT broker " + a.settings.mqtt_host + ":" +
                     std::to_string(a.settings.mqtt_port) + " cannot be reached; trying again");
    }
    uint64_t drops =
        (a.mqtt ? a.mqtt->queue_dropped() : 0) + (a.webhooks ? a.webhooks->queue_dropped() : 0);
    // A sender that stays behind drops alerts steadily: one line a minute says how many.
    if (drops > a.queue_drops_told &&
        (a.queue_drops_told_at < 0 || now - a.queue_drops_told_at >= 60)) {
        station_.log("Alerts: " + std::to_string(drops - a.queue_drops_told) +
                     " alerts dropped, the senders being behind (queue full)");
        a.queue_drops_told = drops;
        a.queue_drops_told_at = now;
    }
    a.center->second(now);
}

}  // namespace velkantor::app
