#include "app/desktop_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <iostream>

#include "app/station_displays.h"
#include "display/displays.h"
#include "gui/display_windows.h"
#include "gui/error_list_window.h"
#include "gui/event_list_window.h"
#include "gui/hardware_setup_window.h"
#include "gui/main_window.h"
#include "gui/review_window.h"
#include "gui/scheduler_window.h"
#include "gui/small_windows.h"
#include "gui/time_set_window.h"
#include "gui/tool_windows.h"
#include "gui/trigger_window.h"
#include "gui/trimming_window.h"

namespace velkantor::app {

namespace {

// The settings and tool windows behind the main window's buttons.
void add_tool_windows(gui::ToolWindows& tools, acquisition::Station& station,
                      gui::MainWindow& panel) {
    // The time set and hardware setup windows receive the clock's indicators while open.
    timekeeping::ListenHook listen = [&panel](timekeeping::HousekeepingView* view, bool open) {
        if (open) {
            panel.add_housekeeping_listener(view);
        } else {
            panel.remove_housekeeping_listener(view);
        }
    };
    tools.add("timeset", [&, listen] {
        return std::make_unique<gui::TimeSetWindow>(
            station, gui::TimeSetWindow::Hooks{listen, [&tools] { tools.open("trimming"); }});
    });
    tools.add("trimming", [&] { return std::make_unique<gui::TrimmingWindow>(station); });
    tools.add("ch_review", [&] { return std::make_unique<gui::ReviewWindow>(station); });
    tools.add("active", [&, listen] {
        return std::make_unique<gui::HardwareSetupWindow>(
            station, gui::HardwareSetupWindow::Hooks{
                         listen,
                         // The instruments without a second channel move the selection to 1;
                         // any other Apply leaves it (and an open trigger window) alone.
                         [&panel](bool single_channel) {
                             if (single_channel) panel.reselect_first_channel();
                             panel.reload_controls();
                         }});
    });
    // Opened from the trigger window's "Scheduler" button.
    tools.add("cmd_scheduler", [&] { return std::make_unique<gui::SchedulerWindow>(station); });
    tools.add("set_triggers", [&] {
        return std::make_unique<gui::TriggerWindow>(
            station, gui::TriggerWindow::Links{[&panel] { return panel.selected_channel(); },
                                               [&panel](int ch) { panel.select_channel(ch); },
                                               [&panel] { panel.reload_controls(); },
                                               [&tools] { tools.open("cmd_scheduler"); }});
    });
    tools.add("events", [&] { return std::make_unique<gui::EventListWindow>(station); });
}

// The open tool windows' live values, once a second.
void refresh_tool_windows(gui::ToolWindows& tools) {
    tools.for_each([](const std::string&, QWidget& window) {
        if (!window.isVisible()) return;
        if (auto* w = dynamic_cast<gui::TimeSetWindow*>(&window)) w->refresh();
        if (auto* w = dynamic_cast<gui::TrimmingWindow*>(&window)) w->refresh();
        if (auto* w = dynamic_cast<gui::HardwareSetupWindow*>(&window)) w->refresh();
        if (auto* w = dynamic_cast<gui::TriggerWindow*>(&window)) w->refresh();
    });
}

// The main window as `path`; every other window that is open as path-<object name>.png.
void save_screenshots(QWidget& panel, const std::string& path) {
    auto save = [](QWidget& window, const std::string& file) {
        if (!window.grab().save(QString::fromStdString(file), "PNG")) {
            std::cerr << "velkantor: cannot save the screenshot " << file << "\n";
        }
    };
    save(panel, path);
    std::string stem = path.size() > 4 && path.substr(path.size() - 4) == ".png"
                           ? path.substr(0, path.size() - 4)
                           : path;
    // The whole screen too: how the windows lie on it.
    if (QScreen* screen = panel.screen()) {
        const std::string file = stem + "-screen.png";
        if (!screen->grabWindow(0).save(QString::fromStdString(file), "PNG")) {
            std::cerr << "velkantor: cannot save the screenshot " << file << "\n";
        }
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window == &panel || !window->isVisible() || window->objectName().isEmpty()) continue;
        std::string name = window->objectName().toStdString();
        // The spectrum windows share their name; the caption tells the channel.
        if (name == "fft") name += window->windowTitle().right(1).toStdString();
        save(*window, stem + "-" + name + ".png");
    }
}

}  // namespace

int run_desktop(acquisition::Station& station, DesktopHost& host, gui::QtOperator& op,
                platform::PictureCodec& codec, const DesktopOptions& options) {
    gui::DisplayWindows windows;
    display::Displays displays(display_source(station), codec, windows);
    windows.attach(&displays, &station.settings());

    bool ended = false;
    auto end_program = [&] {
        if (ended) return;
        ended = true;
        if (station.in_run()) {
            // EXIT while acquiring ends the run first: its files are closed with their counts.
            station.stop();
            while (station.in_run()) {
                if (station.pass().ended) break;
            }
        }
        station.exit();
        QTimer::singleShot(0, qApp, &QApplication::quit);
    };

    std::unique_ptr<gui::LogoWindow> logo;
    gui::ToolWindows tools;
    gui::MainWindow panel(
        station, displays,
        {[&] { return host.start(); }, [&] { host.stop(); }, end_program,
         [&] {
             if (!logo) logo = std::make_unique<gui::LogoWindow>();
             logo->show();
             logo->raise();
         },
         [&](const std::string& button) { tools.open(button); },
         [&](int ch) {
             // An open trigger window follows the main window's channel.
             if (auto* w = dynamic_cast<gui::TriggerWindow*>(tools.find("set_triggers"))) {
                 w->select_channel(ch);
             }
         }});
    windows.set_anchor(&panel);
    add_tool_windows(tools, station, panel);
    panel.enable_window_buttons([&](const std::string& button) { return tools.has(button); });
    op.set_dialog_parent(&panel);

    gui::ErrorListWindow error_list(
        station.errors(), [&](std::string_view text) { station.AppendEventLog(text); },
        [&] {
            if (station.port().is_open()) station.port().close();
            station.AppendEventLog(gui::ErrorListWindow::kAbortedLogText);
            end_program();
        });
    station.errors().set_view(&error_list);
    station.errors().on_fatal = [](const std::string& line) {
        std::cerr << "velkantor: fatal error: " << line << std::endl;
        std::_Exit(3);
    };

    // The charts move every frame; drums and spectra change once a second at most.
    host.on_refresh = [&] { panel.refresh_charts(); };
    host.on_tick = [&] {
        panel.refresh_indicators();
        windows.refresh();
        refresh_tool_windows(tools);
    };
    host.on_run_ended = [&] { windows.refresh(); };

    try {
        if (std::string failed = panel.load(); !failed.empty()) {
            QMessageBox::critical(nullptr, "VELKANTOR", QString::fromStdString(failed));
            return 1;
        }
    } catch (const runtime::FatalError& error) {
        QMessageBox::critical(nullptr, "VELKANTOR", QString::fromStdString(error.what()));
        return 3;
    }
    if (options.after_load) options.after_load();
    if (options.page_address) panel.show_page_link(options.page_address());
    panel.show();
    if (station.settings().general.no_logo == 0) {
        logo = std::make_unique<gui::LogoWindow>();
        logo->show();
        QTimer::singleShot(4000, logo.get(), [&] { logo->close(); });
    }
    for (const std::string& name : options.open_windows) {
        if (tools.has(name)) {
            tools.open(name);
        } else {
            std::cerr << "velkantor: no window \"" << name << "\" to open\n";
        }
    }
    host.enable_timer();
    if (options.start_at_once) QTimer::singleShot(0, qApp, [&] { host.start(); });
    const std::string& screenshot = options.screenshot;
    if (options.for_seconds > 0) {
        QTimer::singleShot(static_cast<int>(options.for_seconds * 1000), qApp, [&] {
            if (!screenshot.empty()) save_screenshots(panel, screenshot);
            // A timed run ends as STOP would end it, without the close button's question.
            panel.end_after_run();
        });
    }
    int status = QApplication::exec();
    station.errors().set_view(nullptr);
    return status;
}

}  // namespace velkantor::app
