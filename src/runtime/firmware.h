#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkantor::runtime {

// What a ZEDA firmware can do. Every question about a firmware (which board it is, what its
// time frames carry, how it reads a rate code, whether its clock can be trimmed) is answered
// by its row, so a new firmware is one new row.
struct Firmware {
    // The version as "1.62"; the empty text for a version no row knows.
    std::string_view version;

    enum class Kind {
        test,      // 0.00 and 0.01: the boards' test firmware, named by the line's speed
        obsolete,  // works, with a notice that important features are missing
        board,     // a current firmware of the board type `ad_type`
        unknown,
    };
    Kind kind = Kind::unknown;
    int16_t ad_type = -1;  // the board the firmware runs on (-1: it does not say)

    // Board clock.
    bool dated_time_frames = false;      // the 9-byte time frame with year, month, day
    bool date_trusted = false;           // that date is the board's date (1.63's is not)
    bool date_late_at_midnight = false;  // the frame of 00:00:00 still carries the day before
    bool date_sets_pc_date = false;      // setting the PC from the board sets its date as well
    bool trimmable = false;              // the clock trimming commands are understood

    // Sampling: the board's clock makes `rate_ticks` ticks a second and a channel at rate
    // code c samples every c ticks (code 0: the channel is off). The oldest firmware counts
    // a rate of 200 as 100.
    int rate_ticks = 100;
    bool rate_200_as_100 = false;

    // The rate code for a channel at `rate` samples per second (0: off); nullopt when the
    // code cannot carry the rate: the division leaves 0, which would switch the channel
    // off, or more than the command's byte holds.
    std::optional<int> rate_code(int rate) const;
    // The samples per second a rate code gives (0 for code 0).
    double rate_of_code(int code) const;
};

// The row of a version ("1.62"); versions no row knows share the row of the unknown
// firmware ("1.xx", the test firmware's "ZEDA x.xx at ..." texts and the instruments'
// empty version among them).
const Firmware& firmware(std::string_view version);

// The row whose sampling an announced version follows: its own, or for a version no row
// knows the row of its series (the same first two digits: "1.65" samples as "1.62" does),
// or else the unknown firmware's. The version may be given as "1.62", "V.1.62" or as the
// board's description "ZEDA V.1.62".
const Firmware& sampling_firmware(std::string_view version);

// The row whose sampling a board of type `ad_type` follows when it announced `version`. A
// version that names no current firmware (the test firmware's "V.0.00", which a blind start
// also gives, or one no row knows) says nothing of the board's clock; a board type whose
// firmwares all sample alike is then sampled as its type, not by the oldest boards' rule.
const Firmware& sampling_firmware(std::string_view version, int16_t ad_type);

// The version number of a board's reply ("V181"), of a formatted version ("V.1.81") or of a
// board description ("ZEDA V.1.81"): "1.81". Other texts come back unchanged.
std::string firmware_number(std::string_view text);

}  // namespace velkantor::runtime
