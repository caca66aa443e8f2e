// The real executables over a pseudo-terminal: velkantor-sim serves a board, velkantor
// --headless acquires from it for a few seconds of wall time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/demo_station.h"
#include "config/settings_file.h"
#include "text/number_text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace app = velkantor::app;
namespace config = velkantor::config;
namespace text = velkantor::text;

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

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads what `fd` sends into `text` until `done()` holds; false when `seconds` pass first.
// Each turn waits at most a tenth of a second on the pipe, so files can be looked at too.
bool wait_for(int fd, std::string& text, const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else {
            fd = -1;  // closed: poll() on -1 only waits
        }
    }
    return true;
}

bool wait_for_text(int fd, std::string& text, std::string_view wanted, double seconds) {
    return wait_for(
        fd, text, [&] { return text.find(wanted) != std::string::npos; }, seconds);
}

// The answer of a loopback HTTP server to "GET PATH", as far as it came in `seconds`.
std::string http_get(int port, const std::string& path, double seconds) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            // Until the server closes: the whole answer or what came before the deadline.
            wait_for(
                fd, answer, [] { return false; }, seconds);
        }
    }
    ::close(fd);
    return answer;
}

// A loopback port that nobody listens on at the moment of asking.
int free_loopback_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// Bytes of the regular files under `folder`.
uintmax_t bytes_under(const fs::path& folder) {
    uintmax_t total = 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file(error)) total += entry.file_size(error);
    }
    return total;
}

int count_of(std::string_view text, std::string_view what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The figures of the summary line "Frames received: D data, T board time, B bad".
struct FrameCounts {
    long data = -1;
    long bad = -1;
};

FrameCounts frame_counts(const std::string& out) {
    FrameCounts counts;
    auto at = out.find("Frames received: ");
    if (at == std::string::npos) return counts;
    counts.data = std::atol(out.c_str() + at + 17);
    auto time = out.find(" board time, ", at);
    if (time != std::string::npos) counts.bad = std::atol(out.c_str() + time + 13);
    return counts;
}

class HeadlessOverPty : public ::testing::Test {
protected:
    fs::path station;
    void SetUp() override {
        char pattern[] = "/tmp/velkantor-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        station = pattern;
    }
    void TearDown() override {
        // A test that failed half-way leaves no process of its own behind.
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(station);
    }

    Child start(const std::vector<std::string>& args) {
        Child child = spawn(args);
        if (child.pid > 0) started_.push_back(child.pid);
        return child;
    }
    // The exit status, and the child's own use of the processor.
    int finish(pid_t pid, rusage* usage = nullptr) {
        int status = 0;
        rusage ignored{};
        wait4(pid, &status, 0, usage ? usage : &ignored);
        started_.erase(std::remove(started_.begin(), started_.end(), pid), started_.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // A simulator, and the device it serves.
    std::pair<Child, std::string> start_simulator(std::vector<std::string> options) {
        options.insert(options.begin(), VELKANTOR_SIM_BIN);
        Child sim = start(options);
        return {sim, sim.pid > 0 ? first_line(sim.out) : std::string()};
    }
    void stop_simulator(const Child& sim) {
        kill(sim.pid, SIGTERM);
        EXPECT_EQ(finish(sim.pid), 0);
    }

    // The station's settings file as the program writes it: the defaults for a ZEDA18 whose
    // serial number is registered (no question about a new board), then `change`.
    void write_settings(const std::function<void(config::Settings&)>& change) {
        write_settings_in(station, change);
    }
    static void write_settings_in(const fs::path& folder,
                                  const std::function<void(config::Settings&)>& change) {
        config::Settings settings;
        config::SetDefaultConfiguration(settings, folder.string());
        settings.general.board_serial = app::kDemoBoardSerial;
        change(settings);
        std::ofstream(folder / config::kSettingsFileName, std::ios::binary)
            << config::ConfigurationText(settings);
        std::ofstream(folder / config::kScheduleFileName, std::ios::binary)
            << config::ScheduleText(settings);
    }

private:
    std::vector<pid_t> started_;
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
    // A board not found: a service manager restarts it (a USB adapter that comes up late).
    EXPECT_EQ(wait_exit(station_process.pid), 4);
    EXPECT_NE(err.find("[Error] Comm Port not valid"), std::string::npos) << err;
}

// Settings that START refuses end with their own status, which a service manager does not
// restart: two channels with one event file extension.
TEST_F(HeadlessOverPty, StartRefusedBySettingsHasItsOwnExitStatus) {
    Child seed = spawn(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "1"});
    ASSERT_GT(seed.pid, 0);
    drain(seed.out, 30);
    drain(seed.err, 1);
    ASSERT_EQ(wait_exit(seed.pid), 0);
    const fs::path ini = station / "velkant.ini";
    std::string text;
    {
        std::ifstream in(ini, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = text.find("EXT=CH2");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 7, "EXT=CH1");
    std::ofstream(ini, std::ios::binary) << text;

    Child refused = spawn(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "5"});
    ASSERT_GT(refused.pid, 0);
    std::string out = drain(refused.out, 30);
    std::string err = drain(refused.err, 1);
    EXPECT_EQ(wait_exit(refused.pid), 5) << out << err;
    EXPECT_NE(err.find("File extensions mismatch for channel 1 and 2"), std::string::npos) << err;
}

// A new station folder with the simulated board is seeded like the demo station: it records
// and logs, and the board it finds is the one registered, trimming included.
TEST_F(HeadlessOverPty, SimulateRunsTheDemoBoardItself) {
    Child station_process = spawn(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "3"});
    ASSERT_GT(station_process.pid, 0);
    std::string out = drain(station_process.out, 30);
    std::string err = drain(station_process.err, 1);
    EXPECT_EQ(wait_exit(station_process.pid), 0) << out << err;
    EXPECT_NE(out.find("Simulated ZEDA18 board on /dev/pts/"), std::string::npos) << out;
    EXPECT_NE(out.find("START with ZEDA V181"), std::string::npos) << out;
    EXPECT_NE(out.find("New station " + station.string()), std::string::npos) << out;
    EXPECT_EQ(out.find("Clock trimming"), std::string::npos) << out;
    EXPECT_EQ(out.find("Startup INI"), std::string::npos) << out;
    std::string ini = read_text(station / config::kSettingsFileName);
    EXPECT_NE(ini.find("ENA= 1"), std::string::npos) << ini;
    EXPECT_NE(ini.find(app::kDemoBoardTrim), std::string::npos) << ini;
    bool logged = false;
    for (const auto& entry : fs::directory_iterator(station / "datalog")) {
        logged = logged || entry.file_size() > 0;
    }
    EXPECT_TRUE(logged) << "the datalog is on";

    // A folder that has settings is never touched.
    std::string before = read_text(station / config::kSettingsFileName) + "x";
    std::ofstream(station / config::kSettingsFileName, std::ios::binary) << before;
    Child again = spawn(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "1"});
    ASSERT_GT(again.pid, 0);
    std::string out_again = drain(again.out, 30);
    drain(again.err, 1);
    wait_exit(again.pid);
    EXPECT_EQ(read_text(station / config::kSettingsFileName), before);
    EXPECT_EQ(out_again.find("New station"), std::string::npos) << out_again;
}

// A first run of the simulated board shows the services: a new station folder gets a
// network.ini with the page, SeedLink and the archive on the loopback address, the console
// names the page's address and the page answers there. The services start once the station
// has loaded (their lines follow STARTING in the event log), and at the stop the records
// still pending reach the archive.
TEST_F(HeadlessOverPty, FirstSimulatedRunServesThePageOnLoopback) {
    Child run = start(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "60"});
    ASSERT_GT(run.pid, 0);
    std::string out;
    const auto told = [&] {
        return out.find("Web page on http://127.0.0.1:8080/") != std::string::npos ||
               out.find("Web page off: ") != std::string::npos;
    };
    ASSERT_TRUE(wait_for(run.out, out, told, 30)) << out;
    ASSERT_TRUE(wait_for_text(run.out, out, "START with", 30)) << out;
    int page_port = 8080;
    if (out.find("Web page off: ") != std::string::npos) {
        // The seeded port is taken on this machine (another station, another test): the
        // page says so and stays off, acquisition goes on. The page is then looked at on a
        // port of the test's choosing, the same seeded station otherwise.
        EXPECT_NE(out.find("127.0.0.1:8080"), std::string::npos) << out;
        kill(run.pid, SIGTERM);
        ASSERT_EQ(finish(run.pid), 0) << out;
        page_port = free_loopback_port();
        ASSERT_GT(page_port, 0);
        run = start({VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(),
                     "--web", "127.0.0.1:" + std::to_string(page_port), "--for", "60"});
        ASSERT_GT(run.pid, 0);
        out.clear();
        ASSERT_TRUE(wait_for_text(
            run.out, out, "Web page on http://127.0.0.1:" + std::to_string(page_port) + "/", 30))
            << out;
    }
    std::string answer = http_get(page_port, "/", 10);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
    // The state the page shows is the demo station's (its title comes from network.ini).
    answer = http_get(page_port, "/api/state.json", 10);
    EXPECT_NE(answer.find("\"title\":\"VELKANTOR demo station\""), std::string::npos) << answer;

    kill(run.pid, SIGTERM);
    EXPECT_EQ(finish(run.pid), 0) << out;

    const std::string log = read_text(station / "evtfile.dat");
    const auto starting = log.find("STARTING VELKANTOR...");
    ASSERT_NE(starting, std::string::npos) << log;
    for (const std::string& line : {std::string("SeedLink server"),
                                    "miniSEED archive in " + (station / "archive").string()}) {
        const auto at = log.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << log;
        EXPECT_GT(at, starting) << line << " before the station loaded\n" << log;
    }
    // The SeedLink server is on, or its seeded port was taken and it says so.
    EXPECT_NE(log.find("127.0.0.1:18000"), std::string::npos) << log;
    EXPECT_GT(bytes_under(station / "archive"), 0u) << "the records were not flushed at the stop";
    const std::string network = read_text(station / "network.ini");
    EXPECT_NE(network.find("listen = 127.0.0.1:8080"), std::string::npos) << network;

    // A network.ini the owner wrote is never replaced by the demo's.
    fs::remove(station / config::kSettingsFileName);
    std::ofstream(station / "network.ini", std::ios::binary) << "[web]\nlisten = 127.0.0.1:1\n";
    Child again = start(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "1"});
    ASSERT_GT(again.pid, 0);
    drain(again.out, 30);
    drain(again.err, 1);
    finish(again.pid);
    EXPECT_EQ(read_text(station / "network.ini"), "[web]\nlisten = 127.0.0.1:1\n");
}

// The simulator that --simulate starts ends with the program, even when the program is
// killed outright and cannot stop it.
TEST_F(HeadlessOverPty, SimulatorEndsWhenTheProgramIsKilled) {
    Child station_process = start(
        {VELKANTOR_BIN, "--headless", "--simulate", "--station", station.string(), "--for", "60"});
    ASSERT_GT(station_process.pid, 0);
    std::string out;
    ASSERT_TRUE(wait_for_text(station_process.out, out, "START with", 30)) << out;
    std::string pid_text = std::to_string(station_process.pid);
    std::string children = read_text("/proc/" + pid_text + "/task/" + pid_text + "/children");
    auto simulator = static_cast<pid_t>(std::atol(children.c_str()));
    ASSERT_GT(simulator, 0) << children;
    int handle = static_cast<int>(::syscall(SYS_pidfd_open, simulator, 0));
    ASSERT_GE(handle, 0);
    kill(station_process.pid, SIGKILL);
    EXPECT_EQ(finish(station_process.pid), 128 + SIGKILL);
    // The handle of a process becomes readable when it has ended.
    pollfd p{handle, POLLIN, 0};
    bool ended = ::poll(&p, 1, 10000) == 1;
    EXPECT_TRUE(ended) << "the simulator " << simulator << " still runs";
    if (!ended) kill(simulator, SIGKILL);
    close(handle);
}

// The desktop on Qt's offscreen platform: --simulate opens the demo station acquiring, and
// --for ends it with EXIT after saving the windows' pictures.
TEST_F(HeadlessOverPty, DesktopSimulateAcquiresAndExits) {
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", station.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::path shot = station / "shot.png";
    Child desktop =
        spawn({VELKANTOR_BIN, "--simulate", "--for", "8", "--screenshot", shot.string()});
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

// The hosts the station runs in: the service, and the desktop (on Qt's offscreen platform,
// started by the timer's autostart).
struct Host {
    const char* name;
    bool desktop;
};

class BoardRestart : public HeadlessOverPty, public ::testing::WithParamInterface<Host> {};

// The board's end of the line goes away while the station runs (the simulator killed) and a
// new board comes up behind the same device name. The station restarts the board once no
// data has come for 30 s, and goes on; while the board is gone it sleeps.
TEST_P(BoardRestart, RestartsTheBoardWhenTheSimulatorWasKilledAndStartedAgain) {
    const Host host = GetParam();
    write_settings([&](config::Settings& s) {
        for (auto& channel : s.channels) channel.datalog_enabled = 1;
        if (host.desktop) s.general.autostart = 1;
    });
    const std::string link = (station / "board").string();
    auto [first_board, device] =
        start_simulator({"--link", link, "--serial", app::kDemoBoardSerial});
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;

    // Long enough for the silence, the restart and a few seconds of data after it.
    const auto began = Clock::now();
    std::vector<std::string> args = {VELKANTOR_BIN, "--station", station.string(), "--port", link,
                                     "--for",       "45"};
    if (!host.desktop) args.insert(args.begin() + 1, "--headless");
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    if (host.desktop) {
        setenv("HOME", station.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    Child velkantor = start(args);
    setenv("HOME", home.c_str(), 1);
    ASSERT_GT(velkantor.pid, 0);
    std::string out;
    const fs::path datalog = station / "datalog";
    ASSERT_TRUE(wait_for(
        velkantor.out, out, [&] { return bytes_under(datalog) > 0; }, 30))
        << out;

    kill(first_board.pid, SIGKILL);
    finish(first_board.pid);
    auto [second_board, new_device] =
        start_simulator({"--link", link, "--serial", app::kDemoBoardSerial});
    ASSERT_EQ(new_device.rfind("/dev/pts/", 0), 0u) << new_device;
    EXPECT_EQ(fs::read_symlink(link).string(), new_device);

    ASSERT_TRUE(wait_for_text(velkantor.out, out, "Warning! A/D card restarted.", 60)) << out;
    const uintmax_t before = bytes_under(datalog);
    EXPECT_TRUE(wait_for(
        velkantor.out, out, [&] { return bytes_under(datalog) > before; }, 20))
        << "no data after the restart\n"
        << out;
    out += drain(velkantor.out, 30);
    std::string err = drain(velkantor.err, 1);
    rusage usage{};
    int status = finish(velkantor.pid, &usage);
    const double wall = seconds_since(began);
    stop_simulator(second_board);

    EXPECT_EQ(status, 0) << out << err;
    std::string log = read_text(station / "evtfile.dat");
    auto restarted = log.find("Warning! A/D card restarted.\r\n");
    ASSERT_NE(restarted, std::string::npos) << log;
    EXPECT_NE(log.find("STOP\r\n", restarted), std::string::npos) << log;
    EXPECT_NE(log.find("TERMINATING VELKANTOR...\r\n", restarted), std::string::npos) << log;
    // A board streaming 4 samples a second costs next to nothing, and a missing one less: a
    // loop spinning on the dead device would burn a core, one polling it would wake tens of
    // times a second (here about 3 times a second on data, once while the board is gone).
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    EXPECT_LT(cpu, 0.3 * wall) << cpu << " s of processor in " << wall << " s";
    // (The desktop: about 7 a second with its timer; 23 when it kept watching the dead device.)
    EXPECT_LT(static_cast<double>(usage.ru_nvcsw), 15 * wall)
        << usage.ru_nvcsw << " wake-ups in " << wall << " s";
}

INSTANTIATE_TEST_SUITE_P(Hosts, BoardRestart,
                         ::testing::Values(Host{"Headless", false}, Host{"Desktop", true}),
                         [](const ::testing::TestParamInfo<Host>& param) {
                             return std::string(param.param.name);
                         });

// Instruments paced by the PC clock, each sending exactly its rate for 90 s over a real
// pseudo-terminal: every sample the station took is in the datalog, none cut as one too many
// for its second. Both run at once, to keep the test's wall time at 90 s.
TEST_F(HeadlessOverPty, PcPacedInstrumentsAtTheirExactRateLoseNoSample) {
    struct Run {
        const char* model;
        int16_t ad_type;
        std::array<int, 4> sps_index;  // 16: 120, 13: 60, 12: 50 per second
        std::array<int, 4> rate;
        std::vector<std::string> sim_options;
        fs::path folder;
        Child sim;
        Child velkantor;
        std::string out;
        std::string err;
        int status = -1;
    };
    std::vector<Run> runs = {
        {"DATAQ", config::kDataqDi194rs, {16, 13, 0, 0}, {120, 60, 0, 0}, {}, {}, {}, {}, {}, {}},
        {"INFILTEC",
         config::kInfiltec,
         {12, 0, 0, 0},
         {50, 0, 0, 0},
         {"--reading-rate", "50"},
         {},
         {},
         {},
         {},
         {}},
    };
    for (Run& run : runs) {
        run.folder = station / run.model;
        fs::create_directories(run.folder);
        write_settings_in(run.folder, [&](config::Settings& s) {
            s.general.ad_type = run.ad_type;
            for (size_t c = 0; c < 4; ++c) {
                s.channels[c].sps_index = static_cast<int16_t>(run.sps_index[c]);
                s.channels[c].datalog_enabled = run.rate[c] > 0 ? 1 : 0;
            }
        });
        std::vector<std::string> options = {"--model", run.model};
        options.insert(options.end(), run.sim_options.begin(), run.sim_options.end());
        auto [sim, device] = start_simulator(options);
        ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
        run.sim = sim;
        run.velkantor = start({VELKANTOR_BIN, "--headless", "--station", run.folder.string(),
                               "--port", device, "--for", "90"});
        ASSERT_GT(run.velkantor.pid, 0);
    }
    for (Run& run : runs) {
        run.out = drain(run.velkantor.out, 100);
        run.err = drain(run.velkantor.err, 1);
        run.status = finish(run.velkantor.pid);
        stop_simulator(run.sim);
    }
    for (const Run& run : runs) {
        SCOPED_TRACE(run.model);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Samples cut (over a second's rate): channel 1 0, channel 2 0, "
                               "channel 3 0, channel 4 0"),
                  std::string::npos)
            << run.out;
        const long frames = frame_counts(run.out).data;
        ASSERT_GT(frames, 0) << run.out;
        // The samples of each channel's files, and each file's whole seconds.
        long in_files = 0;
        for (int ch = 0; ch < 4; ++ch) {
            const auto c = static_cast<size_t>(ch);
            uintmax_t bytes = 0;
            for (const auto& entry : fs::directory_iterator(run.folder / "datalog")) {
                const std::string name = entry.path().filename().string();
                if (name.ends_with(".LG" + std::to_string(ch))) bytes += entry.file_size();
            }
            const auto samples = static_cast<long>(bytes / 2);
            in_files += samples;
            if (run.rate[c] == 0) continue;
            // From the first reading second to STOP: at least 85 whole seconds at the rate.
            EXPECT_GE(samples, 85L * run.rate[c]) << "channel " << ch + 1;
        }
        EXPECT_EQ(in_files, frames) << "every sample the station took is in the datalog";
    }
}

// After the handshake and some seconds of data, the line carries only random bytes. The
// station counts them as bad frames, says the line is noisy, and runs to its end.
TEST_F(HeadlessOverPty, ALineOfGarbageIsCountedAndReportedNoisy) {
    // 20 samples a second on each channel: the garbage makes tens of bad frames a second.
    write_settings([](config::Settings& s) {
        for (auto& channel : s.channels) channel.sps_index = 9;
    });
    auto [board, device] =
        start_simulator({"--serial", app::kDemoBoardSerial, "--garbage-after", "5"});
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    Child velkantor = start({VELKANTOR_BIN, "--headless", "--station", station.string(), "--port",
                             device, "--for", "10"});
    ASSERT_GT(velkantor.pid, 0);
    std::string out = drain(velkantor.out, 30);
    std::string err = drain(velkantor.err, 1);
    int status = finish(velkantor.pid);
    stop_simulator(board);

    EXPECT_EQ(status, 0) << out << err;
    std::string log = read_text(station / "evtfile.dat");
    EXPECT_NE(log.find("START with ZEDA V181\r\n"), std::string::npos) << log;
    const int noisy = count_of(log, "Noisy serial communications.\r\n");
    EXPECT_GE(noisy, 1) << log;
    EXPECT_NE(log.find("STOP\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("TERMINATING VELKANTOR...\r\n"), std::string::npos) << log;
    FrameCounts counts = frame_counts(out);
    EXPECT_GT(counts.data, 0) << out;
    // Each warning is given at more than 5 bad frames and clears the count on show; the
    // summary counts all of them.
    EXPECT_GE(counts.bad, 6L * std::max(noisy, 1)) << out;
}

// SIGTERM while an event is being recorded: the station stops as at STOP, so the event file
// is finished with its count of samples, and exits cleanly.
TEST_F(HeadlessOverPty, SigtermDuringAnEventFinishesTheEventFile) {
    write_settings([](config::Settings& s) {
        auto& first = s.channels[0];
        first.sps_index = 9;  // 20 samples a second
        first.record_enabled = 1;
        first.trigger_mode = 0;                     // amplitude: a quake reaches 20,000 counts
        first.start_params = "2000,2,0.05,1,30,3";  // 3 s before the trigger
        first.stop_params = "1800,1,3,5";           // ends a minute after the shaking
    });
    auto [board, device] =
        start_simulator({"--serial", app::kDemoBoardSerial, "--quake-every", "5"});
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    Child velkantor = start({VELKANTOR_BIN, "--headless", "--station", station.string(), "--port",
                             device, "--for", "60"});
    ASSERT_GT(velkantor.pid, 0);

    const fs::path events = station / "events";
    fs::path event;
    auto event_opened = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(events, error)) {
            if (entry.is_regular_file(error)) event = entry.path();
        }
        return !event.empty();
    };
    std::string out;
    ASSERT_TRUE(wait_for(velkantor.out, out, event_opened, 30)) << out;
    kill(velkantor.pid, SIGTERM);
    out += drain(velkantor.out, 30);
    std::string err = drain(velkantor.err, 1);
    int status = finish(velkantor.pid);
    stop_simulator(board);

    EXPECT_EQ(status, 0) << out << err;
    std::string log = read_text(station / "evtfile.dat");
    auto stop = log.find("STOP\r\n");
    ASSERT_NE(stop, std::string::npos) << log;
    // The event was still open: its summary line comes from the stop.
    EXPECT_NE(log.find(event.filename().string() + " ", stop), std::string::npos) << log;
    EXPECT_NE(log.find("TERMINATING VELKANTOR...\r\n", stop), std::string::npos) << log;

    std::string text = read_text(event);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    // A header of 29 lines, the count on its third from column 20, then one line a sample.
    ASSERT_GT(lines.size(), 29u) << text;
    auto count = text::leading_number(lines[2].substr(std::min<size_t>(19, lines[2].size())));
    ASSERT_TRUE(count.has_value()) << lines[2];
    EXPECT_EQ(*count, static_cast<double>(lines.size() - 29)) << text;
}

// Simulators started one after another on the same link: the link leads to the newest, and
// one that ends removes it only while it is still its own.
TEST_F(HeadlessOverPty, SimulatorLinkLeadsToTheNewestSimulator) {
    const fs::path link = station / "board";
    auto target = [&] {
        std::error_code error;
        return fs::read_symlink(link, error).string();
    };
    auto [first, first_device] = start_simulator({"--link", link.string()});
    ASSERT_EQ(first_device.rfind("/dev/pts/", 0), 0u) << first_device;
    EXPECT_EQ(target(), first_device);
    auto [second, second_device] = start_simulator({"--link", link.string()});
    ASSERT_EQ(second_device.rfind("/dev/pts/", 0), 0u) << second_device;
    EXPECT_EQ(target(), second_device);
    stop_simulator(first);
    EXPECT_EQ(target(), second_device);
    stop_simulator(second);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// A garbage time that cannot be, or a board whose line the simulator cannot spoil, is a
// usage error rather than a run without the fault asked for.
TEST_F(HeadlessOverPty, SimulatorRefusesGarbageItCannotSend) {
    struct Case {
        std::vector<std::string> options;
        const char* said;
    };
    const std::vector<Case> cases = {
        {{"--garbage-after", "-1"}, "bad --garbage-after"},
        {{"--garbage-after", "soon"}, "bad --garbage-after"},
        {{"--garbage-after", "nan"}, "bad --garbage-after"},
        {{"--garbage-after", "inf"}, "bad --garbage-after"},
        {{"--model", "INFILTEC", "--garbage-after", "5"}, "--garbage-after is for the ZEDA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        std::vector<std::string> args = c.options;
        args.insert(args.begin(), VELKANTOR_SIM_BIN);
        Child sim = start(args);
        ASSERT_GT(sim.pid, 0);
        std::string err = drain(sim.err, 10);
        EXPECT_EQ(finish(sim.pid), 2);
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
    }
}

}  // namespace
