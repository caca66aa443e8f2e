#pragma once

// A day of channel 1 in a datalog folder under the temporary directory, written once through
// the datalog writer in 15-minute files, for the benchmarks that read a day back.
#include <cstdint>
#include <filesystem>
#include <string>

#include "config/settings_file.h"
#include "datalog/datalog_writer.h"
#include "platform/real/std_file_system.h"
#include "text/date_time.h"

namespace velkantor::bench {

// Writes the day 2026/12/05 at `rate` samples per second (ZEDA10, two bytes a sample) into
// <temp>/<name>/datalog; returns <temp>/<name>.
template <typename SampleAt>
std::string write_datalog_day(const std::string& name, int rate, SampleAt sample_at) {
    auto dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir / "datalog");
    std::filesystem::create_directories(dir / "events");
    std::string d = dir.string();
    platform::StdFileSystem fs;
    config::Settings settings;
    config::SetDefaultConfiguration(settings, d);
    settings.channels[0].datalog_enabled = 1;
    datalog::DatalogWriter writer(fs, d + "/datalog");
    writer.start(config::kZeda10);
    datalog::DatalogWriter::Second second;
    second.rates.fill(rate);
    double start = text::to_epoch_seconds({2026, 12, 5, 0, 0, 0, 0});
    for (int s = 0; s <= 86400; ++s) {
        second.board_time = text::from_epoch_seconds(start + s);
        writer.DatalogFlush(second, settings, [](int, const std::string&) {});
        for (int k = 0; k < rate; ++k) writer.AppendDatalogSample(0, sample_at(s, k));
    }
    return d;
}

}  // namespace velkantor::bench
