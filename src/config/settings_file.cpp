#include "config/settings_file.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "config/rates.h"
#include "text/date_time.h"
#include "text/number_text.h"
#include "text/strings.h"

namespace velkantor::config {

namespace {

// A real settings file is a few kilobytes; anything beyond this is junk and is not read.
constexpr uint64_t kMaxFileBytes = 16u << 20;
// A junk file must not turn the report into a copy of itself.
constexpr size_t kMaxReportedLines = 1000;
constexpr size_t kMaxReportedChars = 200;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kChannelHeader = "[CHANNEL";
constexpr std::string_view kGeneralHeader = "[GENERAL]";
constexpr std::string_view kGeneralStartKey = "[GE";
constexpr std::string_view kGeneralEnd = "[END GENERAL]";
constexpr std::string_view kDefaultEventBrowser = "xdg-open";

// How a key's value is read; the written form follows from the field's type.
enum class Form {
    kInteger,        // leading-number parse, rounded half to even
    kReal,           // leading-number parse
    kStrictInteger,  // the whole text must be a number, then rounded half to even
    kStrictReal,     // the whole text must be a number
    kHexInteger,     // leading hexadecimal digits
    kText,           // as it stands
    kText3,          // the first three characters
};

template <class Model>
struct Field {
    std::string_view key;
    Form form;
    int16_t Model::*integer = nullptr;
    double Model::*real = nullptr;
    std::string Model::*text = nullptr;
};

template <class Model>
constexpr Field<Model> integer(std::string_view key, int16_t Model::*member,
                               Form form = Form::kInteger) {
    return {key, form, member, nullptr, nullptr};
}

template <class Model>
constexpr Field<Model> real(std::string_view key, double Model::*member, Form form = Form::kReal) {
    return {key, form, nullptr, member, nullptr};
}

template <class Model>
constexpr Field<Model> text(std::string_view key, std::string Model::*member,
                            Form form = Form::kText) {
    return {key, form, nullptr, nullptr, member};
}

using C = ChannelSettings;
using G = GeneralSettings;

// File order of the channel keys.
constexpr std::array<Field<C>, 42> kChannelFields = {{
    integer("SPS", &C::sps_index),
    integer("VAX", &C::sensor_axis),
    real("DCO", &C::dc_offset),
    real("YSC", &C::y_scale),
    integer("TRM", &C::trigger_mode),
    text("STA", &C::start_params),
    text("STO", &C::stop_params),
    integer("INV", &C::invert),
    integer("ENA", &C::record_enabled),
    integer("ALA", &C::alarm_enabled),
    integer("ALV", &C::alarm_threshold),
    integer("LOG", &C::datalog_enabled),
    integer("AOF", &C::auto_offset),
    integer("TRI", &C::extend_trigger),
    text("EXT", &C::event_extension, Form::kText3),
    integer("DRM", &C::drum_enabled),
    integer("DRH", &C::drum_hidden),
    text("COR", &C::magnitude_correction),
    integer("FFT", &C::fft_enabled),
    real("DRS", &C::drum_scale, Form::kStrictReal),
    integer("STY", &C::sensor_type, Form::kStrictInteger),
    real("SSI", &C::sensor_sensitivity, Form::kStrictReal),
    real("AGF", &C::amplifier_gain, Form::kStrictReal),
    real("ADS", &C::ad_bits, Form::kStrictReal),
    real("ADF", &C::ad_range, Form::kStrictReal),
    real("TRA", &C::resolution, Form::kStrictReal),
    integer("MSU", &C::measure_unit),
    real("FDY", &C::filter_delay),
    integer("EXN", &C::period_extender),
    integer("FRZ", &C::freeze_lta),
    integer("FSV", &C::fft_save_mode),
    integer("FSU", &C::fft_save_updating),
    integer("FSI", &C::fft_save_incrementing),
    integer("JTB", &C::jtf_base),
    integer("JTX", &C::jtf_max),
    integer("JTM", &C::jtf_min),
    integer("FSM", &C::fft_scope_min),
    integer("FSX", &C::fft_scope_max),
    integer("FFR", &C::fft_points),
    integer("FFM", &C::fft_display_mode),
    integer("CHT", &C::and_channels),
    integer("CHW", &C::trigger_window),
}};

// File order of the general keys.
constexpr std::array<Field<G>, 49> kGeneralFields = {{
    text("ELE", &G::elevation),
    text("LOC", &G::location),
    text("COO", &G::coordinates),
    integer("PAP", &G::chart_speed, Form::kStrictInteger),
    integer("COM", &G::comm_port, Form::kStrictInteger),
    integer("AUT", &G::autostart),
    text("FVU", &G::event_browser),
    text("EVF", &G::events_folder),
    integer("RTC", &G::pc_rtc),
    integer("PSY", &G::pc_sync),
    integer("SYE", &G::sync_every),
    integer("GMT", &G::gmt_offset),
    integer("LPT", &G::lpt_port),
    integer("WDE", &G::watchdog_enabled),
    integer("WDT", &G::watchdog_period),
    integer("VKC", &G::use_velkmon),
    integer("BMP", &G::drum_update),
    integer("HRW", &G::drum_hours_per_row),
    integer("FLH", &G::flush_period),
    integer("PUG", &G::purge_days),
    integer("NOP", &G::never_purge),
    integer("HWA", &G::hw_alarm),
    integer("AL2", &G::alarm_on_l2),
    integer("ALE", &G::alarm_on_events),
    integer("SMS", &G::send_sms),
    integer("SEM", &G::send_mail),
    real("VRS", &G::review_y_scale),
    integer("VRR", &G::review_rows),
    real("VRH", &G::review_chart_speed),
    text("EXD", &G::datalog_folder),
    integer("FOU", &G::event_format),
    integer("NOC", &G::no_charting),
    integer("DBG", &G::service_mode),
    integer("NWR", &G::no_version_warn),
    integer("NLG", &G::no_logo),
    text("PSW", &G::settings_password),
    integer("LKS", &G::settings_locked),
    integer("TEX", &G::extract_channels),
    integer("ADT", &G::ad_type),
    // Read as hexadecimal but written in decimal: the list's values 0..6 read the same.
    integer("ADU", &G::baud_index, Form::kHexInteger),
    integer("PQK", &G::print_quake),
    integer("DRF", &G::drum_format),
    integer("ALW", &G::alarm_wav),
    integer("OPS", &G::sync_source),
    integer("YAC", &G::y_scale_all),
    text("CKT", &G::clock_trim_hex),
    text("ASN", &G::board_serial),
    integer("BLS", &G::blind_start),
    integer("SPT", &G::set_board_time_at_start),
}};

template <class Model, size_t N>
const Field<Model>* find_field(const std::array<Field<Model>, N>& fields, std::string_view key) {
    for (const auto& field : fields) {
        if (field.key == key) return &field;
    }
    return nullptr;
}

// Converts `value` by the field's form and stores it; false leaves the field untouched.
template <class Model>
bool store(const Field<Model>& field, Model& model, std::string_view value) {
    switch (field.form) {
        case Form::kInteger: {
            auto number = text::leading_number(value);
            if (!number) return false;
            auto converted = text::to_i16(*number);
            if (!converted) return false;
            model.*field.integer = *converted;
            return true;
        }
        case Form::kReal: {
            auto number = text::leading_number(value);
            if (!number) return false;
            model.*field.real = *number;
            return true;
        }
        case Form::kStrictInteger: {
            auto number = text::strict_number(value);
            if (!number) return false;
            auto converted = text::to_i16(*number);
            if (!converted) return false;
            model.*field.integer = *converted;
            return true;
        }
        case Form::kStrictReal: {
            auto number = text::strict_number(value);
            if (!number) return false;
            model.*field.real = *number;
            return true;
        }
        case Form::kHexInteger: {
            auto converted = text::leading_hex_i16(value);
            if (!converted) return false;
            model.*field.integer = *converted;
            return true;
        }
        case Form::kText:
            model.*field.text = std::string(value);
            return true;
        case Form::kText3:
            model.*field.text = std::string(value.substr(0, 3));
            return true;
    }
    return false;
}

template <class Model>
void append_line(std::string& out, const Field<Model>& field, const Model& model) {
    out += field.key;
    out += '=';
    if (field.integer) {
        out += text::print_form(static_cast<int64_t>(model.*field.integer));
    } else if (field.real) {
        out += text::print_form(model.*field.real);
    } else {
        out += model.*field.text;
    }
    out += kLineEnd;
}

// Splits on LF and drops one CR before it, so files written with either line end read alike.
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : rest_(bytes) {}

    std::optional<std::string_view> next() {
        if (rest_.empty()) return std::nullopt;
        std::string_view line = rest_;
        auto newline = rest_.find('\n');
        if (newline == std::string_view::npos) {
            rest_ = {};
        } else {
            line = rest_.substr(0, newline);
            rest_.remove_prefix(newline + 1);
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

private:
    std::string_view rest_;
};

// The value of a key line: everything from the fifth character on (the fourth is not looked
// at, so "SPS: 4" reads like "SPS= 4").
std::string_view value_of(std::string_view line) {
    return line.size() > 4 ? line.substr(4) : std::string_view();
}

// The channel index a "[CHANNEL" line selects; nullopt when it names no channel 1..4.
std::optional<size_t> channel_index(std::string_view line) {
    auto number = text::leading_number(line.substr(kChannelHeader.size()));
    if (!number) return std::nullopt;
    double index = text::round_half_even(*number - 1);
    if (index < 0 || index >= kChannels) return std::nullopt;
    return static_cast<size_t>(index);
}

// Entry numbers of ParseNumberList. Fixed notation, so that a list written back reads as
// the same numbers: the list parser drops the letter of an exponent.
std::string list_number(double value) {
    if (value == 0) return "0";
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc()) return text::shortest_real(value);
    return std::string(buffer, end);
}

// Entry number for the clamp: a number too large for a double counts as infinite.
double entry_number(const std::string& entry) {
    if (auto number = text::leading_number(entry)) return *number;
    return !entry.empty() && entry.front() == '-' ? -std::numeric_limits<double>::infinity()
                                                  : std::numeric_limits<double>::infinity();
}

// A list entry that cannot be converted leaves the preset in place.
void decode_real(double& field, const std::string& entry) {
    if (auto number = text::leading_number(entry)) field = *number;
}

void decode_i32(int32_t& field, const std::string& entry) {
    auto number = text::leading_number(entry);
    if (!number) return;
    double rounded = text::round_half_even(*number);
    if (rounded < std::numeric_limits<int32_t>::min() ||
        rounded > std::numeric_limits<int32_t>::max()) {
        return;
    }
    field = static_cast<int32_t>(rounded);
}

constexpr double kMaxEventSamples = 1000000;

std::string clipped(std::string_view line) {
    return std::string(line.substr(0, kMaxReportedChars));
}

}  // namespace

void SetDefaultConfiguration(Settings& settings, std::string_view station_folder) {
    // The date-keeping box has no key; it is not a setting the file restores.
    const int16_t datekeeping = settings.general.datekeeping;
    settings.general = GeneralSettings{};
    settings.general.datekeeping = datekeeping;
    settings.general.event_browser = std::string(kDefaultEventBrowser);
    settings.general.events_folder = platform::join_path(station_folder, "events");
    settings.general.datalog_folder = std::string(station_folder);

    for (size_t k = 0; k < settings.channels.size(); ++k) {
        ChannelSettings& channel = settings.channels[k];
        channel = ChannelSettings{};
        channel.sensor_axis = static_cast<int16_t>(k + 1);
        channel.event_extension = "CH" + std::to_string(k + 1);
        // mag_corr already holds the default list's entries. Decoding COR here would also
        // rewrite the list with ";", and a first file must keep it as typed.
        DecodeStartParams(channel);
        DecodeStopParams(channel);
    }
}

std::string ConfigurationText(const Settings& settings) {
    std::string out;
    out.reserve(8192);
    for (size_t k = 0; k < settings.channels.size(); ++k) {
        out += kChannelHeader;
        out += std::to_string(k + 1);
        out += ']';
        out += kLineEnd;
        for (const auto& field : kChannelFields) append_line(out, field, settings.channels[k]);
    }
    out += kGeneralHeader;
    out += kLineEnd;
    for (const auto& field : kGeneralFields) append_line(out, field, settings.general);
    out += kGeneralEnd;
    out += kLineEnd;
    return out;
}

std::string ScheduleText(const Settings& settings) {
    std::string out;
    for (const auto& line : settings.schedule_lines) {
        out += line;
        out += kLineEnd;
    }
    return out;
}

platform::IoResult WriteConfiguration(const Settings& settings, platform::FileSystem& fs,
                                      std::string_view station_folder) {
    // The schedule goes first: a crash or a full disk half-way through a save then costs at
    // most the settings' new values, never the settings file itself.
    auto schedule = fs.replace_file(platform::join_path(station_folder, kScheduleFileName),
                                    ScheduleText(settings));
    if (!schedule && settings.general.service_mode != 0) return schedule;
    auto configuration = fs.replace_file(platform::join_path(station_folder, kSettingsFileName),
                                         ConfigurationText(settings));
    return schedule ? configuration : schedule;
}

namespace {

// The file's lines over the model (defaults already in place), then the decoding of the
// compound texts.
void ParseConfiguration(Settings& settings, std::string_view bytes, ReadReport& report) {
    LineReader lines(bytes);
    size_t line_number = 0;
    // Key lines before any header belong to channel 1.
    std::optional<size_t> channel = 0;
    bool in_general = false;

    // Records a line whose value could not be stored; false when reading must stop.
    auto fail = [&](std::string_view line) {
        if (report.failed_lines.size() < kMaxReportedLines) {
            report.failed_lines.push_back(clipped(line));
        }
        if (settings.general.service_mode == 0) return true;
        report.fatal_error = "Settings file line " + std::to_string(line_number) +
                             " cannot be read: " + clipped(line);
        return false;
    };

    while (auto next = lines.next()) {
        const std::string_view line = *next;
        ++line_number;
        bool stored = true;

        if (in_general) {
            if (line == kGeneralEnd) {
                in_general = false;
            } else if (const auto* field = find_field(kGeneralFields, line.substr(0, 3))) {
                stored = store(*field, settings.general, value_of(line));
            }
        } else if (line.substr(0, kChannelHeader.size()) == kChannelHeader) {
            channel = channel_index(line);
        } else {
            const std::string key = text::to_upper(line.substr(0, 3));
            if (const auto* field = find_field(kChannelFields, key)) {
                stored = channel && store(*field, settings.channels[*channel], value_of(line));
            } else if (key == kGeneralStartKey) {
                in_general = true;
            }
        }

        if (!stored && !fail(line)) break;
    }
}

void DecodeAll(Settings& settings) {
    for (auto& channel : settings.channels) {
        DecodeStartParams(channel);
        DecodeStopParams(channel);
        RaiseMaximumEventLength(channel);
        DecodeMagnitudeCorrection(channel);
    }
}

}  // namespace

ReadReport ReadConfiguration(Settings& settings, platform::FileSystem& fs,
                             std::string_view station_folder) {
    ReadReport report;
    SetDefaultConfiguration(settings, station_folder);

    const std::string path = platform::join_path(station_folder, kSettingsFileName);
    if (!fs.exists(path)) {
        report.created = true;
        report.write = WriteConfiguration(settings, fs, station_folder);
    }
    if (auto bytes = fs.read_file(path, kMaxFileBytes))
        ParseConfiguration(settings, *bytes, report);
    DecodeAll(settings);
    return report;
}

ReadReport ReadConfigurationFile(Settings& settings, const platform::FileSystem& fs,
                                 const std::string& path, std::string_view station_folder) {
    ReadReport report;
    SetDefaultConfiguration(settings, station_folder);
    auto bytes = fs.read_file(path, kMaxFileBytes);
    if (!bytes) {
        report.fatal_error = "The settings file " + path + " cannot be read.";
        return report;
    }
    ParseConfiguration(settings, *bytes, report);
    DecodeAll(settings);
    return report;
}

void ReadSchedule(Settings& settings, const platform::FileSystem& fs,
                  std::string_view station_folder) {
    for (auto& line : settings.schedule_lines) line.clear();
    auto bytes =
        fs.read_file(platform::join_path(station_folder, kScheduleFileName), kMaxFileBytes);
    if (bytes) {
        LineReader lines(*bytes);
        for (auto& element : settings.schedule_lines) {
            auto line = lines.next();
            if (!line) break;
            element = std::string(*line);
        }
    }
    DecodeSchedule(settings);
}

void DecodeSchedule(Settings& settings) {
    for (size_t k = 0; k < settings.schedule.size(); ++k) {
        const std::string& entry = settings.schedule_lines[k];
        ScheduledRecording& recording = settings.schedule[k];
        recording = {};
        // "YYYY/MM/DD HH:MM:SS" and at least one more character; the last one is the channel.
        if (entry.size() < 20) continue;
        auto start = text::parse_datetime(std::string_view(entry).substr(0, 19));
        char last = entry.back();
        if (!start || last < '0' || last > '9') continue;
        recording.start_epoch = std::floor(text::to_epoch_seconds(*start));
        recording.channel = last - '0';
    }
}

std::string ParseNumberList(std::string_view text, int count, double minimum, double maximum,
                            std::vector<std::string>& values) {
    values.assign(count > 0 ? static_cast<size_t>(count) : 0, std::string());
    if (count < 1) return {};

    size_t current = 1;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-') {
            values[current - 1] += c;
        } else if (current == static_cast<size_t>(count)) {
            return {};  // overflowed: the entries stay as far as they were filled
        } else if (c == ',' || c == ';') {
            ++current;
        }
    }

    std::string result;
    for (size_t k = 0; k < current; ++k) {
        std::string& entry = values[k];
        double number = entry_number(entry);
        if (number > maximum) {
            entry = list_number(maximum);
            number = maximum;
        }
        if (number < minimum) {
            entry = list_number(minimum);
            number = minimum;
        }
        if (k > 0) result += ';';
        result += list_number(number);
    }
    if (current != static_cast<size_t>(count)) result.insert(0, 1, '!');
    return result;
}

void DecodeStartParams(ChannelSettings& channel) {
    channel.start_amplitude = 32767;
    channel.start_samples = 2;
    channel.pre_event_minutes = 2;
    channel.sta_seconds = 1;
    channel.lta_seconds = 30;
    channel.start_ratio = 3;
    std::vector<std::string> values;
    ParseNumberList(channel.start_params, 6, 0, 8300000, values);
    decode_i32(channel.start_amplitude, values[0]);
    decode_real(channel.start_samples, values[1]);
    decode_real(channel.pre_event_minutes, values[2]);
    decode_real(channel.sta_seconds, values[3]);
    decode_real(channel.lta_seconds, values[4]);
    decode_real(channel.start_ratio, values[5]);
    UpdateDerivedCounts(channel);
}

void DecodeStopParams(ChannelSettings& channel) {
    channel.stop_amplitude = 32767;
    channel.post_event_minutes = 4;
    channel.stop_ratio = 3;
    channel.max_event_minutes = 5000;
    std::vector<std::string> values;
    ParseNumberList(channel.stop_params, 4, 0, 8300000, values);
    decode_i32(channel.stop_amplitude, values[0]);
    decode_real(channel.post_event_minutes, values[1]);
    channel.post_event_minutes = std::abs(channel.post_event_minutes);
    decode_real(channel.stop_ratio, values[2]);
    decode_real(channel.max_event_minutes, values[3]);
    UpdateDerivedCounts(channel);
}

bool RaiseMaximumEventLength(ChannelSettings& channel) {
    const double needed = channel.pre_event_minutes + channel.post_event_minutes;
    if (!(needed > channel.max_event_minutes)) return false;
    channel.max_event_minutes = std::min(needed, 8300000.0);
    // The list says what is in force, so the trigger window and SAVE show the raised length.
    channel.stop_params =
        list_number(channel.stop_amplitude) + ";" + list_number(channel.post_event_minutes) + ";" +
        list_number(channel.stop_ratio) + ";" + list_number(channel.max_event_minutes);
    UpdateDerivedCounts(channel);
    return true;
}

void DecodeMagnitudeCorrection(ChannelSettings& channel) {
    std::vector<std::string> values;
    std::string normalised = ParseNumberList(channel.magnitude_correction, 5, -100, 100, values);
    if (!normalised.empty() && normalised.front() == '!') {
        for (auto& factor : channel.mag_corr) factor = "0";
        return;
    }
    channel.magnitude_correction = std::move(normalised);
    for (size_t k = 0; k < channel.mag_corr.size(); ++k) channel.mag_corr[k] = values[k];
}

void UpdateDerivedCounts(ChannelSettings& channel) {
    const double rate = nominal_rate(channel.sps_index);
    auto capped = [](double samples) {
        return samples > kMaxEventSamples ? kMaxEventSamples : samples;
    };
    channel.pre_event_samples = rate * channel.pre_event_minutes * 60;
    channel.post_event_samples = capped(rate * channel.post_event_minutes * 60);
    channel.max_event_samples = capped(rate * channel.max_event_minutes * 60);
}

}  // namespace velkantor::config
