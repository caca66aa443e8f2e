#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::stream {

// DataLink 1.0, the protocol a ring server takes records over. Every exchange, both ways, is
// "DL", one byte giving the header's length, the ASCII header, then as many bytes of data as
// the header announces. Times are microseconds since 1970, as decimal numbers.

inline constexpr size_t kDataLinkMaxHeader = 255;
// Replies carry at most a short message; anything bigger is not a server talking DataLink.
inline constexpr size_t kDataLinkMaxReplyData = 64 * 1024;

// One exchange: "DL" + length + header + data. The header is cut at 255 bytes.
std::string datalink_frame(std::string_view header, std::string_view data = {});

// "ID VELKANTOR:XX_VELK:1234:x86_64": the client's identification.
std::string datalink_id(std::string_view program, std::string_view user, long process,
                        std::string_view architecture);

// "XX_VELK_00_HHZ/MSEED": how a ring server names a stream of miniSEED 2 records.
std::string datalink_stream_id(const StreamId& id);

// A record as a WRITE, asking for an acknowledgement or not.
std::string datalink_write(const MiniSeedRecord& record, bool acknowledge);

// One exchange as it came from the server.
struct DataLinkPacket {
    std::string header;
    std::string data;
};

// Cuts the server's byte stream into exchanges. Once the bytes are not DataLink (no "DL",
// an empty header, a size that is not a number or is too big), it stays failed.
class DataLinkReader {
public:
    void feed(std::string_view bytes);
    // The next whole exchange, if one has come.
    std::optional<DataLinkPacket> next();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    std::string buffer_;
    std::string error_;
};

// What the server answered.
struct DataLinkReply {
    enum class Kind { Ok, Error, Id, Other };
    Kind kind = Kind::Other;
    long long value = 0;                    // OK: the packet id; ERROR: the error value
    std::string message;                    // the data part (ERROR's reason)
    std::string server;                     // ID: "DataLink 2018.078"
    std::vector<std::string> capabilities;  // ID: "DLPROTO:1.0", "PACKETSIZE:512", "WRITE", ...
    bool can_write() const;
};

// The data size a header announces: the last field of WRITE, OK, ERROR and the rest (0 for
// ID and headers without one); nullopt when it is not a number within `limit`.
std::optional<size_t> datalink_data_size(std::string_view header, size_t limit);

// Reads one exchange from the server as a reply; nullopt for something no server sends
// a client that writes ("OK" without a number, say).
std::optional<DataLinkReply> parse_datalink_reply(const DataLinkPacket& packet);

// What the fixed header of a miniSEED 2 record says of it: its stream, the first sample's
// time (with blockette 1001's microseconds), the sample count and rate, the last sample's
// time. Nullopt when the bytes are not a big-endian data record of kRecordLength bytes.
std::optional<MiniSeedRecord> parse_record_header(std::string_view bytes);

}  // namespace velkantor::stream
