#include "web/state.h"

#include <cmath>

#include "text/date_time.h"
#include "web/json.h"

namespace velkantor::web {

std::string board_time_text(double epoch_seconds) {
    if (epoch_seconds <= 0) return "";
    return text::format_datetime(text::from_epoch_seconds(epoch_seconds));
}

std::string state_json(const StateSnapshot& s) {
    std::string out = "{";
    auto field = [&out](const char* name, const std::string& value, bool last = false) {
        out += json_string(name);
        out += ':';
        out += value;
        if (!last) out += ',';
    };
    field("title", json_string(s.title));
    field("station", json_string(s.station));
    field("coordinates", json_string(s.coordinates));
    field("elevation", json_string(s.elevation));
    field("acquiring", s.acquiring ? "true" : "false");
    field("seconds_since_sample", s.seconds_since_sample
                                      ? json_number(std::round(*s.seconds_since_sample * 10) / 10)
                                      : "null");
    field("board", json_string(s.board));
    field("firmware", json_string(s.firmware));
    field("clock_locked", s.lock == "L" ? "true" : "false");
    field("lock", json_string(s.lock));
    field("time_source", json_string(s.time_source));
    field("board_time", s.board_time > 0 ? json_string(board_time_text(s.board_time)) : "null");
    field("board_time_epoch", s.board_time > 0 ? json_number(s.board_time) : "null");
    // The same second in UTC, and the board's zone.
    field("utc_time",
          s.board_time > 0 ? json_string(iso_time(s.board_time - s.utc_offset) + "Z") : "null");
    field("utc_offset_seconds", json_number(s.utc_offset));
    field("bad_frames", json_number(static_cast<double>(s.bad_frames)));
    field("free_disk_bytes",
          s.free_disk_bytes ? std::to_string(*s.free_disk_bytes) : std::string("null"));
    field("drum_update_minutes", json_number(s.drum_update_minutes));
    out += "\"channels\":[";
    for (size_t i = 0; i < s.channels.size(); ++i) {
        const auto& c = s.channels[i];
        if (i) out += ',';
        out += "{";
        field("channel", json_number(c.number));
        field("seed", json_string(c.seed_code));
        field("configured_sps", json_number(c.configured_rate));
        field("measured_sps", json_number(c.measured_rate));
        field("event_extension", json_string(c.event_extension));
        field("drum", c.drum.empty() ? "null" : json_string("drums/" + url_segment(c.drum)));
        out += "\"noise\":{";
        field("picture", c.noise_picture.empty()
                             ? "null"
                             : json_string("drums/" + url_segment(c.noise_picture)));
        field("calibrated", c.noise_calibrated ? "true" : "false");
        field("note", json_string(c.noise_note));
        field("last_hour", c.noise_hour > 0 ? json_string(iso_time(c.noise_hour) + "Z") : "null");
        field("psd", json_string("api/psd.json?channel=" + std::to_string(c.number)), true);
        out += "},";
        if (c.spectrum.empty()) {
            field("spectrum", "null", true);
        } else {
            out += "\"spectrum\":{";
            field("picture", json_string("drums/" + url_segment(c.spectrum)));
            field("kind", json_string(c.spectrum_time_frequency ? "time-frequency" : "spectrum"));
            field("min_hz", json_number(c.spectrum_min_hz));
            field("max_hz", json_number(c.spectrum_max_hz));
            field("min_db", json_number(c.spectrum_min_db));
            field("max_db", json_number(c.spectrum_max_db), true);
            out += "}";
        }
        out += "}";
    }
    out += "]}";
    return out;
}

namespace {

std::string pairs_json(const std::vector<std::pair<double, double>>& pairs) {
    std::string out = "[";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) out += ',';
        // Four significant figures of the period, a hundredth of a dB: enough for a plot.
        out += '[' + json_number(std::round(pairs[i].first * 1e4) / 1e4) + ',' +
               json_number(std::round(pairs[i].second * 100) / 100) + ']';
    }
    return out + "]";
}

}  // namespace

std::optional<std::string> psd_json(const StateSnapshot& s, int number) {
    for (const auto& c : s.channels) {
        if (c.number != number) continue;
        std::string out = "{\"channel\":" + json_number(c.number);
        out += ",\"seed\":" + json_string(c.seed_code);
        out += ",\"calibrated\":" + std::string(c.noise_calibrated ? "true" : "false");
        out += ",\"unit\":" +
               json_string(c.noise_calibrated ? "dB rel. 1 (m/s^2)^2/Hz" : "dB rel. 1 count^2/Hz");
        out += ",\"note\":" + json_string(c.noise_note);
        out += ",\"hour_start\":" +
               (c.noise_hour > 0 ? json_string(iso_time(c.noise_hour) + "Z") : "null");
        out += ",\"psd\":" + pairs_json(c.noise_psd);
        out += ",\"low_noise_model\":" + pairs_json(s.low_noise_model);
        out += ",\"high_noise_model\":" + pairs_json(s.high_noise_model) + "}";
        return out;
    }
    return std::nullopt;
}

}  // namespace velkantor::web
