#include "stream/datalink_backfill.h"

#include "stream/datalink_protocol.h"
#include "stream/sds_archive.h"

namespace velkantor::stream {

namespace {

constexpr MicroTime kDay = 86400LL * 1000000;

MicroTime day_of(MicroTime t) {
    return (t >= 0 ? t / kDay : (t - kDay + 1) / kDay) * kDay;
}

}  // namespace

BackfillStep ArchiveReader::next(const StreamId& id, MicroTime after, MicroTime before) {
    const std::string stream = id.text();
    if (!placed_ || stream != stream_ || after != last_start_) {
        stream_ = stream;
        day_ = day_of(after);
        offset_ = 0;
        placed_ = true;
    }
    last_start_ = after;
    const MicroTime last_day = day_of(before);
    for (; day_ <= last_day; day_ += kDay, offset_ = 0) {
        const std::string path = platform::join_path(folder_, SdsPath(id, day_));
        const uint64_t size = fs_.file_size(path).value_or(0);
        const uint64_t whole = size - size % kRecordLength;
        while (offset_ < whole) {
            // Day files only grow (a torn end is cut at a start, before anything reads it).
            const bool cached = chunk_path_ == path && offset_ >= chunk_offset_ &&
                                offset_ + kRecordLength <= chunk_offset_ + chunk_.size();
            if (!cached) {
                const uint64_t length =
                    std::min<uint64_t>(whole - offset_, kChunkRecords * kRecordLength);
                auto read = fs_.read_range(path, offset_, length);
                if (!read || read->size() < kRecordLength) break;
                chunk_path_ = path;
                chunk_offset_ = offset_;
                chunk_ = std::move(*read);
                chunk_.resize(chunk_.size() - chunk_.size() % kRecordLength);
            }
            const std::string_view chunk =
                std::string_view(chunk_).substr(static_cast<size_t>(offset_ - chunk_offset_));
            const size_t count = chunk.size() / kRecordLength;
            for (size_t i = 0; i < count; ++i) {
                std::string_view bytes = chunk.substr(i * kRecordLength, kRecordLength);
                ++records_read_;
                auto record = parse_record_header(bytes);
                if (!record || !(record->id == id)) continue;
                if (record->start >= before) {
                    offset_ += i * kRecordLength;
                    return {BackfillStep::Kind::Closed, {}};
                }
                if (record->start > after) {
                    offset_ += (i + 1) * kRecordLength;
                    last_start_ = record->start;
                    return {BackfillStep::Kind::Record, std::move(*record)};
                }
            }
            offset_ += count * kRecordLength;
        }
        if (day_ == last_day) break;
    }
    // The end of what is written, before the gap's end: the archive is behind. Looked at
    // again from where it stands now.
    return {BackfillStep::Kind::NotYet, {}};
}

}  // namespace velkantor::stream
