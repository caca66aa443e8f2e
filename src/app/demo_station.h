#pragma once

#include <string>

#include "platform/file_system.h"

namespace velkantor::app {

// The serial number of the simulated board that `--simulate` starts: the demo station has it
// registered, so the board is taken without the new-board question.
inline constexpr const char* kDemoBoardSerial = "5EED0001";
// Its clock trimming (0, as a board that was never trimmed), registered with the serial, so
// that the first start does not "correct" the board's trimming to the registration's blank.
inline constexpr const char* kDemoBoardTrim = "00000001";

// The demo station's folder: ~/velkantor-demo for the ZEDA18, ~/velkantor-demo-<model> for
// the other simulated boards.
std::string demo_station_folder(const std::string& model);
// The demo station's network.ini: the page, the SeedLink server and the miniSEED archive,
// listening on the loopback address only, so that a first run shows them without opening
// anything to the network.
extern const char* const kDemoNetworkIni;
// Writes settings that show the program at work, when the folder has none yet: four
// channels at 100 samples per second with recording and datalog on, drums on, a board at
// 115200 baud with the simulated board's serial and trimming registered; and kDemoNetworkIni
// unless the folder has a network.ini. Returns the write's result.
platform::IoResult seed_demo_station(platform::FileSystem& fs, const std::string& folder,
                                     const std::string& model);

}  // namespace velkantor::app
