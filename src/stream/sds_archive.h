#pragma once

#include <functional>
#include <set>
#include <string>

#include "platform/file_system.h"
#include "stream/miniseed_record.h"

namespace velkantor::stream {

// "2026/XX/VELK/HHZ.D/XX.VELK.00.HHZ.D.2026.345": a record's day file in the SDS layout
// (year, network, station, channel folder, then the day of the year with three digits).
std::string SdsPath(const StreamId& id, MicroTime start);

// The miniSEED day archive: every record appended to its day's file as it is finished (the
// records never cross UTC midnight). A station started again appends to the day's file,
// after cutting off a partial record a power cut may have left at its end: readers stop at
// such a tear, and everything appended after it would be invisible to them.
class SdsArchive : public RecordSink {
public:
    SdsArchive(platform::FileSystem& fs, std::string folder,
               std::function<void(const std::string&)> report)
        : fs_(fs), folder_(std::move(folder)), report_(std::move(report)) {}

    void record(const MiniSeedRecord& record) override;
    const std::string& folder() const { return folder_; }
    long written() const { return written_; }
    long lost() const { return lost_; }

private:
    platform::FileSystem& fs_;
    std::string folder_;
    std::function<void(const std::string&)> report_;
    // Appends a record to a day file, once per run checked for a torn end first.
    std::string append(const std::string& path, const std::string& relative,
                       const std::string& bytes);

    std::set<std::string> folders_made_;
    std::set<std::string> files_checked_;
    bool failing_ = false;
    long written_ = 0;
    long lost_ = 0;
};

}  // namespace velkantor::stream
