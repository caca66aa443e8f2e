#include "stream/datalink_settings.h"

#include <algorithm>

#include "text/number_text.h"

namespace velkantor::stream {

namespace {

std::function<void(const config::IniValue&)> number_into(double& out, double low, double high) {
    return [&out, low, high](const config::IniValue& value) {
        auto parsed = text::strict_number(value.text());
        if (!parsed || *parsed < low || *parsed > high) {
            value.refuse("\"" + value.text() + "\" is not a number from " +
                         text::shortest_real(low) + " to " + text::shortest_real(high));
        } else {
            out = *parsed;
        }
    };
}

}  // namespace

DataLinkSettings ParseDataLinkSettings(const config::IniFile& ini,
                                       std::vector<std::string>& problems,
                                       const config::NetworkOptions& options) {
    DataLinkSettings s;
    bool ok = config::read_section(
        ini,
        {.name = "datalink",
         .keys = {{"server",
                   [&](const config::IniValue& value) {
                       auto address = config::parse_listen_address(value.text(), "");
                       if (!address || address->address.empty()) {
                           value.refuse("\"" + value.text() + "\" is not HOST:PORT");
                       } else {
                           s.host = address->address;
                           s.port = address->port;
                           s.enabled = true;
                       }
                   }},
                  {"client_id",
                   [&](const config::IniValue& value) {
                       const std::string& text = value.text();
                       bool plain = !text.empty() && text.size() <= 64 &&
                                    std::all_of(text.begin(), text.end(), [](char c) {
                                        return c > 32 && c < 127 && c != ':';
                                    });
                       if (plain) {
                           s.client_id = text;
                       } else {
                           value.refuse(
                               "the client id must be 1 to 64 printable characters "
                               "without blanks or \":\"");
                       }
                   }},
                  {"backfill",
                   [&](const config::IniValue& value) {
                       if (value.text() == "0" || value.text() == "1") {
                           s.backfill = value.text() == "1";
                       } else {
                           value.refuse("\"" + value.text() + "\" is not 0 or 1");
                       }
                   }},
                  {"backfill_rate", number_into(s.backfill_rate, 1, 1000)},
                  {"timeout", number_into(s.timeout_seconds, 5, 600)}},
         .options = {{.key = "server",
                      .name = "--datalink",
                      .values = config::given(options.datalink)}},
         .refused_suffix = "; the DataLink sender stays off"},
        problems);
    if (!ok) s.enabled = false;
    return s;
}

}  // namespace velkantor::stream
