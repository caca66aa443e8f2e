#include "app/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

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
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // The simulator ends with this program however it ends, even by SIGKILL: it would
        // otherwise keep its pseudo-terminal and stream into it for nobody.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(127);
        if (::dup2(out[1], STDOUT_FILENO) < 0) ::_exit(127);
        ::execvp(program.c_str(), argv.data());
        ::_exit(127);
    }
    int fork_error = errno;
    ::close(out[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        pid_ = -1;
        return "cannot start " + program + ": " + std::strerror(fork_error);
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
