#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "acquisition/station.h"
#include "app/command_line.h"
#include "app/console_operator.h"
#include "app/demo_station.h"
#include "app/desktop_app.h"
#include "app/desktop_host.h"
#include "app/headless_host.h"
#include "app/network_services.h"
#include "app/sim_process.h"
#include "app/station_displays.h"
#include "app/tools.h"
#include "config/settings_file.h"
#include "config/writable_paths.h"
#include "display/displays.h"
#include "platform/port_map.h"
#include "platform/real/cups_printer.h"
#include "platform/real/linux_parallel_port.h"
#include "platform/real/linux_sound.h"
#include "platform/real/posix_serial_port.h"
#include "platform/real/qt_picture_codec.h"
#include "platform/real/statvfs_disk_space.h"
#include "platform/real/std_file_system.h"
#include "platform/real/system_clock.h"
#include "platform/real/system_pc_clock.h"

using namespace velkantor;

namespace {

// The headless program's exit status: what a service manager needs to decide whether a
// restart can help (a board that comes up after the PC) or cannot (a settings error).
int exit_status(acquisition::RunEnd end) {
    switch (end) {
        case acquisition::RunEnd::none:
        case acquisition::RunEnd::stopped:
            return 0;
        case acquisition::RunEnd::board_not_found:
            return 4;
        case acquisition::RunEnd::refused_by_settings:
            return 5;
        case acquisition::RunEnd::failed:
            return 6;
    }
    return 6;
}

std::string station_folder(const app::Options& options) {
    if (!options.station.empty()) return options.station;
    if (options.simulate && app::environment_station_folder().empty()) {
        return app::demo_station_folder(options.model);
    }
    return app::default_station_folder();
}

int run_station(const app::Options& options, int argc, char** argv) {
    platform::StdFileSystem fs;
    platform::SystemClock clock;
    std::string folder = station_folder(options);
    // The simulated board needs settings that match it: a station folder without settings
    // is seeded like the demo station (one that has settings is left as it is), or it would
    // record nothing and stop at the question for an unknown board.
    if (options.simulate) {
        bool fresh = !fs.exists(platform::join_path(folder, config::kSettingsFileName));
        if (auto seeded = app::seed_demo_station(fs, folder, options.model); !seeded) {
            std::cerr << "velkantor: cannot prepare the demo station " << folder << ": "
                      << seeded.error << "\n";
            return 1;
        }
        if (fresh) {
            std::cout << "New station " << folder << ": settings of the demo station for the "
                      << "simulated " << options.model << " board" << std::endl;
        }
    }

    platform::PortMap map;
    if (auto text = fs.read_file(platform::join_path(folder, "velkant.ports"), 65536)) {
        map = platform::PortMap::parse(*text);
    }
    map.override_device = options.port;

    app::SimProcess simulator;
    if (options.simulate) {
        std::string failed = simulator.start(
            app::simulator_program(), {"--model", options.model, "--quake-every", "300", "--serial",
                                       app::kDemoBoardSerial, "--trim", app::kDemoBoardTrim});
        if (!failed.empty()) {
            std::cerr << "velkantor: " << failed << "\n";
            return 1;
        }
        map.override_device = simulator.device();
        std::cout << "Simulated " << options.model << " board on " << simulator.device()
                  << std::endl;
    }

    bool desktop = !options.headless;
    std::unique_ptr<QApplication> application;
    if (desktop) application = std::make_unique<QApplication>(argc, argv);

    platform::PosixSerialPort port(map);
    app::ConsoleOperator console(std::cerr);
    std::unique_ptr<gui::QtOperator> dialogs;
    if (desktop) dialogs = std::make_unique<gui::QtOperator>();
    platform::Operator& op = desktop ? static_cast<platform::Operator&>(*dialogs) : console;
    app::HeadlessHost headless_host(clock, port);
    std::unique_ptr<app::DesktopHost> desktop_host;
    if (desktop) desktop_host = std::make_unique<app::DesktopHost>(clock, port);
    platform::Host& host = desktop ? static_cast<platform::Host&>(*desktop_host) : headless_host;
    acquisition::Station station({fs, clock, port, op, host}, folder);
    headless_host.attach(&station);
    if (desktop) desktop_host->attach(&station);
    platform::QtPictureCodec codec;
    station.event_log().on_line = [](const std::string& line) { std::cout << line << std::endl; };
    platform::CupsPrinter printer(
        [&station](std::string_view text) { station.AppendEventLog(text); });
    station.set_printer(&printer);
    platform::LinuxParallelPort parallel_port;
    platform::LinuxSound sound;
    platform::StatvfsDiskSpace disk_space;
    // The machine's clock is set from the board only with the operator's explicit permission.
    platform::SystemPcClock pc_clock;
    station.set_devices({.parallel_port = &parallel_port,
                         .sound = &sound,
                         .disk_space = &disk_space,
                         .pc_clock = options.set_pc_clock ? &pc_clock : nullptr});
    // miniSEED, SeedLink, the page and the alerts (network.ini and the command line). They
    // start once the station has loaded: its folder and event log exist by then (their
    // problems and addresses go there, and to the console), and the records are made from
    // the settings the station runs with.
    app::NetworkServices services(station.services(), options);
    auto start_services = [&services] {
        services.configure();
        services.start();
    };
    if (desktop) {
        return app::run_desktop(
            station, *desktop_host, *dialogs, codec,
            {options.simulate, options.for_seconds, options.screenshot, options.open_windows,
             start_services, [&services] { return services.page_address(); }});
    }

    // The same drums and spectra as the desktop draws, saved without windows.
    display::DisplayView no_windows;
    display::Displays displays(app::display_source(station), codec, no_windows);
    app::ConsoleErrorList error_list(std::cerr);
    station.errors().set_view(&error_list);
    station.errors().on_fatal = [](const std::string& line) {
        std::cerr << "velkantor: fatal error: " << line << std::endl;
        std::_Exit(3);
    };
    app::HeadlessHost::install_signal_handlers();

    try {
        std::cout << "Station folder " << folder << std::endl;
        if (std::string failed = station.load(); !failed.empty()) {
            std::cerr << "velkantor: " << failed << "\n";
            return 1;
        }
        // A service unit's sandbox: an events folder it may not write is said once, here,
        // rather than as a failure at every event.
        if (const char* writable = std::getenv(config::kWritablePathsVariable)) {
            std::string outside = config::events_folder_outside_writable(
                station.settings().general.events_folder, folder, writable);
            if (!outside.empty()) station.AppendEventLog(outside);
        }
        start_services();
        bool started = headless_host.run(options.for_seconds);
        if (started) {
            const auto& run = station.run();
            std::cout << "Frames received: " << run.data_frames << " data, " << run.time_frames
                      << " board time, " << run.rejected_frames << " bad" << std::endl;
            auto per_channel = [](const char* what, const auto& counts) {
                std::cout << what;
                for (int ch = 0; ch < config::kChannels; ++ch) {
                    std::cout << (ch ? "," : "") << " channel " << ch + 1 << " "
                              << counts[static_cast<size_t>(ch)];
                }
                std::cout << std::endl;
            };
            per_channel("Samples filled (lost on the line):", station.datalog().filled());
            per_channel("Samples cut (over a second's rate):", station.datalog().over_rate());
        }
        services.stop();  // the last records out, the clients told, before the program's end
        station.exit();
        return exit_status(station.run_end());
    } catch (const runtime::FatalError& error) {
        std::cerr << "velkantor: stopped by an error (service mode): " << error.what() << "\n";
        return 3;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "review") {
        platform::StdFileSystem fs;
        return app::run_review_command({args.begin() + 1, args.end()}, fs, std::cout, std::cerr);
    }
    if (!args.empty() && args[0] == "drum") {
        platform::StdFileSystem fs;
        return app::run_drum_command({args.begin() + 1, args.end()}, fs, std::cout, std::cerr);
    }
    if (!args.empty() && args[0] == "export") {
        platform::StdFileSystem fs;
        return app::run_export_command({args.begin() + 1, args.end()}, fs, std::cout, std::cerr,
                                       isatty(STDERR_FILENO) != 0);
    }
    if (!args.empty() && args[0] == "extract") {
        platform::StdFileSystem fs;
        return app::run_extract_command({args.begin() + 1, args.end()}, fs, std::cout, std::cerr,
                                        isatty(STDERR_FILENO) != 0);
    }
    app::Options options = app::parse_command_line(args);
    if (!options.error.empty()) {
        std::cerr << "velkantor: " << options.error << "\nTry velkantor --help\n";
        return 2;
    }
    if (options.help) {
        std::cout << app::usage_text();
        return 0;
    }
    if (options.version) {
        std::cout << runtime::kProgramVersion << "\n";
        return 0;
    }
    return run_station(options, argc, argv);
}
