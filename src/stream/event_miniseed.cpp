#include "stream/event_miniseed.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "stream/record_builder.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::stream {

namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::string_view after(std::string_view line, std::string_view label) {
    return line.substr(0, label.size()) == label ? line.substr(label.size()) : std::string_view{};
}

struct Append : RecordSink {
    std::string& out;
    explicit Append(std::string& o) : out(o) {}
    void record(const MiniSeedRecord& record) override { out += record.bytes; }
};

}  // namespace

EventMiniSeed EventFileToMiniSeed(std::string_view event_file, const StreamId& id, int utc_offset) {
    EventMiniSeed result;
    auto lines = lines_of(event_file);
    std::optional<text::DateTime> start;
    std::optional<double> rate;
    bool locked = false;
    size_t data = 0;  // the first sample line
    if (!lines.empty() && lines[0].substr(0, 1) == "!") {
        for (size_t i = 0; i < lines.size() && data == 0; ++i) {
            if (auto v = after(lines[i], "Start Time: "); !v.empty())
                start = text::parse_datetime(v.substr(0, 19));
            if (auto v = after(lines[i], "SPS: "); !v.empty()) rate = text::leading_number(v);
            if (auto v = after(lines[i], "Lock Indicator: "); !v.empty()) locked = v == "L";
            if (lines[i] == "Data:") data = i + 1;
        }
    } else if (!lines.empty() && lines[0].size() > 24) {
        // One header line: "YYYY/MM/DD HH:MM:SS.000 count rate lock ..."
        std::string_view header = lines[0];
        start = text::parse_datetime(header.substr(0, 19));
        size_t at = header.find(' ', 20);
        std::string_view rest =
            at == std::string_view::npos ? std::string_view{} : header.substr(at);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        size_t count_end = rest.find(' ');
        if (count_end != std::string_view::npos) {
            rest = rest.substr(count_end);
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            rate = text::leading_number(rest);
            size_t rate_end = rest.find(' ');
            if (rate_end != std::string_view::npos) locked = rest.substr(rate_end + 1, 1) == "L";
        }
        data = 1;
    }
    if (!start || !rate || !(*rate > 0) || data == 0) {
        result.error = "not an event file with a start time, a rate and samples";
        return result;
    }
    std::vector<int32_t> values;
    for (size_t i = data; i < lines.size(); ++i) {
        auto value = text::leading_number(lines[i]);
        if (!value) break;  // the samples end at the first line that is none
        // No board gives more than 32 bits: a figure beyond them is a damaged file, which is
        // refused rather than cut to some other value.
        if (!(*value >= INT32_MIN && *value <= INT32_MAX)) {
            result.error = "a sample of the event file is out of range: " + std::string(lines[i]);
            return result;
        }
        values.push_back(static_cast<int32_t>(*value));
    }
    if (values.empty()) {
        result.error = "the event file holds no samples";
        return result;
    }
    Append sink(result.records);
    {
        RecordBuilder builder(id, sink);
        auto first = static_cast<MicroTime>(
            std::llround((text::to_epoch_seconds(*start) - utc_offset) * 1e6));
        builder.add(first, *rate, locked, values, false);
    }
    return result;
}

}  // namespace velkantor::stream
