#include "timekeeping/time_set_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velkantor::timekeeping {
namespace {

TEST(TimeSetRules, FieldRangesAndEntries) {
    struct Case {
        TimeField field;
        std::string text;
        std::optional<int> value;
    };
    const std::vector<Case> cases = {
        {TimeField::year, "1989", std::nullopt},
        {TimeField::year, "1990", 1990},
        {TimeField::year, "2090", 2090},
        {TimeField::year, "2091", std::nullopt},
        {TimeField::day, "0", std::nullopt},
        {TimeField::day, "01", 1},
        {TimeField::day, "31", 31},
        {TimeField::day, "32", std::nullopt},
        {TimeField::month, "13", std::nullopt},
        {TimeField::hours, "00", 0},
        {TimeField::hours, "24", std::nullopt},
        {TimeField::minutes, "60", std::nullopt},
        {TimeField::seconds, " 59 ", 59},
        {TimeField::seconds, "-1", std::nullopt},
        {TimeField::gmt, "-23", -23},
        {TimeField::gmt, "+23", 23},
        {TimeField::gmt, "-24", std::nullopt},
        {TimeField::gmt, "24", std::nullopt},
        // Anything that is not a plain whole number is refused, never read as 0 or cut.
        {TimeField::hours, "", std::nullopt},
        {TimeField::hours, "-", std::nullopt},
        {TimeField::hours, "1a", std::nullopt},
        {TimeField::hours, "1.5", std::nullopt},
        {TimeField::hours, "1e1", std::nullopt},
        {TimeField::hours, "1 2", std::nullopt},
        {TimeField::hours, "--1", std::nullopt},
        {TimeField::year, "99999999999999999999", std::nullopt},
        {TimeField::gmt, "-0", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(time_field_value(c.field, c.text), c.value) << "'" << c.text << "'";
    }
}

TEST(TimeSetRules, TimeZoneFieldRoundTrip) {
    // DCF77: stored 0 shows 1; accepting 1 stores 0, accepting 2 stores 1.
    EXPECT_EQ(gmt_field_from_offset(0, 1), 1);
    EXPECT_EQ(gmt_offset_from_field(1, 1), 0);
    EXPECT_EQ(gmt_offset_from_field(2, 1), 1);
    // GPS keeps the number as it is.
    EXPECT_EQ(gmt_field_from_offset(-5, 0), -5);
    EXPECT_EQ(gmt_offset_from_field(-5, 0), -5);
    for (int stored = -24; stored <= 22; ++stored) {
        EXPECT_EQ(gmt_offset_from_field(gmt_field_from_offset(stored, 1), 1), stored);
    }
}

TEST(TimeSetRules, FieldTextsAndTheManualDate) {
    auto texts = time_field_texts({2026, 3, 1, 7, 5, 9, 0});
    EXPECT_EQ(texts, (std::array<std::string, 6>{"01", "03", "2026", "07", "05", "09"}));

    EXPECT_EQ(manual_date_time(2024, 2, 29, 23, 59, 59),
              (text::DateTime{2024, 2, 29, 23, 59, 59, 0}));
    EXPECT_EQ(manual_date_time(2026, 2, 29, 12, 0, 0), std::nullopt);
    EXPECT_EQ(manual_date_time(2026, 4, 31, 12, 0, 0), std::nullopt);
}

}  // namespace
}  // namespace velkantor::timekeeping
