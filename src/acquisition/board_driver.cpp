#include "acquisition/board_driver.h"

#include "acquisition/dataq_driver.h"
#include "acquisition/text_instrument_driver.h"
#include "acquisition/zeda_driver.h"
#include "config/settings.h"

namespace velkantor::acquisition {

std::unique_ptr<BoardDriver> make_board_driver(int16_t ad_type) {
    if (config::is_zeda(ad_type)) return std::make_unique<ZedaDriver>(zeda_model(ad_type));
    if (ad_type == config::kInfiltec)
        return std::make_unique<TextInstrumentDriver>(infiltec_instrument());
    if (ad_type == config::kLx1500)
        return std::make_unique<TextInstrumentDriver>(lx1500_instrument());
    if (ad_type == config::kDataqDi194rs) return std::make_unique<DataqDriver>();
    return nullptr;
}

}  // namespace velkantor::acquisition
