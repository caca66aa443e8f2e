#include "stream/record_index.h"

#include <libmseed.h>

#include <algorithm>
#include <charconv>

#include "stream/sds_archive.h"
#include "text/date_time.h"

namespace velkantor::stream {

namespace {

constexpr int64_t kDaySeconds = 86400;
constexpr MicroTime kSecond = 1000000;
// Records read from a day file at a time.
constexpr uint64_t kChunkRecords = 128;

int64_t floor_div(int64_t value, int64_t by) {
    int64_t q = value / by;
    return (value % by != 0 && (value < 0) != (by < 0)) ? q - 1 : q;
}

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (true) {
        size_t at = text.find(by, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

std::optional<int> number(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<RecordHeader> ParseRecordHeader(std::string_view record) {
    if (record.size() < 48) return std::nullopt;
    std::string copy(record);
    // What is plainly no record is not handed on: libmseed would say so on standard error.
    if (!MS_ISVALIDHEADER(copy.data())) return std::nullopt;
    MSRecord* msr = nullptr;
    int parsed = msr_unpack(copy.data(), static_cast<int>(copy.size()), &msr, 0, 0);
    std::optional<RecordHeader> header;
    if (parsed == MS_NOERROR && msr != nullptr && msr->reclen == static_cast<int>(copy.size())) {
        RecordHeader h;
        h.id = {msr->network, msr->station, msr->location, msr->channel};
        h.start = msr->starttime;
        h.samples = msr->samplecnt;
        h.rate = msr->samprate;
        h.end = msr_endtime(msr);
        header = h;
    }
    msr_free(&msr);
    return header;
}

std::vector<ArchivedRecord> FindArchivedRecords(const platform::FileSystem& fs,
                                                const std::string& folder, const StreamId& id,
                                                MicroTime begin, MicroTime end,
                                                size_t max_records) {
    std::vector<ArchivedRecord> found;
    if (end < begin) return found;
    const int64_t first_day = floor_div(begin, kSecond * kDaySeconds);
    const int64_t last_day = floor_div(end, kSecond * kDaySeconds);
    for (int64_t day = first_day; day <= last_day; ++day) {
        const std::string file =
            platform::join_path(folder, SdsPath(id, day * kDaySeconds * kSecond));
        const uint64_t size = fs.file_size(file).value_or(0);
        const uint64_t whole = size - size % kRecordLength;
        for (uint64_t offset = 0; offset < whole; offset += kChunkRecords * kRecordLength) {
            auto chunk = fs.read_range(file, offset, kChunkRecords * kRecordLength);
            if (!chunk) break;
            for (size_t at = 0; at + kRecordLength <= chunk->size(); at += kRecordLength) {
                auto header = ParseRecordHeader(std::string_view(*chunk).substr(at, kRecordLength));
                if (!header || !(header->id == id)) continue;
                if (header->start > end || header->end < begin) continue;
                if (found.size() >= max_records) return found;
                found.push_back({std::move(*header), file, offset + at});
            }
        }
    }
    return found;
}

std::optional<std::pair<RecordHeader, RecordHeader>> DayFileEnds(const platform::FileSystem& fs,
                                                                 const std::string& file) {
    const uint64_t size = fs.file_size(file).value_or(0);
    const uint64_t records = size / kRecordLength;
    if (records == 0) return std::nullopt;
    auto read = [&](uint64_t index) -> std::optional<RecordHeader> {
        auto bytes = fs.read_range(file, index * kRecordLength, kRecordLength);
        if (!bytes || bytes->size() != static_cast<size_t>(kRecordLength)) return std::nullopt;
        return ParseRecordHeader(*bytes);
    };
    auto first = read(0);
    auto last = read(records - 1);
    if (!first || !last) return std::nullopt;
    return std::make_pair(*first, *last);
}

std::vector<ArchivedStream> ListArchivedStreams(const platform::FileSystem& fs,
                                                const std::string& folder,
                                                const std::string& network,
                                                const std::string& station, int first_year,
                                                int last_year) {
    std::vector<ArchivedStream> streams;
    for (const auto& year_name : fs.list_directory(folder)) {
        auto year = number(year_name);
        if (!year || *year < first_year || *year > last_year) continue;
        const std::string station_folder =
            platform::join_path(folder, year_name + "/" + network + "/" + station);
        const double new_year = text::to_epoch_seconds(text::DateTime{*year, 1, 1, 0, 0, 0, 0});
        for (const auto& channel_folder : fs.list_directory(station_folder)) {
            const std::string path = platform::join_path(station_folder, channel_folder);
            for (const auto& name : fs.list_directory(path)) {
                // NET.STA.LOC.CHA.D.YEAR.DAY
                auto parts = split(name, '.');
                if (parts.size() != 7 || parts[0] != network || parts[1] != station ||
                    parts[4] != "D" || parts[5] != year_name || parts[3] + ".D" != channel_folder) {
                    continue;
                }
                auto day = number(parts[6]);
                if (!day || *day < 1 || *day > 366) continue;
                StreamId id{network, station, parts[2], parts[3]};
                auto it = std::find_if(streams.begin(), streams.end(),
                                       [&](const ArchivedStream& s) { return s.id == id; });
                if (it == streams.end()) it = streams.insert(streams.end(), {id, {}});
                it->days.push_back(static_cast<int64_t>(new_year) +
                                   static_cast<int64_t>(*day - 1) * kDaySeconds);
            }
        }
    }
    for (auto& s : streams) std::sort(s.days.begin(), s.days.end());
    return streams;
}

void RecentRecords::record(const MiniSeedRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
    bytes_ += record.bytes.size();
    while (bytes_ > max_bytes_ && !records_.empty()) {
        bytes_ -= records_.front().bytes.size();
        records_.pop_front();
    }
}

std::vector<MiniSeedRecord> RecentRecords::overlapping(const StreamId& id, MicroTime begin,
                                                       MicroTime end) const {
    std::vector<MiniSeedRecord> out;
    std::lock_guard lock(mutex_);
    for (const auto& r : records_) {
        if (r.id == id && r.start <= end && r.end >= begin) out.push_back(r);
    }
    return out;
}

std::vector<StreamId> RecentRecords::streams() const {
    std::vector<StreamId> out;
    std::lock_guard lock(mutex_);
    for (const auto& r : records_) {
        if (std::find(out.begin(), out.end(), r.id) == out.end()) out.push_back(r.id);
    }
    return out;
}

}  // namespace velkantor::stream
