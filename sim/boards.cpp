#include <array>

#include "board_model.h"
#include "zeda_board.h"

namespace velkantor::sim {

namespace {

// The ZEDA boards differ only in these rows; a new firmware is a new row.
constexpr std::array kZedaFamilies = {
    ZedaFamily{.model = "ZEDA18",
               .version = "V181",
               .sample_bits = 18,
               .data_frame_length = 4,
               .time_frame_length = 9,
               .rate_base = 200},
};

}  // namespace

std::unique_ptr<BoardModel> make_board(const BoardOptions& options) {
    for (const ZedaFamily& family : kZedaFamilies) {
        if (family.model == options.model) return std::make_unique<ZedaBoard>(family, options);
    }
    return nullptr;
}

std::vector<std::string> model_names() {
    std::vector<std::string> names;
    for (const ZedaFamily& family : kZedaFamilies) names.emplace_back(family.model);
    return names;
}

}  // namespace velkantor::sim
