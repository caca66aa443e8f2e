#include <gtest/gtest.h>

#include "text/date_time.h"
#include "text/number_text.h"
#include "text/strings.h"

namespace velkantor::text {
namespace {

// The settings readers and protocols lean on these: a blank left on a key, a list piece
// dropped or a non-ASCII byte changed would change what a station reads.
TEST(Strings, TrimCaseAndSplit) {
    struct TrimCase {
        std::string_view text, trimmed;
    };
    for (const auto& c : std::vector<TrimCase>{{"  a b \t\r\n", "a b"},
                                               {"\v\f", ""},
                                               {"", ""},
                                               {"x", "x"},
                                               {" \xC3\xA9 ", "\xC3\xA9"}}) {
        EXPECT_EQ(trim(c.text), c.trimmed) << '"' << c.text << '"';
    }
    EXPECT_EQ(trim("--a--", "-"), "a");

    EXPECT_EQ(to_lower("HHZ.Png-\xC3\x89"), "hhz.png-\xC3\x89");
    EXPECT_EQ(to_upper("velk1_\xC3\xA9z"), "VELK1_\xC3\xA9Z");
    EXPECT_TRUE(equal_ignoring_case("SeedLink3.1", "seedlink3.1"));
    EXPECT_FALSE(equal_ignoring_case("abc", "abd"));
    EXPECT_FALSE(equal_ignoring_case("abc", "abcd"));
    EXPECT_FALSE(equal_ignoring_case("@", "`"));  // 0x40 and 0x60 differ by the case bit only

    using List = std::vector<std::string>;
    struct SplitCase {
        std::string_view text;
        List pieces;
    };
    for (const auto& c : std::vector<SplitCase>{{"HHZ,,EHE", {"HHZ", "", "EHE"}},
                                                {" a , b ", {"a", "b"}},
                                                {"", {""}},
                                                {",", {"", ""}},
                                                {"10.0.0.0/8", {"10.0.0.0/8"}}}) {
        EXPECT_EQ(split(c.text), c.pieces) << '"' << c.text << '"';
    }
    EXPECT_EQ(split("a;b", ';'), (List{"a", "b"}));
    EXPECT_EQ(split_words("  DATA \t 1A2B  \tFETCH"), (List{"DATA", "1A2B", "FETCH"}));
    EXPECT_EQ(split_words(" \t "), List{});
}

TEST(LeadingNumber, ReadsWhatAStationFileHolds) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {" 4 ", 4}, {"-1 ", -1},   {"1 2 3", 123},          {"2x", 2},     {"", 0},
        {"abc", 0}, {"-.5", -0.5}, {"1.5.6", 1.5},          {"1e3", 1000}, {"2D2", 200},
        {"1e", 1},  {"+7", 7},     {"1e999", std::nullopt}, {"1e-999", 0}, {"- 3", -3},
    };
    for (const auto& c : cases) EXPECT_EQ(leading_number(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrictNumber, WholeTextOrNothing) {
    EXPECT_EQ(strict_number(" 2 "), 2);
    EXPECT_EQ(strict_number("0.25"), 0.25);
    EXPECT_EQ(strict_number("1e+20"), 1e20);
    EXPECT_EQ(strict_number("2x"), std::nullopt);
    EXPECT_EQ(strict_number(""), std::nullopt);
    EXPECT_EQ(strict_number("1 2"), std::nullopt);
    EXPECT_EQ(strict_number("++1"), std::nullopt);
}

TEST(NumberForms, PrintFormAndRounding) {
    EXPECT_EQ(print_form(int64_t{4}), " 4 ");
    EXPECT_EQ(print_form(int64_t{-1}), "-1 ");
    EXPECT_EQ(print_form(0.001), " 0.001 ");
    EXPECT_EQ(print_form(-2.5), "-2.5 ");
    EXPECT_EQ(print_form(-0.0), " 0 ");
    EXPECT_EQ(signed_form(7), " 7");
    EXPECT_EQ(round_half_even(2.5), 2);
    EXPECT_EQ(round_half_even(3.5), 4);
    EXPECT_EQ(round_half_even(-2.5), -2);
    EXPECT_EQ(to_i16(32767.4), int16_t{32767});
    EXPECT_EQ(to_i16(32767.5), std::nullopt);
    EXPECT_EQ(leading_hex_i16(" A "), int16_t{10});
    EXPECT_EQ(leading_hex_i16("10000"), std::nullopt);
    EXPECT_EQ(hex2(0x0A), "0A");
}

TEST(DateTime, EpochRoundTripAndForms) {
    DateTime t{2024, 2, 29, 23, 59, 59, 999};
    EXPECT_EQ(from_epoch_seconds(to_epoch_seconds(t)), t);
    EXPECT_EQ(format_datetime(t), "2024/02/29 23:59:59");
    EXPECT_EQ(format_file_stamp(t), "20240229_235959");
    EXPECT_EQ(format_dmy(t), "29/02/2024 23:59:59");
    EXPECT_EQ(format_date(from_epoch_seconds(to_epoch_seconds(t) + 0.001)), "2024/03/01");
    EXPECT_FALSE(is_valid_date(2023, 2, 29));
    EXPECT_EQ(parse_datetime("2005/03/12 14:30:00"), (DateTime{2005, 3, 12, 14, 30, 0, 0}));
    EXPECT_EQ(parse_datetime("2005/13/12 14:30:00"), std::nullopt);
}

}  // namespace
}  // namespace velkantor::text
