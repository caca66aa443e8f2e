// The real executables over a pseudo-terminal: velkantor-sim serves a board, velkantor
// --headless acquires from it for a few seconds of wall time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    int out = -1;  // the child's standard output
    int err = -1;  // and error
};

Child spawn(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    child.out = out[0];
    child.err = err[0];
    return child;
}

// Everything from a descriptor until it closes, or until `seconds` pass.
std::string drain(int fd, int seconds) {
    std::string text;
    for (int waited = 0; waited < seconds * 10;) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 100);
        if (ready == 0) {
            ++waited;
            continue;
        }
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::string first_line(int fd) {
    std::string line;
    for (int waited = 0; waited < 100;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            ++waited;
            continue;
        }
        char c = 0;
        if (read(fd, &c, 1) <= 0 || c == '\n') break;
        line += c;
    }
    return line;
}

int wait_exit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class HeadlessOverPty : public ::testing::Test {
protected:
    fs::path station;
    void SetUp() override {
        char pattern[] = "/tmp/velkantor-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        station = pattern;
    }
    void TearDown() override { fs::remove_all(station); }
};

TEST_F(HeadlessOverPty, AcquiresFromTheSimulatorAndStopsCleanly) {
    Child sim = spawn({VELKANTOR_SIM_BIN, "--model", "ZEDA18"});
    ASSERT_GT(sim.pid, 0);
    std::string device = first_line(sim.out);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;

    Child station_process = spawn({VELKANTOR_BIN, "--headless", "--station", station.string(),
                                   "--port", device, "--for", "4"});
    ASSERT_GT(station_process.pid, 0);
    std::string out = drain(station_process.out, 30);
    std::string err = drain(station_process.err, 1);
    int status = wait_exit(station_process.pid);
    kill(sim.pid, SIGTERM);
    EXPECT_EQ(wait_exit(sim.pid), 0);

    EXPECT_EQ(status, 0) << out << err;
    std::string log = read_text(station / "evtfile.dat");
    EXPECT_NE(log.find("STARTING VELKANTOR...\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Found board version: V181 Com1 38400\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("START with ZEDA V181\r\n"), std::string::npos);
    EXPECT_NE(log.find("STOP\r\n"), std::string::npos);
    EXPECT_NE(log.find("TERMINATING VELKANTOR...\r\n"), std::string::npos);
    // The default settings run every channel at 1 sample per second: about 4 seconds of
    // 4 channels, 2 frames per second each (the board pairs them), and the time frames.
    auto at = out.find("Frames received: ");
    ASSERT_NE(at, std::string::npos) << out;
    int data_frames = std::atoi(out.c_str() + at + 17);
    EXPECT_GE(data_frames, 16) << out;
    EXPECT_NE(out.find(" 0 bad"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(station / "velkant.ini"));
    EXPECT_TRUE(fs::is_directory(station / "events" / "sent"));
}

TEST_F(HeadlessOverPty, MissingDeviceIsCommPortNotValid) {
    Child station_process = spawn({VELKANTOR_BIN, "--headless", "--station", station.string(),
                                   "--port", "/dev/velkantor-no-such-device", "--for", "2"});
    ASSERT_GT(station_process.pid, 0);
    std::string out = drain(station_process.out, 20);
    std::string err = drain(station_process.err, 1);
    EXPECT_EQ(wait_exit(station_process.pid), 1);
    EXPECT_NE(err.find("[Error] Comm Port not valid"), std::string::npos) << err;
}

TEST_F(HeadlessOverPty, SimulateRunsTheDemoBoardItself) {
    Child station_process = spawn({VELKANTOR_BIN, "--headless", "--simulate", "--station",
                                   station.string(), "--for", "3"});
    ASSERT_GT(station_process.pid, 0);
    std::string out = drain(station_process.out, 30);
    std::string err = drain(station_process.err, 1);
    EXPECT_EQ(wait_exit(station_process.pid), 0) << out << err;
    EXPECT_NE(out.find("Simulated ZEDA18 board on /dev/pts/"), std::string::npos) << out;
    EXPECT_NE(out.find("START with ZEDA V181"), std::string::npos) << out;
}

// The desktop on Qt's offscreen platform: --simulate opens the demo station acquiring, and
// --for ends it with EXIT after saving the windows' pictures.
TEST_F(HeadlessOverPty, DesktopSimulateAcquiresAndExits) {
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", station.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::path shot = station / "shot.png";
    Child desktop = spawn({VELKANTOR_BIN, "--simulate", "--for", "8", "--screenshot", shot.string()});
    setenv("HOME", home.c_str(), 1);
    ASSERT_GT(desktop.pid, 0);
    std::string out = drain(desktop.out, 60);
    std::string err = drain(desktop.err, 1);
    EXPECT_EQ(wait_exit(desktop.pid), 0) << out << err;
    EXPECT_GT(fs::file_size(shot), 10000u);
    EXPECT_TRUE(fs::exists(station / "shot-drum1.png"));
    fs::path demo = station / "velkantor-demo";
    std::string log = read_text(demo / "evtfile.dat");
    EXPECT_NE(log.find("START with ZEDA V181"), std::string::npos) << log;
    EXPECT_NE(log.find("TERMINATING VELKANTOR..."), std::string::npos) << log;
    EXPECT_GT(fs::file_size(demo / "drums" / "drum_1.JPG"), 1000u);
}

}  // namespace
