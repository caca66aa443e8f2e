#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velkantor::sim {

// A command the station sent to a ZEDA board.
struct ZedaCommand {
    enum class Kind {
        version,      // 0x81 0 0 0 0 0
        time_zone,    // 0x82 tz tz tz tz tz          args[0] = tz
        set_time,     // 0x83 ss mm hh 0 0            args = ss, mm, hh
        stop,         // 0x84 0 0 0 0 0
        trim_write,   // 0x85 b1 b2 b3 b4 0           args = b1..b4
        memory_read,  // 0x86 address 0 0 0 0         args[0] = address
        set_date,     // 0x87 yy mm dd 0 0            args = year - 2000, month, day
        start,        // "DUMMY" 0x84 c0 c1 c2 c3 0   args = rate codes of channels 0..3;
                      // the 16-channel form "DUMMY" 0x84 code, mask low, mask high, 0, 0
                      // fits the same bytes: args = code, mask low, mask high, 0
    };
    Kind kind;
    std::array<uint8_t, 4> args{};

    friend bool operator==(const ZedaCommand&, const ZedaCommand&) = default;
};

// Turns the station's byte stream into commands. A line picks up noise, and the station
// sends a wake pattern that is no command at all, so anything that cannot be the start of a
// well-formed command is dropped one byte at a time and the bytes after it are looked at
// again: a real command right behind some noise is never lost.
class ZedaCommandParser {
public:
    std::vector<ZedaCommand> feed(std::string_view bytes);

private:
    enum class Fit { partial, complete, invalid };
    static Fit fit(const std::string& candidate);
    static ZedaCommand decode(const std::string& command);

    std::string pending_;  // a command begun, waiting for its remaining bytes
};

}  // namespace velkantor::sim
