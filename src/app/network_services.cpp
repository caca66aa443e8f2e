#include "app/network_services.h"

#include "platform/file_system.h"

namespace velkantor::app {

// The miniSEED side: record building from the datalog's seconds, archive, SeedLink server.
struct NetworkServices::Streaming {};

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
    web_settings_ = web::read_web_settings(ini_, options_.web, problems_);
}

void NetworkServices::start() {
    for (const auto& problem : problems_) station_.AppendEventLog(problem);
    if (web_settings_.on) {
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
    station_.add_tick_hook([this] { second(); });
}

void NetworkServices::stop() {
    if (page_) page_->stop();
}

void NetworkServices::second() {
    if (page_) page_->second();
}

}  // namespace velkantor::app
