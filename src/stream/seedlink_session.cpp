#include "stream/seedlink_session.h"

#include <libmseed.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "text/strings.h"

namespace velkantor::stream {

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string format_time(MicroTime time) {
    int64_t seconds = time >= 0 ? time / 1000000 : (time - 999999) / 1000000;
    int64_t micro = time - seconds * 1000000;
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld/%02lld/%02lld %02lld:%02lld:%02lld.%04lld",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60), static_cast<long long>(micro / 100));
    return text;
}

std::string xml_escape(std::string_view text) {
    std::string result;
    for (char c : text) {
        switch (c) {
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '"':
                result += "&quot;";
                break;
            default:
                // Control characters have no place in an attribute.
                result += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return result;
}

// A setting's text inside a reply line: a line end in it would end the reply early.
std::string one_line(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return result;
}

std::string hex6(uint32_t sequence) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", sequence & kSequenceMask);
    return text;
}

// Six hexadecimal digits, or more: clients resume with their last number plus one, not
// wrapped, so "1000000" follows FFFFFF (and a client that kept a longer number from another
// server sends that). Only the low 24 bits count. "0x" is how some clients write it.
std::optional<uint32_t> parse_sequence(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16) return std::nullopt;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<uint32_t>(value & kSequenceMask);
}

bool matches(std::string_view pattern, std::string_view text) {
    if (pattern.size() != text.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '?' && std::toupper(static_cast<unsigned char>(pattern[i])) !=
                                     std::toupper(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

bool code_chars(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '?';
    });
}

void collect_record(char* record, int length, void* handler_data) {
    static_cast<std::vector<std::string>*>(handler_data)->emplace_back(record, length);
}

}  // namespace

std::optional<StreamSelector> parse_selector(std::string_view text) {
    StreamSelector selector;
    if (!text.empty() && text[0] == '!') {
        selector.negated = true;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // The type: after the dot, or the whole pattern when it is one character ("D", "!E").
    std::string_view type;
    if (auto dot = text.find('.'); dot != std::string_view::npos) {
        type = text.substr(dot + 1);
        text = text.substr(0, dot);
        if (type.size() != 1) return std::nullopt;
    } else if (text.size() == 1) {
        type = text;
        text = {};
    }
    if (!type.empty()) {
        char t = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
        if (std::string_view("DECOTL?").find(t) == std::string_view::npos) return std::nullopt;
        selector.type = t;
    }
    std::string_view location;
    if (text.size() == 5) {
        location = text.substr(0, 2);
        text.remove_prefix(2);
    } else if (text.size() == 4 && text[0] == '-') {
        location = text.substr(0, 1);
        text.remove_prefix(1);
    } else if (text.size() != 3 && !text.empty()) {
        return std::nullopt;
    }
    if (!code_chars(text)) return std::nullopt;
    selector.channel = text::to_upper(text);
    if (!location.empty()) {
        selector.any_location = false;
        if (location == "--" || location == "-") {
            selector.location = "  ";
        } else if (code_chars(location)) {
            selector.location = text::to_upper(location);
        } else {
            return std::nullopt;
        }
    }
    return selector;
}

bool selected(const std::vector<StreamSelector>& selectors, const StreamId& id) {
    std::string location = (id.location + "  ").substr(0, 2);
    bool any_positive = false;
    bool positive_match = false;
    for (const auto& s : selectors) {
        // Every record served is a data record (type D).
        bool hit = (s.type == '?' || s.type == 'D') &&
                   (s.channel.empty() || matches(s.channel, id.channel)) &&
                   (s.any_location || matches(s.location, location));
        if (s.negated) {
            if (hit) return false;
        } else {
            any_positive = true;
            positive_match = positive_match || hit;
        }
    }
    return !any_positive || positive_match;
}

std::optional<MicroTime> parse_seedlink_time(std::string_view text) {
    int fields[6] = {};
    size_t i = 0;
    for (int f = 0; f < 6; ++f) {
        if (f > 0) {
            if (i >= text.size() || text[i] != ',') return std::nullopt;
            ++i;
        }
        size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) &&
               i - start < 4) {
            ++i;
        }
        if (i == start) return std::nullopt;
        std::from_chars(text.data() + start, text.data() + i, fields[f]);
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    }
    if (i != text.size()) return std::nullopt;
    auto [y, mo, d, h, mi, s] = fields;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    int64_t days = days_from_civil(y, mo, d);
    return ((days * 86400 + h * 3600 + mi * 60 + s) * 1000000);
}

SeedLinkSession::SeedLinkSession(const SeedLinkIdentity& identity, const RecordRing& ring)
    : identity_(identity), ring_(ring) {}

void SeedLinkSession::prepare_packing() {
    static const SeedLinkIdentity identity;
    static const RecordRing ring(0, 0, 0);
    SeedLinkSession session(identity, ring);
    session.info("ID");
}

void SeedLinkSession::receive(std::string_view bytes, MicroTime now) {
    for (char c : bytes) {
        if (closed()) return;
        if (c == '\r' || c == '\n') {
            bool second_half = c == '\n' && last_was_cr_;
            last_was_cr_ = c == '\r';
            if (second_half) continue;
            if (discarding_) {
                discarding_ = false;
                command_count(now);
                error();
            } else if (!line_.empty()) {
                std::string line = std::move(line_);
                line_.clear();
                command(line, now);
            }
            continue;
        }
        last_was_cr_ = false;
        if (discarding_) continue;
        if (line_.size() >= kMaxCommandLength) {
            discarding_ = true;
            line_.clear();
            continue;
        }
        line_ += c;
    }
}

bool SeedLinkSession::command_count(MicroTime now) {
    now_ = now;
    MicroTime second = now / 1000000;
    if (second != rate_second_) {
        rate_second_ = second;
        rate_count_ = 0;
    }
    if (++rate_count_ > kMaxCommandsPerSecond) {
        close_reason_ = "too many commands";
        return false;
    }
    return true;
}

void SeedLinkSession::command(std::string_view line, MicroTime now) {
    if (closed() || !command_count(now)) return;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.size() > kMaxCommandLength) {
        error();
        return;
    }
    handle(line);
}

void SeedLinkSession::handle(std::string_view line) {
    auto words = text::split_words(line);
    if (words.empty()) return;
    std::string verb = text::to_upper(words[0]);
    std::vector<std::string> args(words.begin() + 1, words.end());

    if (verb == "HELLO" && args.empty()) {
        reply("SeedLink v3.1 (" + identity_.software + ") :: SLPROTO:3.1\r\n" +
              one_line(identity_.description) + "\r\n");
    } else if (verb == "BYE" && args.empty()) {
        close_reason_ = "BYE";
    } else if (verb == "INFO" && args.size() == 1) {
        info(text::to_upper(args[0]));
    } else if (verb == "CAT" && args.empty()) {
        reply(identity_.network + " " + identity_.station + " " + one_line(identity_.description) +
              "\r\nEND");
    } else if (mode_ != Mode::commands) {
        // Once the transfer runs only INFO and BYE mean anything.
        error();
    } else if (verb == "STATION" && (args.size() == 1 || args.size() == 2)) {
        bool ours =
            text::to_upper(args[0]) == text::to_upper(identity_.station) &&
            (args.size() == 1 || text::to_upper(args[1]) == text::to_upper(identity_.network));
        if (ours) {
            station_chosen_ = true;
            pending_.reset();
            reply("OK\r\n");
        } else {
            error();
        }
    } else if (verb == "SELECT" && args.size() <= 1) {
        if (args.empty()) {
            selectors_.clear();
            reply("OK\r\n");
        } else if (auto selector = parse_selector(args[0]);
                   selector && selectors_.size() < kMaxSelectors) {
            selectors_.push_back(*selector);
            reply("OK\r\n");
        } else {
            error();
        }
    } else if (verb == "DATA" || verb == "FETCH" || verb == "TIME") {
        Transfer transfer = verb == "DATA"    ? Transfer::data
                            : verb == "FETCH" ? Transfer::fetch
                                              : Transfer::time;
        auto request = parse_request(transfer, args);
        if (!request) {
            error();
        } else if (station_chosen_) {
            pending_ = request;
            reply("OK\r\n");
        } else {
            // Uni-station mode: the transfer starts at once, without a reply.
            start(*request);
        }
    } else if (verb == "END" && args.empty() && station_chosen_) {
        start(pending_.value_or(Request{}));
    } else {
        error();
    }
}

std::optional<SeedLinkSession::Request> SeedLinkSession::parse_request(
    Transfer transfer, const std::vector<std::string>& args) {
    Request request;
    request.transfer = transfer;
    if (transfer == Transfer::time) {
        if (args.empty() || args.size() > 2) return std::nullopt;
        request.begin = parse_seedlink_time(args[0]);
        if (!request.begin) return std::nullopt;
        if (args.size() == 2) {
            request.end = parse_seedlink_time(args[1]);
            if (!request.end || *request.end <= *request.begin) return std::nullopt;
        }
        return request;
    }
    if (args.size() > 2) return std::nullopt;
    if (!args.empty()) {
        request.sequence = parse_sequence(args[0]);
        if (!request.sequence) return std::nullopt;
    }
    if (args.size() == 2) {
        request.begin = parse_seedlink_time(args[1]);
        if (!request.begin) return std::nullopt;
    }
    return request;
}

void SeedLinkSession::start(const Request& request) {
    active_ = request;
    mode_ = Mode::streaming;
    if (request.sequence &&
        (ring_.holds(*request.sequence) || *request.sequence == ring_.next_sequence())) {
        // The client's place is known exactly (the next number means it has everything);
        // the time is only a fallback for a number that is gone.
        cursor_ = ring_.resume_serial(*request.sequence);
        active_.begin.reset();
    } else if (request.begin) {
        cursor_ = ring_.first_ending_at_or_after(*request.begin);
    } else if (request.sequence) {
        cursor_ = ring_.resume_serial(*request.sequence);
    } else {
        cursor_ = ring_.end_serial();
    }
}

bool SeedLinkSession::behind() const {
    return mode_ == Mode::streaming && cursor_ < ring_.end_serial();
}

bool SeedLinkSession::window_complete() const {
    const MicroTime end = *active_.end;
    // A stream that stopped long ago must not hold the window open for ever.
    if (ring_.newest_start() >= end + 600 * MicroTime{1000000}) return true;
    for (const auto& stream : ring_.streams()) {
        // How far the stream has come is told by its latest arrival, not its latest time:
        // after a clock step back, records before the step would close the window early.
        if (selected(selectors_, stream.id) && stream.last_end < end) return false;
    }
    return !ring_.empty();
}

size_t SeedLinkSession::pump(size_t budget) {
    if (mode_ != Mode::streaming || closed()) return 0;
    if (cursor_ < ring_.begin_serial()) {
        close_reason_ = "fell behind the ring";
        return 0;
    }
    size_t added = 0;
    while (added < budget && cursor_ < ring_.end_serial()) {
        const RingPacket& packet = ring_.at(cursor_++);
        const MiniSeedRecord& record = packet.record;
        if (!selected(selectors_, record.id)) continue;
        if (active_.begin && record.end < *active_.begin) continue;
        if (active_.end && record.start >= *active_.end) continue;
        std::string bytes = "SL" + hex6(packet.sequence);
        bytes += record.bytes;
        output_.push_back({std::move(bytes), true});
        ++added;
    }
    if (cursor_ == ring_.end_serial()) {
        bool done = active_.transfer == Transfer::fetch ||
                    (active_.transfer == Transfer::time && active_.end && window_complete());
        if (done) {
            reply("END");
            mode_ = Mode::finished;
            ++added;
        }
    }
    return added;
}

std::vector<SeedLinkMessage> SeedLinkSession::take_output() {
    std::vector<SeedLinkMessage> result;
    result.swap(output_);
    return result;
}

std::string SeedLinkSession::station_xml(bool streams) const {
    std::string begin_seq = hex6(ring_.sequence_of(ring_.begin_serial()));
    std::string end_seq = hex6(ring_.sequence_of(ring_.end_serial()));
    std::string xml = " <station name=\"" + xml_escape(identity_.station) + "\" network=\"" +
                      xml_escape(identity_.network) + "\" description=\"" +
                      xml_escape(identity_.description) + "\" begin_seq=\"" + begin_seq +
                      "\" end_seq=\"" + end_seq + "\" stream_check=\"enabled\"";
    if (!streams) return xml + "/>\n";
    xml += ">\n";
    for (const auto& stream : ring_.streams()) {
        xml += "  <stream location=\"" + xml_escape(stream.id.location) + "\" seedname=\"" +
               xml_escape(stream.id.channel) + "\" type=\"D\" begin_time=\"" +
               format_time(stream.begin) + "\" end_time=\"" + format_time(stream.end) +
               "\" begin_recno=\"0\" end_recno=\"0\" gap_check=\"disabled\" "
               "gap_treshold=\"0\"/>\n";
    }
    return xml + " </station>\n";
}

void SeedLinkSession::info(std::string_view level) {
    std::string head = "<?xml version=\"1.0\"?>\n<seedlink software=\"SeedLink v3.1 (" +
                       xml_escape(identity_.software) + ")\" organization=\"" +
                       xml_escape(identity_.description) + "\" started=\"" +
                       format_time(identity_.started) + "\"";
    if (level == "ID") {
        send_info(head + "/>\n");
    } else if (level == "STATIONS" || level == "STREAMS") {
        send_info(head + ">\n" + station_xml(level == "STREAMS") + "</seedlink>\n");
    } else if (level == "CAPABILITIES") {
        std::string xml = head + ">\n";
        for (const char* name : {"dialup", "multistation", "window-extraction", "info:id",
                                 "info:capabilities", "info:stations", "info:streams"}) {
            xml += " <capability name=\"" + std::string(name) + "\"/>\n";
        }
        send_info(xml + "</seedlink>\n");
    } else {
        error();
    }
}

void SeedLinkSession::send_info(const std::string& xml) {
    MSRecord* msr = msr_init(nullptr);
    if (!msr) {
        error();
        return;
    }
    std::snprintf(msr->network, sizeof msr->network, "%.2s", identity_.network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%.5s", identity_.station.c_str());
    std::snprintf(msr->channel, sizeof msr->channel, "LOG");
    msr->location[0] = '\0';
    msr->dataquality = 'D';
    msr->starttime = now_;
    msr->samprate = 0;
    msr->reclen = kRecordLength;
    msr->encoding = DE_ASCII;
    msr->byteorder = 1;
    std::string text = xml;
    msr->datasamples = text.data();
    msr->numsamples = static_cast<int64_t>(text.size());
    msr->sampletype = 'a';
    std::vector<std::string> records;
    int64_t packed = 0;
    int count = msr_pack(msr, collect_record, &records, &packed, 1, 0);
    msr->datasamples = nullptr;  // ours, not libmseed's to free
    msr_free(&msr);
    if (count <= 0 || records.empty()) {
        error();
        return;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        bool last = i + 1 == records.size();
        output_.push_back({(last ? "SLINFO  " : "SLINFO *") + records[i], true});
    }
}

}  // namespace velkantor::stream
