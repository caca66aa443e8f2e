#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "platform/file_system.h"

// `velkant.ini` and `velkant.sch`: reader, writer and the number-list parser.
namespace velkantor::config {

inline constexpr std::string_view kSettingsFileName = "velkant.ini";
inline constexpr std::string_view kScheduleFileName = "velkant.sch";

// Every field of both tables at its default; the folders default under `station_folder`.
void SetDefaultConfiguration(Settings& settings, std::string_view station_folder);

struct ReadReport {
    bool created = false;                   // the file was missing and the defaults were written
    platform::IoResult write;               // result of that write
    std::vector<std::string> failed_lines;  // lines whose value could not be stored
    // Set when service_mode was non-zero at a failing line: reading stopped there.
    std::string fatal_error;
};

// Defaults, then the file (written first when missing), then the decoding of STA, STO and
// COR and the derived sample counts.
ReadReport ReadConfiguration(Settings& settings, platform::FileSystem& fs,
                             std::string_view station_folder);

// Reads a settings file at any path without writing anything (the extraction's choice of
// station settings). A file that cannot be read is a fatal_error.
ReadReport ReadConfigurationFile(Settings& settings, const platform::FileSystem& fs,
                                 const std::string& path, std::string_view station_folder);

// Writes `velkant.sch` and `velkant.ini`, each through a temporary file and a rename.
platform::IoResult WriteConfiguration(const Settings& settings, platform::FileSystem& fs,
                                      std::string_view station_folder);

// The exact bytes of the two files.
std::string ConfigurationText(const Settings& settings);
std::string ScheduleText(const Settings& settings);

// All 25 elements empty, then up to 25 lines of `velkant.sch` when it exists; then decoded.
void ReadSchedule(Settings& settings, const platform::FileSystem& fs,
                  std::string_view station_folder);
// `schedule` from elements 1..20 of `schedule_lines`: after every change of the lines.
void DecodeSchedule(Settings& settings);

// Splits a list of numbers into values[0..count-1] (entries 1..count), clamps each and
// returns the normalised list ("!" in front when the entry count differs; empty when the
// list overflowed). `values` is resized to `count`.
std::string ParseNumberList(std::string_view text, int count, double minimum, double maximum,
                            std::vector<std::string>& values);

// Decoding of the compound texts into their fields, and the derived sample counts.
void DecodeStartParams(ChannelSettings& channel);
void DecodeStopParams(ChannelSettings& channel);
void DecodeMagnitudeCorrection(ChannelSettings& channel);
// A maximum event length shorter than the pre-event plus the post-event time (0 included)
// would end every event right after its pre-event part and start the next one at once: it
// is raised to that sum, as the trigger window's Apply raises it. True when it was raised.
bool RaiseMaximumEventLength(ChannelSettings& channel);
void UpdateDerivedCounts(ChannelSettings& channel);

}  // namespace velkantor::config
