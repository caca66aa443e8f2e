#include "acquisition/board_calibration.h"

#include "acquisition/station.h"
#include "acquisition/zeda_driver.h"

namespace velkantor::acquisition {

namespace {

void close_port(Station& station) {
    if (station.port().is_open()) station.port().close();
}

}  // namespace

CalibrationRead ReadBoardCalibration(Station& station) {
    CalibrationRead result;
    ZedaDriver driver(zeda_model(station.settings().general.ad_type));
    try {
        // Opened once without a question first: a port that cannot be opened has had its
        // message, a silent board has not.
        if (!driver.ComPortOpen(station, 1)) return result;
        result.port_opened = true;
        std::string serial;
        result.trim = driver.ReadBoardIdentity(station, 1, &serial);
        if (result.trim.size() != 8) result.trim.clear();
        if (serial.size() == 8) result.serial = serial;
    } catch (const runtime::StepFailure&) {
        // A port that fails while talking is a board that did not answer; a button of a
        // window must not end the program.
        result.trim.clear();
        result.serial.clear();
    }
    close_port(station);
    return result;
}

bool WriteBoardCalibration(Station& station, const std::array<uint8_t, 4>& record) {
    ZedaDriver driver(zeda_model(station.settings().general.ad_type));
    bool written = false;
    try {
        written = driver.WriteClockTrim(station, record);
    } catch (const runtime::StepFailure&) {
        written = false;
    }
    close_port(station);
    return written;
}

}  // namespace velkantor::acquisition
