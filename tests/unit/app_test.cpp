#include <gtest/gtest.h>

#include "app/command_line.h"
#include "platform/port_map.h"

namespace velkantor {
namespace {

TEST(PortMap, NamesTheDeviceOfAComPort) {
    auto map = platform::PortMap::parse(
        "# adapters\r\nCOM3=/dev/ttyUSB0\r\n com4 = /dev/ttyACM1 # radio\nCOM99=/dev/x\nbad\n=\n");
    EXPECT_EQ(map.device_for(3), "/dev/ttyUSB0");
    EXPECT_EQ(map.device_for(4), "/dev/ttyACM1");
    EXPECT_EQ(map.device_for(1), "/dev/ttyS0");
    EXPECT_EQ(map.device_for(16), "/dev/ttyS15");
    EXPECT_EQ(map.device_for(0), "");
    map.override_device = "/dev/pts/7";
    EXPECT_EQ(map.device_for(3), "/dev/pts/7");
}

TEST(CommandLine, Options) {
    auto o = app::parse_command_line({"--headless", "--station", "/s", "--port=/dev/pts/3", "--for",
                                      "2.5", "--simulate=ZEDA10"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.station, "/s");
    EXPECT_EQ(o.port, "/dev/pts/3");
    EXPECT_EQ(o.for_seconds, 2.5);
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.model, "ZEDA10");
    EXPECT_EQ(app::parse_command_line({"--simulate"}).model, "ZEDA18");
    // Empty names between commas are skipped.
    EXPECT_EQ(app::parse_command_line({"--open", "active,,timeset,"}).open_windows,
              (std::vector<std::string>{"active", "timeset"}));
}

TEST(CommandLine, BadInputIsNamed) {
    const std::vector<std::vector<std::string>> bad = {
        {"--for", "abc"}, {"--for", "-1"}, {"--station"}, {"--frobnicate"}, {"--simulate="}};
    for (const auto& args : bad) {
        EXPECT_FALSE(app::parse_command_line(args).error.empty()) << args[0];
    }
}

}  // namespace
}  // namespace velkantor
