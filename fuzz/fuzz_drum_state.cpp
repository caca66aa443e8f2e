// Any bytes as a drum's saved state (drum_1.dat beside its image): the drum must take them,
// reload or start a new picture, and go on drawing without crashing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "display/drum.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/recording_picture_codec.h"
#include "platform/fake/scripted_operator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velkantor;
    platform::MemoryFileSystem fs;
    (void)fs.create_directories("/st/drums");
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // The first half is the state file, the rest the image (a recorded picture or not).
    fs.put("/st/drums/drum_1.dat", bytes.substr(0, size / 2));
    fs.put("/st/drums/drum_1.BMP", bytes.substr(size / 2));
    platform::RecordingPictureCodec codec;
    platform::ScriptedOperator op;
    display::DisplayView view;
    display::DrumRecorder drums({fs, codec, op, view, "/st/drums", {}});
    config::Settings settings;
    settings.general.drum_format = 0;
    settings.general.drum_hours_per_row = static_cast<int16_t>(size > 0 ? data[0] % 12 : 3);
    settings.channels[0].drum_enabled = 1;
    display::BoardTime now{true, 12, 0, 0, "2026/03/01"};
    for (int i = 0; i < 4; ++i) drums.DrawDrumSample(0, i * 1000, settings, now, i == 2);
    drums.CloseDrums(settings);
    return 0;
}
