#include "stream/datalog_export.h"

#include <cmath>

#include "datalog/datalog_reader.h"
#include "datalog/datalog_writer.h"
#include "stream/record_builder.h"

namespace velkantor::stream {

namespace {

struct Append : RecordSink {
    ExportResult& result;
    explicit Append(ExportResult& r) : result(r) {}
    void record(const MiniSeedRecord& record) override {
        result.records += record.bytes;
        ++result.record_count;
    }
};

bool real(datalog::SampleSource source) {
    return source == datalog::SampleSource::locked || source == datalog::SampleSource::unlocked;
}

}  // namespace

ExportResult ExportDatalog(const platform::FileSystem& fs, const config::Settings& settings,
                           const ExportRequest& request,
                           const std::function<void(double)>& progress) {
    ExportResult result;
    datalog::DatalogReader reader(fs, request.datalog_folder,
                                  datalog::DatalogSampleBytes(settings.general.ad_type));
    const double span = request.minutes * 60;
    int channels = 0;
    for (int ch = 0; ch < config::kChannels; ++ch) channels += (request.channel_mask >> ch) & 1;
    int done_channels = 0;
    Append sink(result);
    for (int ch = 0; ch < config::kChannels; ++ch) {
        if (((request.channel_mask >> ch) & 1) == 0) continue;
        const auto files = reader.files(ch);
        // The rate of the first file that reaches into the span.
        double rate = 0;
        for (const auto& file : files) {
            if (file.start_epoch < request.from_epoch + span &&
                (rate == 0 || file.start_epoch <= request.from_epoch)) {
                rate = file.rate;
            }
        }
        if (!(rate > 0)) {
            ++done_channels;
            continue;
        }
        StreamId id{request.codes.network, request.codes.station, request.codes.location,
                    request.codes.channels[static_cast<size_t>(ch)]};
        if (id.channel.empty()) {
            id.channel = default_channel_code(rate, settings.channels, ch);
        }
        RecordBuilder builder(id, sink);
        const auto total = static_cast<size_t>(std::llround(span * rate));
        // Read in pieces of a minute: a day's span never sits in memory at once.
        const size_t piece = static_cast<size_t>(std::max(1.0, std::ceil(60 * rate)));
        bool in_gap = true;
        int zone = 0;
        for (size_t at = 0; at < total; at += piece) {
            const double first = request.from_epoch + static_cast<double>(at) / rate;
            // A change of zone (summer time) begins a new stretch: no record spans it.
            const int piece_zone = request.utc_offset ? request.utc_offset(first) : 0;
            if (piece_zone != zone && !in_gap) {
                builder.end_segment();
                in_gap = true;
            }
            zone = piece_zone;
            auto run = reader.read(files, first, std::min(piece, total - at), rate);
            size_t k = 0;
            // Samples the datalog filled in to keep its places are no data: gaps here.
            auto invented = [&run](size_t i) { return i < run.filled.size() && run.filled[i]; };
            while (k < run.values.size()) {
                if (!real(run.sources[k]) || invented(k)) {
                    if (!in_gap) {
                        builder.end_segment();
                        ++result.gaps[static_cast<size_t>(ch)];
                    }
                    in_gap = true;
                    ++k;
                    continue;
                }
                // A stretch of real samples of one lock state.
                size_t end = k;
                while (end < run.values.size() && run.sources[end] == run.sources[k] &&
                       !invented(end)) {
                    ++end;
                }
                std::vector<int32_t> values(run.values.begin() + static_cast<std::ptrdiff_t>(k),
                                            run.values.begin() + static_cast<std::ptrdiff_t>(end));
                const auto time = static_cast<MicroTime>(std::llround(
                    (request.from_epoch + static_cast<double>(at + k) / rate - zone) * 1e6));
                builder.add(time, rate, run.sources[k] == datalog::SampleSource::locked, values,
                            !in_gap);
                result.samples[static_cast<size_t>(ch)] += static_cast<long>(values.size());
                in_gap = false;
                k = end;
            }
            if (progress && channels > 0) {
                progress(
                    (done_channels + static_cast<double>(at + piece) / static_cast<double>(total)) /
                    channels);
            }
        }
        builder.end_segment();
        ++done_channels;
    }
    if (result.record_count == 0) result.message = "The datalog holds no samples of that span.";
    return result;
}

}  // namespace velkantor::stream
