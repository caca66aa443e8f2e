// Every writer that appends leaves whole lines or whole samples behind when the disk fills
// in the middle of an append, and what it says about the file (the count in an event
// header) is what the file holds. Each case runs against the in-memory file system and
// against the real one; the real disk is made to fill with a file-size limit in a child
// process, where a write takes what fits below the limit and then fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "config/settings_file.h"
#include "datalog/datalog_writer.h"
#include "datalog/extraction.h"
#include "diagnostics/bounded_log.h"
#include "events/event_file.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/virtual_clock.h"
#include "platform/real/std_file_system.h"
#include "support/wire_text.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::platform {
namespace {

using velkantor::testing::crlf_lines;

// Lets `path` grow by at most `room` more bytes from now on.
using Limit = std::function<void(const std::string& path, uint64_t room)>;

struct WriterCase {
    const char* name;
    // Writes under `root` (which exists); calls `limit` where the disk is to fill. False
    // when the writer did not report the failure.
    std::function<bool(FileSystem& fs, const std::string& root, const Limit& limit)> write;
    // Checks the file system afterwards.
    std::function<void(const FileSystem& fs, const std::string& root)> check;
};

// An event file's header count is the number of its sample lines, and it ends on a line.
void expect_consistent_event_file(const std::string& bytes, size_t header_lines, size_t lines) {
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    auto all = crlf_lines(bytes);
    ASSERT_GE(all.size(), header_lines);
    EXPECT_EQ(all.size() - header_lines, lines);
    EXPECT_EQ(text::leading_number(all[2].substr(19)).value_or(-1), static_cast<double>(lines))
        << all[2];
}

const WriterCase kWriterCases[] = {
    {"event file",
     [](FileSystem& fs, const std::string& root, const Limit& limit) {
         VirtualClock clock{{2026, 3, 1, 12, 0, 0, 0}};
         config::Settings settings;
         config::SetDefaultConfiguration(settings, root);
         settings.channels[0].pre_event_samples = 0;
         runtime::RunState run;
         run.configured_rate.fill(100);
         events::Detector detector;
         diagnostics::BoundedLog log{fs, clock, root + "/evtfile.dat", "cleared"};
         events::EventFiles files(
             {fs, settings, run, detector, log,
              [](int, double) {
                  return events::HeaderFacts{"2026/03/01 11:58:01", 100, "N", "DCF", "ZEDA"};
              },
              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
         files.event_started(0, text::to_epoch_seconds({2026, 3, 1, 11, 58, 1, 0}));
         for (int i = 0; i < 10; ++i) files.event_sample(0, 1000 + i);
         files.flush();
         // 100 bytes: 14 lines of 7 bytes and 2 bytes of the 15th.
         limit(root + "/events/20260301_115801.CH1", 100);
         for (int i = 0; i < 50; ++i) files.event_sample(0, 2000 + i);
         files.flush();
         return !files.is_open(0);
     },
     [](const FileSystem& fs, const std::string& root) {
         auto bytes = fs.read_file(root + "/events/20260301_115801.CH1").value_or("");
         expect_consistent_event_file(bytes, 29, 10 + 14);
         EXPECT_EQ(crlf_lines(bytes).back(), " 2013");
     }},
    {"datalog",
     [](FileSystem& fs, const std::string& root, const Limit& limit) {
         config::Settings settings;
         config::SetDefaultConfiguration(settings, root);
         settings.channels[0].datalog_enabled = 1;
         datalog::DatalogWriter writer{fs, root + "/datalog"};
         auto second = [](int s) {
             datalog::DatalogWriter::Second sec;
             sec.board_time = {2026, 12, 5, 12, 0, s, 0};
             sec.rates.fill(20);
             return sec;
         };
         int failures = 0;
         auto report = [&failures](int, const std::string&) { ++failures; };
         writer.start(config::kZeda18);  // 4-byte samples
         writer.DatalogFlush(second(0), settings, report);
         for (int i = 0; i < 20; ++i) writer.AppendDatalogSample(0, i);
         writer.DatalogFlush(second(1), settings, report);
         limit(root + "/datalog/20261205_120000_0020N.LG0", 30);  // 7 samples and a half
         for (int i = 0; i < 20; ++i) writer.AppendDatalogSample(0, i);
         writer.DatalogFlush(second(2), settings, report);
         return failures == 1;
     },
     [](const FileSystem& fs, const std::string& root) {
         EXPECT_EQ(fs.file_size(root + "/datalog/20261205_120000_0020N.LG0"), 80u + 28u);
     }},
    {"event log",
     [](FileSystem& fs, const std::string& root, const Limit& limit) {
         VirtualClock clock{{2026, 3, 1, 12, 0, 0, 0}};
         diagnostics::BoundedLog log{fs, clock, root + "/evtfile.dat", "cleared"};
         if (!log.append("STARTING VELKANTOR...")) return false;
         limit(root + "/evtfile.dat", 60);  // one line of 45 bytes and part of the next
         bool ok = log.append("A line of the event log");
         return ok && !log.append("A line of the event log") &&
                !log.append("A line of the event log");
     },
     [](const FileSystem& fs, const std::string& root) {
         auto bytes = fs.read_file(root + "/evtfile.dat").value_or("");
         auto lines = crlf_lines(bytes);
         ASSERT_EQ(lines.size(), 2u) << bytes;
         EXPECT_EQ(bytes.size(), 20 + 21 + 2 + 20 + 23 + 2u);
         EXPECT_EQ(lines[1], "2026/03/01 12:00:00 A line of the event log");
     }},
    {"extraction",
     [](FileSystem& fs, const std::string& root, const Limit& limit) {
         datalog::ExtractRequest request;
         config::SetDefaultConfiguration(request.settings, root);
         request.settings.general.ad_type = config::kZeda10;
         request.settings.channels[0].sps_index = 7;  // 10 per second
         request.datalog_folder = root + "/datalog";
         request.events_folder = root + "/events";
         request.from = {2026, 12, 5, 12, 0, 0, 0};
         request.minutes = 1;
         request.channel_mask = 1;
         std::string samples;
         for (int i = 0; i < 600; ++i) samples += std::string{'\x10', '\x27'};  // 10000
         const std::string datalog_file = root + "/datalog/20261205_120000_0010L.LG0";
         const std::string event_file = root + "/events/20261205_120000.CH1";
         // The header's size, from the same extraction on a disk with room.
         MemoryFileSystem roomy;
         (void)roomy.create_directories(root + "/events");
         roomy.put(datalog_file, samples);
         if (datalog::ExtractEventFile(roomy, request).files.size() != 1) return false;
         std::string whole = roomy.contents(event_file);
         size_t header = 0;
         for (int k = 0; k < 29; ++k) header = whole.find("\r\n", header) + 2;

         if (!fs.write_file(datalog_file, samples)) return false;
         limit(event_file, header + 804);  // 100 lines of 8 bytes and half a line
         auto result = datalog::ExtractEventFile(fs, request);
         return result.failed && result.files.empty();
     },
     [](const FileSystem& fs, const std::string& root) {
         auto bytes = fs.read_file(root + "/events/20261205_120000.CH1").value_or("");
         expect_consistent_event_file(bytes, 29, 100);
     }},
};

class AppendContract : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            char pattern[] = "/tmp/velkantor-append-XXXXXX";
            ASSERT_NE(::mkdtemp(pattern), nullptr);
            root_ = pattern;
        } else {
            root_ = "/disk";
        }
    }
    void TearDown() override {
        if (GetParam()) std::filesystem::remove_all(root_);
    }
    // A fresh file system with the station's folders.
    void prepare(FileSystem& fs) {
        for (const char* folder : {"", "/events", "/datalog"}) {
            ASSERT_TRUE(fs.create_directories(root_ + folder));
        }
    }
    std::string root_;
};

TEST_P(AppendContract, AFullDiskLeavesWholeRecordsThatTheWriterCounted) {
    for (const auto& c : kWriterCases) {
        SCOPED_TRACE(c.name);
        if (!GetParam()) {
            MemoryFileSystem fs;
            prepare(fs);
            EXPECT_TRUE(c.write(fs, root_, [&fs](const std::string&, uint64_t room) {
                fs.set_free_space(room);
            })) << "the writer reports the full disk";
            c.check(fs, root_);
            continue;
        }
        StdFileSystem fs;
        std::filesystem::remove_all(root_);
        prepare(fs);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            bool reported = c.write(fs, root_, [&fs](const std::string& path, uint64_t room) {
                rlimit limit{};
                limit.rlim_cur = limit.rlim_max = fs.file_size(path).value_or(0) + room;
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
            });
            ::_exit(reported ? 0 : 4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no file-size limit, 4: the writer did not "
                                             "report the full disk";
        c.check(fs, root_);
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, AppendContract, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Real" : "Memory";
                         });

// The fake's disk: a write takes what fits, then fails; cutting a file gives its room back.
TEST(MemoryDisk, WritesWhatFitsThenFails) {
    MemoryFileSystem fs;
    ASSERT_TRUE(fs.create_directories("/d"));
    fs.set_free_space(10);
    EXPECT_FALSE(fs.append("/d/a", "0123456789abc"));
    EXPECT_EQ(fs.contents("/d/a"), "0123456789");
    EXPECT_TRUE(fs.truncate("/d/a", 4));
    EXPECT_TRUE(fs.append("/d/a", "456789"));
    EXPECT_FALSE(fs.replace_file("/d/b", "x")) << "no room for the temporary file";
    EXPECT_FALSE(fs.exists("/d/b"));
}

}  // namespace
}  // namespace velkantor::platform
