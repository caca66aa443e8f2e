// Any bytes from a DataLink server, in any chunks: the sender's reader cuts them into
// exchanges or gives up on the connection, never crashes, never holds a reply bigger than
// the bound; every exchange reads as a reply or is refused. The same bytes as a miniSEED
// record read out of the archive for the backfill: a header is read or refused, and a record
// read has a stream name the state file takes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/datalink_protocol.h"
#include "stream/datalink_state.h"

using namespace velkantor::stream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first byte picks the chunk size, as the socket might hand the bytes over.
    const size_t chunk = size > 0 ? static_cast<uint8_t>(bytes[0]) % 17 + 1 : 1;
    DataLinkReader reader;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        reader.feed(bytes.substr(at, chunk));
        while (auto packet = reader.next()) {
            if (packet->header.empty() || packet->header.size() > kDataLinkMaxHeader ||
                packet->data.size() > kDataLinkMaxReplyData) {
                __builtin_trap();
            }
            if (auto reply = parse_datalink_reply(*packet)) {
                if (reply->kind == DataLinkReply::Kind::Ok && reply->message.size() > 200) {
                    __builtin_trap();
                }
            }
        }
        if (reader.failed() && reader.error().empty()) __builtin_trap();
    }
    if (size >= kRecordLength) {
        if (auto record = parse_record_header(bytes.substr(0, kRecordLength))) {
            if (record->end < record->start) __builtin_trap();
            // A code with a blank or a lower-case letter is no stream the state file takes;
            // a record that names one is still read, and keyed by its text.
            (void)stream_id_from_text(record->id.text());
        }
    }
    return 0;
}
