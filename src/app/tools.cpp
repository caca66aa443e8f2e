#include "app/tools.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <ostream>

#include "app/command_line.h"
#include "config/settings_file.h"
#include "datalog/datalog_writer.h"
#include "datalog/extraction.h"
#include "datalog/review_page.h"
#include "display/drum.h"
#include "display/image_export.h"
#include "display/offline_drum.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"
#include "platform/real/system_clock.h"
#include "stream/datalog_export.h"
#include "text/number_text.h"
#include "text/strings.h"

namespace velkantor::app {

namespace {

// The options that name a span of a station's datalog, shared by extract and export.
struct SpanOptions {
    std::string station;
    std::string from_text;
    text::DateTime from;
    double minutes = 0;
    int mask = 0xF;  // bit 0 = channel 1

    // Takes args[i] (and its value) when it is one of these options: true, with `error` set
    // when its value is bad; false when the option is another one.
    bool take(const std::vector<std::string>& args, size_t& i, std::string& error) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : ""; };
        if (arg == "--station") {
            station = value();
        } else if (arg == "--from") {
            from_text = value();
        } else if (arg == "--minutes") {
            auto m = text::strict_number(value());
            if (!m || *m <= 0 || *m > 60 * 24 * 31)
                error = "--minutes needs a number of minutes";
            else
                minutes = *m;
        } else if (arg == "--channels") {
            mask = 0;
            for (char c : value()) {
                if (c >= '1' && c <= '4')
                    mask |= 1 << (c - '1');
                else if (c != ',' && c != ' ')
                    error = "--channels takes channel numbers 1 to 4";
            }
        } else {
            return false;
        }
        return true;
    }
    // After the last option: what is missing or wrong ("" when the span can be used).
    std::string check(const char* verb) {
        auto parsed = text::parse_datetime(from_text);
        if (!parsed) return "--from needs a time as \"YYYY/MM/DD HH:MM:SS\"";
        from = *parsed;
        if (minutes <= 0) return "--minutes is needed";
        if (mask == 0) return std::string("no channel to ") + verb;
        if (station.empty()) station = default_station_folder();
        return "";
    }
};

// The options that name one channel of a station, shared by review and drum.
struct ChannelOptions {
    std::string station;
    int channel = 0;  // 1 to 4; 0 until given

    // As SpanOptions::take.
    bool take(const std::vector<std::string>& args, size_t& i, std::string& error) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : ""; };
        if (arg == "--station") {
            station = value();
        } else if (arg == "--channel") {
            auto n = text::strict_number(value());
            if (!n || *n < 1 || *n > 4)
                error = "--channel takes 1 to 4";
            else
                channel = static_cast<int>(*n);
        } else {
            return false;
        }
        return true;
    }
    std::string check() {
        if (channel == 0) return "--channel is needed";
        if (station.empty()) station = default_station_folder();
        return "";
    }
};

// One call of a tool: its name and usage for the messages, and where they go.
struct ToolCall {
    const char* name;
    std::string usage;
    std::ostream& out;
    std::ostream& err;

    // A call that cannot be carried out: the reason and the usage, exit status 2.
    int bad(const std::string& why) const {
        err << "velkantor " << name << ": " << why << "\n" << usage;
        return 2;
    }
    // Reads `args`: --help, the options of the `group` (SpanOptions, ChannelOptions), then
    // the tool's `own(arg, value, error)`, false for an option it does not know, `error` set
    // for a bad value. Nothing when the tool may go on, else its exit status.
    template <class Group, class Own>
    std::optional<int> read(const std::vector<std::string>& args, Group& group, Own own) const {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : ""; };
            if (arg == "--help") {
                out << usage;
                return 0;
            }
            std::string error;
            if (!group.take(args, i, error) && !own(arg, value, error)) {
                return bad("unknown option \"" + arg + "\"");
            }
            if (!error.empty()) return bad(error);
        }
        return std::nullopt;
    }
    // Reads the station's settings file: false, with the reason on `err`, when they cannot
    // be used.
    bool read_settings(config::Settings& settings, platform::FileSystem& fs,
                       const std::string& path, const std::string& station) const {
        auto report = config::ReadConfigurationFile(settings, fs, path, station);
        if (!report.fatal_error.empty()) {
            err << "velkantor " << name << ": " << report.fatal_error << "\n";
            return false;
        }
        return true;
    }
};

std::string settings_path(const std::string& station) {
    return platform::join_path(station, config::kSettingsFileName);
}

}  // namespace

std::string export_usage() {
    return R"(Usage: velkantor export --from "YYYY/MM/DD HH:MM:SS" --minutes M [options]

Writes the datalog of a period as one miniSEED file (512-byte records, Steim-2), named by the
station's network.ini; where the datalog has no samples the file has a gap.

  --station DIR      station folder (default: $VELKANTOR_STATION, else ~/velkantor)
  --from TIME        start of the period, "YYYY/MM/DD HH:MM:SS" (board time)
  --minutes M        length of the period in minutes
  --channels LIST    channels to export, e.g. 1,3 (default: all four)
  --out FILE         the miniSEED file (default: NET.STA.YYYYMMDD_HHMMSS.mseed here)
  --utc-offset H     the board's zone when the datalog was written, hours ahead of UTC
                     (e.g. 1 for CET, -5); default: this machine's zone at that time

The datalog is in board time; the records are stamped in UTC.
)";
}

int run_export_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                       std::ostream& out, std::ostream& err, bool show_progress) {
    SpanOptions span;
    std::string out_path;
    std::optional<int> utc_offset;
    const ToolCall call{"export", export_usage(), out, err};
    auto own = [&](const std::string& arg, auto& value, std::string& error) {
        if (arg == "--out") {
            out_path = value();
            if (out_path.empty()) error = "--out needs a file name";
        } else if (arg == "--utc-offset") {
            const std::string text = value();
            char* end = nullptr;
            const double hours = std::strtod(text.c_str(), &end);
            // Zones are whole quarter hours between UTC-12 and UTC+14.
            if (text.empty() || *end != '\0' || !(hours >= -12 && hours <= 14) ||
                std::fmod(hours * 4, 1.0) != 0) {
                error = "--utc-offset needs hours from -12 to 14, e.g. 1 or -3.5";
            } else {
                utc_offset = static_cast<int>(std::lround(hours * 3600));
            }
        } else {
            return false;
        }
        return true;
    };
    if (auto status = call.read(args, span, own)) return *status;
    if (std::string error = span.check("export"); !error.empty()) return call.bad(error);
    const std::string& station = span.station;

    config::Settings settings;
    if (!call.read_settings(settings, fs, settings_path(station), station)) return 1;
    std::vector<std::string> problems;
    config::IniFile ini;
    if (auto text = fs.read_file(platform::join_path(station, config::kNetworkFileName), 1 << 20)) {
        ini = config::IniFile::parse(*text);
    }
    auto stream_settings = stream::ParseStreamSettings(ini, problems);
    for (const auto& problem : problems) err << "velkantor export: " << problem << "\n";
    if (!stream_settings.codes_valid) {
        err << "velkantor export: the station's codes in network.ini are not valid\n";
        return 1;
    }
    stream::ExportRequest request;
    request.datalog_folder = platform::join_path(station, "datalog");
    request.codes = stream_settings.codes;
    request.from_epoch = text::to_epoch_seconds(span.from);
    request.minutes = span.minutes;
    request.channel_mask = span.mask;
    platform::SystemClock clock;
    request.utc_offset = [&clock, utc_offset](double board_second) {
        return utc_offset ? *utc_offset
                          : clock.utc_offset_at(text::from_epoch_seconds(board_second));
    };
    auto result = stream::ExportDatalog(fs, settings, request, [&](double fraction) {
        if (show_progress)
            err << "\rExporting " << static_cast<int>(fraction * 100) << "%" << std::flush;
    });
    if (show_progress) err << "\n";
    if (result.record_count == 0) {
        err << "velkantor export: " << result.message << "\n";
        return 1;
    }
    if (out_path.empty()) {
        out_path = request.codes.network + "." + request.codes.station + "." +
                   text::format_file_stamp(span.from) + ".mseed";
    }
    if (auto written = fs.replace_file(out_path, result.records); !written) {
        err << "velkantor export: " << out_path << " not written: " << written.error << "\n";
        return 1;
    }
    out << out_path << "\n";
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        if (((span.mask >> ch) & 1) == 0) continue;
        err << "channel " << ch + 1 << ": " << result.samples[c] << " samples";
        if (result.gaps[c] > 0) err << ", " << result.gaps[c] << " gaps where the datalog has none";
        err << "\n";
    }
    return 0;
}

std::string extract_usage() {
    return R"(Usage: velkantor extract --from "YYYY/MM/DD HH:MM:SS" --minutes M [options]

Cuts a period of the continuous datalog into event files in the station's events folder.

  --station DIR      station folder (default: $VELKANTOR_STATION, else ~/velkantor)
  --from TIME        start of the period, "YYYY/MM/DD HH:MM:SS"
  --minutes M        length of the period in minutes
  --channels LIST    channels to extract, e.g. 1,3 (default: all four)
  --config FILE      settings file for the station and sensor lines and the rates
                     (default: the station's velkant.ini)
  --overwrite        replace an event file of the same name
)";
}

int run_extract_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                        std::ostream& out, std::ostream& err, bool show_progress) {
    SpanOptions span;
    std::string config;
    bool overwrite = false;
    const ToolCall call{"extract", extract_usage(), out, err};
    auto own = [&](const std::string& arg, auto& value, std::string&) {
        if (arg == "--config") {
            config = value();
        } else if (arg == "--overwrite") {
            overwrite = true;
        } else {
            return false;
        }
        return true;
    };
    if (auto status = call.read(args, span, own)) return *status;
    if (std::string error = span.check("extract"); !error.empty()) return call.bad(error);
    const std::string& station = span.station;
    if (config.empty()) config = settings_path(station);

    datalog::ExtractRequest request;
    if (!call.read_settings(request.settings, fs, config, station)) return 1;
    request.datalog_folder = platform::join_path(station, "datalog");
    request.events_folder = platform::join_path(station, "events");
    request.from = span.from;
    request.minutes = span.minutes;
    request.channel_mask = span.mask;
    request.overwrite = overwrite;
    auto result = datalog::ExtractEventFile(fs, request, [&](double fraction) {
        if (show_progress)
            err << "\rExtracting " << static_cast<int>(fraction * 100) << "%" << std::flush;
    });
    if (show_progress) err << "\n";
    for (const auto& file : result.files) out << file << "\n";
    for (int ch = 0; ch < config::kChannels; ++ch) {
        double filled = result.filled[static_cast<size_t>(ch)];
        if (filled > 0) {
            err << "velkantor extract: channel " << ch + 1 << ": " << text::shortest_real(filled)
                << " samples are 0 because the datalog holds no data for their time\n";
        }
    }
    if (!result.message.empty()) {
        std::string text;
        for (char c : result.message) {
            if (c != '\r') text += c;
        }
        err << "[" << result.title << "] " << text << "\n";
    }
    return result.files.empty() || result.failed ? 1 : 0;
}

std::string review_usage() {
    return R"(Usage: velkantor review --channel N --from "YYYY/MM/DD HH:MM:SS" --png FILE [options]

Draws one review page of a channel's datalog into an image (PNG, BMP or JPEG by the name).

  --station DIR      station folder (default: $VELKANTOR_STATION, else ~/velkantor)
  --channel N        channel 1 to 4
  --from TIME        begin of the page, "YYYY/MM/DD HH:MM:SS"
  --rows R           rows of the page (2 to 8; default: the station's review setting)
  --yscale S         Y scale: S/100 pixels per count (default: the station's review setting)
  --png FILE         the image to write
)";
}

int run_review_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                       std::ostream& out, std::ostream& err) {
    ChannelOptions chosen;
    std::string from_text;
    std::string image;
    int rows = 0;
    double y_scale = 0;
    const ToolCall call{"review", review_usage(), out, err};
    auto own = [&](const std::string& arg, auto& value, std::string& error) {
        if (arg == "--from") {
            from_text = value();
        } else if (arg == "--png") {
            image = value();
        } else if (arg == "--rows") {
            auto n = text::strict_number(value());
            if (!n)
                error = "--rows needs a number";
            else
                rows = static_cast<int>(*n);
        } else if (arg == "--yscale") {
            auto n = text::strict_number(value());
            if (!n || !(*n > 0) || !std::isfinite(*n))
                error = "--yscale needs a number above 0";
            else
                y_scale = *n;
        } else {
            return false;
        }
        return true;
    };
    if (auto status = call.read(args, chosen, own)) return *status;
    auto from = text::parse_datetime(from_text);
    if (!from) return call.bad("--from needs a time as \"YYYY/MM/DD HH:MM:SS\"");
    if (std::string error = chosen.check(); !error.empty()) return call.bad(error);
    if (image.empty()) return call.bad("--png is needed");
    const std::string& station = chosen.station;
    const int channel = chosen.channel;
    config::Settings settings;
    if (!call.read_settings(settings, fs, settings_path(station), station)) return 1;
    const auto& general = settings.general;
    datalog::DatalogReader reader(fs, platform::join_path(station, "datalog"),
                                  datalog::DatalogSampleBytes(general.ad_type));
    auto layout = datalog::ReviewLayout::from_settings(
        rows ? rows : general.review_rows, general.review_chart_speed,
        y_scale > 0 ? y_scale : general.review_y_scale);
    platform::QImageCanvas canvas(1000, 600);
    auto page =
        datalog::DrawReviewPage(canvas, reader, channel - 1, text::to_epoch_seconds(*from), layout);
    if (!page.drawn()) {
        err << "[" << page.title << "] " << page.message << "\n";
        return 1;
    }
    if (page.samples == 0) {
        // A blank page would look like a quiet record.
        err << "velkantor review: no datalog of channel " << channel << " from "
            << text::format_datetime(text::from_epoch_seconds(page.begin_epoch)) << " to "
            << text::format_datetime(text::from_epoch_seconds(page.end_epoch)) << "\n";
        return 1;
    }
    if (std::string failed = canvas.save(image); !failed.empty()) {
        err << "velkantor review: " << failed << "\n";
        return 1;
    }
    out << image << " " << text::format_datetime(text::from_epoch_seconds(page.begin_epoch))
        << " - " << text::format_datetime(text::from_epoch_seconds(page.end_epoch)) << "\n";
    return 0;
}

std::string drum_usage() {
    return R"(Usage: velkantor drum --channel N --date YYYY/MM/DD [options]

Draws a day's drum of a channel again from the datalog, as the station draws it, for a
drum image that was lost or never made.

  --station DIR      station folder (default: $VELKANTOR_STATION, else ~/velkantor)
  --channel N        channel 1 to 4
  --date DATE        the day, YYYY/MM/DD
  --out FILE         the image to write (BMP, GIF, JPG or PNG by the name; default: the
                     day's archive drums/drum_YYMMDD_N in the station's drum format, which
                     is not overwritten)
)";
}

int run_drum_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                     std::ostream& out, std::ostream& err) {
    ChannelOptions chosen;
    std::string date;
    std::string target;
    const ToolCall call{"drum", drum_usage(), out, err};
    auto own = [&](const std::string& arg, auto& value, std::string&) {
        if (arg == "--date") {
            date = value();
        } else if (arg == "--out") {
            target = value();
        } else {
            return false;
        }
        return true;
    };
    if (auto status = call.read(args, chosen, own)) return *status;
    if (std::string error = chosen.check(); !error.empty()) return call.bad(error);
    if (display::drum_yymmdd(date).empty()) return call.bad("--date needs a day as YYYY/MM/DD");
    const std::string& station = chosen.station;
    const int channel = chosen.channel;
    config::Settings settings;
    if (!call.read_settings(settings, fs, settings_path(station), station)) return 1;
    const auto& general = settings.general;
    int16_t format = general.drum_format;
    if (target.empty()) {
        std::string base = platform::join_path(
            station, "drums/drum_" + display::drum_yymmdd(date) + "_" + std::to_string(channel));
        target = base + display::drum_image_type(format).extension;
        if (!display::FindDrumImage(fs, base, format).empty()) {
            err << "velkantor drum: " << target << " exists; name another file with --out\n";
            return 1;
        }
    }

    datalog::DatalogReader reader(fs, platform::join_path(station, "datalog"),
                                  datalog::DatalogSampleBytes(general.ad_type));
    platform::QtPictureCodec codec;
    auto picture = codec.make_canvas(display::kDrumWidth, display::kDrumHeight);
    auto drawn = display::DrawDrumFromDatalog(*picture, reader, channel - 1, date, settings);
    if (!drawn.error.empty()) {
        err << "velkantor drum: " << drawn.error << "\n";
        return 1;
    }

    std::string extension;
    auto dot = target.rfind('.');
    auto slash = target.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || slash < dot)) {
        extension = text::to_lower(target.substr(dot + 1));
    }
    std::string failed;
    if (extension == "png") {
        failed = dynamic_cast<platform::QImageCanvas&>(*picture).save(target);
    } else {
        auto type = display::drum_image_type(format);
        if (extension == "bmp") type = display::drum_image_type(0);
        if (extension == "gif") type = display::drum_image_type(1);
        if ((extension == "jpg" || extension == "jpeg") &&
            type.format != platform::ImageFormat::jpeg) {
            type = display::drum_image_type(3);
        }
        std::string encoded = codec.encode(*picture, type.format, type.quality);
        auto written = encoded.empty() ? platform::IoResult::fail("cannot encode the image")
                                       : fs.replace_file(target, encoded);
        if (!written) failed = written.error;
    }
    if (!failed.empty()) {
        err << "velkantor drum: " << target << ": " << failed << "\n";
        return 1;
    }
    out << target << " " << drawn.samples << " samples at " << drawn.rate << " per second\n";
    return 0;
}

}  // namespace velkantor::app
