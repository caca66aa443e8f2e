#pragma once

// What the ZEDA board tests need to talk to a simulated board and read what it sent, written
// out from the wire format rather than taken from the board, so that they check it.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/wire_text.h"
#include "text/date_time.h"

namespace velkantor::sim::zeda_test {

using velkantor::testing::bytes;

inline uint8_t u8(char c) {
    return static_cast<uint8_t>(c);
}

inline const std::string kVersionRequest = bytes({0x81, 0, 0, 0, 0, 0});
inline const std::string kStop = bytes({0x84, 0, 0, 0, 0, 0});
inline const std::string kWake = bytes({0x0F, 0xF0, 0x8A, 0x28, 0xF0, 0x28, 0x8A, 0x0F});

inline std::string start_command(int c0, int c1, int c2, int c3) {
    return "DUMMY" + bytes({0x84, c0, c1, c2, c3, 0});
}
// The 16-channel board's form: one code and a channel mask.
inline std::string masked_start_command(int code, int mask) {
    return "DUMMY" + bytes({0x84, code, mask & 0xFF, (mask >> 8) & 0xFF, 0, 0});
}
inline std::string memory_read(int address) {
    return bytes({0x86, address, 0, 0, 0, 0});
}
inline std::string set_time(int hours, int minutes, int seconds) {
    return bytes({0x83, seconds, minutes, hours, 0, 0});
}

// The station's view of the stream: frames end at a byte of 0xF0 or above.
inline std::vector<std::string> split_frames(const std::string& stream) {
    std::vector<std::string> frames;
    std::string frame;
    for (char c : stream) {
        frame.push_back(c);
        if (u8(c) >= 0xF0) {
            frames.push_back(frame);
            frame.clear();
        }
    }
    EXPECT_TRUE(frame.empty()) << "stream ends inside a frame";
    return frames;
}

// Decoding as the station does it, written out per sample width.
inline int32_t decode_data(const std::string& f, int sample_bits) {
    uint8_t t = u8(f.back());
    int32_t b0 = u8(f[1]) + 128 * (t & 1);
    int32_t b1 = u8(f[2]) + 128 * ((t >> 1) & 1);
    switch (sample_bits) {
        case 16: {
            int32_t v = b1 * 256 + b0;
            return v >= 0x8000 ? v - 65536 : v;
        }
        case 18: {
            int32_t magnitude = b1 * 256 + b0 + 65536 * ((t >> 2) & 1);
            return (t & 8) ? magnitude - 131072 : magnitude;
        }
        default: {
            int32_t magnitude = u8(f[3]) * 65536 + b1 * 256 + b0;
            return (t & 4) ? magnitude - 8388608 : magnitude;
        }
    }
}

// A time frame as the board must send it for board time `t`: 9 bytes with the date, or 6.
inline std::string time_frame(const text::DateTime& t, int status, size_t length = 9) {
    if (length == 6) return bytes({0x81, t.second, t.minute, t.hour, status, 0xF0});
    return bytes({0x81, t.year - 2000, t.month, t.day, t.second, t.minute, t.hour, status, 0xF0});
}

// Board epoch second and status of a 9-byte time frame.
struct TimeFrame {
    int64_t second;
    uint8_t status;
};
inline TimeFrame read_time_frame(const std::string& f) {
    text::DateTime t{2000 + u8(f[1]), u8(f[2]), u8(f[3]), u8(f[6]), u8(f[5]), u8(f[4]), 0};
    return {static_cast<int64_t>(text::to_epoch_seconds(t)), u8(f[7])};
}

inline std::vector<TimeFrame> time_frames(const std::string& stream) {
    std::vector<TimeFrame> out;
    for (const std::string& f : split_frames(stream)) {
        if (u8(f[0]) == 0x81) out.push_back(read_time_frame(f));
    }
    return out;
}

}  // namespace velkantor::sim::zeda_test
