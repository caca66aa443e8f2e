#include "acquisition/board_driver.h"

#include "acquisition/zeda_driver.h"
#include "config/settings.h"

namespace velkantor::acquisition {

std::unique_ptr<BoardDriver> make_board_driver(int16_t ad_type) {
    if (config::is_zeda(ad_type)) return std::make_unique<ZedaDriver>(zeda_model(ad_type));
    return nullptr;
}

}  // namespace velkantor::acquisition
