// Any bytes as a drum's saved state (drum_1.dat beside its image): the drum must take them,
// reload or start a new picture, and go on drawing without crashing. Whatever it started
// from, what it saves at the close is a drum of today that the next start takes back as it
// is: a state it wrote itself that it would not reload would start the day's drum anew at
// every start.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "display/drum.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/recording_picture_codec.h"
#include "platform/fake/scripted_operator.h"

namespace {

using namespace velkantor;

constexpr const char* kState = "/st/drums/drum_1.dat";
constexpr const char* kImage = "/st/drums/drum_1.BMP";

// One session of the station: the drum is set up by its first sample, drawn and closed.
// Returns what the drum reported (failed saves, unreadable images).
std::vector<std::string> session(platform::MemoryFileSystem& fs, const config::Settings& settings,
                                 const display::BoardTime& now) {
    platform::RecordingPictureCodec codec;
    platform::ScriptedOperator op;
    display::DisplayView view;
    std::vector<std::string> reports;
    display::DrumRecorder drums({fs, codec, op, view, "/st/drums",
                                 [&](const std::string& what) { reports.push_back(what); }});
    for (int i = 0; i < 4; ++i) drums.DrawDrumSample(0, i * 1000, settings, now, i == 2);
    if (!drums.ready(0) || drums.picture(0) == nullptr) __builtin_trap();
    if (drums.drum_date(0) != now.date) __builtin_trap();
    drums.CloseDrums(settings);
    return reports;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::MemoryFileSystem fs;
    (void)fs.create_directories("/st/drums");
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // The first half is the state file, the rest the image (a recorded picture or not).
    fs.put(kState, bytes.substr(0, size / 2));
    fs.put(kImage, bytes.substr(size / 2));
    config::Settings settings;
    settings.general.drum_format = 0;
    settings.general.drum_hours_per_row = static_cast<int16_t>(size > 0 ? data[0] % 12 : 3);
    settings.channels[0].drum_enabled = 1;
    display::BoardTime now{true, 12, 0, 0, "2026/03/01"};
    session(fs, settings, now);
    if (!fs.exists(kState) || !fs.exists(kImage)) __builtin_trap();

    // The next start reloads what was saved: it reports nothing and rewrites no state.
    std::string state = fs.contents(kState);
    if (state.rfind(now.date, 0) != 0) __builtin_trap();
    if (!session(fs, settings, now).empty()) __builtin_trap();
    if (fs.contents(kState) != state) __builtin_trap();
    return 0;
}
