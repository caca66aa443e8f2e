#include "web/fdsn_service.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "stream/sds_archive.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::web::fdsn {

namespace {

constexpr MicroTime kSecond = 1000000;

struct ServiceInfo {
    std::string_view name;
    std::string_view version;
};

constexpr ServiceInfo kDataselect{"dataselect", kDataselectVersion};
constexpr ServiceInfo kStationService{"station", kStationVersion};
constexpr ServiceInfo kAvailability{"availability", kAvailabilityVersion};

int year_of(MicroTime time) {
    int64_t seconds = time >= 0 ? time / kSecond : (time - (kSecond - 1)) / kSecond;
    return text::from_epoch_seconds(static_cast<double>(seconds)).year;
}

std::string rate_text(double rate) {
    std::string text = text::shortest_real(rate);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out + "\"";
}

Response plain(int status, std::string content_type, std::string body) {
    return {status, std::move(content_type), "no-store", std::move(body), {}};
}

Response no_data(const Query& query, std::string_view target, const ServiceInfo& service,
                 MicroTime now) {
    if (query.nodata == 404) {
        return error_response(404, "No data matches the selection", target, service.version, now);
    }
    return plain(204, "text/plain; charset=utf-8", "");
}

Response wadl(const ServiceInfo& service, const std::vector<std::string_view>& methods,
              std::string_view media) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<application xmlns=\"http://wadl.dev.java.net/2009/02\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
        "<resources base=\"/fdsnws/" +
        std::string(service.name) +
        "/1/\">\n"
        "<resource path=\"version\"><method name=\"GET\"><response status=\"200\">"
        "<representation mediaType=\"text/plain\"/></response></method></resource>\n"
        "<resource path=\"application.wadl\"><method name=\"GET\"><response status=\"200\">"
        "<representation mediaType=\"application/xml\"/></response></method></resource>\n";
    Service kind = service.name == "dataselect" ? Service::dataselect
                   : service.name == "station"  ? Service::station
                                                : Service::availability_query;
    for (auto method : methods) {
        xml += "<resource path=\"" + std::string(method) + "\"><method name=\"GET\" id=\"" +
               std::string(method) + "\"><request>\n";
        for (const auto& p : parameters(kind)) {
            xml += "<param name=\"" + std::string(p.name) + "\" style=\"query\" type=\"" +
                   std::string(p.type) + "\"/>\n";
        }
        xml += "</request><response status=\"200\"><representation mediaType=\"" +
               std::string(media) +
               "\"/></response><response status=\"204 400 404 413 500 503\">"
               "<representation mediaType=\"text/plain\"/></response></method></resource>\n";
    }
    xml += "</resources>\n</application>\n";
    return plain(200, "application/xml", std::move(xml));
}

// Every stream the selection may name: the station's channels, what the archive holds in
// the years of the window, and what was built since.
std::vector<stream::StreamId> candidate_streams(const Context& context,
                                                const platform::FileSystem& fs, MicroTime begin,
                                                MicroTime end, bool archive_only) {
    std::vector<stream::StreamId> ids;
    auto add = [&](const stream::StreamId& id) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    };
    if (!context.station) return ids;
    if (!context.archive_folder.empty()) {
        for (const auto& s :
             stream::ListArchivedStreams(fs, context.archive_folder, context.station->network,
                                         context.station->station, year_of(begin), year_of(end))) {
            add(s.id);
        }
    }
    if (!archive_only) {
        for (const auto& c : context.station->channels) add(c.id);
        if (context.recent) {
            for (const auto& id : context.recent->streams()) add(id);
        }
    }
    std::sort(ids.begin(), ids.end(), [](const stream::StreamId& a, const stream::StreamId& b) {
        return a.text() < b.text();
    });
    return ids;
}

bool quality_held(const Query& query) {
    // Every record the station makes is of quality D.
    return query.quality.empty() || query.quality == "D" || query.quality == "M" ||
           query.quality == "B" || query.quality == "*";
}

Response dataselect(std::string_view raw, std::string_view target, const platform::FileSystem& fs,
                    const Context& context) {
    const auto& service = kDataselect;
    auto parsed = parse_query(Service::dataselect, raw);
    if (auto* failure = std::get_if<Failure>(&parsed)) {
        return error_response(failure->status, failure->text, target, service.version, context.now);
    }
    const Query& q = std::get<Query>(parsed);
    if (!q.start) {
        return error_response(400, "starttime is required", target, service.version, context.now);
    }
    const MicroTime begin = *q.start;
    const MicroTime end = q.end.value_or(context.now);
    if (end < begin) return no_data(q, target, service, context.now);
    if (end - begin > kMaxDataSpanSeconds * kSecond) {
        return error_response(413,
                              "A request may span at most " + std::to_string(kMaxDataSpanSeconds) +
                                  " seconds; ask for the rest in further requests",
                              target, service.version, context.now);
    }
    if (!quality_held(q)) return no_data(q, target, service, context.now);
    Response response = plain(200, "application/vnd.fdsn.mseed", "");
    size_t records = 0;
    for (const auto& id : candidate_streams(context, fs, begin, end, false)) {
        if (!selects(q, id)) continue;
        MicroTime last_archived = std::numeric_limits<MicroTime>::min();
        if (!context.archive_folder.empty()) {
            auto found = stream::FindArchivedRecords(fs, context.archive_folder, id, begin, end,
                                                     kMaxRecords + 1 - records);
            records += found.size();
            if (records > kMaxRecords) {
                return error_response(413,
                                      "The selection holds more than " +
                                          std::to_string(kMaxRecords) +
                                          " records; ask for a shorter window or fewer channels",
                                      target, service.version, context.now);
            }
            for (const auto& r : found) {
                auto& parts = response.parts;
                if (!parts.empty() && parts.back().file == r.file &&
                    parts.back().offset + parts.back().length == r.offset) {
                    parts.back().length += stream::kRecordLength;
                } else {
                    parts.push_back({r.file, r.offset, stream::kRecordLength, {}});
                }
                last_archived = std::max(last_archived, r.header.start);
            }
        }
        if (context.recent) {
            // What the archive does not hold yet (it writes on a thread of its own).
            for (const auto& r : context.recent->overlapping(id, begin, end)) {
                if (r.start <= last_archived) continue;
                if (++records > kMaxRecords) break;
                auto& parts = response.parts;
                if (parts.empty() || !parts.back().file.empty()) parts.push_back({});
                parts.back().bytes += r.bytes;
            }
        }
    }
    if (response.parts.empty()) return no_data(q, target, service, context.now);
    response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" +
                                                             context.station->network + "." +
                                                             context.station->station + ".mseed\"");
    return response;
}

Response station(std::string_view raw, std::string_view target, const Context& context) {
    const auto& service = kStationService;
    auto parsed = parse_query(Service::station, raw);
    if (auto* failure = std::get_if<Failure>(&parsed)) {
        return error_response(failure->status, failure->text, target, service.version, context.now);
    }
    const Query& q = std::get<Query>(parsed);
    if (!context.station) return no_data(q, target, service, context.now);
    if (q.format == "text") {
        auto text = station_text(*context.station, q);
        if (!text) return no_data(q, target, service, context.now);
        return plain(200, "text/plain; charset=utf-8", std::move(*text));
    }
    auto xml = station_xml(*context.station, q);
    if (!xml) return no_data(q, target, service, context.now);
    return plain(200, "application/xml", std::move(*xml));
}

struct Row {
    stream::StreamId id;
    double rate = 0;
    std::vector<Span> spans;  // one for an extent
};

Response availability(bool extent, std::string_view raw, std::string_view target,
                      const platform::FileSystem& fs, const Context& context) {
    const auto& service = kAvailability;
    auto parsed =
        parse_query(extent ? Service::availability_extent : Service::availability_query, raw);
    if (auto* failure = std::get_if<Failure>(&parsed)) {
        return error_response(failure->status, failure->text, target, service.version, context.now);
    }
    const Query& q = std::get<Query>(parsed);
    const MicroTime end = q.end.value_or(context.now);
    MicroTime begin = q.start.value_or(extent ? 0 : end - kMaxDataSpanSeconds * kSecond);
    if (end < begin) return no_data(q, target, service, context.now);
    if (!extent && end - begin > kMaxAvailabilitySpanSeconds * kSecond) {
        return error_response(413,
                              "A query may span at most " +
                                  std::to_string(kMaxAvailabilitySpanSeconds) +
                                  " seconds; an extent may span any time",
                              target, service.version, context.now);
    }
    if (!quality_held(q) || context.archive_folder.empty() || !context.station) {
        return no_data(q, target, service, context.now);
    }
    std::vector<Row> rows;
    if (extent) {
        for (const auto& s :
             stream::ListArchivedStreams(fs, context.archive_folder, context.station->network,
                                         context.station->station, year_of(begin), year_of(end))) {
            if (!selects(q, s.id)) continue;
            std::optional<stream::RecordHeader> first, last;
            for (int64_t day : s.days) {
                if ((day + 86400) * kSecond <= begin || day * kSecond > end) continue;
                auto ends = stream::DayFileEnds(
                    fs, platform::join_path(context.archive_folder,
                                            stream::SdsPath(s.id, day * kSecond)));
                if (!ends) continue;
                if (!first) first = ends->first;
                last = ends->second;
            }
            if (!first) continue;
            const double rate = last->rate;
            const MicroTime period =
                rate > 0 ? static_cast<MicroTime>(std::llround(1e6 / rate)) : 0;
            Span span{std::max(first->start, begin), std::min(last->end + period, end), rate};
            if (span.start > span.end) continue;
            rows.push_back({s.id, rate, {span}});
        }
    } else {
        size_t records = 0;
        for (const auto& id : candidate_streams(context, fs, begin, end, true)) {
            if (!selects(q, id)) continue;
            auto found = stream::FindArchivedRecords(fs, context.archive_folder, id, begin, end,
                                                     kMaxRecords * 4 + 1 - records);
            records += found.size();
            if (records > kMaxRecords * 4) {
                return error_response(413, "The selection holds too many records", target,
                                      service.version, context.now);
            }
            std::vector<stream::RecordHeader> headers;
            headers.reserve(found.size());
            for (auto& r : found) headers.push_back(std::move(r.header));
            const auto tolerance =
                static_cast<MicroTime>(std::llround(q.merge_tolerance.value_or(0) * 1e6));
            auto spans = continuous_spans(headers, tolerance);
            // One row per rate, its spans cut to the window.
            for (auto& span : spans) {
                span.start = std::max(span.start, begin);
                span.end = std::min(span.end, end);
                auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) {
                    return r.id == id && r.rate == span.rate;
                });
                if (row == rows.end()) row = rows.insert(rows.end(), Row{id, span.rate, {}});
                row->spans.push_back(span);
            }
        }
    }
    if (rows.empty()) return no_data(q, target, service, context.now);
    size_t limit = q.limit ? static_cast<size_t>(*q.limit) : std::numeric_limits<size_t>::max();
    auto location = [](const std::string& l) { return l.empty() ? std::string("--") : l; };
    std::string body;
    size_t lines = 0;
    if (q.format == "json") {
        body = "{\"created\":\"" + time_text(context.now) + "\",\"version\":1.0,\"datasources\":[";
        bool first_row = true;
        for (const auto& row : rows) {
            if (lines >= limit) break;
            body += std::string(first_row ? "" : ",") +
                    "{\"network\":" + json_string(row.id.network) +
                    ",\"station\":" + json_string(row.id.station) +
                    ",\"location\":" + json_string(row.id.location) +
                    ",\"channel\":" + json_string(row.id.channel) +
                    ",\"quality\":\"D\",\"samplerate\":" + rate_text(row.rate);
            first_row = false;
            if (extent) {
                body += ",\"earliest\":\"" + time_text(row.spans.front().start) +
                        "\",\"latest\":\"" + time_text(row.spans.front().end) + "\"";
                ++lines;
            } else {
                body += ",\"timespans\":[";
                for (size_t i = 0; i < row.spans.size() && lines < limit; ++i, ++lines) {
                    body += std::string(i ? "," : "") + "[\"" + time_text(row.spans[i].start) +
                            "\",\"" + time_text(row.spans[i].end) + "\"]";
                }
                body += "]";
            }
            body += "}";
        }
        body += "]}\n";
        return plain(200, "application/json", std::move(body));
    }
    const bool csv = q.format == "geocsv";
    const bool request = q.format == "request";
    const std::string sep = csv ? "|" : " ";
    if (csv) {
        body =
            "#dataset: GeoCSV 2.0\n#delimiter: |\n"
            "#field_unit: unitless|unitless|unitless|unitless|unitless|hertz|ISO_8601|ISO_8601\n"
            "#field_type: string|string|string|string|string|float|datetime|datetime\n"
            "Network|Station|Location|Channel|Quality|SampleRate|Earliest|Latest\n";
    } else if (!request) {
        body = "#Network Station Location Channel Quality SampleRate Earliest Latest\n";
    }
    for (const auto& row : rows) {
        for (const auto& span : row.spans) {
            if (lines++ >= limit) break;
            const std::string loc = csv ? row.id.location : location(row.id.location);
            if (request) {
                body += row.id.network + " " + row.id.station + " " + loc + " " + row.id.channel +
                        " " + time_text(span.start) + " " + time_text(span.end) + "\n";
            } else {
                body += row.id.network + sep + row.id.station + sep + loc + sep + row.id.channel +
                        sep + "D" + sep + rate_text(row.rate) + sep + time_text(span.start) + sep +
                        time_text(span.end) + "\n";
            }
        }
    }
    return plain(200, csv ? "text/csv" : "text/plain; charset=utf-8", std::move(body));
}

}  // namespace

std::vector<Span> continuous_spans(const std::vector<stream::RecordHeader>& records,
                                   MicroTime tolerance) {
    std::vector<Span> spans;
    for (const auto& r : records) {
        const MicroTime period =
            r.rate > 0 ? static_cast<MicroTime>(std::llround(1e6 / r.rate)) : 0;
        const MicroTime end = r.end + period;
        if (!spans.empty()) {
            Span& last = spans.back();
            const MicroTime slack = std::max(tolerance, period / 2);
            if (last.rate == r.rate && r.start >= last.start && r.start <= last.end + slack &&
                r.start >= last.end - slack) {
                last.end = std::max(last.end, end);
                continue;
            }
        }
        spans.push_back({r.start, end, r.rate});
    }
    return spans;
}

Response error_response(int status, std::string_view detail, std::string_view target,
                        std::string_view version, MicroTime now) {
    std::string body = "Error " + std::to_string(status) + ": " + status_text(status) + "\n\n" +
                       std::string(detail) + "\n\nRequest:\n" +
                       std::string(target.substr(0, 2000)) + "\n\nRequest Submitted:\n" +
                       time_text(now) + "\n\nService version:\n" + std::string(version) + "\n";
    return plain(status, "text/plain; charset=utf-8", std::move(body));
}

Response answer(std::string_view path, std::string_view query, std::string_view target,
                const platform::FileSystem& fs, const Context& context) {
    struct Entry {
        const ServiceInfo* service;
        std::string_view prefix;
    };
    static const Entry kEntries[] = {{&kDataselect, "/fdsnws/dataselect/1/"},
                                     {&kStationService, "/fdsnws/station/1/"},
                                     {&kAvailability, "/fdsnws/availability/1/"}};
    for (const auto& entry : kEntries) {
        if (path.substr(0, entry.prefix.size()) != entry.prefix) continue;
        std::string_view method = path.substr(entry.prefix.size());
        const auto& service = *entry.service;
        if (method == "version") {
            return plain(200, "text/plain; charset=utf-8", std::string(service.version) + "\n");
        }
        if (method == "application.wadl") {
            if (&service == &kDataselect) {
                return wadl(service, {"query"}, "application/vnd.fdsn.mseed");
            }
            if (&service == &kStationService) return wadl(service, {"query"}, "application/xml");
            return wadl(service, {"extent", "query"}, "text/plain");
        }
        if (method == "") {
            return plain(200, "text/plain; charset=utf-8",
                         "FDSN " + std::string(service.name) + " web service " +
                             std::string(service.version) +
                             " of this station: query, version, application.wadl\n");
        }
        if (&service == &kDataselect && method == "query") {
            return dataselect(query, target, fs, context);
        }
        if (&service == &kStationService && method == "query") {
            return station(query, target, context);
        }
        if (&service == &kAvailability && (method == "query" || method == "extent")) {
            return availability(method == "extent", query, target, fs, context);
        }
        return error_response(404, "No such method of the service", target, service.version,
                              context.now);
    }
    return status_page(404);
}

}  // namespace velkantor::web::fdsn
