#include "platform/real/cups_printer.h"

#include <gtest/gtest.h>

namespace velkantor::platform {
namespace {

TEST(CupsPrinterPage, RequestsTheFontAndEscapesText) {
    std::string page = CupsPrinter::page({"a (b) c\\d", "second"}, "Courier New");
    EXPECT_EQ(page.rfind("%!PS-Adobe-3.0\n/CourierNew findfont", 0), 0u);
    EXPECT_NE(page.find("(a \\(b\\) c\\\\d) show"), std::string::npos);
    EXPECT_NE(page.find("40 748 moveto (second) show"), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 9), "showpage\n");
}

}  // namespace
}  // namespace velkantor::platform
