#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/file_system.h"
#include "runtime/second_sink.h"
#include "text/date_time.h"

namespace velkantor::datalog {

// Bytes per datalog sample for the interface type: 4 for the 18- and 24-bit boards, 2 for
// the others. Whatever reads a datalog sizes its samples by this.
int DatalogSampleBytes(int16_t ad_type);

// "0100" for 100 samples per second, "00.5" for 0.5: the rate field of a datalog name.
std::string RateField(double rate);
// "20261205_161500_0020N.LG0"
std::string DatalogFileName(const text::DateTime& board_time, double rate, char lock, int ch);
// Minutes between file boundaries, by `flush_period` (0..5; others take the default 15).
int RotationMinutes(int flush_period);

// The continuous datalog: each logged channel's conditioned samples, little-endian, one
// file per channel and period, appended once per board second.
class DatalogWriter {
public:
    DatalogWriter(platform::FileSystem& fs, std::string folder)
        : fs_(fs), folder_(std::move(folder)) {}

    // A new run: buffers and names empty; 4-byte samples for the 18- and 24-bit boards.
    void start(int16_t ad_type);
    void AppendDatalogSample(int ch, int32_t value);
    // With a sink, every channel's samples are taken (the station then passes samples of
    // channels whose datalog is off too); only logged channels are written to files.
    void set_sink(runtime::SecondSink* sink) { sink_ = sink; }
    bool has_sink() const { return sink_ != nullptr; }
    const runtime::SecondSink* sink() const { return sink_; }

    struct Second {
        text::DateTime board_time;  // the board time stamp of this second
        char lock = 'N';
        std::array<double, config::kChannels> rates{};
        // The board's own clock paces the samples, so each whole second holds exactly its
        // rate (false for instruments whose seconds come from the PC clock).
        bool exact_seconds = false;
        // Board time minus UTC for this second, in seconds (the board keeps the station's
        // zone; what is built from these seconds for the outside world is UTC).
        int utc_offset = 0;
    };
    // Once per board time frame: append each logged channel's buffer (the samples since the
    // previous frame, at most one second of them) at that second's place, and begin new
    // files on the period boundaries. `report` hears failures; that second of that channel
    // is lost and logging goes on.
    void DatalogFlush(const Second& second, const config::Settings& settings,
                      const std::function<void(int, const std::string&)>& report);
    // The stream was cut (input discarded, the board restarted): what the buffers hold is
    // written at its place, and the samples that come before the next whole second are
    // dropped, since their place is unknown.
    void samples_interrupted(const config::Settings& settings,
                             const std::function<void(int, const std::string&)>& report);
    // STOP: the samples of the last partial second are written too, so nothing acquired
    // is lost (readers place samples by the name's start time and the rate, so a few
    // samples past a file's last whole second change nothing for them).
    void stop(const config::Settings& settings,
              const std::function<void(int, const std::string&)>& report);

    const std::string& file_name(int ch) const { return names_[static_cast<size_t>(ch)]; }
    // Samples of each channel that this run invented to fill seconds short of samples.
    const std::array<long, config::kChannels>& filled() const { return filled_; }
    // Samples of each channel that this run dropped because their second already held its
    // rate (a board a little fast, or seconds of a PC-paced instrument placed wrong).
    const std::array<long, config::kChannels>& over_rate() const { return over_rate_; }
    int bytes_per_sample() const { return bytes_per_sample_; }

private:
    std::string path(int ch) const {
        return platform::join_path(folder_, names_[static_cast<size_t>(ch)]);
    }
    // Begins the channel's file for the second `start`; false when it could not. A file of
    // that name that already holds samples is never emptied nor appended to: the new one is
    // named after it with ".2" (".3", ...) added.
    bool begin_file(int ch, double start, double rate, char lock,
                    const std::function<void(int, const std::string&)>& report);
    // The most bytes one second of a channel at `rate` may carry.
    size_t second_bytes(double rate) const;
    std::string free_name(const std::string& name) const;
    // The samples of a buffer as the file holds them (the sink's values).
    std::vector<int32_t> values_of(const std::string& buffer) const;
    void write_partial(const config::Settings& settings,
                       const std::function<void(int, const std::string&)>& report,
                       const char* what);

    platform::FileSystem& fs_;
    std::string folder_;
    int bytes_per_sample_ = 2;
    std::array<std::string, config::kChannels> buffers_;
    std::array<std::string, config::kChannels> names_;
    // The second of each file's first sample, and the second the channel's next buffer must
    // hold to continue that file (0: the next second begins a new file).
    std::array<double, config::kChannels> file_start_{};
    std::array<double, config::kChannels> next_second_{};
    // The time of the last two frames (0: none yet): the buffer flushed at a frame holds the
    // samples of the second the frame before it began.
    double frame_ = 0;
    double frame_before_ = 0;
    // The rates and lock letter of the last frame, for the part of a second written at a cut.
    std::array<double, config::kChannels> rates_{};
    char lock_ = 'N';
    // Set when the stream was cut: the first samples after it are dropped.
    std::array<bool, config::kChannels> cut_{};
    std::array<long, config::kChannels> filled_{};
    std::array<long, config::kChannels> over_rate_{};
    runtime::SecondSink* sink_ = nullptr;
    // The second the sink's stream of each channel expects next (0: none; what comes begins
    // anew). Apart from the files' own, since a file can fail while the stream goes on.
    std::array<double, config::kChannels> stream_next_{};
    // The zone of the last frame's second, and the zone the sink's stream of each channel is
    // in: a change of zone (summer time, a receiver taking over) begins the stream anew.
    int frame_offset_ = 0;
    std::array<int, config::kChannels> stream_offset_{};
};

}  // namespace velkantor::datalog
