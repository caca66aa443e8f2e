#include "app/network_services.h"

#include "platform/file_system.h"
#include "platform/real/seedlink_server.h"
#include "stream/event_miniseed.h"
#include "stream/sds_archive.h"
#include "stream/stream_feed.h"
#include "stream/stream_settings.h"

namespace velkantor::app {

// The miniSEED side: records built from the datalog's seconds, the day archive, the SeedLink
// server.
struct NetworkServices::Streaming {
    stream::StreamSettings settings;
    std::unique_ptr<stream::StreamFeed> feed;
    std::unique_ptr<stream::SdsArchive> archive;
    std::unique_ptr<platform::SeedLinkServer> server;
};

NetworkServices::NetworkServices(acquisition::Station& station, const Options& options)
    : station_(station), options_(options) {}

NetworkServices::~NetworkServices() { stop(); }

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
    web_settings_ = web::read_web_settings(ini_, options_.web, problems_);
}

void NetworkServices::configure_streaming() {
    streaming_ = std::make_unique<Streaming>();
    auto& settings = streaming_->settings;
    settings = stream::ParseStreamSettings(ini_, problems_);
    if (!options_.seedlink.empty()) {
        if (auto listen = config::parse_listen_address(options_.seedlink, "0.0.0.0")) {
            settings.seedlink.listen = *listen;
            settings.seedlink.enabled = true;
        }
    }
    if (!options_.archive.empty()) {
        settings.archive.folder = options_.archive;
        settings.archive.enabled = true;
    }
    if (!settings.codes_valid) {
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
    if (!s.settings.seedlink.enabled && !s.settings.archive.enabled && !s.settings.archive.event_mseed) {
        return;
    }
    s.feed = std::make_unique<stream::StreamFeed>(s.settings.codes, s.settings.seedlink.latency_seconds,
                                                  station_.settings());
    s.feed->on_problem = [this](const std::string& line) { station_.AppendEventLog(line); };
    if (s.settings.archive.enabled) {
        std::string folder = s.settings.archive.folder;
        if (folder.front() != '/') folder = platform::join_path(station_.folder(), folder);
        s.archive = std::make_unique<stream::SdsArchive>(
            station_.fs(), folder, [this](const std::string& line) { station_.AppendEventLog(line); });
        s.feed->add_output(s.archive.get());
        started_.push_back("miniSEED archive in " + folder);
    }
    if (s.settings.seedlink.enabled) {
        platform::SeedLinkServer::Config config;
        config.listen = s.settings.seedlink.listen;
        config.ring_minutes = s.settings.seedlink.ring_minutes;
        config.clients = s.settings.seedlink.clients;
        config.allow = s.settings.seedlink.allow;
        config.network = s.settings.codes.network;
        config.station = s.settings.codes.station;
        config.description = s.settings.codes.description;
        config.software = std::string(acquisition::kProgramVersion);
        auto server = std::make_unique<platform::SeedLinkServer>(config);
        const std::string where = (config.listen.address.find(':') != std::string::npos
                                       ? "[" + config.listen.address + "]"
                                       : config.listen.address) +
                                  ":";
        if (std::string failed = server->start(); !failed.empty()) {
            // "SeedLink server: cannot listen on ADDRESS:PORT: Address already in use"
            station_.AppendEventLog(failed + "; the server stays off");
            s.settings.seedlink.enabled = false;
        } else {
            s.server = std::move(server);
            s.feed->add_output(s.server.get());
            started_.push_back("SeedLink server on " + where + std::to_string(s.server->port()));
        }
    }
    // The samples are taken only where records go (the event copies need the names alone).
    if (s.settings.archive.enabled || s.settings.seedlink.enabled) {
        station_.datalog().set_sink(s.feed.get());
    }
}

void NetworkServices::start_event_miniseed() {
    station_.add_event_file_hook([this](int ch, const std::string& path) {
        auto& fs = station_.fs();
        auto text = fs.read_file(path, 256u << 20);
        if (!text) return;
        double rate = station_.run().configured_rate[static_cast<size_t>(ch)];
        stream::StreamId id = streaming_->feed ? streaming_->feed->stream_id(ch, rate)
                                               : stream::StreamId{};
        auto converted = stream::EventFileToMiniSeed(*text, id);
        std::string name = path + ".mseed";
        if (!converted.error.empty()) {
            station_.AppendEventLog("Event " + path.substr(path.rfind('/') + 1) +
                                    ": no miniSEED copy: " + converted.error);
        } else if (auto written = fs.replace_file(name, converted.records); !written) {
            station_.AppendEventLog("Event " + path.substr(path.rfind('/') + 1) +
                                    ": miniSEED copy not written: " + written.error);
        }
    });
}

void NetworkServices::start() {
    for (const auto& problem : problems_) station_.AppendEventLog(problem);
    if (streaming_) {
        start_streaming();
        if (streaming_->settings.archive.event_mseed) start_event_miniseed();
    }
    if (web_settings_.on) {
        if (streaming_) web_settings_.channel_codes = streaming_->settings.codes.channels;
        page_ = std::make_unique<WebPage>(station_, web_settings_);
        if (std::string failed = page_->start(); !failed.empty()) {
            std::string line = "Web page off: " + failed;
            problems_.push_back(line);
            station_.AppendEventLog(line);
            page_.reset();
        } else {
            started_.push_back("Web page on http://" + web_settings_.listen.address + ":" +
                               std::to_string(page_->port()) + "/");
        }
    }
    // The page's live trace takes the samples as the records do, where records are made.
    if (page_ && streaming_ && streaming_->feed && station_.datalog().has_sink()) {
        streaming_->feed->on_samples = [this](int ch, stream::MicroTime first, double rate,
                                              const std::vector<int32_t>& values) {
            page_->trace_second(ch, first, rate, values);
        };
    }
    for (const auto& line : started_) station_.AppendEventLog(line);
    station_.add_tick_hook([this] { second(); });
}

void NetworkServices::stop() {
    if (page_) page_->stop();
    if (!streaming_) return;
    if (streaming_->feed) {
        station_.datalog().set_sink(nullptr);
        streaming_->feed.reset();  // what is pending goes out as records first
    }
    if (streaming_->server) {
        streaming_->server->stop();
        for (const auto& line : streaming_->server->take_log_lines()) station_.AppendEventLog(line);
        streaming_->server.reset();
    }
}

void NetworkServices::second() {
    if (page_) page_->second();
    if (!streaming_) return;
    if (streaming_->feed) streaming_->feed->idle_second();
    // Client connects and disconnects, told by the server's thread, go to the event log here.
    if (streaming_->server) {
        for (const auto& line : streaming_->server->take_log_lines()) station_.AppendEventLog(line);
    }
}

}  // namespace velkantor::app
