#pragma once

#include <optional>
#include <string>

#include "acquisition/board_driver.h"

namespace velkantor::acquisition {

// What tells the four ZEDA boards apart.
struct ZedaModel {
    int16_t ad_type;
    int data_frame_length;  // 5 for the 24-bit board, 4 for the others
    int sample_bits;        // 16, 18 or 24
    bool channel_mask_start;  // the 16-channel board's start command
};

const ZedaModel& zeda_model(int16_t ad_type);

// Command frames of the ZEDA boards.
namespace zeda {
extern const std::string kWake;
extern const std::string kStop;
extern const std::string kVersionRequest;
std::string memory_read(int address);
// "V181" -> "V.1.81"
std::string format_version(const std::string& reply);
// Rate code of a channel for the board whose description is given.
int rate_code(const std::string& board_description, int rate);
}  // namespace zeda

// The ZEDA family (ZEDA10, ZEDA18, ZEDA20, ZEDA30): one binary frame protocol, the board
// handshake, start commands with one rate code per channel.
class ZedaDriver : public BoardDriver {
public:
    explicit ZedaDriver(const ZedaModel& model) : model_(model) {}

    bool start_up(Station& station) override;
    bool send_start(Station& station) override;
    std::string stop_command() const override { return zeda::kStop; }
    void gather(Station& station) override;
    int32_t decode(std::string_view frame, uint8_t terminator) const override;

    // Opens the port; mode 0 asks the board its version (the raw reply, empty when none came),
    // mode 1 asks nothing and returns "V0000". nullopt: the port could not be opened.
    std::optional<std::string> ComPortOpen(Station& station, int mode);

private:
    const ZedaModel& model_;
};

}  // namespace velkantor::acquisition
