#pragma once

#include <span>
#include <string>
#include <string_view>

#include "acquisition/instrument_driver.h"

namespace velkantor::acquisition {

// A command of a start script, sent after a pause.
struct ScriptStep {
    double wait_seconds;
    std::string_view command;
};

// What tells the two instruments that send their readings as text apart.
struct TextInstrument {
    InstrumentLine line;
    std::string_view reading_ends;  // any of these characters ends a reading
    // Readings of fewer characters (the end included) are dropped.
    size_t shortest_reading;
    // Subtracted from the number read: an instrument that counts from 0 sends its zero as
    // this.
    int32_t value_offset;
    std::string_view stop_command;
    // Sent at each start; when there is one, the input is discarded after a last pause.
    std::span<const ScriptStep> start_script;
    // Channel 0's rate is the instrument's own, not the rate selector's (0: the selector's).
    int fixed_rate;
};

// INFILTEC (ASCII numbers ended by CR) and N.E. LX1500 (numbers ended by "S" or "A"): one
// channel, paced by the PC clock.
class TextInstrumentDriver : public InstrumentDriver {
public:
    explicit TextInstrumentDriver(const TextInstrument& model)
        : InstrumentDriver(model.line), model_(model) {}

    bool send_start(Station& station) override;
    std::string stop_command() const override { return std::string(model_.stop_command); }
    void gather(Station& station) override;
    bool paced_by_pc_clock() const override { return true; }

    // Readings counted in the last whole PC second (the `true_sps` figure).
    int readings_per_second() const { return shown_rate_; }

private:
    const TextInstrument& model_;
    std::string line_buffer_;
    int counted_ = 0;
    int shown_rate_ = 0;
    bool new_second_ = false;
    // Characters read in the current reading second, and the instrument's characters per
    // second as whole seconds counted them (0: none counted yet).
    size_t characters_ = 0;
    double characters_per_second_ = 0;
    // The first readings of the run and their characters.
    int readings_ = 0;
    size_t reading_characters_ = 0;
};

const TextInstrument& infiltec_instrument();
const TextInstrument& lx1500_instrument();

}  // namespace velkantor::acquisition
