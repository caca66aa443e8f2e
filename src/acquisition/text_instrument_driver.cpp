#include "acquisition/text_instrument_driver.h"

#include <cmath>
#include <limits>

#include "acquisition/station.h"

namespace velkantor::acquisition {

namespace {

// Characters per read of the text instruments.
constexpr size_t kInputLength = 8;
// Characters per second the waiting text is taken to have come at until the instrument's own
// rate has been counted over a whole second.
constexpr double kNominalCharactersPerSecond = 8 * 53;
// Readings whose length is averaged for that.
constexpr int kReadingsForLength = 100;
// Readings are a few characters; this much text without an end is line noise and is cut
// to its tail so that it cannot grow.
constexpr size_t kMaxLineBuffer = 64;
constexpr size_t kKeptAfterNoise = 16;

// The instrument is woken, put in standby, started, and told that the setup is done.
constexpr ScriptStep kLx1500Script[] = {
    {2, "G0T1"}, {0.5, "STBY"}, {0.5, "G0T1"}, {0.5, "G0T1"}, {0.5, "DONE"},
};
constexpr double kAfterScriptSeconds = 0.5;

const TextInstrument kInfiltec{
    .line = {.description = "Infiltec at 9600,n,8,1 ",
             .line_settings = "9600,n,8,1",
             .input_length = static_cast<int>(kInputLength),
             .input_mode = platform::InputMode::text,
             .not_found_log = "Error! Acquisition stopped. Board INFILTEC not found.",
             .not_found_warning = "INFILTEC board not found."},
    .reading_ends = "\r",
    .shortest_reading = 1,
    .value_offset = 0,
    .stop_command = "",
    .start_script = {},
    .fixed_rate = 0,
};

const TextInstrument kLx1500{
    .line = {.description = "N.E. LX1500 at 19200,n,8,1 ",
             .line_settings = "19200,n,8,1",
             .input_length = static_cast<int>(kInputLength),
             .input_mode = platform::InputMode::text,
             .not_found_log = "Error! Acquisition stopped. Board LX1500 not found.",
             .not_found_warning = "LX1500 Not found."},
    .reading_ends = "SA",
    .shortest_reading = 7,
    .value_offset = 32768,
    .stop_command = "STBY",
    .start_script = kLx1500Script,
    .fixed_rate = 50,
};

// The numeric value of a reading as the instrument's text gives it: blanks, tabs and line
// feeds are passed over anywhere, a sign may lead, digits with an optional fraction follow,
// and the number ends at the first other character. No number reads as 0; a fraction is
// rounded half to even.
int64_t reading_value(std::string_view text) {
    constexpr double kLimit = 1e15;  // far beyond any reading; keeps the sum exact
    double whole = 0;
    double fraction = 0;
    double scale = 1;
    bool negative = false;
    bool signed_or_digit = false;
    bool in_fraction = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n') continue;
        if (!signed_or_digit && (c == '-' || c == '+')) {
            negative = c == '-';
            signed_or_digit = true;
        } else if (c >= '0' && c <= '9') {
            signed_or_digit = true;
            if (in_fraction) {
                scale /= 10;
                fraction += (c - '0') * scale;
            } else if (whole < kLimit) {
                whole = whole * 10 + (c - '0');
            }
        } else if (c == '.' && !in_fraction) {
            signed_or_digit = true;
            in_fraction = true;
        } else {
            break;
        }
    }
    double value = whole + fraction;
    double rounded = std::nearbyint(value);  // the default rounding: half to even
    return static_cast<int64_t>(negative ? -rounded : rounded);
}

}  // namespace

const TextInstrument& infiltec_instrument() {
    return kInfiltec;
}
const TextInstrument& lx1500_instrument() {
    return kLx1500;
}

bool TextInstrumentDriver::send_start(Station& station) {
    auto& run = station.run();
    if (model_.fixed_rate > 0) run.configured_rate[0] = model_.fixed_rate;
    // A part reading from before a restart would run into the first new one.
    // (The instrument's rate counted so far stays: a restart brings back the same one.)
    line_buffer_.clear();
    characters_ = 0;
    if (!model_.start_script.empty()) {
        for (const ScriptStep& step : model_.start_script) {
            station.WaitSeconds(step.wait_seconds);
            station.send(step.command);
        }
        station.WaitSeconds(kAfterScriptSeconds);
        station.port().discard_input();
    }
    return found(station);
}

void TextInstrumentDriver::gather(Station& station) {
    auto& run = station.run();
    run.last_byte = 0;
    // The next reading begins the line buffer; the text after it waits in the port.
    double rate = characters_per_second_;
    if (rate <= 0) {
        // Until a whole second has been counted: the readings' length so far at the rate set.
        rate = run.configured_rate[0] > 0 && readings_ > 0
                   ? run.configured_rate[0] * static_cast<double>(reading_characters_) /
                         static_cast<double>(readings_)
                   : kNominalCharactersPerSecond;
    }
    const double backlog =
        static_cast<double>(station.port().bytes_waiting() + line_buffer_.size()) / rate;
    if (new_reading_second(station, backlog, static_cast<int>(run.configured_rate[0]))) {
        // Readings are a few characters of varying length: the instrument's rate is counted
        // in characters over whole seconds, and smoothed.
        if (last_second_whole() && characters_ > 0) {
            const auto counted = static_cast<double>(characters_);
            characters_per_second_ = characters_per_second_ > 0
                                         ? 0.75 * characters_per_second_ + 0.25 * counted
                                         : counted;
        }
        characters_ = 0;
        new_second_ = true;
        return;
    }
    // A reading already complete in the buffer is taken before more text is read: one
    // reading leaves per pass, so reading on regardless would pile up short readings here,
    // where the buffer lag does not see them.
    size_t end = line_buffer_.find_first_of(model_.reading_ends);
    if (end == std::string::npos) {
        std::string text = station.port().read();
        characters_ += text.size();
        line_buffer_ += text;
        end = line_buffer_.find_first_of(model_.reading_ends);
        if (end == std::string::npos) {
            if (line_buffer_.size() > kMaxLineBuffer) {
                line_buffer_.erase(0, line_buffer_.size() - kKeptAfterNoise);
            }
            return;
        }
    }
    std::string reading = line_buffer_.substr(0, end + 1);
    line_buffer_.erase(0, end + 1);
    if (readings_ < kReadingsForLength) {
        ++readings_;
        reading_characters_ += reading.size();
    }
    if (reading.size() < model_.shortest_reading) return;

    int64_t value = reading_value(reading) - model_.value_offset;
    if (new_second_) {
        shown_rate_ = counted_;
        counted_ = 0;
        new_second_ = false;
    }
    if (counted_ < std::numeric_limits<int>::max()) ++counted_;
    unit_taken();
    emit(station, recoded_data_frame(0, static_cast<int32_t>(value & 0xFFFF)));
}

}  // namespace velkantor::acquisition
