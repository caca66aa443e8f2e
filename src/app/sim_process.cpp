#include "app/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace velkantor::app {

std::string simulator_program() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<size_t>(n));
        auto slash = path.rfind('/');
        std::string sibling = path.substr(0, slash + 1) + "velkantor-sim";
        if (::access(sibling.c_str(), X_OK) == 0) return sibling;
    }
    return "velkantor-sim";
}

std::string SimProcess::start(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = ::posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        pid_ = -1;
        return "cannot start " + program + ": " + std::strerror(rc);
    }
    // The first line is the device path; give the simulator a few seconds to print it.
    std::string line;
    for (int waited = 0; waited < 100;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            ++waited;
            continue;
        }
        char c = 0;
        ssize_t n = ::read(out[0], &c, 1);
        if (n <= 0) break;
        if (c == '\n') break;
        line += c;
    }
    ::close(out[0]);
    if (line.empty() || line.front() != '/') {
        stop();
        return program + " did not report its device";
    }
    device_ = line;
    return {};
}

void SimProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace velkantor::app
