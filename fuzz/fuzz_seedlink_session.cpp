// Any bytes from a SeedLink client: the session must not crash and must answer only with its known
// replies and whole packets.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/seedlink_session.h"

namespace {

using namespace velkantor::stream;

constexpr MicroTime kT0 = 1'765'411'200LL * 1000000;

MiniSeedRecord make_record(const char* channel, MicroTime start) {
    // A fixed record: the parser's paths are what is fuzzed, not the record contents.
    MiniSeedRecord record;
    record.id = {"XX", "VELK", "00", channel};
    record.start = start;
    record.end = start + 990000;
    record.samples = 100;
    record.rate = 100;
    record.bytes.assign(kRecordLength, '\0');
    return record;
}

bool known_reply(std::string_view text) {
    return text == "OK\r\n" || text == "ERROR\r\n" || text == "END" ||
           text.rfind("SeedLink v3.1 (", 0) == 0 || text.rfind("XX VELK ", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const SeedLinkIdentity identity{"XX", "VELK", "Fuzz station", "VELKANTOR 0", kT0};
    RecordRing ring(0xFFFFF0, 60LL * 1000000, 1 << 16);
    SeedLinkSession session(identity, ring);
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    MicroTime now = kT0;
    int record = 0;
    // The input arrives in pieces of varying size, records in between.
    size_t at = 0;
    while (at < bytes.size() && !session.closed()) {
        size_t piece = 1 + static_cast<unsigned char>(bytes[at]) % 64;
        session.receive(bytes.substr(at, piece), now);
        at += piece;
        now += 40000;
        static const char* channels[] = {"HHZ", "HHN", "HHE"};
        ring.add(make_record(channels[record % 3], kT0 + record / 3 * 1000000LL), now);
        ++record;
        session.pump(static_cast<size_t>(record % 5));
        for (const auto& message : session.take_output()) {
            if (message.binary) {
                if (message.bytes.size() != 8 + kRecordLength) __builtin_trap();
                if (message.bytes.compare(0, 2, "SL") != 0) __builtin_trap();
            } else if (!known_reply(message.bytes)) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
