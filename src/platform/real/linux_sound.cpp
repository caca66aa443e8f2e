#include "platform/real/linux_sound.h"

#include <fcntl.h>
#include <linux/input.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

extern char** environ;

namespace velkantor::platform {

namespace {

constexpr int kToneRate = 16000;
// Longer than one timer tick: the tick after the one that started the tone stops it.
constexpr int kToneSeconds = 3;

// A square wave, as the PC speaker makes it, in unsigned 8-bit samples.
std::string square_wave(double hertz) {
    std::string samples(static_cast<size_t>(kToneRate * kToneSeconds), '\0');
    for (size_t i = 0; i < samples.size(); ++i) {
        double phase = std::fmod(static_cast<double>(i) * hertz / kToneRate, 1.0);
        samples[i] = static_cast<char>(phase < 0.5 ? 176 : 80);
    }
    return samples;
}

}  // namespace

LinuxSound::~LinuxSound() {
    tone_off();
    stop(file_player_);
    if (speaker_fd_ >= 0) ::close(speaker_fd_);
}

void LinuxSound::stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

void LinuxSound::reap() {
    for (pid_t* pid : {&file_player_, &tone_player_}) {
        if (*pid > 0 && ::waitpid(*pid, nullptr, WNOHANG) == *pid) *pid = -1;
    }
}

pid_t LinuxSound::spawn_player(const char* const* args, int input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int failed =
        posix_spawnp(&pid, "aplay", &actions, nullptr, const_cast<char* const*>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

void LinuxSound::play_file(const std::string& path) {
    reap();
    stop(file_player_);
    const char* args[] = {"aplay", "-q", path.c_str(), nullptr};
    file_player_ = spawn_player(args, -1);
}

bool LinuxSound::speaker_tone(int hertz) {
    if (!speaker_tried_) {
        speaker_tried_ = true;
        speaker_fd_ = ::open(kSpeakerDevice, O_WRONLY | O_CLOEXEC);
    }
    if (speaker_fd_ < 0) return false;
    input_event event{};
    event.type = EV_SND;
    event.code = SND_TONE;
    event.value = hertz;
    return ::write(speaker_fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

void LinuxSound::tone_on(double hertz) {
    reap();
    if (speaker_tone(static_cast<int>(std::lround(hertz)))) return;
    stop(tone_player_);
    // A socket rather than a pipe: a player that is gone makes the write fail, not the
    // program receive SIGPIPE.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    std::string rate = std::to_string(kToneRate);
    const char* args[] = {"aplay", "-q", "-t", "raw",        "-f", "U8",
                          "-c",    "1",  "-r", rate.c_str(), "-",  nullptr};
    tone_player_ = spawn_player(args, ends[1]);
    ::close(ends[1]);
    if (tone_player_ > 0) {
        int size = kToneRate * kToneSeconds + 4096;
        ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        std::string samples = square_wave(hertz);
        // Never wait for the player: what does not fit is left out.
        (void)::send(ends[0], samples.data(), samples.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    ::close(ends[0]);
}

void LinuxSound::tone_off() {
    if (speaker_fd_ >= 0) speaker_tone(0);
    stop(tone_player_);
    reap();
}

}  // namespace velkantor::platform
