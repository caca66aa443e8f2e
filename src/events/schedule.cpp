#include "events/schedule.h"

#include <optional>
#include <vector>

#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::events {

namespace {

// Accepts "YYYY/MM/DD" (or "-") and "H:MM[:SS]" with one- or two-digit fields.
std::optional<text::DateTime> parse_date_time(std::string_view date, std::string_view time) {
    auto numbers = [](std::string_view s, char separator, int max_fields) {
        std::vector<int> out;
        int value = -1;
        for (char c : s) {
            if (c >= '0' && c <= '9') {
                value = (value < 0 ? 0 : value * 10) + (c - '0');
                if (value > 99999) return std::vector<int>{};
            } else if (c == separator || (separator == '/' && c == '-')) {
                if (value < 0) return std::vector<int>{};
                out.push_back(value);
                value = -1;
            } else if (c != ' ') {
                return std::vector<int>{};
            }
        }
        if (value < 0) return std::vector<int>{};
        out.push_back(value);
        if (static_cast<int>(out.size()) > max_fields) return std::vector<int>{};
        return out;
    };
    auto d = numbers(date, '/', 3);
    auto t = numbers(time, ':', 3);
    if (d.size() != 3 || t.size() < 2) return std::nullopt;
    text::DateTime when{d[0], d[1], d[2], t[0], t[1], t.size() == 3 ? t[2] : 0, 0};
    if (!text::is_valid(when)) return std::nullopt;
    return when;
}

}  // namespace

ScheduleEdit MakeScheduleEntry(std::string_view date, std::string_view time,
                               std::string_view channel, int entries) {
    if (entries >= config::kScheduleEntries) {
        return {false, "Error", "Maximum number of scheduled event is 20", ""};
    }
    auto when = parse_date_time(date, time);
    if (!when) return {false, "Error", "Wrong date or time", ""};
    double number = text::leading_number(channel).value_or(0);
    std::string channel_text(channel);
    if (number < 0 || number > 4 || channel_text.empty()) channel_text = "1";
    return {true, "", "", text::format_datetime(*when) + " Ch:" + channel_text};
}

}  // namespace velkantor::events
