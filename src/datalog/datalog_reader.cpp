#include "datalog/datalog_reader.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "text/number_text.h"

namespace velkantor::datalog {

namespace {

bool digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<DatalogFile> ParseDatalogName(std::string_view name) {
    // YYYYMMDD_HHMMSS_RRRRX.LGc, then ".N" (N from 2, as the writer counts) for a file of
    // seconds that came again.
    int pass = 1;
    if (name.size() > 25) {
        std::string_view number = name.substr(26);
        // Nine digits at most: the pass stays an int.
        if (name[25] != '.' || !digits(number) || number.size() > 9 || number[0] == '0') {
            return std::nullopt;
        }
        pass = 0;
        for (char c : number) pass = pass * 10 + (c - '0');
        if (pass < 2) return std::nullopt;
        name = name.substr(0, 25);
    }
    if (name.size() != 25 || name[8] != '_' || name[15] != '_' || name.substr(21, 3) != ".LG") {
        return std::nullopt;
    }
    if (!digits(name.substr(0, 8)) || !digits(name.substr(9, 6))) return std::nullopt;
    char channel = name[24];
    if (channel < '0' || channel > '3') return std::nullopt;
    const char lock = name[20];
    if (lock != 'L' && lock != 'N') return std::nullopt;
    // The writer's rate field is digits and at most a point ("0100", "00.5").
    std::string_view rate_field = name.substr(16, 4);
    if (!std::all_of(rate_field.begin(), rate_field.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); })) {
        return std::nullopt;
    }
    auto field = [&](size_t at, size_t width) {
        int v = 0;
        for (size_t i = at; i < at + width; ++i) v = v * 10 + (name[i] - '0');
        return v;
    };
    text::DateTime start{
        field(0, 4), field(4, 2), field(6, 2), field(9, 2), field(11, 2), field(13, 2), 0};
    if (!text::is_valid(start)) return std::nullopt;
    auto rate = text::strict_number(rate_field);
    if (!rate || *rate <= 0) return std::nullopt;
    DatalogFile file;
    file.name = std::string(name);
    if (pass > 1) file.name += "." + std::to_string(pass);
    file.start_epoch = text::to_epoch_seconds(start);
    file.rate = *rate;
    file.lock = lock;
    file.channel = channel - '0';
    file.pass = pass;
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
    // Names begin with the start time, so name order is time order; of one name, the passes
    // in the order they were written (".10" after ".9").
    std::sort(found.begin(), found.end(), [](const DatalogFile& a, const DatalogFile& b) {
        int by_name = a.name.compare(0, 25, b.name, 0, 25);
        return by_name != 0 ? by_name < 0 : a.pass < b.pass;
    });
    return found;
}

SampleRun DatalogReader::read(const std::vector<DatalogFile>& list, double from_epoch, size_t count,
                              double rate) const {
    SampleRun run;
    run.values.reserve(count);
    run.sources.reserve(count);
    if (rate <= 0) {
        for (const auto& f : list) {
            if (f.end_epoch() > from_epoch) {
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
    auto position_in = [](const DatalogFile& f, double t) {
        // Bounded (and NaN taken as 0): a time far from the file must not overflow the
        // conversion.
        double p = std::floor((t - f.start_epoch) * f.rate + kSlack);
        if (!(p > 0)) return uint64_t{0};
        return static_cast<uint64_t>(std::min(p, 9e18));
    };
    // A file can hold a time only when it began at most its own length before it: the
    // search for the file that holds a time starts at the longest file's length back, so a
    // read in pieces over a long listing does not go through all of it for each piece.
    double longest = 0;
    for (const auto& f : list) longest = std::max(longest, f.end_epoch() - f.start_epoch);
    const auto by_start = [](const DatalogFile& f, double v) { return f.start_epoch < v; };
    while (run.values.size() < count) {
        double t = from_epoch + static_cast<double>(run.values.size()) / rate;
        // The files that begin at or before t (a millisecond of slack for rounding).
        auto begun_end =
            std::upper_bound(list.begin(), list.end(), t + 0.001,
                             [](double v, const DatalogFile& f) { return v < f.start_epoch; });
        auto search = std::lower_bound(list.begin(), begun_end, t - longest - 1, by_start);
        // The first of them in name order that holds t. The ones before it in that order
        // began no later and ended at or before t, so none of them holds a later time: the
        // file is read to its end.
        auto holder = std::find_if(
            search, begun_end, [&](const DatalogFile& f) { return position_in(f, t) < f.samples; });
        if (holder == begun_end) {
            // Nothing holds t up to the next file's start.
            if (begun_end != list.begin() && (begun_end - 1)->rate != rate) {
                run.rate_mismatch = true;
                return run;
            }
            size_t gap = count - run.values.size();
            if (begun_end != list.end()) {
                double n = std::ceil((begun_end->start_epoch - t) * rate - kSlack);
                if (n < static_cast<double>(gap)) gap = n > 1 ? static_cast<size_t>(n) : 1;
            }
            push(gap, 0,
                 begun_end == list.begin() ? SampleSource::missing : SampleSource::past_end);
            continue;
        }
        const DatalogFile& file = *holder;
        if (file.rate != rate) {
            run.rate_mismatch = true;
            return run;
        }
        const uint64_t first = position_in(file, t);
        const uint64_t take = std::min<uint64_t>(file.samples - first, count - run.values.size());
        auto bytes = fs_.read_range(platform::join_path(folder_, file.name),
                                    first * static_cast<uint64_t>(bytes_per_sample_),
                                    take * static_cast<uint64_t>(bytes_per_sample_));
        size_t got = bytes ? bytes->size() / static_cast<size_t>(bytes_per_sample_) : 0;
        if (got == 0) {
            // Shrunk or unreadable since listed: what the listing gave it is not there.
            push(static_cast<size_t>(take), 0, SampleSource::past_end);
            continue;
        }
        auto source = file.lock == 'L' ? SampleSource::locked : SampleSource::unlocked;
        // The samples of this piece that the writer filled in.
        if (auto spans = fs_.read_file(
                platform::join_path(folder_, file.name + std::string(kFilledSuffix)), 1 << 20)) {
            const size_t at = run.values.size();
            std::istringstream lines(*spans);
            uint64_t from = 0;
            uint64_t n = 0;
            while (lines >> from >> n) {
                const uint64_t lo = std::max(from, first);
                const uint64_t hi = std::min(from + std::min<uint64_t>(n, 1u << 30), first + got);
                if (lo >= hi) continue;
                if (run.filled.size() < at + got) run.filled.resize(at + got, false);
                for (uint64_t k = lo; k < hi; ++k) run.filled[at + (k - first)] = true;
            }
        }
        for (size_t i = 0; i < got; ++i) {
            uint32_t v = 0;
            for (int b = 0; b < bytes_per_sample_; ++b) {
                v |=
                    static_cast<uint32_t>(static_cast<uint8_t>((*bytes)[i * bytes_per_sample_ + b]))
                    << (8 * b);
            }
            int32_t value =
                bytes_per_sample_ == 2 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
            push(1, value, source);
        }
    }
    if (!run.filled.empty()) run.filled.resize(run.values.size(), false);
    return run;
}

}  // namespace velkantor::datalog
