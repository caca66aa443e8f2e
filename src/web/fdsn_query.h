#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "stream/miniseed_record.h"

// The FDSN web services' requests: what a query string asks for, read strictly (an unknown
// parameter, a bad value or a time span the station will not serve is an error the client is
// told about, never guessed at).
namespace velkantor::web::fdsn {

using stream::MicroTime;

enum class Service { dataselect, station, availability_extent, availability_query };

// An answer that is not the data: an FDSN error text with its status.
struct Failure {
    int status = 400;
    std::string text;  // the short reason ("endtime before starttime")
};

struct Query {
    // Patterns with `?` and `*`; empty = every. A location "--" stands for the empty one.
    std::vector<std::string> networks, stations, locations, channels;
    std::optional<MicroTime> start, end;
    int nodata = 204;
    std::string format;  // the service's default when not given
    std::string level = "station";
    std::string quality;
    // Station: the boxes and epochs asked for.
    std::optional<double> min_latitude, max_latitude, min_longitude, max_longitude;
    std::optional<double> latitude, longitude, min_radius, max_radius;  // degrees
    std::optional<MicroTime> start_before, start_after, end_before, end_after;
    // Availability.
    std::optional<double> merge_tolerance;  // seconds (mergegaps)
    std::optional<long> limit;
    std::string orderby;
};

// Reads the query part of a URL ("net=XX&sta=VELK&start=2026-12-11T00:00:00").
std::variant<Query, Failure> parse_query(Service service, std::string_view query);

// The parameters a service takes, with the type its description gives them
// ("xsd:dateTime", "xsd:string", ...).
struct ParameterInfo {
    std::string_view name;
    std::string_view type;
};
std::vector<ParameterInfo> parameters(Service service);

// `?` one character, `*` any run; letters compared without case.
bool matches(std::string_view pattern, std::string_view text);
// Empty patterns match everything; "--" matches the empty location.
bool matches_any(const std::vector<std::string>& patterns, std::string_view text);
bool selects(const Query& query, const stream::StreamId& id);

// "2026-12-11", "2026-12-11T10:20:30", "2026-12-11T10:20:30.5Z": microseconds since 1970, UTC.
std::optional<MicroTime> parse_time(std::string_view text);
// "2026-12-11T10:20:30.500000Z".
std::string time_text(MicroTime time);

}  // namespace velkantor::web::fdsn
