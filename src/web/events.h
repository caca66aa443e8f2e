#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "web/state.h"

namespace velkantor::web {

// One recorded event as the page lists it.
struct EventEntry {
    std::string file;     // the event file's name in the events folder
    std::string start;    // "YYYY/MM/DD HH:MM:SS" board time of its first sample
    int channel = 0;      // 1..4, 0 when the file's extension names none
    long samples = 0;     // from the event log line, 0 when the log has none
    double duration = 0;  // seconds: samples / the channel's rate
    double max_ratio = 0;
    long peak = 0;              // the largest half-wave amplitude in counts
    bool downloadable = false;  // the file is in the events folder
    std::string mseed;          // its miniSEED file beside it, "" = none
};

// True when the events folder is the station folder or holds it: its files would include the
// station's settings and the MQTT password file, so none of them is listed or served.
bool events_folder_holds_station(const StateSnapshot& state);

// The recent events, newest first, at most `state.events`: the event log's lines (the
// figures) joined with the events folder's files (the downloads). An event whose log line
// was trimmed away by the log's size rule still shows by its file name. Only regular names
// of the folder are downloads: an event file's name, or its miniSEED copy's.
std::vector<EventEntry> list_events(const platform::FileSystem& fs, const StateSnapshot& state);

std::string events_json(const std::vector<EventEntry>& events, const StateSnapshot& state);

// Parses "<file> YYYY/MM/DD HH:MM:SS L:<samples> Max SLTA:<r> Max Amplit:<peak>" (the event
// log's message, after its own time stamp). False when the line is not one.
bool parse_event_line(std::string_view message, EventEntry& out);

}  // namespace velkantor::web
