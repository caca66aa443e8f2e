// velkantor-sim: a simulated A/D board on a pseudo-terminal.
//
// Prints the device path on the first line of standard output, then behaves like the
// chosen board until SIGINT or SIGTERM. The station may open and close the device as often
// as it likes; the board runs on meanwhile, as a real one on an unplugged cable would.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "board_model.h"
#include "pty_device.h"
#include "text/date_time.h"

namespace {

using velkantor::sim::BoardModel;
using velkantor::sim::BoardOptions;

constexpr int kExitUsage = 2;
// A station that holds the port open without reading gets what a full receive buffer
// gets: the newest bytes are lost once this much waits.
constexpr size_t kMaxQueued = 256 * 1024;
// With nobody on the other side the master reports a hang-up at once, so it is looked at
// again after this long instead of being polled.
constexpr double kHangUpRecheckSeconds = 0.1;

volatile sig_atomic_t g_stop = 0;
extern "C" void on_signal(int) {
    g_stop = 1;
}

void usage(std::ostream& out) {
    out << "Usage: velkantor-sim [--model NAME] [--version VNNN] [--start TIME] [--seed N]\n"
           "                     [--serial HEX8] [--trim HEX8] [--drift PPM]\n"
           "                     [--sync-every SECONDS] [--quake-every SECONDS]\n"
           "                     [--reading-rate N]\n"
           "                     [--garbage-after SECONDS] [--link PATH] [--help]\n"
           "Creates a pseudo-terminal, prints its device path, and behaves like the board.\n"
           "  --model NAME           board model (";
    bool first = true;
    for (const std::string& name : velkantor::sim::model_names()) {
        out << (first ? "" : ", ") << name;
        first = false;
    }
    out << "; default ZEDA18)\n"
           "  --version VNNN         ZEDA firmware reply instead of the model's own (V210, V150)\n"
           "  --start TIME           board clock at start, \"YYYY/MM/DD HH:MM:SS\"\n"
           "                         (default: the PC time)\n"
           "  --seed N               signal and board identity seed (default 1)\n"
           "  --serial HEX8          ZEDA serial number, memory 16..19 (default: from the seed)\n"
           "  --trim HEX8            ZEDA clock trimming, memory 1..4 (default: from the seed)\n"
           "  --drift PPM            board clock rate error, parts per million\n"
           "  --sync-every SECONDS   time receiver synchronisation period (default: none)\n"
           "  --quake-every SECONDS  a quake every so many seconds of board time\n"
           "  --reading-rate N       (INFILTEC, LX1500) readings per second (default: the\n"
           "                         instrument's own, 10 and 50)\n"
           "  --garbage-after SECONDS  (ZEDA) from so many seconds of board time after the\n"
           "                         start on, every byte the board sends arrives as a random\n"
           "                         one, as on a broken line\n"
           "  --link PATH            also make a symbolic link to the device at PATH\n";
}

// The PC clock as the station reads it: local civil time in seconds since 1970. Read once
// from the real clock; from then on it moves with the monotonic clock, so that the board
// runs at a steady rate like its own oscillator, and a clock step or a daylight-saving
// change on the PC shows as a difference between PC and board, not as a burst or a gap
// in the stream.
class PcClock {
public:
    PcClock() {
        timespec real{};
        ::clock_gettime(CLOCK_REALTIME, &real);
        ::clock_gettime(CLOCK_MONOTONIC, &start_);
        tm local{};
        ::localtime_r(&real.tv_sec, &local);
        velkantor::text::DateTime t{local.tm_year + 1900,
                                    local.tm_mon + 1,
                                    local.tm_mday,
                                    local.tm_hour,
                                    local.tm_min,
                                    local.tm_sec,
                                    0};
        epoch_at_start_ = velkantor::text::to_epoch_seconds(t) + real.tv_nsec * 1e-9;
    }
    double now() const {
        timespec m{};
        ::clock_gettime(CLOCK_MONOTONIC, &m);
        return epoch_at_start_ + static_cast<double>(m.tv_sec - start_.tv_sec) +
               static_cast<double>(m.tv_nsec - start_.tv_nsec) * 1e-9;
    }

private:
    timespec start_{};
    double epoch_at_start_ = 0;
};

struct Arguments {
    BoardOptions options;
    std::optional<velkantor::text::DateTime> start;
    std::string link;
    std::optional<double> garbage_after;  // seconds of board time after the start
    bool help = false;
};

template <typename T>
bool parse_number(std::string_view text, T& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

// Four bytes from 8 hexadecimal digits, first byte first, as the station shows them.
std::optional<std::array<uint8_t, 4>> parse_hex8(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < 4; ++i) {
        auto [end, error] =
            std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
        if (error != std::errc{} || end != text.data() + 2 * i + 2) return std::nullopt;
    }
    return bytes;
}

bool is_firmware_reply(std::string_view text) {
    return text.size() == 4 && text[0] == 'V' &&
           std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Returns the arguments, or a message for standard error.
std::optional<Arguments> parse_arguments(int argc, char** argv, std::string& error) {
    Arguments a;
    BoardOptions& o = a.options;
    // Each option reads its value; false: the value is bad.
    const std::map<std::string_view, std::function<bool(std::string_view)>> options = {
        {"--model",
         [&](std::string_view v) {
             o.model = v;
             return true;
         }},
        {"--version",
         [&](std::string_view v) {
             o.version = v;
             return is_firmware_reply(v);
         }},
        {"--start",
         [&](std::string_view v) {
             a.start = velkantor::text::parse_datetime(v);
             return a.start.has_value();
         }},
        {"--seed", [&](std::string_view v) { return parse_number(v, o.seed); }},
        {"--serial",
         [&](std::string_view v) {
             o.serial_number = parse_hex8(v);
             return o.serial_number.has_value();
         }},
        {"--trim",
         [&](std::string_view v) {
             o.trimming = parse_hex8(v);
             return o.trimming.has_value();
         }},
        {"--drift",
         [&](std::string_view v) {
             // Beyond a few hundred ppm no crystal runs; a typing slip is likelier.
             return parse_number(v, o.clock.drift_ppm) && std::abs(o.clock.drift_ppm) <= 1000;
         }},
        {"--sync-every",
         [&](std::string_view v) {
             return parse_number(v, o.clock.sync_every_seconds) && o.clock.sync_every_seconds > 0;
         }},
        {"--quake-every",
         [&](std::string_view v) {
             return parse_number(v, o.quake_every_seconds) &&
                    std::isfinite(o.quake_every_seconds) && o.quake_every_seconds >= 0;
         }},
        {"--reading-rate",
         [&](std::string_view v) {
             // The line carries a few hundred readings a second at most.
             return parse_number(v, o.reading_rate) && o.reading_rate >= 1 && o.reading_rate <= 200;
         }},
        {"--garbage-after",
         [&](std::string_view v) {
             double seconds = 0;
             if (!parse_number(v, seconds) || !std::isfinite(seconds) || seconds < 0) return false;
             a.garbage_after = seconds;
             return true;
         }},
        {"--link",
         [&](std::string_view v) {
             a.link = v;
             return true;
         }},
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            a.help = true;
            continue;
        }
        auto option = options.find(arg);
        if (option == options.end()) {
            error = "unknown option: " + std::string(arg);
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = std::string(arg) + " needs a value";
            return std::nullopt;
        }
        std::string_view value = argv[++i];
        if (!option->second(value)) {
            error = "bad " + std::string(arg) +
                    (arg == "--start" ? " (want \"YYYY/MM/DD HH:MM:SS\")" : "") + ": " +
                    std::string(value);
            return std::nullopt;
        }
    }
    return a;
}

bool make_link(const std::string& link, const std::string& target) {
    struct stat st {};
    // Replace a link left by an earlier run, but never a real file.
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::cerr << "velkantor-sim: " << link << " exists and is not a link\n";
        return false;
    }
    // Made aside and renamed over the old one: a station that reopens the port meanwhile
    // finds either the old device or the new one, never no device at all.
    std::string aside = link + ".new" + std::to_string(::getpid());
    ::unlink(aside.c_str());
    if (::symlink(target.c_str(), aside.c_str()) != 0 ||
        ::rename(aside.c_str(), link.c_str()) != 0) {
        std::cerr << "velkantor-sim: cannot link " << link << ": " << std::strerror(errno) << "\n";
        ::unlink(aside.c_str());
        return false;
    }
    return true;
}

// The link is removed at the end only while it still leads to this simulator's device: a
// simulator started since with the same link owns it now.
void remove_link(const std::string& link, const std::string& target) {
    std::string points_to(target.size() + 1, '\0');
    ssize_t n = ::readlink(link.c_str(), points_to.data(), points_to.size());
    if (n == static_cast<ssize_t>(target.size()) &&
        points_to.compare(0, target.size(), target) == 0) {
        ::unlink(link.c_str());
    }
}

timespec to_timespec(double seconds) {
    seconds = std::max(seconds, 0.0);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
    return ts;
}

// Serves the board on the master side until a stop signal.
void serve(BoardModel& board, int fd, const PcClock& clock, const sigset_t& wait_mask) {
    std::string queue;  // sent by the board, not yet taken by the pty
    bool hung_up = false;
    char buffer[4096];
    while (!g_stop) {
        std::string due = board.advance_to(clock.now());
        // While nobody has the device open, what the board sends goes nowhere.
        if (!hung_up) {
            size_t room = kMaxQueued - std::min(kMaxQueued, queue.size());
            queue.append(due, 0, std::min(room, due.size()));
        }
        while (!queue.empty()) {
            ssize_t n = ::write(fd, queue.data(), queue.size());
            if (n > 0) {
                queue.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) queue.clear();
                break;
            }
        }

        double wait = board.next_send_time() - clock.now();  // +inf while the board is quiet
        pollfd pfd{fd, static_cast<short>(POLLIN | (queue.empty() ? 0 : POLLOUT)), 0};
        if (hung_up) {
            // The master reports the hang-up for as long as nobody has the device open, so
            // it is not slept on: look again after a while (or when the board sends).
            timespec ts = to_timespec(std::min(wait, kHangUpRecheckSeconds));
            if (::ppoll(nullptr, 0, &ts, &wait_mask) < 0) continue;  // a signal
            if (::poll(&pfd, 1, 0) < 0) continue;
        } else {
            timespec ts = to_timespec(std::isfinite(wait) ? wait : 0);
            if (::ppoll(&pfd, 1, std::isfinite(wait) ? &ts : nullptr, &wait_mask) < 0) continue;
        }
        hung_up = false;
        if (pfd.revents & POLLIN) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                board.receive(std::string_view(buffer, static_cast<size_t>(n)), clock.now());
                continue;
            }
        }
        if (pfd.revents & (POLLHUP | POLLERR)) {
            // The station closed the device; it may open it again later.
            hung_up = true;
            queue.clear();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<Arguments> args = parse_arguments(argc, argv, error);
    if (!args) {
        std::cerr << "velkantor-sim: " << error << " (see --help)\n";
        return kExitUsage;
    }
    if (args->help) {
        usage(std::cout);
        return 0;
    }

    PcClock clock;
    BoardOptions& options = args->options;
    options.pc_start = clock.now();
    options.board_start =
        args->start ? *args->start : velkantor::text::from_epoch_seconds(options.pc_start);
    if (args->garbage_after && options.model.rfind("ZEDA", 0) != 0) {
        std::cerr << "velkantor-sim: --garbage-after is for the ZEDA boards (see --help)\n";
        return kExitUsage;
    }
    if (args->garbage_after) {
        // Every byte replaced, for as long as anyone would run a simulator.
        constexpr double kYears = 10 * 366 * 86400.0;
        double from = velkantor::text::to_epoch_seconds(options.board_start) + *args->garbage_after;
        options.faults.garbage.push_back({velkantor::text::from_epoch_seconds(from),
                                          velkantor::text::from_epoch_seconds(from + kYears), 1.0,
                                          0.0});
    }
    std::unique_ptr<BoardModel> board = velkantor::sim::make_board(options);
    if (!board) {
        std::cerr << "velkantor-sim: unknown model: " << options.model << " (see --help)\n";
        return kExitUsage;
    }

    // Stop signals are held back except while sleeping in ppoll, so a stop request can never
    // slip in between the check and the sleep.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigset_t wait_mask;
    sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A station that goes away must not take the simulator with it.
    signal(SIGPIPE, SIG_IGN);

    try {
        velkantor::sim::PtyDevice pty;
        if (!args->link.empty() && !make_link(args->link, pty.slave_path())) return 1;
        std::cout << pty.slave_path() << std::endl;
        serve(*board, pty.master_fd(), clock, wait_mask);
        if (!args->link.empty()) remove_link(args->link, pty.slave_path());
    } catch (const std::system_error& e) {
        std::cerr << "velkantor-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
