#include "datalog/extraction.h"

#include <algorithm>
#include <cmath>

#include "config/rates.h"
#include "datalog/datalog_reader.h"
#include "datalog/datalog_writer.h"
#include "events/event_file.h"
#include "text/number_text.h"

namespace velkantor::datalog {

namespace {

constexpr const char* kCrLf = "\r\n";

// The comment that tells an extracted file from a recorded one, in place of the
// recorder's own line.
std::string with_extract_comment(std::string header, const std::string& comment) {
    auto at = header.find("! AutoRec channel ");
    if (at == std::string::npos) return header;
    auto end = header.find(kCrLf, at);
    return header.replace(at, end - at, comment);
}

}  // namespace

ExtractResult ExtractEventFile(platform::FileSystem& fs, const ExtractRequest& request,
                               const std::function<void(double)>& progress) {
    ExtractResult result;
    const auto& settings = request.settings;
    DatalogReader reader(fs, request.datalog_folder, DatalogSampleBytes(settings.general.ad_type));
    double from = text::to_epoch_seconds(request.from);
    double to = from + request.minutes * 60;
    std::vector<int> channels;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        if ((request.channel_mask & (1 << ch)) != 0 &&
            config::start_rate(settings.channels[static_cast<size_t>(ch)].sps_index) > 0) {
            channels.push_back(ch);
        }
    }
    double done = 0;
    double total = 0;
    for (int ch : channels) {
        total += request.minutes * 60 *
                 config::start_rate(settings.channels[static_cast<size_t>(ch)].sps_index);
    }
    for (int ch : channels) {
        const auto& channel = settings.channels[static_cast<size_t>(ch)];
        double rate = config::start_rate(channel.sps_index);
        auto count = static_cast<size_t>(std::max(0.0, std::floor(request.minutes * 60 * rate)));
        // Every file of the period must have the channel's rate; the lock letter is "L"
        // only when every file of the period was locked.
        char lock = 'L';
        // Listed once: the period is read a minute at a time from this listing.
        const auto listed = reader.files(ch);
        for (const auto& file : listed) {
            double end = file.start_epoch + static_cast<double>(file.samples) / file.rate;
            if (end <= from || file.start_epoch >= to) continue;
            if (file.rate != rate) {
                result.title = "Warning!";
                result.message = "Sampling rate mismatch. Extraction not possible.";
                return result;
            }
            if (file.lock != 'L') lock = 'N';
        }
        std::string name = text::format_file_stamp(request.from) + "." + channel.event_extension;
        std::string path = platform::join_path(request.events_folder, name);
        if (fs.exists(path) && !request.overwrite) {
            result.title = "Warning!";
            result.message = "The event file " + path + " exists already; it is not overwritten.";
            return result;
        }
        events::HeaderFacts facts{text::format_datetime(request.from), rate, std::string(1, lock),
                                  settings.general.sync_source ? "DCF" : "GPS",
                                  std::string(config::ad_type_name(settings.general.ad_type))};
        bool ascii = settings.general.event_format == 3;
        std::string header =
            ascii ? events::AsciiHeader(settings, ch, facts)
                  : with_extract_comment(events::PsnTextHeader(settings, ch, facts),
                                         "! Extract track " + request.datalog_folder + " - " +
                                             text::format_datetime(request.from) + " - " +
                                             text::format_datetime(text::from_epoch_seconds(to)));
        auto placeholder = header.find(events::kCountPlaceholder);
        auto count_text_of = [ascii](size_t samples) {
            return ascii ? events::AsciiCountText(static_cast<double>(samples))
                         : events::PsnCountText(static_cast<double>(samples));
        };
        if (auto written = fs.write_file(path, header); !written) {
            (void)fs.remove(path);
            result.failed = true;
            result.title = "Error";
            result.message = "The event file " + path + " cannot be written: " + written.error;
            return result;
        }
        // A minute at a time, so a day of samples never sits in memory as text.
        double found = 0;
        size_t written_samples = 0;
        size_t chunk = static_cast<size_t>(std::max(1.0, rate * 60));
        while (written_samples < count) {
            size_t n = std::min(chunk, count - written_samples);
            auto run = reader.read(listed, from + written_samples / rate, n, rate);
            if (run.rate_mismatch) {
                result.title = "Warning!";
                result.message = "Sampling rate mismatch. Extraction not possible.";
                return result;
            }
            std::string lines;
            lines.reserve(run.values.size() * 9);
            for (size_t i = 0; i < run.values.size(); ++i) {
                events::AppendSampleLine(lines, run.values[i]);
                if (run.sources[i] == SampleSource::locked ||
                    run.sources[i] == SampleSource::unlocked) {
                    found += 1;
                }
            }
            auto appended = platform::append_records(fs, path, lines);
            if (!appended) {
                // The lines that reached the disk are whole and counted in the header.
                auto on_disk = written_samples +
                               static_cast<size_t>(std::count(
                                   lines.begin(),
                                   lines.begin() + static_cast<ptrdiff_t>(appended.kept), '\n'));
                if (placeholder != std::string::npos) {
                    (void)fs.write_at(path, placeholder, count_text_of(on_disk));
                }
                result.failed = true;
                result.title = "Error";
                result.message = "The event file " + path + " is incomplete (" +
                                 std::to_string(on_disk) + " of " + std::to_string(count) +
                                 " samples): " + appended.result.error;
                return result;
            }
            written_samples += n;
            done += static_cast<double>(n);
            if (progress && total > 0) progress(done / total);
        }
        if (found == 0) {
            // A file of zeros only would look like a quiet record: it is not kept.
            (void)fs.remove(path);
            continue;
        }
        if (placeholder != std::string::npos) {
            if (auto written = fs.write_at(path, placeholder, count_text_of(count)); !written) {
                result.failed = true;
                result.title = "Error";
                result.message =
                    "The event file " + path + " has no sample count: " + written.error;
                return result;
            }
        }
        result.samples += found;
        result.filled[static_cast<size_t>(ch)] = static_cast<double>(count) - found;
        result.files.push_back(path);
    }
    if (result.samples == 0) {
        result.title = "Warning!";
        result.message =
            "No data has been extracted.\r\nCheck is the system have channel enabled to the "
            "datalog function.";
    }
    return result;
}

}  // namespace velkantor::datalog
