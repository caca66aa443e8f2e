#include "text_instrument_board.h"

#include <algorithm>

namespace velkantor::sim {

namespace {

constexpr size_t kCommandLength = 4;

}  // namespace

std::string encode_reading(const TextInstrumentModel& model, int32_t value) {
    int64_t sent = static_cast<int64_t>(value) + model.value_offset;
    std::string digits = std::to_string(sent < 0 ? -sent : sent);
    if (digits.size() < static_cast<size_t>(model.digits)) {
        digits.insert(0, static_cast<size_t>(model.digits) - digits.size(), '0');
    }
    return (sent < 0 ? "-" : "") + digits + std::string(model.reading_end);
}

TextInstrumentBoard::TextInstrumentBoard(const TextInstrumentModel& model,
                                         const BoardOptions& options)
    : InstrumentBoard(options, 16, model.line_bytes_per_second),
      model_(model),
      rate_(options.reading_rate > 0 ? options.reading_rate : model.readings_per_second) {
    if (model_.streams_at_power_up) start_streaming(rate_, options.pc_start);
}

void TextInstrumentBoard::hear(std::string_view bytes, double now) {
    if (model_.streams_at_power_up) return;  // it has no commands
    for (char c : bytes) {
        heard_ += c;
        if (heard_.size() > kCommandLength) heard_.erase(0, heard_.size() - kCommandLength);
        if (heard_ == "G0T1") {
            if (!streaming()) start_streaming(rate_, now);
        } else if (heard_ == "STBY") {
            stop_streaming();
        }
        // "DONE" ends the setup; the instrument goes on as it is.
    }
}

std::string TextInstrumentBoard::unit(int64_t tick) {
    return encode_reading(model_, value(0, tick));
}

}  // namespace velkantor::sim
