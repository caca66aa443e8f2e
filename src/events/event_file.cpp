#include "events/event_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::events {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::array<std::string_view, 4> kSensorType = {"Unknow", "Velocity", "Displacement",
                                                         "Acceleration"};
constexpr std::array<std::string_view, 6> kUnit = {"?", "m", "cm", "mm", "um", "nm"};

template <size_t N>
std::string lookup(const std::array<std::string_view, N>& table, int index) {
    if (index < 0 || static_cast<size_t>(index) >= N) return {};
    return std::string(table[static_cast<size_t>(index)]);
}

std::string fit(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

// A whole number through the "0000"-style pictures: at least `digits` digits.
std::string picture(double value, int digits) {
    double rounded = text::round_half_even(value);
    if (!std::isfinite(rounded) || std::fabs(rounded) > 9e18) rounded = 0;
    return text::zero_padded(static_cast<int64_t>(rounded), digits);
}

// The resolution as a sample-like number: shortest text with a leading blank when positive.
std::string resolution_text(double resolution) {
    std::string digits = text::shortest_real(resolution);
    return digits.front() == '-' ? digits : " " + digits;
}

}  // namespace

std::string SampleText(int32_t value) {
    return text::signed_form(value);
}

std::string WholePicture(double value, int digits) {
    return picture(value, digits);
}

std::string OneDecimalPicture(double value) {
    double tenths = text::round_half_even(value * 10);
    if (!std::isfinite(tenths) || std::fabs(tenths) > 9e17) tenths = 0;
    auto whole_tenths = static_cast<int64_t>(std::fabs(tenths));
    std::string digits =
        std::to_string(whole_tenths / 10) + "." + std::to_string(whole_tenths % 10);
    return tenths < 0 ? "-" + digits : digits;
}

std::string EventLogLine(const runtime::EventSummary& event) {
    return event.file_name + " " + event.start_text + " L:" + WholePicture(event.lines, 8) +
           " Max SLTA:" + OneDecimalPicture(event.max_ratio) +
           " Max Amplit:" + WholePicture(event.max_half_wave_peak, 6);
}

void AppendSampleLine(std::string& out, int32_t value) {
    char digits[16];
    char* at = digits;
    if (value >= 0) *at++ = ' ';
    at = std::to_chars(at, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(at - digits));
    out += kCrLf;
}

std::string PsnCountText(double count) {
    std::string digits = text::signed_form(static_cast<int64_t>(count));
    return digits.size() >= 10 ? digits.substr(digits.size() - 10)
                               : std::string(10 - digits.size(), ' ') + digits;
}

std::string AsciiCountText(double count) {
    std::string digits = picture(count, 10);
    return digits.substr(digits.size() - 10);
}

int PreEventSkip(double configured_rate, double sample_fraction) {
    double rate = text::round_half_even(configured_rate);
    if (rate < 10) return 0;
    double f = text::round_half_even(sample_fraction * 1000) / 1000;
    double skip = std::floor((rate - 1) - rate * f);
    return skip > 0 ? static_cast<int>(skip) : 0;
}

PreEventPart PlanPreEvent(int32_t position, int32_t length, double recorded, double configured_rate,
                          double sample_fraction, double full_start_epoch) {
    PreEventPart part;
    int32_t n = std::max(length, 0);
    part.stored = recorded >= n ? n : static_cast<int32_t>(std::max(recorded, 0.0));
    part.oldest = position - part.stored;
    if (part.oldest < 1) part.oldest += n;
    part.skip = PreEventSkip(configured_rate, sample_fraction);
    part.start_epoch = full_start_epoch;
    int32_t missing = n - part.stored;
    if (missing == 0) return part;

    // Counted in entries of a full ring (0 = its oldest): `first` is the one on the start
    // second of a full pre-event; later whole seconds follow every `rate` entries.
    double rate = std::max(text::round_half_even(configured_rate), 1.0);
    int32_t first = part.skip;
    if (configured_rate < 10) {
        // No samples are dropped at these rates, but the start second is still the first
        // whole second at or after the oldest written sample.
        double newest = std::min(text::round_half_even(sample_fraction * rate), rate - 1);
        first = static_cast<int32_t>(rate - 1 - std::max(newest, 0.0));
    }
    double seconds = missing > first ? std::ceil((missing - first) / rate) : 0;
    part.start_epoch = full_start_epoch + seconds;
    if (configured_rate < 10) {
        part.skip = 0;
    } else {
        double skip = first + seconds * rate - missing;
        part.skip = static_cast<int>(std::min<double>(skip, part.stored));
    }
    return part;
}

std::string PsnTextHeader(const config::Settings& settings, int ch, const HeaderFacts& facts) {
    const auto& g = settings.general;
    const auto& c = settings.channels[static_cast<size_t>(ch)];
    std::string bits;
    std::string minimum;
    std::string maximum;
    if (g.ad_type == config::kZeda18) {
        bits = "18 ", minimum = "-131072", maximum = "131071";
    } else if (g.ad_type == config::kZeda20) {
        bits = "24 ", minimum = "-8388608", maximum = "+8388607";
    } else {
        bits = "16 ", minimum = "-32768", maximum = "+32767";
    }
    auto n = g.coordinates.find('N');
    std::string latitude = n == std::string::npos ? "" : g.coordinates.substr(0, n + 1);
    std::string longitude = n == std::string::npos ? g.coordinates : g.coordinates.substr(n + 1);
    std::string lines[] = {
        "! PSN ASCII Event File Format 2.0 ",
        "Start Time: " + facts.start_text + ".000 ",
        "Number of Samples: " + std::string(kCountPlaceholder) + " ",
        "SPS: " + picture(facts.configured_rate, 2),
        "Lock Indicator: " + facts.lock_text + (facts.lock_text == "N" ? "L" : ""),
        "Time Reference Type: " + facts.time_reference,
        "Comment: ",
        "A/D Converter Bits: " + bits,
        "Data Minimum: " + minimum,
        "Data Maximum: " + maximum,
        "! Sensor Information: ",
        "Sensor Location: " + g.location,
        "Sensor Description: ",
        "Sensor Latitude: " + latitude,
        "Sensor Longitude: " + longitude,
        "Sensor Elevation: " + g.elevation,
        "Sensor Orientation: " + lookup(config::kAxisNames, c.sensor_axis),
        "Sensor Incident: 90",
        "Sensor Azimuth: 90",
        "Sensor Type: " + lookup(kSensorType, c.sensor_type),
        "Sensor Measurement Unit: " + lookup(kUnit, c.measure_unit),
        "Sensor Sensitivity: " + resolution_text(c.resolution),
        "Sensor ID: ",
        "Magnitude Correction: " + c.mag_corr[0],
        "Component Name: " + c.event_extension,
        "Network Affiliation: ",
        "Datalogger: " + facts.board_description,
        "! AutoRec channel " + std::to_string(ch + 1) + " - VELKANTOR 2.27",
        "Data:",
    };
    std::string header;
    for (const auto& line : lines) header += line + kCrLf;
    return header;
}

std::string AsciiHeader(const config::Settings& settings, int ch, const HeaderFacts& facts) {
    const auto& g = settings.general;
    const auto& c = settings.channels[static_cast<size_t>(ch)];
    // Positions as the 1-based text functions count them: 0 when there is no "N".
    auto found = g.coordinates.find('N');
    size_t n = found == std::string::npos ? 0 : found + 1;
    std::string latitude = n == 0 ? "" : g.coordinates.substr(0, n - 1);
    std::string longitude = n + 1 <= g.coordinates.size() ? g.coordinates.substr(n + 1) : "";
    if (longitude.size() > 1) longitude.pop_back();
    double elevation = text::leading_number(g.elevation).value_or(0);
    std::string fields[] = {
        facts.start_text + ".000",
        std::string(kCountPlaceholder),
        picture(facts.configured_rate, 3),
        facts.lock_text.substr(0, 1),
        facts.time_reference,
        "16",
        fit(g.location, 16),
        fit(latitude, 7),
        fit(longitude, 7),
        picture(elevation, 4),
        fit(lookup(config::kAxisNames, c.sensor_axis), 1),
        fit(c.mag_corr[0], 8),
        fit(lookup(kSensorType, c.sensor_type), 13),
        fit(resolution_text(c.resolution), 13),
        fit(lookup(kUnit, c.measure_unit), 2),
    };
    std::string header;
    for (const auto& field : fields) header += (header.empty() ? "" : " ") + field;
    return header + kCrLf;
}

std::string FreeEventName(const platform::FileSystem& fs, const std::string& folder,
                          const std::string& stamp, const std::string& extension) {
    std::string name = stamp + "." + extension;
    for (int n = 2; fs.exists(platform::join_path(folder, name)); ++n) {
        name = stamp + "_" + std::to_string(n) + "." + extension;
    }
    return name;
}

std::string EventFiles::path(int ch) const {
    return platform::join_path(env_.settings.general.events_folder,
                               names_[static_cast<size_t>(ch)]);
}

bool EventFiles::use_ascii() {
    int16_t format = env_.settings.general.event_format;
    if ((format == 1 || format == 2) && !format_notice_written_) {
        // Only a hand-edited settings file holds these: there is no writer for them.
        env_.event_log.append("Event format not supported: PSN TEXT used.");
        format_notice_written_ = true;
    }
    return format == 3;
}

void EventFiles::fail(int ch, const std::string& what) {
    if (env_.report_error) env_.report_error(ch, what);
}

void EventFiles::event_started(int ch, double start_epoch) {
    auto c = static_cast<size_t>(ch);
    auto& run = env_.run;
    const auto& channel = env_.settings.channels[c];
    if (open_[c]) close_at_stop(ch);
    double length = std::min<double>(text::round_half_even(channel.pre_event_samples),
                                     runtime::kPreEventRingLength);
    auto n = static_cast<int32_t>(length > 0 ? length : 0);
    PreEventPart part = PlanPreEvent(run.ring_position[c], n, run.ring_count[c],
                                     run.configured_rate[c], run.sample_fraction[c], start_epoch);
    start_epoch = part.start_epoch;
    HeaderFacts facts = env_.facts(ch, start_epoch);
    start_texts_[c] = facts.start_text;
    auto start = text::from_epoch_seconds(start_epoch);
    names_[c] = FreeEventName(env_.fs, env_.settings.general.events_folder,
                              text::format_file_stamp(start), channel.event_extension);
    ascii_[c] = use_ascii();
    std::string header =
        ascii_[c] ? AsciiHeader(env_.settings, ch, facts) : PsnTextHeader(env_.settings, ch, facts);
    count_offset_[c] = header.find(kCountPlaceholder);

    int skip = part.skip;
    if (env_.trace) {
        env_.trace(
            "startime(" + std::to_string(ch) + ")=" + facts.start_text + " ad_timer$(" +
            std::to_string(ch) + ")=" +
            text::shortest_real(text::round_half_even(run.sample_fraction[c] * 1000) / 1000) +
            " xspsv=" + text::shortest_real(run.configured_rate[c]));
        env_.trace("ncamp: " + std::to_string(skip) + " z1:" + std::to_string(part.oldest) +
                   " z2:" + std::to_string(n));
    }
    auto& detector = env_.detector.channel(ch);
    std::string body = header;
    body.reserve(header.size() + static_cast<size_t>(n) * 9);
    double lines = 0;
    auto take = [&](int32_t entry) {
        if (skip > 0) {
            --skip;
            return;
        }
        AppendSampleLine(body, run.ring_at(ch, entry));
        detector.samples_written += 1;
        lines += 1;
    };
    for (int32_t k = 0, entry = part.oldest; k < part.stored; ++k, ++entry) {
        take(entry > n ? entry - n : entry);
    }
    if (env_.trace) {
        env_.trace("l_evento(" + std::to_string(ch) +
                   ")=" + text::shortest_real(detector.samples_written));
    }

    if (!env_.fs.is_directory(env_.settings.general.events_folder)) {
        fail(ch, "The event folder " + env_.settings.general.events_folder +
                     " does not exist: event " + names_[c] + " not recorded");
        return;
    }
    if (auto written = env_.fs.write_file(path(ch), body); !written) {
        // Half a header is no event file.
        (void)env_.fs.remove(path(ch));
        fail(ch, "Event " + names_[c] + " not recorded: " + written.error);
        return;
    }
    open_[c] = true;
    pending_[c].clear();
    pending_lines_[c] = 0;
    disk_lines_[c] = lines;
    if (on_opened) on_opened(ch, names_[c], start_texts_[c]);
}

void EventFiles::event_sample(int ch, int32_t value) {
    auto c = static_cast<size_t>(ch);
    if (env_.alarm_test) env_.alarm_test(ch, value);
    if (!open_[c]) return;
    AppendSampleLine(pending_[c], value);
    pending_lines_[c] += 1;
    env_.detector.channel(ch).samples_written += 1;
}

bool EventFiles::flush_channel(int ch) {
    auto c = static_cast<size_t>(ch);
    if (!open_[c] || pending_[c].empty()) return true;
    auto written = platform::append_records(env_.fs, path(ch), pending_[c]);
    if (written) {
        disk_lines_[c] += pending_lines_[c];
    } else {
        // A disk that filled up took part of the lines: they are in the file and counted.
        disk_lines_[c] += static_cast<double>(std::count(
            pending_[c].begin(), pending_[c].begin() + static_cast<ptrdiff_t>(written.kept), '\n'));
    }
    pending_[c].clear();
    pending_lines_[c] = 0;
    if (!written) {
        // The event ends cleanly with what reached the disk; the next one starts afresh.
        fail(ch, "Event " + names_[c] + " cut short: " + written.result.error);
        return false;
    }
    return true;
}

void EventFiles::flush() {
    for (int ch = 0; ch < config::kChannels; ++ch) {
        if (!flush_channel(ch)) finish(ch);
    }
}

runtime::EventSummary EventFiles::finish(int ch) {
    auto c = static_cast<size_t>(ch);
    auto& detector = env_.detector.channel(ch);
    open_[c] = false;
    pending_[c].clear();
    pending_lines_[c] = 0;
    double count = disk_lines_[c];
    std::string count_text = ascii_[c] ? AsciiCountText(count) : PsnCountText(count);
    if (count_offset_[c] != std::string::npos) {
        if (auto written = env_.fs.write_at(path(ch), count_offset_[c], count_text); !written) {
            fail(ch, "Event " + names_[c] + ": count not written: " + written.error);
        }
    }
    runtime::EventSummary event{names_[c], start_texts_[c], count, detector.max_ratio,
                                detector.max_half_wave_peak};
    std::string summary = EventLogLine(event);
    env_.event_log.append(summary);
    if (env_.trace) {
        env_.trace("STOP l_evento(" + std::to_string(ch) + ")=" + text::shortest_real(count));
    }
    if (env_.file_finished) env_.file_finished(ch, path(ch));
    return event;
}

void EventFiles::event_stopped(int ch) {
    auto c = static_cast<size_t>(ch);
    if (!open_[c]) return;
    flush_channel(ch);
    runtime::EventSummary event = finish(ch);
    std::string summary = EventLogLine(event);
    if (env_.printer && env_.settings.general.print_quake > 0) {
        env_.printer->print_line(summary, "Courier New");
        page_open_ = true;
    }
    if (page_open_ && env_.printer) {
        bool recording = false;
        for (int k = 0; k < config::kChannels; ++k) {
            // The detector marks the channel idle only after this call returns.
            if (k != ch && env_.detector.channel(k).event_state != 0) recording = true;
        }
        if (!recording) {
            env_.printer->end_page();
            page_open_ = false;
        }
    }
    if (env_.event_closed) env_.event_closed(ch, event);
}

void EventFiles::close_at_stop(int ch) {
    auto c = static_cast<size_t>(ch);
    if (!open_[c]) return;
    flush_channel(ch);
    if (!open_[c]) return;
    runtime::EventSummary event = finish(ch);
    if (on_cut) on_cut(ch, event);
}

}  // namespace velkantor::events
