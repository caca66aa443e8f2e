#include <gtest/gtest.h>

#include "acquisition/zeda_driver.h"
#include "config/settings.h"

namespace velkantor::acquisition {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

struct DecodeCase {
    int16_t ad_type;
    std::string frame;
    int32_t expected;
};

TEST(ZedaDecode, WorkedExamples) {
    const DecodeCase cases[] = {
        {config::kZeda10, bytes({0x82, 0x00, 0x00, 0xF3}), -32640},
        {config::kZeda10, bytes({0x82, 0x7F, 0x7F, 0xF1}), 0x7FFF},
        {config::kZeda10, bytes({0x82, 0x01, 0x00, 0xF0}), 1},
        {config::kZeda18, bytes({0x83, 0x00, 0x00, 0xF8}), -131072},
        {config::kZeda18, bytes({0x83, 0x00, 0x00, 0xF4}), 65536},
        {config::kZeda18, bytes({0x83, 0x7F, 0x7F, 0xFF}), -1},
        {config::kZeda20, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF3}), 8388607},
        {config::kZeda20, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF7}), -1},
        {config::kZeda30, bytes({0x84, 0x00, 0x00, 0xF3}), -32640},
        // A frame cut short decodes its missing bytes as 0.
        {config::kZeda20, bytes({0x82, 0x00, 0x00, 0x00}), 0},
    };
    for (const auto& c : cases) {
        ZedaDriver driver(zeda_model(c.ad_type));
        EXPECT_EQ(driver.decode(c.frame, static_cast<uint8_t>(c.frame.back())), c.expected)
            << "type " << c.ad_type << " frame of " << c.frame.size() << " bytes";
    }
}

TEST(ZedaRateCode, ByFirmwareDescription) {
    struct Case {
        const char* description;
        int rate;
        int code;
    };
    const Case cases[] = {
        {"ZEDA V.1.62", 1, 100},  // a 1-per-second channel runs at 2 per second
        {"ZEDA V.1.81", 100, 2},
        {"ZEDA V.2.00", 200, 1},
        {"ZEDA V.3.00", 50, 4},
        {"ZEDA V.2.10", 100, 24},
        {"ZEDA V.1.50", 200, 1},  // old boards top out at 100
        {"ZEDA V.1.50", 50, 2},
        {"ZEDA V.0.00", 0, 0},
        {"ZEDA V.2.10", 2, 255},  // 1200 does not fit the command's byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zeda::rate_code(c.description, c.rate), c.code)
            << c.description << " at " << c.rate;
    }
}

TEST(ZedaVersion, Formatting) {
    EXPECT_EQ(zeda::format_version("V181"), "V.1.81");
    EXPECT_EQ(zeda::format_version("V0000"), "V.0.00");
    EXPECT_EQ(zeda::format_version("V"), "V");
}

}  // namespace
}  // namespace velkantor::acquisition
