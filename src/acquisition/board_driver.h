#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velkantor::acquisition {

class Station;

// One interface family. The run calls these at fixed points; nothing else in the run knows
// which board is attached.
class BoardDriver {
public:
    virtual ~BoardDriver() = default;

    // Start-up: open the port and bring the board to where the start command can be sent
    // (for the ZEDA boards, the handshake). False: refused; the driver has shown its message
    // and closed the port, the run ends through the common exit.
    virtual bool start_up(Station& station) = 0;
    // The board part of the start/restart block: rate checks and start commands. False:
    // refused as above.
    virtual bool send_start(Station& station) = 0;
    // The STOP command's bytes (may be empty).
    virtual std::string stop_command() const = 0;
    // Main loop step 4: read bytes into the station's frame buffer; afterwards `last_byte`
    // of 0xF0 or above means a frame is complete.
    virtual void gather(Station& station) = 0;
    // Value of a data frame whose last byte is `terminator`.
    virtual int32_t decode(std::string_view frame, uint8_t terminator) const = 0;
    // Instruments without a clock of their own: their seconds are PC seconds and a sample's
    // place in its second comes from the measured rate, not the configured one.
    virtual bool paced_by_pc_clock() const { return false; }
    // The board time is the PC clock's (no clock of its own on the instrument).
    virtual bool time_from_pc_clock() const { return false; }
    // For an instrument whose seconds are the PC's: the PC second (epoch seconds, local civil
    // time) of the last time frame it made, which dates that frame. Others: none.
    virtual std::optional<int64_t> reading_second() const { return std::nullopt; }

    // The bytes of the board's clock and memory commands (see runtime::BoardCommands); empty for a
    // board that has no such command.
    virtual std::string set_time_command(int /*hours*/, int /*minutes*/, int /*seconds*/) const {
        return {};
    }
    virtual std::string set_date_command(int /*year*/, int /*month*/, int /*day*/) const {
        return {};
    }
    virtual std::string set_time_zone_command(int /*gmt_offset*/) const { return {}; }
    virtual std::string trim_write_command(const std::array<uint8_t, 4>& /*record*/) const {
        return {};
    }
    virtual std::string memory_read_command(int /*address*/) const { return {}; }
};

// The driver of an interface type (`ad_type`); nullptr for a type without a driver.
std::unique_ptr<BoardDriver> make_board_driver(int16_t ad_type);

}  // namespace velkantor::acquisition
