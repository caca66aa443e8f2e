// Any bytes as network.ini (with [datalink]), as an address or network of the allow list, and as an
// event file turned into miniSEED: nothing may crash, and every setting that is taken must hold up.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/network_ini.h"
#include "stream/datalink_settings.h"
#include "stream/event_miniseed.h"
#include "stream/stream_settings.h"

using namespace velkantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> problems;
    auto settings = stream::ParseStreamSettings(config::IniFile::parse(text), problems);
    if (settings.codes.network.size() > 2 || settings.codes.station.size() > 5 ||
        settings.codes.location.size() > 2) {
        __builtin_trap();
    }
    for (const auto& code : settings.codes.channels) {
        if (!code.empty() && code.size() != 3) __builtin_trap();
    }
    if (settings.seedlink.enabled &&
        (settings.seedlink.listen.port < 1 || settings.seedlink.listen.port > 65535)) {
        __builtin_trap();
    }
    auto datalink = stream::ParseDataLinkSettings(config::IniFile::parse(text), problems);
    if (datalink.enabled && (datalink.host.empty() || datalink.port < 1 || datalink.port > 65535 ||
                             datalink.backfill_rate < 1 || datalink.backfill_rate > 1000 ||
                             datalink.timeout_seconds < 5 || datalink.timeout_seconds > 600 ||
                             datalink.client_id.find(':') != std::string::npos)) {
        __builtin_trap();
    }
    if (auto network = config::parse_ip_network(text)) {
        if (network->prefix < 0 || network->prefix > 128) __builtin_trap();
    }
    (void)config::parse_listen_address(text, "0.0.0.0");
    auto converted = stream::EventFileToMiniSeed(text, {"XX", "VELK", "", "HHZ"});
    if (converted.records.size() % 512 != 0) __builtin_trap();
    return 0;
}
