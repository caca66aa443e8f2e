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
}

void NetworkServices::start() {
    for (const auto& problem : problems_) station_.AppendEventLog(problem);
    station_.add_tick_hook([this] { second(); });
}

void NetworkServices::stop() {}

void NetworkServices::second() {}

}  // namespace velkantor::app
