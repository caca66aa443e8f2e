#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "diagnostics/bounded_log.h"
#include "events/detector.h"
#include "platform/file_system.h"
#include "platform/printer.h"
#include "runtime/event_summary.h"
#include "runtime/run_state.h"

namespace velkantor::events {

// Everything an event header says that is not a channel setting.
struct HeaderFacts {
    std::string start_text;  // "YYYY/MM/DD HH:MM:SS"
    double configured_rate = 0;
    std::string lock_text = "N";  // "N" or "L"
    std::string time_reference;   // "DCF" or "GPS"
    std::string board_description;
};

// The pictures of the figures: "00000000" and "0.0", halves to the even neighbour, so the
// event log and the command files show the same event with the same figures.
std::string WholePicture(double value, int digits);
std::string OneDecimalPicture(double value);
// "NAME YYYY/MM/DD HH:MM:SS L:00000000 Max SLTA:0.0 Max Amplit:000000"
std::string EventLogLine(const runtime::EventSummary& event);

// The two header layouts, byte for byte; each holds the ten-character count placeholder.
std::string PsnTextHeader(const config::Settings& settings, int ch, const HeaderFacts& facts);
std::string AsciiHeader(const config::Settings& settings, int ch, const HeaderFacts& facts);
inline constexpr std::string_view kCountPlaceholder = "%%%%%%%%%%";
// The count as it replaces the placeholder in each layout.
std::string PsnCountText(double count);
std::string AsciiCountText(double count);
// " 1234" / "-56": the form of sample lines and of the resolution in headers.
std::string SampleText(int32_t value);
// Appends the sample's line (its text and CR LF) without building strings on the way: the
// pre-event samples of every event start go through here.
void AppendSampleLine(std::string& out, int32_t value);
// How many of the oldest pre-event samples to drop so the first written sample falls on
// the whole second of the header's start time.
int PreEventSkip(double configured_rate, double sample_fraction);

// The name of an event file that starts at `stamp` ("YYYYMMDD_HHMMSS"): stamp.EXT, or
// stamp_2.EXT, stamp_3.EXT ... when that is taken. An event file never replaces another
// one: two events can start in the same second (a short event, a restart) and the first
// would be lost.
std::string FreeEventName(const platform::FileSystem& fs, const std::string& folder,
                          const std::string& stamp, const std::string& extension);

// The pre-event part of an event: the ring entries it takes and the whole second its first
// written sample falls on.
struct PreEventPart {
    int32_t oldest = 1;  // ring entry of the oldest recorded sample
    int32_t stored = 0;  // recorded samples, oldest first from `oldest`, wrapping at the length
    int skip = 0;        // of those, dropped so the first written one falls on `start_epoch`
    double start_epoch = 0;
};
// `position` and `length` are the ring's write position and pre-event length, `recorded` the
// samples the ring received since its last reset (START or a board restart), the newest of
// them at `sample_fraction` of its second; `full_start_epoch` is the start second of a full
// pre-event. A ring that is not full yet holds zeros that no board sent: the event then starts
// at the oldest recorded sample, aligned to a whole second by the same rule.
PreEventPart PlanPreEvent(int32_t position, int32_t length, double recorded, double configured_rate,
                          double sample_fraction, double full_start_epoch);

// The event files of the four channels: header and pre-event samples at the start, one
// line per sample while recording (written out at least once per board second), the count
// back-filled and a summary line at the end.
class EventFiles : public EventSink {
public:
    struct Environment {
        platform::FileSystem& fs;
        config::Settings& settings;
        runtime::RunState& run;
        Detector& detector;
        diagnostics::BoundedLog& event_log;
        std::function<HeaderFacts(int ch, double start_epoch)> facts;
        // A failure writing an event: number and text for the error report.
        std::function<void(int, const std::string&)> report_error;
        // Per-sample alarm test, before the sample line.
        std::function<void(int, int32_t)> alarm_test;
        // A normal end: command files and the event-recorded flag (not at STOP).
        std::function<void(int, const runtime::EventSummary&)> event_closed;
        // Service-mode trace lines.
        std::function<void(const std::string&)> trace;
        platform::Printer* printer = nullptr;
        // Every finished event file (a normal end or STOP), by its path: its bytes are final.
        std::function<void(int, const std::string&)> file_finished;
    };

    explicit EventFiles(Environment environment) : env_(std::move(environment)) {}

    // The file of an event was opened (channel, name, start text); one was finished at STOP.
    std::function<void(int, const std::string&, const std::string&)> on_opened;
    std::function<void(int, const runtime::EventSummary&)> on_cut;

    void event_started(int ch, double start_epoch) override;  // OpenEvent
    void event_sample(int ch, int32_t value) override;        // alarm test + WriteEventSample
    void event_stopped(int ch) override;                      // CloseEvent

    // Writes what the channels recorded since the last flush (once per board second).
    void flush();
    // Acquisition stops while the channel records: the file is finished, count and
    // summary included, without alarms, command files or printing.
    void close_at_stop(int ch);
    // The hooks that are chosen after construction (printer, alarms, command files).
    Environment& environment() { return env_; }
    // A new run: the unsupported-format notice may be written again.
    void run_started() { format_notice_written_ = false; }

    bool is_open(int ch) const { return open_[static_cast<size_t>(ch)]; }
    const std::string& file_name(int ch) const { return names_[static_cast<size_t>(ch)]; }
    const std::string& start_text(int ch) const { return start_texts_[static_cast<size_t>(ch)]; }

private:
    std::string path(int ch) const;
    bool use_ascii();
    bool flush_channel(int ch);
    // Back-fills the count and writes the summary line; returns what it said.
    runtime::EventSummary finish(int ch);
    void fail(int ch, const std::string& what);

    Environment env_;
    std::array<bool, config::kChannels> open_{};
    std::array<bool, config::kChannels> ascii_{};
    std::array<std::string, config::kChannels> names_;
    std::array<std::string, config::kChannels> start_texts_;
    std::array<std::string, config::kChannels> pending_;
    std::array<double, config::kChannels> pending_lines_{};
    // Lines that reached the disk: the count in the header is always this, so it matches
    // the file even when a flush was lost to a full disk.
    std::array<double, config::kChannels> disk_lines_{};
    std::array<uint64_t, config::kChannels> count_offset_{};
    bool format_notice_written_ = false;
    bool page_open_ = false;
};

}  // namespace velkantor::events
