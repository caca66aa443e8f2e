#include <gtest/gtest.h>

#include "stream/record_ring.h"
#include "unit/seedlink_records.h"

namespace velkantor::stream {
namespace {

using testing::make_record;
using testing::test_stream;

constexpr MicroTime kSecond = 1000000;
constexpr MicroTime kT0 = 1'765'411'200 * kSecond;  // 2025-12-11 00:00:00

// A ring of `count` one-second HHZ records, the first numbered `first`.
RecordRing filled_ring(uint32_t first, int count, MicroTime span = 3600 * kSecond,
                       size_t max_bytes = 1 << 24) {
    RecordRing ring(first, span, max_bytes);
    for (int i = 0; i < count; ++i) ring.add(make_record(test_stream("HHZ"), kT0 + i * kSecond, 100));
    return ring;
}

TEST(SeedLinkRing, SequenceNumbersWrapAfterFFFFFF) {
    RecordRing ring(0xFFFFFE, 3600 * kSecond, 1 << 24);
    std::vector<uint32_t> numbers;
    for (int i = 0; i < 4; ++i) {
        numbers.push_back(ring.add(make_record(test_stream("HHZ"), kT0 + i * kSecond, 10)));
    }
    EXPECT_EQ(numbers, (std::vector<uint32_t>{0xFFFFFE, 0xFFFFFF, 0x000000, 0x000001}));
    EXPECT_EQ(ring.at(ring.begin_serial() + 2).sequence, 0u);
}

TEST(SeedLinkRing, ResumeBySequenceAcrossTheWrap) {
    RecordRing ring = filled_ring(0xFFFFFA, 12);  // FFFFFA … 000005
    struct Case {
        uint32_t asked;
        std::optional<uint32_t> first_sent;  // nullopt: the next new packet
    } cases[] = {
        {0xFFFFFA, 0xFFFFFA},  // the oldest held
        {0xFFFFFF, 0xFFFFFF},
        {0x000000, 0x000000},
        {0x000005, 0x000005},  // the newest
        {0x000006, std::nullopt},  // the next new one
        {0x000100, std::nullopt},  // ahead of the ring
        {0xFFFF00, 0xFFFFFA},  // older than everything held: the oldest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        auto serial = ring.find_sequence(c.asked);
        ASSERT_EQ(serial.has_value(), c.first_sent.has_value());
        if (serial) {
            EXPECT_EQ(ring.at(*serial).sequence, *c.first_sent);
        }
    }
    EXPECT_TRUE(ring.holds(0xFFFFFF));
    EXPECT_FALSE(ring.holds(0x000006));
    EXPECT_FALSE(ring.holds(0xFFFFF9));
}

TEST(SeedLinkRing, KeepsItsSpanOfRecordTimeAndItsByteCap) {
    RecordRing by_time = filled_ring(0, 100, 10 * kSecond);
    // Records end 0.99 s after they start; the newest ends at 99.99 s; 10 s back is 89.99 s.
    EXPECT_EQ(by_time.at(by_time.begin_serial()).record.start, kT0 + 89 * kSecond);
    EXPECT_EQ(by_time.end_serial(), 100u);

    RecordRing by_bytes = filled_ring(0, 100, 3600 * kSecond, 10 * 700);
    EXPECT_LE(by_bytes.bytes(), 10u * 700);
    EXPECT_GE(by_bytes.size(), 8u);
    EXPECT_EQ(by_bytes.at(by_bytes.end_serial() - 1).sequence, 99u);

    // A cap below one packet still keeps the newest: no record is lost to a client.
    RecordRing tiny = filled_ring(0, 3, 3600 * kSecond, 1);
    EXPECT_EQ(tiny.size(), 1u);
    EXPECT_EQ(tiny.at(tiny.begin_serial()).sequence, 2u);
}

TEST(SeedLinkRing, FindsByTimeAndReportsStreams) {
    RecordRing ring(0, 3600 * kSecond, 1 << 24);
    ring.add(make_record(test_stream("HHZ"), kT0, 100));
    ring.add(make_record(test_stream("HHN"), kT0, 100));
    ring.add(make_record(test_stream("HHZ"), kT0 + kSecond, 100));
    ring.add(make_record(test_stream("HHN"), kT0 + kSecond, 100));
    EXPECT_EQ(ring.first_ending_at_or_after(kT0), 0u);
    EXPECT_EQ(ring.first_ending_at_or_after(kT0 + kSecond), 2u);
    EXPECT_EQ(ring.first_ending_at_or_after(kT0 + 3 * kSecond), ring.end_serial());

    auto streams = ring.streams();
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].id.channel, "HHZ");
    EXPECT_EQ(streams[0].begin, kT0);
    EXPECT_EQ(streams[0].end, kT0 + kSecond + 990000);
}

TEST(SeedLinkRing, RestartContinuesAboveEarlierNumbers) {
    // Sixteen numbers per second: an hour later the numbers handed out before are behind.
    uint32_t before = initial_sequence(kT0);
    uint32_t after = initial_sequence(kT0 + 3600 * kSecond);
    EXPECT_EQ((after - before) & kSequenceMask, 3600u * 16);
}

}  // namespace
}  // namespace velkantor::stream
