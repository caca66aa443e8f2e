#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velkantor::acquisition {

class Station;

// The hardware setup window's exchanges with an idle board: the port is opened for the
// exchange and closed after it, so that START finds it as it expects. Never during a run:
// the exchange stops the board and takes over its port.
struct CalibrationRead {
    // False: the port could not be opened (the station has said why).
    bool port_opened = false;
    std::string trim;    // the record as 8 hexadecimal digits; empty when the board was silent
    std::string serial;  // 8 hexadecimal digits; empty when it could not be read
};
CalibrationRead ReadBoardCalibration(Station& station);

// Writes the record and reads it back; true when the board holds it.
bool WriteBoardCalibration(Station& station, const std::array<uint8_t, 4>& record);

}  // namespace velkantor::acquisition
