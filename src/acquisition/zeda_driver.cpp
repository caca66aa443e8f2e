#include "acquisition/zeda_driver.h"

#include "acquisition/station.h"
#include "config/rates.h"
#include "runtime/firmware.h"

namespace velkantor::acquisition {

namespace {

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

}  // namespace

const ZedaModel& zeda_model(int16_t ad_type) {
    for (const auto& model : kModels) {
        if (model.ad_type == ad_type) return model;
    }
    return kModels[1];
}

namespace zeda {

const std::string kWake = bytes({0x0F, 0xF0, 0x8A, 0x28, 0xF0, 0x28, 0x8A, 0x0F, 0x0F, 0xF0, 0x8A,
                                 0x28, 0xF0, 0x28, 0x8A, 0x0F});
const std::string kStop = bytes({0x84, 0, 0, 0, 0, 0});
const std::string kVersionRequest = bytes({0x81, 0, 0, 0, 0, 0});

std::string memory_read(int address) {
    return bytes({0x86, address & 0xFF, 0, 0, 0, 0});
}

std::string format_version(const std::string& reply) {
    if (reply.size() < 2) return reply;
    std::string last_two = reply.size() >= 4 ? reply.substr(reply.size() - 2) : "";
    return std::string(1, reply[0]) + "." + reply[1] + "." + last_two;
}

RateCode rate_code(const std::string& board_description, int16_t ad_type, int channel, int rate) {
    if (auto code = runtime::sampling_firmware(board_description, ad_type).rate_code(rate)) {
        return {*code, ""};
    }
    // Sent anyway, the code would switch the channel off (0) or, cut to one byte, run it
    // at another rate than every file says.
    std::string firmware = board_description;
    if (firmware.rfind("ZEDA ", 0) == 0) firmware.erase(0, 5);
    return {0, "Channel " + std::to_string(channel + 1) + " it's set to " + std::to_string(rate) +
                   " SPS\r\nThis value is not allowed with the A/D board firmware " + firmware +
                   "."};
}

std::string trim_write(const std::array<uint8_t, 4>& trim) {
    return bytes({0x85, trim[0], trim[1], trim[2], trim[3], 0});
}

std::string set_time(int hours, int minutes, int seconds) {
    return bytes({0x83, seconds, minutes, hours, 0, 0});
}

std::string set_time_zone(int gmt_offset) {
    int b = static_cast<uint8_t>(static_cast<int8_t>(gmt_offset));
    return bytes({0x82, b, b, b, b, b});
}

std::string set_date(int year, int month, int day) {
    return bytes({0x87, (year - 2000) & 0xFF, month, day, 0, 0});
}

}  // namespace zeda

bool ZedaDriver::send_start(Station& station) {
    const auto& run = station.run();
    auto rate = [&](int c) {
        return static_cast<int>(run.configured_rate[static_cast<size_t>(c)]);
    };
    // Boards with one converter clock run every channel at the same rate.
    if (model_->ad_type == config::kZeda20 || model_->ad_type == config::kZeda30) {
        int last = model_->ad_type == config::kZeda20 ? 2 : 3;
        int common = 0;
        for (int c = 0; c <= last; ++c) {
            if (rate(c) == 0) continue;
            if (common != 0 && rate(c) != common) {
                station.op().message(
                    "Warning!",
                    model_->ad_type == config::kZeda20
                        ? "The ZEDA20 board must work with same SPS on all channels"
                        : "The ZEDA30 board must work with same SPS on all channels",
                    platform::MessageIcon::warning);
                return false;
            }
            common = rate(c);
        }
    }
    const std::string& description = run.board_description;
    // Every channel's code is known before anything is sent: a refused start leaves the
    // board as it was.
    auto code_of = [&](int channel, int r) -> std::optional<char> {
        auto code = zeda::rate_code(description, model_->ad_type, channel, r);
        if (!code.refusal.empty()) {
            station.op().message("Error", code.refusal, platform::MessageIcon::critical);
            return std::nullopt;
        }
        return static_cast<char>(code.code);
    };
    std::string command = "DUMMY";
    command += static_cast<char>(0x84);
    if (model_->channel_mask_start) {
        // One rate for all channels: the second channel's, or the first channel on when the
        // second is off.
        int channel = 1;
        for (int c = 0; c < 4 && rate(1) == 0; ++c) {
            if (rate(c) == 0) continue;
            channel = c;
            break;
        }
        int mask = 0;
        for (int c = 0; c < 4; ++c) {
            if (station.settings().channels[static_cast<size_t>(c)].sps_index > 0) mask |= 1 << c;
        }
        auto code = code_of(channel, rate(channel));
        if (!code) return false;
        command += *code;
        command += static_cast<char>(mask & 0xFF);
        command += static_cast<char>((mask >> 8) & 0xFF);
        command += std::string(2, '\0');
    } else {
        for (int c = 0; c < 4; ++c) {
            auto code = code_of(c, rate(c));
            if (!code) return false;
            command += *code;
        }
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
            station.count_bad_frame();
            run.frame_buffer.clear();
            return;
        }
    }
    if (run.last_byte < 0xF0) return;
    auto type = static_cast<uint8_t>(run.frame_buffer.front());
    if (type >= 0x82 && type <= 0x85 &&
        run.frame_buffer.size() != static_cast<size_t>(model_->data_frame_length)) {
        station.count_bad_frame();
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
    switch (model_->sample_bits) {
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
