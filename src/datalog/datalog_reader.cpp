#include "datalog/datalog_reader.h"

#include <algorithm>
#include <cmath>

#include "text/number_text.h"

namespace velkantor::datalog {

namespace {

bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<DatalogFile> ParseDatalogName(std::string_view name) {
    // YYYYMMDD_HHMMSS_RRRRX.LGc
    if (name.size() != 25 || name[8] != '_' || name[15] != '_' || name.substr(21, 3) != ".LG") {
        return std::nullopt;
    }
    if (!digits(name.substr(0, 8)) || !digits(name.substr(9, 6))) return std::nullopt;
    char channel = name[24];
    if (channel < '0' || channel > '3') return std::nullopt;
    auto field = [&](size_t at, size_t width) {
        int v = 0;
        for (size_t i = at; i < at + width; ++i) v = v * 10 + (name[i] - '0');
        return v;
    };
    text::DateTime start{field(0, 4), field(4, 2), field(6, 2), field(9, 2), field(11, 2),
                         field(13, 2), 0};
    if (!text::is_valid(start)) return std::nullopt;
    auto rate = text::strict_number(name.substr(16, 4));
    if (!rate || *rate <= 0) return std::nullopt;
    DatalogFile file;
    file.name = std::string(name);
    file.start_epoch = text::to_epoch_seconds(start);
    file.rate = *rate;
    file.lock = name[20];
    file.channel = channel - '0';
    return file;
}

std::vector<DatalogFile> DatalogReader::files(int ch) const {
    std::vector<DatalogFile> found;
    for (const auto& name : fs_.list_directory(folder_)) {
        auto file = ParseDatalogName(name);
        if (!file || file->channel != ch) continue;
        auto size = fs_.file_size(platform::join_path(folder_, name)).value_or(0);
        file->samples = size / static_cast<uint64_t>(bytes_per_sample_);
        found.push_back(*file);
    }
    // Names begin with the start time, so name order is time order.
    std::sort(found.begin(), found.end(),
              [](const DatalogFile& a, const DatalogFile& b) { return a.name < b.name; });
    return found;
}

SampleRun DatalogReader::read(const std::vector<DatalogFile>& list, double from_epoch,
                              size_t count, double rate) const {
    SampleRun run;
    run.values.reserve(count);
    run.sources.reserve(count);
    if (rate <= 0) {
        for (const auto& f : list) {
            if (f.start_epoch + static_cast<double>(f.samples) / f.rate > from_epoch) {
                rate = f.rate;
                break;
            }
        }
        if (rate <= 0 && !list.empty()) rate = list.back().rate;
        if (rate <= 0) rate = 1;
    }
    run.rate = rate;
    auto push = [&](size_t n, int32_t value, SampleSource source) {
        for (size_t i = 0; i < n && run.values.size() < count; ++i) {
            run.values.push_back(value);
            run.sources.push_back(source);
        }
    };
    // Sample k of the run lies at from_epoch + k / rate. At today's epoch seconds a double
    // holds that time to about 2e-7 s, a few hundred-thousandths of a sample at 100/s: the
    // positions are rounded with a thousandth of a sample of slack, or a sample at a file's
    // start is read twice (once as the last of the run before it).
    constexpr double kSlack = 1e-3;
    while (run.values.size() < count) {
        double t = from_epoch + static_cast<double>(run.values.size()) / rate;
        // The latest file that begins at or before t (a millisecond of slack for rounding).
        auto next = std::upper_bound(list.begin(), list.end(), t + 0.001,
                                     [](double v, const DatalogFile& f) { return v < f.start_epoch; });
        double next_start = next == list.end() ? INFINITY : next->start_epoch;
        auto until_next = [&] {
            if (!std::isfinite(next_start)) return count - run.values.size();
            double n = std::ceil((next_start - t) * rate - kSlack);
            return static_cast<size_t>(std::max(1.0, n));
        };
        if (next == list.begin()) {
            push(until_next(), 0, SampleSource::missing);
            continue;
        }
        const DatalogFile& file = *(next - 1);
        if (file.rate != rate) {
            run.rate_mismatch = true;
            return run;
        }
        double position = std::floor((t - file.start_epoch) * rate + kSlack);
        auto first = static_cast<uint64_t>(std::max(0.0, position));
        if (first >= file.samples) {
            push(until_next(), 0, SampleSource::past_end);
            continue;
        }
        uint64_t take = std::min<uint64_t>(file.samples - first, count - run.values.size());
        if (std::isfinite(next_start)) take = std::min<uint64_t>(take, until_next());
        auto bytes = fs_.read_range(platform::join_path(folder_, file.name),
                                    first * static_cast<uint64_t>(bytes_per_sample_),
                                    take * static_cast<uint64_t>(bytes_per_sample_));
        size_t got = bytes ? bytes->size() / static_cast<size_t>(bytes_per_sample_) : 0;
        if (got == 0) {
            push(until_next(), 0, SampleSource::past_end);  // shrunk or unreadable since listed
            continue;
        }
        auto source = file.lock == 'L' ? SampleSource::locked : SampleSource::unlocked;
        for (size_t i = 0; i < got; ++i) {
            uint32_t v = 0;
            for (int b = 0; b < bytes_per_sample_; ++b) {
                v |= static_cast<uint32_t>(static_cast<uint8_t>((*bytes)[i * bytes_per_sample_ + b]))
                     << (8 * b);
            }
            int32_t value = bytes_per_sample_ == 2 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
            push(1, value, source);
        }
    }
    return run;
}

}  // namespace velkantor::datalog
