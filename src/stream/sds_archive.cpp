#include "stream/sds_archive.h"

#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::stream {

namespace {

// The day of the year (1-366) and the year of an epoch second.
std::pair<int, int> year_and_day(int64_t epoch_second) {
    auto date = text::from_epoch_seconds(static_cast<double>(epoch_second));
    auto new_year = text::to_epoch_seconds(text::DateTime{date.year, 1, 1, 0, 0, 0, 0});
    int day = static_cast<int>((static_cast<double>(epoch_second) - new_year) / 86400) + 1;
    return {date.year, day};
}

}  // namespace

std::string SdsPath(const StreamId& id, MicroTime start) {
    int64_t second = start >= 0 ? start / 1000000 : (start - 999999) / 1000000;
    auto [year, day] = year_and_day(second);
    std::string y = std::to_string(year);
    return y + "/" + id.network + "/" + id.station + "/" + id.channel + ".D/" + id.network + "." +
           id.station + "." + id.location + "." + id.channel + ".D." + y + "." +
           text::zero_padded(day, 3);
}

std::string SdsArchive::append(const std::string& path, const std::string& relative,
                               const std::string& bytes) {
    if (!files_checked_.count(path)) {
        const uint64_t size = fs_.file_size(path).value_or(0);
        if (const uint64_t torn = size % kRecordLength; torn != 0) {
            if (auto cut = fs_.truncate(path, size - torn); !cut) {
                return "a partial record at its end cannot be cut off: " + cut.error;
            }
            report_("miniSEED archive " + relative + ": a partial record of " +
                    std::to_string(torn) + " bytes at its end (an interrupted write) cut off");
        }
        files_checked_.insert(path);
    }
    if (auto written = platform::append_records(fs_, path, bytes, kRecordLength); !written) {
        files_checked_.erase(path);  // what it now ends with is checked again
        return written.result.error;
    }
    return {};
}

void SdsArchive::record(const MiniSeedRecord& record) {
    std::string relative = SdsPath(record.id, record.start);
    std::string path = platform::join_path(folder_, relative);
    std::string folder = path.substr(0, path.rfind('/'));
    std::string error;
    if (!folders_made_.count(folder)) {
        if (auto made = fs_.create_directories(folder); made) {
            folders_made_.insert(folder);
        } else {
            error = made.error;
        }
    }
    if (error.empty()) {
        error = append(path, relative, record.bytes);
        if (!error.empty()) folders_made_.erase(folder);  // it may have been removed meanwhile
    }
    if (error.empty()) {
        ++written_;
        if (failing_) report_("miniSEED archive written again: " + relative);
        failing_ = false;
        return;
    }
    ++lost_;
    // One line when the archive begins to fail, not one per record.
    if (!failing_) report_("miniSEED archive " + relative + " not written: " + error);
    failing_ = true;
}

}  // namespace velkantor::stream
