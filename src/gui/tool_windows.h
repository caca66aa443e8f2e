#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace velkantor::gui {

// The settings and tool windows the main window's buttons open, by button name. A window is
// made at its first opening and kept: opening it again raises it rather than making a second.
class ToolWindows {
public:
    using Factory = std::function<std::unique_ptr<QWidget>()>;

    void add(const std::string& button, Factory factory) {
        factories_[button] = std::move(factory);
    }
    bool has(const std::string& button) const { return factories_.count(button) != 0; }
    // Shows the window (made now if needed) and brings it to the front.
    QWidget* open(const std::string& button);
    // The window if it has been made (shown or not), else null.
    QWidget* find(const std::string& button) const;
    // Every window made so far.
    template <typename F>
    void for_each(F f) const {
        for (const auto& [name, window] : windows_) f(name, *window);
    }

private:
    std::map<std::string, Factory> factories_;
    std::map<std::string, std::unique_ptr<QWidget>> windows_;
};

}  // namespace velkantor::gui
