#pragma once

#include <sys/types.h>

#include <string>

#include "platform/sound.h"

namespace velkantor::platform {

// Sound on Linux. Files are played by the ALSA player `aplay`, started without a shell and
// with its output discarded; a new file stops the one still playing. The tone goes to the PC
// speaker through its input device when the machine has one and may write it, otherwise it
// is generated and played through the sound system. No player, no device: silence.
class LinuxSound : public Sound {
public:
    static constexpr const char* kSpeakerDevice = "/dev/input/by-path/platform-pcspkr-event-spkr";

    LinuxSound() = default;
    ~LinuxSound() override;
    LinuxSound(const LinuxSound&) = delete;
    LinuxSound& operator=(const LinuxSound&) = delete;

    void play_file(const std::string& path) override;
    void tone_on(double hertz) override;
    void tone_off() override;

private:
    bool speaker_tone(int hertz);
    // Starts aplay with `args`; its standard input is `input` (-1: nothing). Returns its pid.
    pid_t spawn_player(const char* const* args, int input);
    static void stop(pid_t& pid);
    void reap();

    pid_t file_player_ = -1;
    pid_t tone_player_ = -1;
    int speaker_fd_ = -1;
    bool speaker_tried_ = false;
};

}  // namespace velkantor::platform
