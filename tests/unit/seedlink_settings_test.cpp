// [seedlink] clients_per_address of network.ini: read, bounded, reported by line.
#include <gtest/gtest.h>

#include "config/network_ini.h"
#include "stream/stream_settings.h"

namespace velkantor::stream {
namespace {

TEST(SeedLinkSettings, ClientsPerAddress) {
    struct Case {
        const char* line;  // after "[seedlink]\nlisten = 18000\n"
        int per_address;
        bool served;
        const char* problem;  // part of the one message expected ("" = none)
    } cases[] = {
        {"", 4, true, ""},
        {"clients_per_address = 1\n", 1, true, ""},
        {"clients_per_address = 16\n", 16, true, ""},
        {"clients_per_address = 0\n", 4, false, "[seedlink] clients_per_address (line 3)"},
        {"clients_per_address = 2.5\n", 4, false, "is not a whole number from 1 to 1000"},
        {"clients_per_address = many\n", 4, false, "\"many\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> problems;
        auto settings = ParseStreamSettings(
            config::IniFile::parse(std::string("[seedlink]\nlisten = 18000\n") + c.line), problems);
        EXPECT_EQ(settings.seedlink.clients_per_address, c.per_address);
        EXPECT_EQ(settings.seedlink.enabled, c.served);
        if (std::string(c.problem).empty()) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        }
    }
}

}  // namespace
}  // namespace velkantor::stream
