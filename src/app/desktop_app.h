#pragma once

#include <functional>
#include <string>
#include <vector>

#include "acquisition/station.h"
#include "app/desktop_host.h"
#include "gui/qt_operator.h"
#include "platform/picture_codec.h"

namespace velkantor::app {

// The desktop: the main window loads the station and the Qt event loop runs it until EXIT.
// The QApplication exists already. Returns the program's exit status.
struct DesktopOptions {
    // START once the window is up (the simulated board: the demo shows a running station).
    bool start_at_once = false;
    // Above 0: the program ends (EXIT) after this time, first saving the screen as
    // `screenshot` when one is named.
    double for_seconds = 0;
    std::string screenshot;
    // Windows opened once the main window is up (the names of the buttons that open them).
    std::vector<std::string> open_windows;
    // Called once the station has loaded its settings, before the window shows.
    std::function<void()> after_load;
    // Then: where the station's page can be opened (empty: no page); the window offers it.
    std::function<std::string()> page_address;
};
int run_desktop(acquisition::Station& station, DesktopHost& host, gui::QtOperator& op,
                platform::PictureCodec& codec, const DesktopOptions& options);

}  // namespace velkantor::app
