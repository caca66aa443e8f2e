#include "stream/datalink_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "text/strings.h"

namespace velkantor::stream {

namespace {

std::optional<long long> whole_number(std::string_view text) {
    long long value = 0;
    if (text.empty()) return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

uint16_t be16(std::string_view b, size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) |
                                 static_cast<uint8_t>(b[at + 1]));
}

int16_t be16s(std::string_view b, size_t at) {
    return static_cast<int16_t>(be16(b, at));
}

// Days from 1970-01-01 to the first of January of `year` (proleptic Gregorian).
int64_t days_to_new_year(int64_t year) {
    const int64_t y = year - 1;
    const int64_t leap_days = y / 4 - y / 100 + y / 400;
    constexpr int64_t kLeapDaysTo1970 = 1969 / 4 - 1969 / 100 + 1969 / 400;
    return (year - 1970) * 365 + (leap_days - kLeapDaysTo1970);
}

bool leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// What the server said, fit for the event log: printable ASCII, at most 200 characters.
std::string printable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 200)) out += (c >= 32 && c < 127) ? c : '?';
    return out;
}

std::string code(std::string_view field) {
    std::string out(field);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

std::string datalink_frame(std::string_view header, std::string_view data) {
    header = header.substr(0, kDataLinkMaxHeader);
    std::string out;
    out.reserve(3 + header.size() + data.size());
    out += "DL";
    out += static_cast<char>(static_cast<uint8_t>(header.size()));
    out += header;
    out += data;
    return out;
}

std::string datalink_id(std::string_view program, std::string_view user, long process,
                        std::string_view architecture) {
    return "ID " + std::string(program) + ":" + std::string(user) + ":" + std::to_string(process) +
           ":" + std::string(architecture);
}

std::string datalink_stream_id(const StreamId& id) {
    return id.text() + "/MSEED";
}

std::string datalink_write(const MiniSeedRecord& record, bool acknowledge) {
    const std::string header = "WRITE " + datalink_stream_id(record.id) + " " +
                               std::to_string(record.start) + " " + std::to_string(record.end) +
                               (acknowledge ? " A " : " N ") + std::to_string(record.bytes.size());
    return datalink_frame(header, record.bytes);
}

void DataLinkReader::feed(std::string_view bytes) {
    if (failed()) return;
    buffer_.append(bytes);
}

std::optional<DataLinkPacket> DataLinkReader::next() {
    if (failed() || buffer_.size() < 3) return std::nullopt;
    if (buffer_[0] != 'D' || buffer_[1] != 'L') {
        error_ = "not a DataLink exchange";
        return std::nullopt;
    }
    const size_t header_length = static_cast<uint8_t>(buffer_[2]);
    if (header_length == 0) {
        error_ = "an empty DataLink header";
        return std::nullopt;
    }
    if (buffer_.size() < 3 + header_length) return std::nullopt;
    std::string header = buffer_.substr(3, header_length);
    auto size = datalink_data_size(header, kDataLinkMaxReplyData);
    if (!size) {
        error_ = "a DataLink header without a usable size: \"" + printable(header) + "\"";
        return std::nullopt;
    }
    if (buffer_.size() < 3 + header_length + *size) return std::nullopt;
    DataLinkPacket packet{std::move(header), buffer_.substr(3 + header_length, *size)};
    buffer_.erase(0, 3 + header_length + *size);
    return packet;
}

std::optional<size_t> datalink_data_size(std::string_view header, size_t limit) {
    auto parts = text::split_words(header);
    if (parts.empty()) return std::nullopt;
    if (parts[0] == "ID") return 0;  // the server's identification is header-only
    if ((parts[0] == "OK" || parts[0] == "ERROR") && parts.size() != 3) return std::nullopt;
    if (parts.size() < 2) return 0;
    auto size = whole_number(parts.back());
    if (parts[0] != "OK" && parts[0] != "ERROR" && !size) return 0;
    if (!size || *size < 0 || static_cast<unsigned long long>(*size) > limit) return std::nullopt;
    return static_cast<size_t>(*size);
}

bool DataLinkReply::can_write() const {
    return std::find(capabilities.begin(), capabilities.end(), "WRITE") != capabilities.end();
}

std::optional<DataLinkReply> parse_datalink_reply(const DataLinkPacket& packet) {
    auto parts = text::split_words(packet.header);
    if (parts.empty()) return std::nullopt;
    DataLinkReply reply;
    if (parts[0] == "OK" || parts[0] == "ERROR") {
        if (parts.size() != 3) return std::nullopt;
        auto value = whole_number(parts[1]);
        if (!value) return std::nullopt;
        reply.kind = parts[0] == "OK" ? DataLinkReply::Kind::Ok : DataLinkReply::Kind::Error;
        reply.value = *value;
        reply.message = printable(packet.data);
        return reply;
    }
    if (parts[0] == "ID") {
        reply.kind = DataLinkReply::Kind::Id;
        // "ID DataLink 2018.078 :: DLPROTO:1.0 PACKETSIZE:512 WRITE"
        size_t i = 1;
        for (; i < parts.size() && parts[i] != "::"; ++i) {
            if (!reply.server.empty()) reply.server += ' ';
            reply.server += parts[i];
        }
        for (++i; i < parts.size(); ++i) reply.capabilities.emplace_back(parts[i]);
        return reply;
    }
    reply.kind = DataLinkReply::Kind::Other;
    reply.message = printable(packet.header);
    return reply;
}

std::optional<MiniSeedRecord> parse_record_header(std::string_view bytes) {
    if (bytes.size() != kRecordLength) return std::nullopt;
    // A sequence number of six digits or blanks, then the data quality.
    for (size_t i = 0; i < 6; ++i) {
        char c = bytes[i];
        if (!(c == ' ' || (c >= '0' && c <= '9'))) return std::nullopt;
    }
    if (std::string_view("DRQM").find(bytes[6]) == std::string_view::npos) return std::nullopt;
    const int year = be16(bytes, 20);
    const int day = be16(bytes, 22);
    const int hour = static_cast<uint8_t>(bytes[24]);
    const int minute = static_cast<uint8_t>(bytes[25]);
    const int second = static_cast<uint8_t>(bytes[26]);
    const int tenth_ms = be16(bytes, 28);
    if (year < 1900 || year > 2500 || day < 1 || day > (leap(year) ? 366 : 365) || hour > 23 ||
        minute > 59 || second > 60 || tenth_ms > 9999) {
        return std::nullopt;
    }
    MiniSeedRecord record;
    record.id.station = code(bytes.substr(8, 5));
    record.id.location = code(bytes.substr(13, 2));
    record.id.channel = code(bytes.substr(15, 3));
    record.id.network = code(bytes.substr(18, 2));
    record.samples = be16(bytes, 30);
    const int factor = be16s(bytes, 32);
    const int multiplier = be16s(bytes, 34);
    double rate = 0;
    if (factor > 0) rate = factor;
    if (factor < 0) rate = -1.0 / factor;
    if (multiplier > 0) rate *= multiplier;
    if (multiplier < 0) rate /= -multiplier;
    record.rate = rate;
    int64_t micro =
        ((days_to_new_year(year) + day - 1) * 86400 + hour * 3600 + minute * 60 + second) *
            1000000LL +
        tenth_ms * 100LL;
    // Blockette 1001's microseconds, if the chain of blockettes holds one.
    size_t next = be16(bytes, 46);
    for (int hops = 0; next >= 48 && next + 4 <= bytes.size() && hops < 8; ++hops) {
        const uint16_t type = be16(bytes, next);
        if (type == 1001 && next + 8 <= bytes.size()) {
            micro += static_cast<int8_t>(bytes[next + 5]);
            break;
        }
        const size_t following = be16(bytes, next + 2);
        if (following <= next) break;
        next = following;
    }
    record.start = micro;
    record.end = micro;
    if (rate > 0 && record.samples > 1) {
        // A rate so low that the record would last beyond a year is no record of a station.
        const double span = (record.samples - 1) * 1e6 / rate;
        if (!(span < 366.0 * 86400e6)) return std::nullopt;
        record.end = micro + static_cast<int64_t>(span + 0.5);
    }
    record.bytes.assign(bytes);
    return record;
}

}  // namespace velkantor::stream
