#include <array>

#include "board_model.h"
#include "dataq_board.h"
#include "text_instrument_board.h"
#include "zeda_board.h"

namespace velkantor::sim {

namespace {

// The ZEDA boards differ only in these rows; a new firmware is a new row. The firmware
// decides the sampling clock and the time frame layout.
const std::array kZedaFamilies = {
    ZedaFamily{.model = "ZEDA10", .sample_bits = 16, .data_frame_length = 4}.with_firmware("V162"),
    ZedaFamily{.model = "ZEDA18", .sample_bits = 18, .data_frame_length = 4}.with_firmware("V181"),
    ZedaFamily{.model = "ZEDA20", .sample_bits = 24, .data_frame_length = 5}.with_firmware("V200"),
    ZedaFamily{.model = "ZEDA30", .sample_bits = 16, .data_frame_length = 4, .masked_start = true}
        .with_firmware("V300"),
};

constexpr std::array kTextInstruments = {
    TextInstrumentModel{.model = "INFILTEC",
                        .readings_per_second = 10,
                        .value_offset = 0,
                        .digits = 1,
                        .reading_end = "\r",
                        .streams_at_power_up = true,
                        .line_bytes_per_second = 960},
    TextInstrumentModel{.model = "LX1500",
                        .readings_per_second = 50,
                        .value_offset = 32768,
                        .digits = 6,
                        .reading_end = "S",
                        .streams_at_power_up = false,
                        .line_bytes_per_second = 1920},
};
constexpr std::string_view kDataq = "DATAQ";

}  // namespace

std::unique_ptr<BoardModel> make_board(const BoardOptions& options) {
    for (const ZedaFamily& family : kZedaFamilies) {
        if (family.model == options.model) return std::make_unique<ZedaBoard>(family, options);
    }
    for (const TextInstrumentModel& model : kTextInstruments) {
        if (model.model == options.model)
            return std::make_unique<TextInstrumentBoard>(model, options);
    }
    if (options.model == kDataq) return std::make_unique<DataqBoard>(options);
    return nullptr;
}

std::vector<std::string> model_names() {
    std::vector<std::string> names;
    for (const ZedaFamily& family : kZedaFamilies) names.emplace_back(family.model);
    for (const TextInstrumentModel& model : kTextInstruments) names.emplace_back(model.model);
    names.emplace_back(kDataq);
    return names;
}

}  // namespace velkantor::sim
