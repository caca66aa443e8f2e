// --help is the program's manual page: every option the command line accepts is in it.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/command_line.h"

namespace velkantor::app {
namespace {

// The options the parser compares arguments with, read from its source, so an option added
// there without a line in the help fails here.
std::set<std::string> parser_options() {
    std::ifstream file(std::string(VELKANTOR_GOLDEN_DIR) + "/../../src/app/command_line.cpp");
    std::stringstream text;
    text << file.rdbuf();
    std::string source = text.str();
    auto begin = source.find("Options parse_command_line(");
    auto end = source.find("std::string usage_text()");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    std::string parser = source.substr(begin, end - begin);
    std::set<std::string> names;
    std::regex option(R"re(== "(--[a-z][a-z-]*)")re");
    for (std::sregex_iterator it(parser.begin(), parser.end(), option), last; it != last; ++it) {
        names.insert((*it)[1]);
    }
    return names;
}

TEST(CommandLineHelp, ListsEveryOptionTheParserTakes) {
    auto names = parser_options();
    EXPECT_GE(names.size(), 15u) << "the parser's options were not found";
    const std::string help = usage_text();
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        // An option line of the help begins with two blanks and the option.
        EXPECT_TRUE(std::regex_search(help, std::regex("\n  " + name + "[ =\\[]")));
        // And the parser does take it (with a value where it wants one).
        Options o = parse_command_line({name});
        if (!o.error.empty()) {
            EXPECT_NE(o.error.find("needs"), std::string::npos) << o.error;
        }
    }
}

}  // namespace
}  // namespace velkantor::app
