// A section of network.ini read by its table of keys, with the command-line options that
// stand for some of them.
#include "config/network_ini.h"

#include <gtest/gtest.h>

#include "stream/stream_settings.h"

namespace velkantor::config {
namespace {

// A section [s] with a digit `n`, a list `tags` and what was read.
struct Fixture {
    int n = 0;
    std::vector<std::string> tags;
    std::vector<std::string> problems;

    bool read(const std::string& text, std::vector<IniOption> options = {},
              bool unknown_refused = false) {
        IniSection section{
            .name = "s",
            .keys = {{"n",
                      [this](const IniValue& v) {
                          if (v.text().size() == 1 && v.text()[0] >= '0' && v.text()[0] <= '9') {
                              n = v.text()[0] - '0';
                          } else {
                              v.refuse("\"" + v.text() + "\" is not a digit");
                          }
                      }},
                     {"tags",
                      [this](const IniValue& v) {
                          if (!v.from_command_line()) tags.clear();
                          if (v.text() == "bad") {
                              v.warn("bad tag left out");
                          } else {
                              tags.push_back(v.text());
                          }
                      }}},
            .options = std::move(options),
            .refused_suffix = "; s is off",
            .unknown_refused = unknown_refused};
        return read_section(IniFile::parse(text), section, problems);
    }
};

TEST(NetworkIniSection, EveryValueIsReadByItsKeyAndEveryBadOneIsOneLine) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string text;
        std::vector<IniOption> options;
        bool unknown_refused;
        bool good;
        int n;
        Lines tags;
        Lines problems;
    };
    const Case cases[] = {
        {"later lines override earlier ones", "[s]\nn = 1\nN = 2\n", {}, false, true, 2, {}, {}},
        {"a bad line is said even when a later one is good",
         "[s]\nn = x\nn = 3\n",
         {},
         false,
         false,
         3,
         {},
         {"network.ini, [s] n (line 2): \"x\" is not a digit; s is off"}},
        {"other sections are not read", "[t]\nn = x\n[S]\nn = 4\n", {}, false, true, 4, {}, {}},
        {"an unknown key is said and passed over",
         "[s]\nm = 1\n",
         {},
         false,
         true,
         0,
         {},
         {"network.ini, [s] m (line 2): unknown key, ignored"}},
        {"or refused",
         "[s]\nm = 1\n",
         {},
         true,
         false,
         0,
         {},
         {"network.ini, [s] m (line 2): unknown key, ignored; s is off"}},
        {"a warning does not refuse",
         "[s]\ntags = bad\n",
         {},
         false,
         true,
         0,
         {},
         {"network.ini, [s] tags (line 2): bad tag left out"}},
        {"an option replaces the file's lines of its key, bad or not",
         "[s]\nn = x\nn = 1\n",
         {{.key = "n", .name = "--n", .values = {"7"}}},
         false,
         true,
         7,
         {},
         {}},
        {"a bad option is named as given",
         "",
         {{.key = "n", .name = "--n", .values = {"y"}}},
         false,
         false,
         0,
         {},
         {"--n y: \"y\" is not a digit"}},
        {"an option with no value leaves the file alone",
         "[s]\nn = 5\n",
         {{.key = "n", .name = "--n", .values = {}}},
         false,
         true,
         5,
         {},
         {}},
        {"an adding option comes after the file's lines",
         "[s]\ntags = a\ntags = b\n",
         {{.key = "tags",
           .name = "--tag",
           .values = {"c", "bad"},
           .adds = true,
           .shown = [](std::string_view v) { return "<" + std::string(v) + ">"; }}},
         false,
         true,
         0,
         {"b", "c"},
         {"--tag <bad>: bad tag left out"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        EXPECT_EQ(f.read(c.text, c.options, c.unknown_refused), c.good);
        EXPECT_EQ(f.n, c.n);
        EXPECT_EQ(f.tags, c.tags);
        EXPECT_EQ(f.problems, c.problems);
    }
}

// --seedlink and --archive go through the same readers as the file's keys.
TEST(NetworkIniSection, StreamingOptionsStandForTheirKeys) {
    struct Case {
        const char* text;
        NetworkOptions options;
        bool seedlink;
        int port;
        bool archive;
        const char* folder;
        size_t problems;
    };
    const Case cases[] = {
        {"",
         {.seedlink = "127.0.0.1:18001", .archive = "/srv/sds"},
         true,
         18001,
         true,
         "/srv/sds",
         0},
        {"[seedlink]\nlisten = 18000\n[archive]\nfolder = arc\n",
         {.seedlink = "18002"},
         true,
         18002,
         true,
         "arc",
         0},
        // The file's listen is not used, so not judged either.
        {"[seedlink]\nlisten = nonsense\n",
         {.seedlink = "18003"},
         true,
         18003,
         false,
         "archive",
         0},
        // Any other bad value of the section still keeps the server off.
        {"[seedlink]\nlatency = 0\n", {.seedlink = "18004"}, false, 18004, false, "archive", 1},
        {"", {.seedlink = "port"}, false, 18000, false, "archive", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> problems;
        auto s = stream::ParseStreamSettings(IniFile::parse(c.text), problems, c.options);
        EXPECT_EQ(s.seedlink.enabled, c.seedlink);
        EXPECT_EQ(s.seedlink.listen.port, c.port);
        EXPECT_EQ(s.archive.enabled, c.archive);
        EXPECT_EQ(s.archive.folder, c.folder);
        EXPECT_EQ(problems.size(), c.problems) << (problems.empty() ? "" : problems[0]);
    }
}

}  // namespace
}  // namespace velkantor::config
