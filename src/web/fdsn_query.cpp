#include "web/fdsn_query.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "text/date_time.h"
#include "text/number_text.h"
#include "text/strings.h"
#include "web/url.h"

namespace velkantor::web::fdsn {

namespace {

constexpr MicroTime kSecond = 1000000;

// A SEED code list: letters, digits, wildcards; a location may be "--".
std::optional<std::vector<std::string>> code_list(const std::string& text, size_t longest,
                                                  bool location) {
    std::vector<std::string> items;
    size_t from = 0;
    while (true) {
        size_t comma = text.find(',', from);
        std::string item = text.substr(from, comma - from);
        for (auto& c : item) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const bool blank = location && (item == "--" || item.empty());
        if (!blank) {
            if (item.empty() || item.size() > longest * 2) return std::nullopt;
            size_t letters = 0;
            for (char c : item) {
                if (std::isalnum(static_cast<unsigned char>(c))) {
                    ++letters;
                } else if (c != '?' && c != '*') {
                    return std::nullopt;
                }
            }
            if (letters > longest) return std::nullopt;
        }
        items.push_back(blank ? "--" : item);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return items;
}

struct Parameter {
    std::string_view name;
    std::string_view alias;
    int services;  // bits of Service
    std::string_view type = "xsd:string";
};

constexpr int bit(Service s) {
    return 1 << static_cast<int>(s);
}
constexpr int kAll = bit(Service::dataselect) | bit(Service::station) |
                     bit(Service::availability_extent) | bit(Service::availability_query);
constexpr int kStation = bit(Service::station);
constexpr int kData = bit(Service::dataselect);
constexpr int kAvailability = bit(Service::availability_extent) | bit(Service::availability_query);

constexpr std::array<Parameter, 34> kParameters{{
    {"network", "net", kAll},
    {"station", "sta", kAll},
    {"location", "loc", kAll},
    {"channel", "cha", kAll},
    {"starttime", "start", kAll, "xsd:dateTime"},
    {"endtime", "end", kAll, "xsd:dateTime"},
    {"nodata", "", kAll, "xsd:int"},
    {"format", "", kAll},
    {"quality", "", kData | kAvailability},
    {"minimumlength", "", kData, "xsd:float"},
    {"longestonly", "", kData, "xsd:boolean"},
    {"level", "", kStation},
    {"minlatitude", "minlat", kStation, "xsd:float"},
    {"maxlatitude", "maxlat", kStation, "xsd:float"},
    {"minlongitude", "minlon", kStation, "xsd:float"},
    {"maxlongitude", "maxlon", kStation, "xsd:float"},
    {"latitude", "lat", kStation, "xsd:float"},
    {"longitude", "lon", kStation, "xsd:float"},
    {"minradius", "", kStation, "xsd:float"},
    {"maxradius", "", kStation, "xsd:float"},
    {"startbefore", "", kStation, "xsd:dateTime"},
    {"startafter", "", kStation, "xsd:dateTime"},
    {"endbefore", "", kStation, "xsd:dateTime"},
    {"endafter", "", kStation, "xsd:dateTime"},
    {"includerestricted", "", kStation | kAvailability, "xsd:boolean"},
    {"includeavailability", "", kStation, "xsd:boolean"},
    {"matchtimeseries", "", kStation, "xsd:boolean"},
    {"updatedafter", "", kStation, "xsd:dateTime"},
    {"merge", "", kAvailability},
    {"mergegaps", "", kAvailability, "xsd:float"},
    {"orderby", "", kAvailability},
    {"limit", "", kAvailability, "xsd:int"},
    {"show", "", kAvailability},
    {"includecomments", "", kStation, "xsd:boolean"},
}};

bool one_of(const std::string& value, std::initializer_list<std::string_view> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

bool boolean(const std::string& value) {
    return value == "true" || value == "false";
}

}  // namespace

std::vector<ParameterInfo> parameters(Service service) {
    std::vector<ParameterInfo> out;
    for (const auto& p : kParameters) {
        if (p.services & bit(service)) out.push_back({p.name, p.type});
    }
    return out;
}

bool matches(std::string_view pattern, std::string_view text) {
    // Iterative glob with one backtrack point: linear in practice, never recursive.
    size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    };
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool matches_any(const std::vector<std::string>& patterns, std::string_view text) {
    if (patterns.empty()) return true;
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return pattern == "--" ? text.empty() : matches(pattern, text);
    });
}

bool selects(const Query& query, const stream::StreamId& id) {
    return matches_any(query.networks, id.network) && matches_any(query.stations, id.station) &&
           matches_any(query.locations, id.location) && matches_any(query.channels, id.channel);
}

std::optional<MicroTime> parse_time(std::string_view text) {
    // A zone: Z, or an offset from UTC (+01:00, -0530) after a time of day.
    int64_t offset = 0;
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.remove_suffix(1);
    } else if (text.size() > 19) {
        std::string_view tail = text.substr(19);
        size_t sign = tail.find_first_of("+-");
        if (sign != std::string_view::npos) {
            std::string_view zone = tail.substr(sign + 1);
            std::string digits_only;
            for (char c : zone) {
                if (c != ':') digits_only += c;
            }
            if (digits_only.size() != 4 || zone.size() > 5 ||
                !std::all_of(digits_only.begin(), digits_only.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                return std::nullopt;
            }
            int hours = (digits_only[0] - '0') * 10 + (digits_only[1] - '0');
            int minutes = (digits_only[2] - '0') * 10 + (digits_only[3] - '0');
            if (hours > 14 || minutes > 59) return std::nullopt;
            offset = (hours * 3600 + minutes * 60) * kSecond * (tail[sign] == '+' ? 1 : -1);
            text = text.substr(0, 19 + sign);
        }
    }
    auto digits = [&](size_t at, size_t count) -> std::optional<int> {
        if (at + count > text.size()) return std::nullopt;
        int value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-') return std::nullopt;
    if (!text::is_valid_date(*year, *month, *day) || *year < 1900 || *year > 2999) {
        return std::nullopt;
    }
    int hour = 0, minute = 0, second = 0;
    int64_t micro = 0;
    if (text.size() > 10) {
        auto h = digits(11, 2), m = digits(14, 2), s = digits(17, 2);
        if ((text[10] != 'T' && text[10] != ' ') || text.size() < 19 || !h || !m || !s ||
            text[13] != ':' || text[16] != ':' || *h > 23 || *m > 59 || *s > 60) {
            return std::nullopt;
        }
        hour = *h;
        minute = *m;
        second = *s;
        if (text.size() > 19) {
            if (text[19] != '.' || text.size() == 20 || text.size() > 26) return std::nullopt;
            auto fraction = digits(20, text.size() - 20);
            if (!fraction) return std::nullopt;
            micro = *fraction;
            for (size_t n = text.size() - 20; n < 6; ++n) micro *= 10;
        }
    }
    const double midnight = text::to_epoch_seconds(text::DateTime{*year, *month, *day, 0, 0, 0, 0});
    return (static_cast<int64_t>(midnight) + hour * 3600 + minute * 60 + second) * kSecond + micro -
           offset;
}

std::string time_text(MicroTime time) {
    int64_t seconds = time >= 0 ? time / kSecond : (time - (kSecond - 1)) / kSecond;
    int64_t micro = time - seconds * kSecond;
    auto t = text::from_epoch_seconds(static_cast<double>(seconds));
    return text::zero_padded(t.year, 4) + "-" + text::zero_padded(t.month, 2) + "-" +
           text::zero_padded(t.day, 2) + "T" + text::zero_padded(t.hour, 2) + ":" +
           text::zero_padded(t.minute, 2) + ":" + text::zero_padded(t.second, 2) + "." +
           text::zero_padded(static_cast<int>(micro), 6) + "Z";
}

std::variant<Query, Failure> parse_query(Service service, std::string_view raw) {
    Query query;
    switch (service) {
        case Service::dataselect:
            query.format = "miniseed";
            break;
        case Service::station:
            query.format = "xml";
            break;
        default:
            query.format = "text";
            break;
    }
    auto& latitude = query.latitude;
    auto& longitude = query.longitude;
    auto& min_radius = query.min_radius;
    auto& max_radius = query.max_radius;
    std::vector<std::string> seen;
    while (!raw.empty()) {
        size_t amp = raw.find('&');
        std::string_view pair = raw.substr(0, amp);
        raw.remove_prefix(amp == std::string_view::npos ? raw.size() : amp + 1);
        if (pair.empty()) continue;
        size_t eq = pair.find('=');
        auto key = percent_decode(pair.substr(0, eq), true);
        auto value = percent_decode(eq == std::string_view::npos ? "" : pair.substr(eq + 1), true);
        if (!key || !value) return Failure{400, "a parameter is not well encoded"};
        std::string name = text::to_lower(*key);
        const Parameter* found = nullptr;
        for (const auto& p : kParameters) {
            if (name == p.name || (!p.alias.empty() && name == p.alias)) found = &p;
        }
        if (found == nullptr || (found->services & bit(service)) == 0) {
            return Failure{400, "unknown parameter: " + name.substr(0, 40)};
        }
        name = std::string(found->name);
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return Failure{400, "parameter given twice: " + name};
        }
        seen.push_back(name);
        std::string v = *value;
        if (v.empty() || v.size() > 1000) return Failure{400, "no value or too long: " + name};
        auto bad = [&] { return Failure{400, "bad value of " + name + ": " + v.substr(0, 60)}; };
        auto time = [&](std::optional<MicroTime>& out) {
            out = parse_time(v);
            return out.has_value();
        };
        auto number = [&](std::optional<double>& out, double lo, double hi) {
            out = text::strict_number(v);
            return out && *out >= lo && *out <= hi;
        };
        const std::string lv = text::to_lower(v);
        bool good = true;
        if (name == "network") {
            auto list = code_list(v, 2, false);
            good = list.has_value();
            if (good) query.networks = *list;
        } else if (name == "station") {
            auto list = code_list(v, 5, false);
            good = list.has_value();
            if (good) query.stations = *list;
        } else if (name == "location") {
            auto list = code_list(v, 2, true);
            good = list.has_value();
            if (good) query.locations = *list;
        } else if (name == "channel") {
            auto list = code_list(v, 3, false);
            good = list.has_value();
            if (good) query.channels = *list;
        } else if (name == "starttime") {
            good = time(query.start);
        } else if (name == "endtime") {
            good = time(query.end);
        } else if (name == "startbefore") {
            good = time(query.start_before);
        } else if (name == "startafter") {
            good = time(query.start_after);
        } else if (name == "endbefore") {
            good = time(query.end_before);
        } else if (name == "endafter") {
            good = time(query.end_after);
        } else if (name == "updatedafter") {
            std::optional<MicroTime> ignored;
            good = time(ignored);
        } else if (name == "nodata") {
            good = v == "204" || v == "404";
            if (good) query.nodata = v == "204" ? 204 : 404;
        } else if (name == "format") {
            switch (service) {
                case Service::dataselect:
                    good = lv == "miniseed";
                    break;
                case Service::station:
                    good = one_of(lv, {"xml", "text"});
                    break;
                default:
                    good = one_of(lv, {"text", "geocsv", "json", "request"});
                    break;
            }
            if (good) query.format = lv;
        } else if (name == "quality") {
            good = one_of(v, {"D", "R", "Q", "M", "B", "*"});
            if (good) query.quality = v;
        } else if (name == "minimumlength") {
            std::optional<double> ignored;
            good = number(ignored, 0, 1e9);
        } else if (name == "level") {
            good = one_of(lv, {"network", "station", "channel", "response"});
            if (good) query.level = lv;
        } else if (name == "minlatitude") {
            good = number(query.min_latitude, -90, 90);
        } else if (name == "maxlatitude") {
            good = number(query.max_latitude, -90, 90);
        } else if (name == "minlongitude") {
            good = number(query.min_longitude, -180, 180);
        } else if (name == "maxlongitude") {
            good = number(query.max_longitude, -180, 180);
        } else if (name == "latitude") {
            good = number(latitude, -90, 90);
        } else if (name == "longitude") {
            good = number(longitude, -180, 180);
        } else if (name == "minradius") {
            good = number(min_radius, 0, 180);
        } else if (name == "maxradius") {
            good = number(max_radius, 0, 180);
        } else if (name == "mergegaps") {
            good = number(query.merge_tolerance, 0, 1e9);
        } else if (name == "limit") {
            std::optional<double> n;
            good = number(n, 1, 1e9) && std::floor(*n) == *n;
            if (good) query.limit = static_cast<long>(*n);
        } else if (name == "orderby") {
            good = one_of(lv, {"nslc_time_quality_samplerate", "timespancount",
                               "timespancount_desc", "latestupdate", "latestupdate_desc"});
            if (good) query.orderby = lv;
        } else if (name == "merge") {
            for (size_t from = 0; good && from <= lv.size();) {
                size_t comma = lv.find(',', from);
                good = one_of(lv.substr(from, comma - from), {"samplerate", "quality", "overlap"});
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
        } else if (name == "show") {
            good = one_of(lv, {"latestupdate", "restriction"});
        } else {
            // includerestricted, includeavailability, matchtimeseries, longestonly,
            // includecomments: every stream of the station is open and held, so these change
            // nothing, but they must still be a yes or a no.
            good = boolean(lv);
        }
        if (!good) return bad();
    }
    if (query.start && query.end && *query.end < *query.start) {
        return Failure{400, "endtime before starttime"};
    }
    if ((latitude || longitude || min_radius || max_radius) && !(latitude && longitude)) {
        return Failure{400, "a radius search needs latitude and longitude"};
    }
    return query;
}

}  // namespace velkantor::web::fdsn
