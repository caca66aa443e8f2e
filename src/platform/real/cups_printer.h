#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/printer.h"

namespace velkantor::platform {

// The default CUPS printer. A page is gathered line by line and sent as one PostScript job
// when it is finished. Without a default printer nothing is printed, and that is said once.
class CupsPrinter : public Printer {
public:
    explicit CupsPrinter(std::function<void(std::string_view)> log) : log_(std::move(log)) {}
    void print_line(std::string_view text, std::string_view font) override;
    void end_page() override;

    // The PostScript page for the lines (for tests and for printing).
    static std::string page(const std::vector<std::string>& lines, std::string_view font);

private:
    void say_once(const std::string& text);

    std::function<void(std::string_view)> log_;
    std::vector<std::string> lines_;
    std::string font_ = "Courier New";
    std::string said_;
};

}  // namespace velkantor::platform
