#pragma once

#include <string_view>

namespace velkantor::platform {

// The default printer: text lines in a requested font, gathered into a page that is sent
// when it is finished.
class Printer {
public:
    virtual ~Printer() = default;
    virtual void print_line(std::string_view text, std::string_view font) = 0;
    virtual void end_page() = 0;
};

}  // namespace velkantor::platform
