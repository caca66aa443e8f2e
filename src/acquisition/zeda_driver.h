#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/board_driver.h"

namespace velkantor::acquisition {

// What tells the four ZEDA boards apart.
struct ZedaModel {
    int16_t ad_type;
    int data_frame_length;    // 5 for the 24-bit board, 4 for the others
    int sample_bits;          // 16, 18 or 24
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
// Rate code of channel `channel` (0..3) at `rate` samples per second for the board whose
// description is given ("ZEDA V.1.81") and whose type is `ad_type`, or, when the firmware's
// code cannot carry that rate, the refusal to show instead of starting.
struct RateCode {
    int code = 0;
    std::string refusal;  // empty: `code` is the channel's
};
RateCode rate_code(const std::string& board_description, int16_t ad_type, int channel, int rate);
std::string trim_write(const std::array<uint8_t, 4>& trim);
// The board clock commands.
std::string set_time(int hours, int minutes, int seconds);
std::string set_time_zone(int gmt_offset);
std::string set_date(int year, int month, int day);

// What a formatted version ("V.1.81") means: the firmware text used elsewhere, the type the
// board really is (-1: any), and the notice to show (empty: none).
struct VersionVerdict {
    std::string firmware_version;
    int16_t ad_type = -1;
    std::string notice;
};
VersionVerdict judge_version(const std::string& version, int16_t selected_type,
                             bool no_version_warn, const std::string& baud);
}  // namespace zeda

// The ZEDA family (ZEDA10, ZEDA18, ZEDA20, ZEDA30): one binary frame protocol, the board
// handshake, start commands with one rate code per channel.
class ZedaDriver : public BoardDriver {
public:
    explicit ZedaDriver(const ZedaModel& model) : model_(&model) {}

    bool start_up(Station& station) override;
    bool send_start(Station& station) override;
    std::string stop_command() const override { return zeda::kStop; }
    void gather(Station& station) override;
    int32_t decode(std::string_view frame, uint8_t terminator) const override;
    std::string set_time_command(int hours, int minutes, int seconds) const override {
        return zeda::set_time(hours, minutes, seconds);
    }
    std::string set_date_command(int year, int month, int day) const override {
        return zeda::set_date(year, month, day);
    }
    std::string set_time_zone_command(int gmt_offset) const override {
        return zeda::set_time_zone(gmt_offset);
    }
    std::string trim_write_command(const std::array<uint8_t, 4>& record) const override {
        return zeda::trim_write(record);
    }
    std::string memory_read_command(int address) const override {
        return zeda::memory_read(address);
    }

    // Opens the port; mode 0 asks the board its version (the raw reply, empty when none came),
    // mode 1 asks nothing and returns "V0000". nullopt: the port could not be opened.
    std::optional<std::string> ComPortOpen(Station& station, int mode);
    // The board's clock-trimming bytes as 8 hexadecimal digits (mode 1 also reads the serial
    // number into `serial`); empty when the board did not answer.
    std::string ReadBoardIdentity(Station& station, int mode, std::string* serial = nullptr);
    bool WriteClockTrim(Station& station, const std::array<uint8_t, 4>& trim);

private:
    // One byte of the board's memory; nullopt when no answer came within 2 s.
    std::optional<uint8_t> read_memory(Station& station, int address);
    bool check_identity(Station& station);

    const ZedaModel* model_;
};

}  // namespace velkantor::acquisition
