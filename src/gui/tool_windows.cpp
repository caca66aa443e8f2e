#include "gui/tool_windows.h"

namespace velkantor::gui {

QWidget* ToolWindows::open(const std::string& button) {
    auto& window = windows_[button];
    if (!window) {
        auto factory = factories_.find(button);
        if (factory == factories_.end()) {
            windows_.erase(button);
            return nullptr;
        }
        window = factory->second();
        if (!window) {
            windows_.erase(button);
            return nullptr;
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window.get();
}

QWidget* ToolWindows::find(const std::string& button) const {
    auto it = windows_.find(button);
    return it == windows_.end() ? nullptr : it->second.get();
}

}  // namespace velkantor::gui
