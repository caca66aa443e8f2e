#include "events/schedule_rules.h"

#include <cmath>

#include "config/settings_file.h"
#include "text/date_time.h"
#include "text/number_text.h"
#include "text/strings.h"

namespace velkantor::events {

std::optional<std::string> ScheduleChannelText(std::string_view typed) {
    const std::string_view text = text::trim(typed);
    if (text.empty()) return std::nullopt;
    const auto value = text::strict_number(text);
    if (!value || !(*value >= 0 && *value <= 4) || std::floor(*value) != *value) {
        return std::nullopt;
    }
    return std::string(1, static_cast<char>('0' + static_cast<int>(*value)));
}

ScheduleFields SplitScheduleEntry(std::string_view entry) {
    ScheduleFields fields;
    if (entry.empty()) return fields;
    if (auto when = text::parse_datetime(entry.substr(0, 19))) {
        fields.date = text::format_date(*when);
        fields.time = text::format_time(*when);
    } else {
        fields.date = std::string(text::trim(entry.substr(0, 10)));
        if (entry.size() > 11) fields.time = std::string(text::trim(entry.substr(11, 8)));
    }
    fields.channel = std::string(1, entry.back());
    return fields;
}

std::vector<std::string> ScheduleListEntries(const config::Settings& settings) {
    std::vector<std::string> entries;
    for (int k = 0; k < config::kScheduleEntries; ++k) {
        const std::string& element = settings.schedule_lines[static_cast<size_t>(k)];
        if (!text::trim(element).empty()) entries.push_back(element);
    }
    return entries;
}

void ApplyScheduleList(config::Settings& settings, const std::vector<std::string>& entries) {
    for (size_t k = 0; k < static_cast<size_t>(config::kScheduleEntries); ++k) {
        settings.schedule_lines[k] = k < entries.size() ? entries[k] : std::string();
    }
    config::DecodeSchedule(settings);
}

}  // namespace velkantor::events
