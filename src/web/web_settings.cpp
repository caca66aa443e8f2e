#include "web/web_settings.h"

#include <charconv>

namespace velkantor::web {

namespace {

constexpr const char* kSection = "web";

bool whole_number(const std::string& text, int lo, int hi, int& out) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < lo || value > hi) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace

WebSettings read_web_settings(const config::IniFile& ini, const std::string& command_line_listen,
                              std::vector<std::string>& problems) {
    WebSettings settings;
    bool good = true;
    for (const auto& entry : ini.entries(kSection)) {
        if (entry.key == "listen") {
            if (!command_line_listen.empty()) continue;
            auto listen = config::parse_listen_address(entry.value, "0.0.0.0");
            if (!listen) {
                problems.push_back(config::ini_problem(kSection, entry, "not [ADDRESS:]PORT"));
                good = false;
            } else {
                settings.listen = *listen;
                settings.on = true;
            }
        } else if (entry.key == "title") {
            if (entry.value.size() > 200) {
                problems.push_back(
                    config::ini_problem(kSection, entry, "longer than 200 characters"));
                good = false;
            } else {
                settings.title = entry.value;
            }
        } else if (entry.key == "events") {
            if (!whole_number(entry.value, 1, 1000, settings.events)) {
                problems.push_back(config::ini_problem(kSection, entry, "not a number 1..1000"));
                good = false;
            }
        } else if (entry.key == "connections") {
            if (!whole_number(entry.value, 1, 1000, settings.connections)) {
                problems.push_back(config::ini_problem(kSection, entry, "not a number 1..1000"));
                good = false;
            }
        } else {
            problems.push_back(config::ini_problem(kSection, entry, "unknown key"));
            good = false;
        }
    }
    if (!command_line_listen.empty()) {
        auto listen = config::parse_listen_address(command_line_listen, "0.0.0.0");
        if (!listen) {
            problems.push_back("--web " + command_line_listen + ": not [ADDRESS:]PORT");
            good = false;
        } else {
            settings.listen = *listen;
            settings.on = true;
        }
    }
    if (!good) settings.on = false;
    return settings;
}

}  // namespace velkantor::web
