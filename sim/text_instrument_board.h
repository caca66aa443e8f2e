#pragma once

#include <string>
#include <string_view>

#include "instrument_board.h"

namespace velkantor::sim {

// What tells the two instruments that send text apart.
struct TextInstrumentModel {
    std::string_view model;  // name for make_board: "INFILTEC"
    int readings_per_second;
    // The number sent is the sample plus this; it is written with at least this many
    // digits (leading zeros), then `reading_end` follows.
    int32_t value_offset;
    int digits;
    std::string_view reading_end;
    // Sends from power-up; otherwise waits in standby for "G0T1".
    bool streams_at_power_up;
    // The line's speed: 9600 or 19200 baud, ten bits a character.
    double line_bytes_per_second;
};

// A reading as the instrument sends it.
std::string encode_reading(const TextInstrumentModel& model, int32_t value);

// INFILTEC (a signed number and CR, streaming from power-up) and N.E. LX1500 (the sample +
// 32768 in six digits and "S"; "G0T1" starts it, "STBY" puts it in standby, "DONE" closes
// the setup). One channel, 16 bits.
class TextInstrumentBoard : public InstrumentBoard {
public:
    TextInstrumentBoard(const TextInstrumentModel& model, const BoardOptions& options);

private:
    void hear(std::string_view bytes, double now) override;
    std::string unit(int64_t tick) override;

    const TextInstrumentModel& model_;
    int rate_;
    std::string heard_;  // the last characters heard, for the four-letter commands
};

}  // namespace velkantor::sim
