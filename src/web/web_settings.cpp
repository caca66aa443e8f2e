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

WebSettings read_web_settings(const config::IniFile& ini, const config::NetworkOptions& options,
                              std::vector<std::string>& problems) {
    WebSettings settings;
    auto whole = [](int& out) {
        return [&out](const config::IniValue& value) {
            if (!whole_number(value.text(), 1, 1000, out)) value.refuse("not a number 1..1000");
        };
    };
    const bool good = config::read_section(
        ini,
        {.name = kSection,
         .keys = {{"listen", config::listen_key(settings.listen, settings.on,
                                                [](const std::string&) {
                                                    return std::string("not [ADDRESS:]PORT");
                                                })},
                  {"title",
                   [&](const config::IniValue& value) {
                       if (value.text().size() > 200) {
                           value.refuse("longer than 200 characters");
                       } else {
                           settings.title = value.text();
                       }
                   }},
                  {"events", whole(settings.events)},
                  {"connections", whole(settings.connections)}},
         .options = {{.key = "listen", .name = "--web", .values = config::given(options.web)}},
         .unknown_refused = true,
         .unknown_text = "unknown key"},
        problems);
    if (!good) settings.on = false;
    settings.sensors = fdsn::read_sensor_sections(ini, problems);
    return settings;
}

}  // namespace velkantor::web
