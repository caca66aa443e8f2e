// Any FDSN request as the page's router hands it over, against a day archive whose file holds
// any bytes: the first line of the input is the target ("/fdsnws/dataselect/1/query?..."), the
// rest the day file of XX.VELK..HHZ for 2026-12-11. Every answer has one of the services'
// statuses, and a dataselect answer names only ranges the archive's file holds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/fake/memory_file_system.h"
#include "web/fdsn_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velkantor;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string_view target = input.substr(0, newline);
    std::string_view day = newline == std::string_view::npos ? "" : input.substr(newline + 1);
    size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);

    const std::string file = "/a/2026/XX/VELK/HHZ.D/XX.VELK..HHZ.D.2026.345";
    platform::MemoryFileSystem fs;
    fs.put(file, std::string(day));
    static const auto station = [] {
        auto s = std::make_shared<web::fdsn::StationInfo>();
        s->network = "XX";
        s->station = "VELK";
        web::fdsn::ChannelInfo c;
        c.id = {"XX", "VELK", "", "HHZ"};
        c.rate = 100;
        config::ChannelSettings calibration;
        calibration.sensor_type = 1;
        calibration.measure_unit = 3;
        c.response =
            web::fdsn::channel_response(calibration, 100, web::fdsn::velocity_sensor(1, 0.7));
        s->channels.push_back(c);
        return s;
    }();
    stream::RecentRecords recent(1 << 16);
    web::fdsn::Context context{station, "/a", &recent, 1796983200LL * 1000000};
    web::Response response = web::fdsn::answer(path, query, target, fs, context);
    switch (response.status) {
        case 200:
        case 204:
        case 400:
        case 404:
        case 413:
            break;
        default:
            __builtin_trap();
    }
    for (const auto& part : response.parts) {
        if (part.file.empty()) continue;
        if (part.file != file || part.offset + part.length > day.size() || part.length % 512 != 0)
            __builtin_trap();
    }
    return 0;
}
