// The conversation with a ZEDA board before it is started: version, identity, clock
// trimming, registration and the type the firmware says the board is.
#include <cctype>

#include "acquisition/station.h"
#include "acquisition/zeda_driver.h"
#include "config/rates.h"
#include "runtime/firmware.h"
#include "text/number_text.h"
#include "timekeeping/board_clock.h"

namespace velkantor::acquisition {

namespace {

constexpr const char* kCardNotFound =
    "A/D card not found\r\nCheck your COM setting from com1 to com16\r\nand the serial cable "
    "or link.\r\n";
constexpr const char* kCrLf = "\r\n";

bool is_eight_hex_digits(const std::string& text) {
    if (text.size() != 8) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// The reply time-outs are durations: a PC clock set meanwhile must not lengthen or cut them.
double monotonic_now(const Station& station) {
    return station.clock().monotonic();
}

// The notice of a firmware that says the board is another type than the one selected.
std::string type_notice(int16_t ad_type) {
    std::string what;
    std::string changed;
    switch (ad_type) {
        case config::kZeda10:
            what = "16 bit data board.";
            break;
        case config::kZeda18:
            what = "18 bit data board.";
            changed = "A/D interface type changed to ZEDA18\r\n";
            break;
        case config::kZeda20:
            what = "24 bit data board.";
            changed = "A/D interface type changed to ZEDA20\r\n";
            break;
        default:
            what = "16 channel board.";
            changed = "A/D interface type changed to ZEDA30\r\n";
            break;
    }
    return "The A/D board connected is a " + what + kCrLf + changed +
           "Remember to check and SAVE this setting." + kCrLf;
}

}  // namespace

namespace zeda {

VersionVerdict judge_version(const std::string& version, int16_t selected_type,
                             bool no_version_warn, const std::string& baud) {
    const runtime::Firmware& row = runtime::firmware(runtime::firmware_number(version));
    switch (row.kind) {
        case runtime::Firmware::Kind::test:
            return {"ZEDA x.xx at " + baud, -1, ""};
        case runtime::Firmware::Kind::obsolete: {
            VersionVerdict verdict{std::string(row.version), -1, ""};
            if (!no_version_warn) {
                verdict.notice = "A/D board version is " + version + " it is obsolete." + kCrLf +
                                 "Could not support important features." + kCrLf +
                                 "Advice: Update your A/D card firmware returning " + kCrLf +
                                 "the AT90S2313 chip to the manufacturer." + kCrLf +
                                 "VELKANTOR will attempt to startup anyway..." + kCrLf;
            }
            return verdict;
        }
        case runtime::Firmware::Kind::board: {
            VersionVerdict verdict{std::string(row.version), row.ad_type, ""};
            if (selected_type != row.ad_type) {
                verdict.notice = type_notice(row.ad_type);
            }
            return verdict;
        }
        case runtime::Firmware::Kind::unknown:
            break;
    }
    VersionVerdict verdict{"1.xx", -1, ""};
    if (!no_version_warn) {
        double number =
            text::leading_number(version.size() > 2 ? version.substr(2) : "").value_or(0);
        if (number > 1.4) {
            verdict.notice = "A/D board version is " + version + " it is unknow" + kCrLf +
                             "but seems to be a new version." + kCrLf +
                             "Advice: Update your Velkantor datalogging software "
                             "in order to meet the new requirements of this A/D version.";
        } else {
            verdict.notice = "A/D board version is " + version + " it is unknow." + kCrLf +
                             "Could not support important features." + kCrLf +
                             "Advice: Update your A/D card firmware returning "
                             "the AT90S2313 chip to the manufacturer.";
        }
    }
    return verdict;
}

}  // namespace zeda

std::optional<std::string> ZedaDriver::ComPortOpen(Station& station, int mode) {
    auto& port = station.port();
    const auto& general = station.settings().general;
    if (port.is_open()) port.close();
    port.set_port_number(general.comm_port);
    port.set_input_length(1);
    port.set_input_mode(platform::InputMode::binary);
    port.set_line_settings(std::string(config::baud_text(general.baud_index)) + ",n,8,1");
    if (mode >= 1) {
        if (!station.open_port()) return std::nullopt;
        return std::string("V0000");
    }
    port.discard_input();
    if (!station.open_port()) return std::nullopt;
    station.view().set_busy(true);
    station.ProgressMarker = 3010;

    std::string reply;
    bool accepted = false;
    auto collect_until = [&](double deadline) {
        for (;;) {
            while (!accepted && port.bytes_waiting() > 0) {
                std::string byte = port.read();
                if (byte.empty()) break;
                reply += byte;
                if (reply.size() > 2) {
                    auto v = reply.find('V');
                    if (v != std::string::npos) reply.erase(0, v);
                }
                // Line noise without a "V" must not grow the reply without end.
                if (reply.size() > 64) reply.erase(0, reply.size() - 64);
                accepted = reply.size() == 4 && reply[0] == 'V';
            }
            double now = monotonic_now(station);
            if (accepted || now >= deadline) return;
            station.wait_for_input(deadline - now);
        }
    };
    for (int request = 1; request <= 4 && !accepted; ++request) {
        station.send(zeda::kWake);
        port.discard_input();
        station.send(zeda::kStop);
        station.send(zeda::kVersionRequest);
        double sent_at = monotonic_now(station);
        // The fourth request ends the collecting: what has arrived by then is the answer.
        collect_until(request < 4 ? sent_at + 0.5 : sent_at);
    }
    station.view().set_busy(false);
    return accepted ? reply : std::string();
}

std::optional<uint8_t> ZedaDriver::read_memory(Station& station, int address) {
    auto& port = station.port();
    station.send(zeda::memory_read(address));
    double deadline = monotonic_now(station) + 2;
    bool after_marker = false;
    for (;;) {
        while (port.bytes_waiting() > 0) {
            std::string byte = port.read();
            if (byte.empty()) break;
            auto value = static_cast<uint8_t>(byte[0]);
            if (after_marker) return value;
            after_marker = value == 0x86;
        }
        double now = monotonic_now(station);
        if (now > deadline) return std::nullopt;
        station.wait_for_input(deadline - now + 0.001);
    }
}

std::string ZedaDriver::ReadBoardIdentity(Station& station, int mode, std::string* serial) {
    const auto& general = station.settings().general;
    auto reply = ComPortOpen(station, 0);
    if (!reply) return {};
    if (reply->empty()) {
        station.AppendEventLog("A/D card not found at startup check. Comm" +
                               std::to_string(general.comm_port) + " " +
                               std::string(config::baud_text(general.baud_index)));
        station.port().close();
        return {};
    }
    station.send(zeda::kStop);
    station.WaitSeconds(0.5);
    station.port().discard_input();
    std::string trim;
    for (int address = 1; address <= 4; ++address) {
        auto value = read_memory(station, address);
        if (!value) return {};
        trim += text::hex2(*value);
    }
    if (mode == 1 && serial) {
        serial->clear();
        for (int address = 16; address <= 19; ++address) {
            auto value = read_memory(station, address);
            if (!value) {
                serial->clear();
                continue;
            }
            *serial += text::hex2(*value);
        }
    }
    return trim;
}

bool ZedaDriver::WriteClockTrim(Station& station, const std::array<uint8_t, 4>& trim) {
    auto reply = ComPortOpen(station, 0);
    if (!reply) return false;
    if (reply->empty()) {
        station.op().message("Error", "A/D card not found.", platform::MessageIcon::critical);
        station.port().close();
        return false;
    }
    station.send(zeda::trim_write(trim));
    std::string expected;
    for (uint8_t b : trim) expected += text::hex2(b);
    return ReadBoardIdentity(station, 0) == expected;
}

// Identity, clock trimming and registration of the board. False: the board was not found.
bool ZedaDriver::check_identity(Station& station) {
    auto& general = station.settings().general;
    const std::string baud(config::baud_text(general.baud_index));
    std::string status = "VELKANTOR start  ";
    station.view().set_status_text(status);
    const std::string registered = general.board_serial;
    std::string board_trim;
    std::string board_serial;
    for (int attempt = 0; attempt < 4; ++attempt) {
        status += ":";
        station.view().set_status_text(status);
        board_trim = ReadBoardIdentity(station, 1, &board_serial);
        if (board_trim.size() == 8 && board_serial.size() == 8) break;
    }
    if (board_trim.size() != 8 || board_serial.size() != 8) {
        station.AppendEventLog("Board not correctly initialized; Com" +
                               std::to_string(general.comm_port) + " " + baud +
                               " START continue...");
        station.op().warn(kCardNotFound);
        return false;
    }

    bool corrected = false;
    if (is_eight_hex_digits(general.clock_trim_hex) && general.clock_trim_hex != board_trim &&
        board_serial == registered) {
        station.AppendEventLog("Clock trimming found altered (" + board_trim + ").");
        std::array<uint8_t, 4> trim{};
        for (size_t i = 0; i < 4; ++i) {
            trim[i] = static_cast<uint8_t>(
                std::stoi(general.clock_trim_hex.substr(i * 2, 2), nullptr, 16));
        }
        const char* mark = "*";
        if (WriteClockTrim(station, trim)) {
            mark = "-";
        } else if (WriteClockTrim(station, trim)) {
            mark = "+";
        }
        if (*mark == '*') {
            station.AppendEventLog("Problem with clock trimming correction. Check your system.");
        } else {
            station.AppendEventLog("Clock trimming corrected to: " + general.clock_trim_hex);
        }
        status += mark;
        station.view().set_status_text(status);
        corrected = true;
    }
    if (!corrected) {
        if (!is_eight_hex_digits(general.clock_trim_hex) || !is_eight_hex_digits(registered)) {
            station.view().set_status_text("VELKANTOR A/D check...");
            general.clock_trim_hex = board_trim;
            general.board_serial = board_serial;
            station.AppendEventLog("Startup INI inizialization. c/t:" + general.clock_trim_hex +
                                   " s/n:" + board_serial.substr(0, 4));
            station.op().message("VELKANTOR",
                                 "Remember to check the SETUP\r\nand Apply and SAVE parameter.",
                                 platform::MessageIcon::information);
            return true;
        }
        if (board_serial != registered) {
            bool confirm = station.op().ask_yes_no(
                "Serial number mismatch",
                "The connected a/d board is not registered as operative a/d board.\r\n"
                "Do you want to confirm it as operative a/d board?",
                false);
            if (confirm) {
                general.clock_trim_hex = board_trim;
                general.board_serial = board_serial;
                station.AppendEventLog("s/n:" + board_serial.substr(0, 4) + " is now operative");
                station.op().message("New a/d board",
                                     "Using SETUP to adjust the clock calibration, \r\nthen Apply "
                                     "and SAVE parameter.",
                                     platform::MessageIcon::information);
                return true;
            }
        }
    }
    general.board_serial = registered;
    return true;
}

bool ZedaDriver::start_up(Station& station) {
    auto& general = station.settings().general;
    auto& run = station.run();
    const std::string baud(config::baud_text(general.baud_index));
    std::optional<std::string> reply;
    if (general.blind_start != 0) {
        reply = ComPortOpen(station, 1);
        if (!reply) return false;
        if (general.datekeeping != 0) {
            switch (general.ad_type) {
                case config::kZeda10:
                    reply = "V162";
                    break;
                case config::kZeda18:
                    reply = "V181";
                    break;
                case config::kZeda20:
                    reply = "V200";
                    break;
                case config::kZeda30:
                    reply = "V300";
                    break;
                default:
                    break;
            }
        }
    } else {
        if (general.ad_type != config::kZeda30 && !check_identity(station)) return false;
        reply = ComPortOpen(station, 0);
        if (!reply) return false;
        station.AppendEventLog("Found board version: " + *reply + " Com" +
                               std::to_string(general.comm_port) + " " + baud);
    }
    station.AppendEventLog("START with ZEDA " + *reply);
    if (reply->empty()) {
        station.op().warn(kCardNotFound);
        return false;
    }

    std::string version = zeda::format_version(*reply);
    auto verdict =
        zeda::judge_version(version, general.ad_type, general.no_version_warn != 0, baud);
    run.firmware_version = verdict.firmware_version;
    if (!verdict.notice.empty()) station.op().warn(verdict.notice);
    if (verdict.ad_type >= 0 && verdict.ad_type != general.ad_type) {
        general.ad_type = verdict.ad_type;
        model_ = &zeda_model(general.ad_type);
    }

    // The board must be what the settings say it is.
    const char* mismatch = nullptr;
    const int16_t firmware_type = runtime::firmware(run.firmware_version).ad_type;
    if (general.ad_type == config::kZeda18 && firmware_type != config::kZeda18) {
        mismatch = "18";
    } else if (general.ad_type == config::kZeda20 && firmware_type != config::kZeda20) {
        mismatch = "24";
    }
    if (mismatch) {
        station.op().warn(std::string("The A/D interface is not a ") + mismatch +
                          " bit data\r\nas selected in SETUP - A/D Interface.\r\nCheck the board "
                          "type.\r\n");
        return false;
    }

    run.board_description = "ZEDA " + version;
    station.view().set_status_text(run.board_description);
    if (general.set_board_time_at_start != 0) {
        station.AppendEventLog("Time adjusted at startup to pc time: " +
                               text::format_datetime(station.clock().now()));
        station.board_clock().SetBoardClockFromPc();
    }
    return true;
}

}  // namespace velkantor::acquisition
