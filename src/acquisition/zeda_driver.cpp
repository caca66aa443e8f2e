#include "acquisition/zeda_driver.h"

#include <algorithm>

#include "acquisition/station.h"
#include "config/rates.h"

namespace velkantor::acquisition {

namespace {

constexpr const char* kCardNotFound =
    "A/D card not found\r\nCheck your COM setting from com1 to com16\r\nand the serial cable "
    "or link.\r\n";

// A frame never grows past this without its terminator: the longest frame is 9 bytes, so
// a longer run is line noise, counted and dropped rather than kept forever.
constexpr size_t kMaxFrameBytes = 32;

const ZedaModel kModels[] = {
    {config::kZeda10, 4, 16, false},
    {config::kZeda18, 4, 18, false},
    {config::kZeda20, 5, 24, false},
    {config::kZeda30, 4, 16, true},
};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const ZedaModel& zeda_model(int16_t ad_type) {
    for (const auto& model : kModels) {
        if (model.ad_type == ad_type) return model;
    }
    return kModels[1];
}

namespace zeda {

const std::string kWake = bytes({0x0F, 0xF0, 0x8A, 0x28, 0xF0, 0x28, 0x8A, 0x0F, 0x0F, 0xF0,
                                 0x8A, 0x28, 0xF0, 0x28, 0x8A, 0x0F});
const std::string kStop = bytes({0x84, 0, 0, 0, 0, 0});
const std::string kVersionRequest = bytes({0x81, 0, 0, 0, 0, 0});

std::string memory_read(int address) { return bytes({0x86, address & 0xFF, 0, 0, 0, 0}); }

std::string format_version(const std::string& reply) {
    if (reply.size() < 2) return reply;
    std::string last_two = reply.size() >= 4 ? reply.substr(reply.size() - 2) : "";
    return std::string(1, reply[0]) + "." + reply[1] + "." + last_two;
}

int rate_code(const std::string& board_description, int rate) {
    if (rate <= 0) return 0;
    if (rate == 1) rate = 2;  // the boards run a 1-per-second channel at 2 per second
    int code = 0;
    if (starts_with(board_description, "ZEDA V.1.6") ||
        starts_with(board_description, "ZEDA V.1.8") ||
        starts_with(board_description, "ZEDA V.2.0") ||
        starts_with(board_description, "ZEDA V.3.0")) {
        code = 200 / rate;
    } else if (starts_with(board_description, "ZEDA V.2.1")) {
        code = 2400 / rate;
    } else {
        if (rate == 200) rate = 100;
        code = 100 / rate;
    }
    // A code travels as one byte.
    return std::min(code, 255);
}

}  // namespace zeda

std::optional<std::string> ZedaDriver::ComPortOpen(Station& station, int mode) {
    auto& port = station.port();
    const auto& general = station.settings().general;
    if (port.is_open()) port.close();
    port.set_port_number(general.comm_port);
    port.set_input_length(1);
    port.set_input_mode(platform::InputMode::binary);
    port.set_line_settings(std::string(config::baud_text(general.baud_index)) + ",n,8,1");
    if (mode >= 1) {
        if (!station.open_port()) return std::nullopt;
        return std::string("V0000");
    }
    port.discard_input();
    if (!station.open_port()) return std::nullopt;
    station.view().set_busy(true);
    station.ProgressMarker = 3010;

    std::string reply;
    bool accepted = false;
    auto collect_until = [&](double deadline_epoch) {
        const auto& clock = station.clock();
        for (;;) {
            while (!accepted && port.bytes_waiting() > 0) {
                std::string byte = port.read();
                if (byte.empty()) break;
                reply += byte;
                if (reply.size() > 2) {
                    auto v = reply.find('V');
                    if (v != std::string::npos) reply.erase(0, v);
                }
                if (reply.size() > 64) reply.erase(0, reply.size() - 64);
                accepted = reply.size() == 4 && reply[0] == 'V';
            }
            double now = text::to_epoch_seconds(clock.now());
            if (accepted || now >= deadline_epoch) return;
            station.host().wait_for_input(deadline_epoch - now);
        }
    };
    for (int request = 1; request <= 4 && !accepted; ++request) {
        station.send(zeda::kWake);
        port.discard_input();
        station.send(zeda::kStop);
        station.send(zeda::kVersionRequest);
        double sent_at = text::to_epoch_seconds(station.clock().now());
        // The fourth request ends the collecting: what has arrived by then is the answer.
        collect_until(request < 4 ? sent_at + 0.5 : sent_at);
    }
    station.view().set_busy(false);
    return accepted ? reply : std::string();
}

bool ZedaDriver::start_up(Station& station) {
    auto& general = station.settings().general;
    auto& run = station.run();
    int mode = general.blind_start != 0 ? 1 : 0;
    std::string baud(config::baud_text(general.baud_index));
    auto opened = ComPortOpen(station, mode);
    if (!opened) return false;
    std::string reply = *opened;
    if (mode == 0) {
        station.AppendEventLog("Found board version: " + reply + " Com" +
                               std::to_string(general.comm_port) + " " + baud);
    } else if (general.datekeeping != 0) {
        switch (general.ad_type) {
            case config::kZeda10: reply = "V162"; break;
            case config::kZeda18: reply = "V181"; break;
            case config::kZeda20: reply = "V200"; break;
            case config::kZeda30: reply = "V300"; break;
            default: break;
        }
    }
    station.AppendEventLog("START with ZEDA " + reply);
    if (reply.empty()) {
        station.op().warn(kCardNotFound);
        return false;
    }
    std::string version = zeda::format_version(reply);
    if (version == "V.0.00" || version == "V.0.01") {
        run.firmware_version = "ZEDA x.xx at " + baud;
    } else if (version.size() >= 4) {
        run.firmware_version = version.substr(version.size() - 4);
    } else {
        run.firmware_version = "1.xx";
    }
    run.board_description = "ZEDA " + version;
    station.view().set_status_text(run.board_description);
    return true;
}

bool ZedaDriver::send_start(Station& station) {
    const auto& run = station.run();
    auto rate = [&](int c) { return static_cast<int>(run.configured_rate[static_cast<size_t>(c)]); };
    // Boards with one converter clock run every channel at the same rate.
    if (model_.ad_type == config::kZeda20 || model_.ad_type == config::kZeda30) {
        int last = model_.ad_type == config::kZeda20 ? 2 : 3;
        int common = 0;
        for (int c = 0; c <= last; ++c) {
            if (rate(c) == 0) continue;
            if (common != 0 && rate(c) != common) {
                station.op().message("Warning!",
                                     model_.ad_type == config::kZeda20
                                         ? "The ZEDA20 board must work with same SPS on all channels"
                                         : "The ZEDA30 board must work with same SPS on all channels",
                                     platform::MessageIcon::warning);
                return false;
            }
            common = rate(c);
        }
    }
    const std::string& description = run.board_description;
    std::string command = "DUMMY";
    command += static_cast<char>(0x84);
    if (model_.channel_mask_start) {
        // One rate for all channels: the second channel's, or the first channel on when the
        // second is off.
        int r = rate(1);
        for (int c = 0; c < 4 && r == 0; ++c) r = rate(c);
        int mask = 0;
        for (int c = 0; c < 4; ++c) {
            if (station.settings().channels[static_cast<size_t>(c)].sps_index > 0) mask |= 1 << c;
        }
        command += static_cast<char>(zeda::rate_code(description, r));
        command += static_cast<char>(mask & 0xFF);
        command += static_cast<char>((mask >> 8) & 0xFF);
        command += std::string(2, '\0');
    } else {
        for (int c = 0; c < 4; ++c) command += static_cast<char>(zeda::rate_code(description, rate(c)));
        command += '\0';
    }
    station.send(command);
    station.port().discard_input();
    return true;
}

void ZedaDriver::gather(Station& station) {
    auto& run = station.run();
    auto& port = station.port();
    for (int i = 0; i < 4; ++i) {
        std::string byte = port.read();
        if (byte.empty()) return;
        run.frame_buffer += byte[0];
        run.last_byte = static_cast<uint8_t>(byte[0]);
        if (run.last_byte >= 0xF0) break;
        if (run.frame_buffer.size() >= kMaxFrameBytes) {
            run.bad_frames += 1;
            station.view().set_bad_frames(run.bad_frames);
            run.frame_buffer.clear();
            return;
        }
    }
    if (run.last_byte < 0xF0) return;
    auto type = static_cast<uint8_t>(run.frame_buffer.front());
    if (type >= 0x82 && type <= 0x85 &&
        run.frame_buffer.size() != static_cast<size_t>(model_.data_frame_length)) {
        run.bad_frames += 1;
        station.view().set_bad_frames(run.bad_frames);
        run.frame_buffer = std::string(1, static_cast<char>(type)) + std::string(3, '\0');
    }
}

int32_t ZedaDriver::decode(std::string_view frame, uint8_t terminator) const {
    auto at = [&](size_t i) -> int32_t {
        return i < frame.size() ? static_cast<uint8_t>(frame[i]) : 0;
    };
    int32_t t = terminator;
    int32_t low = at(1) + 128 * (t & 1);
    int32_t high = at(2) + 128 * ((t >> 1) & 1);
    switch (model_.sample_bits) {
        case 18: {
            int32_t magnitude = high * 256 + low + 65536 * ((t >> 2) & 1);
            return (t & 8) != 0 ? magnitude - 131072 : magnitude;
        }
        case 24: {
            int32_t magnitude = at(3) * 65536 + high * 256 + low;
            return (t & 4) != 0 ? magnitude - 8388608 : magnitude;
        }
        default: {
            int32_t value = high * 256 + low;
            return value >= 0x8000 ? value - 65536 : value;
        }
    }
}

}  // namespace velkantor::acquisition
