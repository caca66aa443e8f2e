#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "stream/record_index.h"
#include "web/fdsn_station.h"
#include "web/router.h"

// The FDSN web services of the station's page server: dataselect (miniSEED from the day
// archive and the records built since), station (StationXML and text) and availability
// (what the archive holds, with its gaps), each with its `version` and `application.wadl`.
// Everything here only reads.
namespace velkantor::web::fdsn {

// The most one request may span: a dataselect or availability query reads every record of
// the day files its window touches, on the page server's thread.
inline constexpr int64_t kMaxDataSpanSeconds = 86400;
inline constexpr int64_t kMaxAvailabilitySpanSeconds = 7 * 86400;
// Records of one dataselect answer, at most (about 100 MB).
inline constexpr size_t kMaxRecords = 200000;

inline constexpr std::string_view kDataselectVersion = "1.1.0";
inline constexpr std::string_view kStationVersion = "1.1.0";
inline constexpr std::string_view kAvailabilityVersion = "1.0.0";

// What the services answer from.
struct Context {
    std::shared_ptr<const StationInfo> station;  // none: the station is not described yet
    std::string archive_folder;                  // "" = no archive
    const stream::RecentRecords* recent = nullptr;
    MicroTime now = 0;  // for the error texts and an open end
};

// A request under /fdsnws/: `path` decoded, `query` as sent, `target` the whole request line's
// target (the error texts repeat it).
Response answer(std::string_view path, std::string_view query, std::string_view target,
                const platform::FileSystem& fs, const Context& context);

// The FDSN error text of a failure.
Response error_response(int status, std::string_view detail, std::string_view target,
                        std::string_view version, MicroTime now);

// Continuous spans of records (each: first sample, last sample + one sample period): a record
// that starts within `tolerance` microseconds (at least half a sample) of where the previous
// one ended continues its span.
struct Span {
    MicroTime start = 0, end = 0;
    double rate = 0;
};
std::vector<Span> continuous_spans(const std::vector<stream::RecordHeader>& records,
                                   MicroTime tolerance);

}  // namespace velkantor::web::fdsn
