#include "platform/real/cups_printer.h"

#include <cups/cups.h>

namespace velkantor::platform {

void CupsPrinter::print_line(std::string_view text, std::string_view font) {
    lines_.emplace_back(text);
    font_ = std::string(font);
}

std::string CupsPrinter::page(const std::vector<std::string>& lines, std::string_view font) {
    // PostScript font names carry no blanks; a printer without the font substitutes its
    // own fixed-width one.
    std::string name;
    for (char c : font) {
        if (c != ' ') name += c;
    }
    std::string ps = "%!PS-Adobe-3.0\n/" + name + " findfont 10 scalefont setfont\n";
    int y = 760;
    for (const auto& line : lines) {
        std::string escaped;
        for (char c : line) {
            if (c == '(' || c == ')' || c == '\\') escaped += '\\';
            escaped += c;
        }
        ps += "40 " + std::to_string(y) + " moveto (" + escaped + ") show\n";
        y -= 12;
        if (y < 40) {
            ps += "showpage\n/" + name + " findfont 10 scalefont setfont\n";
            y = 760;
        }
    }
    return ps + "showpage\n";
}

void CupsPrinter::say_once(const std::string& text) {
    if (said_ == text) return;
    said_ = text;
    if (log_) log_(text);
}

void CupsPrinter::end_page() {
    if (lines_.empty()) return;
    std::string document = page(lines_, font_);
    lines_.clear();
    cups_dest_t* dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    cups_dest_t* dest = cupsGetDest(nullptr, nullptr, count, dests);
    if (!dest) {
        cupsFreeDests(count, dests);
        say_once("No default printer: the event report is not printed.");
        return;
    }
    std::string printer = dest->name;
    cupsFreeDests(count, dests);
    int job =
        cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), "VELKANTOR event report", 0, nullptr);
    bool sent = job > 0 &&
                cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), job, "events",
                                  CUPS_FORMAT_POSTSCRIPT, 1) == HTTP_STATUS_CONTINUE &&
                cupsWriteRequestData(CUPS_HTTP_DEFAULT, document.data(), document.size()) ==
                    HTTP_STATUS_CONTINUE &&
                cupsFinishDocument(CUPS_HTTP_DEFAULT, printer.c_str()) == IPP_STATUS_OK;
    if (!sent) {
        say_once("The event report was not printed on " + printer + ": " + cupsLastErrorString());
    }
}

}  // namespace velkantor::platform
