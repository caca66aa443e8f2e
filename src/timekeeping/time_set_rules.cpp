#include "timekeeping/time_set_rules.h"

#include "text/number_text.h"

namespace velkantor::timekeeping {

namespace {

constexpr std::array<TimeFieldRule, 7> kRules = {{
    {1, 31, "Check DAY Value", "Insert a valid DAY (01..31)"},
    {1, 12, "Check Month Value", "Insert a valid Month (1..12)"},
    {1990, 2090, "Check Year Value", "Insert a valid Year (1990..2090)"},
    {0, 23, "Check Hour Value", "Insert a valid hour (00..23)"},
    {0, 59, "Check minute Value", "Insert a valid minute (00..59)"},
    {0, 59, "Check second Value", "Insert a valid second (00..59)"},
    {-23, 23, "Check GMT Value", "Insert a valid GMT correction (-23..+23)"},
}};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

const TimeFieldRule& time_field_rule(TimeField field) {
    return kRules[static_cast<size_t>(field)];
}

std::optional<int> time_field_value(TimeField field, std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Every valid entry has at most four digits; more only risk an overflow.
    if (text.empty() || text.size() > 6) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    const TimeFieldRule& rule = time_field_rule(field);
    if (value < rule.lo || value > rule.hi) return std::nullopt;
    return value;
}

int gmt_field_from_offset(int gmt_offset, int sync_source) {
    return sync_source != 0 ? gmt_offset + 1 : gmt_offset;
}

int gmt_offset_from_field(int field, int sync_source) {
    return sync_source != 0 ? field - 1 : field;
}

std::array<std::string, 6> time_field_texts(const text::DateTime& t) {
    return {text::zero_padded(t.day, 2),    text::zero_padded(t.month, 2),
            text::zero_padded(t.year, 4),   text::zero_padded(t.hour, 2),
            text::zero_padded(t.minute, 2), text::zero_padded(t.second, 2)};
}

std::optional<text::DateTime> manual_date_time(int year, int month, int day, int hours, int minutes,
                                               int seconds) {
    text::DateTime t{year, month, day, hours, minutes, seconds, 0};
    if (!text::is_valid(t)) return std::nullopt;
    return t;
}

}  // namespace velkantor::timekeeping
