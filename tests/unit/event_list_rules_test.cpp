#include "events/event_list_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkantor::events {
namespace {

TEST(EventFileName, OnlyPlainNamesInMessagesWithABlankAndADot) {
    struct Case {
        const char* entry;
        const char* name;  // nullptr: the entry names no file
    };
    const Case cases[] = {
        {"2026/03/01 12:00:00 20260301_115901.CH1 2026/03/01 11:59:01 L:00006000",
         "20260301_115901.CH1"},
        {"2026/03/01 12:00:00 STARTING VELKANTOR...", "STARTING"},
        {"2026/03/01 12:00:00 STOP", nullptr},
        {"2026/03/01 12:00:00 Board restarted", nullptr},  // no "."
        {"2026/03/01 12:00:00 file.CH1", nullptr},         // no blank
        {"Event list.", nullptr},
        {"2026/03/01 12:00:00 ", nullptr},
        {"2026/03/01 12:00:00  leading.blank", nullptr},
        {"2026/03/01 12:00:00 ../velkant.ini was replaced.", nullptr},
        {"2026/03/01 12:00:00 /etc/passwd read.", nullptr},
        {"2026/03/01 12:00:00 ..\\velkant.ini x.", nullptr},
        {"2026/03/01 12:00:00 .. x.y", nullptr},
        {"2026/03/01 12:00:00 a;$(reboot).CH1 x", "a;$(reboot).CH1"},
    };
    for (const auto& c : cases) {
        auto name = EventFileName(c.entry);
        if (c.name) {
            ASSERT_TRUE(name.has_value()) << c.entry;
            EXPECT_EQ(*name, c.name);
        } else {
            EXPECT_FALSE(name.has_value()) << c.entry << " -> " << name.value_or("");
        }
    }
    std::string with_nul = "2026/03/01 12:00:00 a";
    with_nul += '\0';
    with_nul += "b.c d";
    EXPECT_FALSE(EventFileName(with_nul).has_value());
}

TEST(EventLogLines, SplitsAtLineEnds) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(EventLogLines("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(EventLogLines("a\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(EventLogLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(EventLogLines(""), Lines{});
}

TEST(ViewerCommandWords, SplitsAsAShellSplitsWordsWithoutExpanding) {
    struct Case {
        const char* setting;
        std::vector<std::string> words;  // empty: no program
    };
    const Case cases[] = {
        {"xdg-open", {"xdg-open"}},
        {"  gedit   --new-window ", {"gedit", "--new-window"}},
        {"'/opt/my viewer/view' -t", {"/opt/my viewer/view", "-t"}},
        {"view \"a \\\"b\\\" $HOME\"", {"view", "a \"b\" $HOME"}},
        {"view my\\ file", {"view", "my file"}},
        {"view a''b \"\"", {"view", "ab", ""}},
        {"view ;reboot", {"view", ";reboot"}},
        {"", {}},
        {"   ", {}},
        {"view 'open", {}},
        {"view \"open", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ViewerCommandWords(c.setting), c.words) << c.setting;
}

}  // namespace
}  // namespace velkantor::events
