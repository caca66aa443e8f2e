#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "text/date_time.h"

namespace velkantor::datalog {

struct DatalogFile {
    std::string name;
    double start_epoch = 0;  // from the name
    double rate = 0;         // from the name
    char lock = 'N';
    int channel = 0;
    // 1 for "NAME"; N for "NAME.N", the Nth file of that name: the clock came back over
    // seconds already logged, and the writer never writes into a file that holds samples.
    int pass = 1;
    uint64_t samples = 0;  // whole samples in the file when it was listed

    double end_epoch() const { return start_epoch + static_cast<double>(samples) / rate; }
};

// Beside a datalog file, the samples its writer filled in: lines "FIRST COUNT" (sample
// positions in the file), written only when a second came short of samples.
inline constexpr std::string_view kFilledSuffix = ".fil";

// The fields of a datalog file name ("20261205_161500_0100N.LG0", and the same with ".2",
// ".3", ... after it); nullopt for any other name. The purge goes by the same names.
std::optional<DatalogFile> ParseDatalogName(std::string_view name);

// Where a read sample came from.
enum class SampleSource : uint8_t { locked, unlocked, past_end, missing };

struct SampleRun {
    std::vector<int32_t> values;
    std::vector<SampleSource> sources;
    // Per sample: the writer invented it to fill a second short of samples (the file keeps
    // its places with the second's last sample). Empty when no sample of the run was.
    std::vector<bool> filled;
    bool rate_mismatch = false;  // a file of another rate lies in the period
    double rate = 0;
};

// Reads a channel's datalog back by time. Files are listed afresh for each read, so a file
// that is still being appended to is read as far as it is written.
//
// Files may hold the same seconds when the clock was set back: a second is read from the
// first file in name order that holds it (the one that began first; of one name, the file
// without a number, then ".2", ".3", ...). A file cut short by the step thus hides nothing:
// the seconds after its end come from the pass that held them next.
class DatalogReader {
public:
    DatalogReader(const platform::FileSystem& fs, std::string folder, int bytes_per_sample)
        : fs_(fs), folder_(std::move(folder)), bytes_per_sample_(bytes_per_sample) {}

    // The channel's files in name order: by start time, then by pass.
    std::vector<DatalogFile> files(int ch) const;
    // `count` samples of channel `ch` from `from_epoch` on, at `rate` (0: the rate of the
    // first file found). Where no file covers a time the values are 0 ("missing"); past a
    // file's end up to the next file, 0 ("past_end").
    SampleRun read(int ch, double from_epoch, size_t count, double rate = 0) const {
        return read(files(ch), from_epoch, count, rate);
    }
    // The same from a listing taken before (one channel's `files`): a long read in pieces
    // lists the folder once.
    SampleRun read(const std::vector<DatalogFile>& list, double from_epoch, size_t count,
                   double rate = 0) const;

private:
    const platform::FileSystem& fs_;
    std::string folder_;
    int bytes_per_sample_;
};

}  // namespace velkantor::datalog
