#include "alerts/alert_messages.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "text/date_time.h"

namespace velkantor::alerts {

namespace {

// Fields in the order written; values already JSON.
class Object {
public:
    Object& add(std::string_view key, const std::string& json_value) {
        text_ += text_.empty() ? "{" : ",";
        text_ += json_string(key);
        text_ += ':';
        text_ += json_value;
        return *this;
    }
    Object& text(std::string_view key, std::string_view value) {
        return add(key, json_string(value));
    }
    Object& number(std::string_view key, double value) { return add(key, json_number(value)); }
    Object& flag(std::string_view key, bool value) { return add(key, value ? "true" : "false"); }
    std::string done() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    std::string text_;
};

Object head(std::string_view type, const Moment& m) {
    Object o;
    // The moment in UTC, and the board's own clock with its zone spelled out.
    o.text("type", type).text("station", m.station);
    o.text("time", m.board_epoch > 0 ? iso_time(m.board_epoch - m.utc_offset) : "");
    o.text("board_time", m.board_epoch > 0 ? iso_board_time(m.board_epoch, m.utc_offset) : "");
    o.text("lock", m.lock);
    return o;
}

void channel(Object& o, const ChannelFacts& c) {
    o.number("channel", c.channel).text("seed", c.seed);
}

}  // namespace

std::string json_string(std::string_view text) {
    static const char* hex = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else if (c >= 0x80) {
                    // Names come from the disk in no known encoding: anything beyond ASCII is
                    // replaced, so the message is always valid UTF-8.
                    out += "?";
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string json_number(double value) {
    if (!std::isfinite(value)) return "null";
    if (value == 0) return "0";  // also -0
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

std::string iso_time(double epoch_seconds) {
    if (!std::isfinite(epoch_seconds)) return "";
    text::DateTime t = text::from_epoch_seconds(std::floor(epoch_seconds));
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buffer;
}

std::string iso_board_time(double board_epoch_seconds, int utc_offset) {
    std::string out = iso_time(board_epoch_seconds);
    if (out.empty()) return out;
    out.pop_back();  // the 'Z'
    const int minutes = std::abs(utc_offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", utc_offset < 0 ? '-' : '+', minutes / 60 % 100,
                  minutes % 60);
    return out + zone;
}

namespace {
// An event's start as the file tells it ("YYYY/MM/DD HH:MM:SS", board time), with its zone.
std::string start_time(const std::string& board_text, int utc_offset) {
    auto t = text::parse_datetime(board_text);
    return t ? iso_board_time(text::to_epoch_seconds(*t), utc_offset) : board_text;
}
}  // namespace

std::string event_start_json(const Moment& m, const EventStart& e) {
    Object o = head("event_start", m);
    channel(o, e.channel);
    o.text("start", start_time(e.start, m.utc_offset))
        .text("file", e.file_name)
        .flag("scheduled", e.scheduled);
    return o.done();
}

std::string event_end_json(const Moment& m, const EventEnd& e) {
    Object o = head("event_end", m);
    channel(o, e.channel);
    o.text("start", start_time(e.start, m.utc_offset)).text("file", e.file_name);
    o.number("duration", std::round(e.duration_seconds * 1000) / 1000);
    o.number("peak", e.peak).number("max_ratio", std::round(e.max_ratio * 10) / 10);
    o.number("samples", e.samples).flag("at_stop", e.at_stop);
    return o.done();
}

std::string alarm_json(const Moment& m, const AlarmFacts& a) {
    Object o = head("alarm", m);
    channel(o, a.channel);
    o.number("value", a.value).number("threshold", a.threshold);
    return o.done();
}

std::string health_json(const Moment& m, const HealthFacts& h) {
    Object o = head(h.what, m);
    if (!h.detail_key.empty()) o.number(h.detail_key, h.detail);
    return o.done();
}

std::string state_json(const Moment& m, const StateFacts& s) {
    Object o = head("state", m);
    o.text("state", s.online ? "online" : "offline").flag("running", s.running);
    o.text("board", s.board_ok ? "ok" : "lost");
    std::string channels = "[";
    for (size_t i = 0; i < s.recording.size(); ++i) {
        channels += (i ? "," : "") + std::to_string(s.recording[i]);
    }
    o.add("recording", channels + "]");
    o.text("last_event", s.last_event)
        .number("alerts_dropped", static_cast<double>(s.alerts_dropped));
    return o.done();
}

std::string offline_json(const std::string& station) {
    return Object().text("type", "state").text("station", station).text("state", "offline").done();
}

}  // namespace velkantor::alerts
