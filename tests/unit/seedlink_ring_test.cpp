#include <gtest/gtest.h>

#include "stream/record_ring.h"
#include "unit/seedlink_records.h"

namespace velkantor::stream {
namespace {

using namespace testing;  // the records, their stream and times

// A ring of `count` one-second HHZ records, the first numbered `first`, each arriving as it
// ends.
RecordRing filled_ring(uint32_t first, int count, MicroTime span = 3600 * kSecond,
                       size_t max_bytes = 1 << 24) {
    RecordRing ring(first, span, max_bytes);
    for (int i = 0; i < count; ++i) {
        auto record = make_record(test_stream("HHZ"), kT0 + i * kSecond, 100);
        MicroTime arrived = record.end;
        ring.add(std::move(record), arrived);
    }
    return ring;
}

TEST(SeedLinkRing, SequenceNumbersWrapAfterFFFFFF) {
    RecordRing ring(0xFFFFFE, 3600 * kSecond, 1 << 24);
    std::vector<uint32_t> numbers;
    for (int i = 0; i < 4; ++i) {
        numbers.push_back(
            ring.add(make_record(test_stream("HHZ"), kT0 + i * kSecond, 10), kT0 + i * kSecond));
    }
    EXPECT_EQ(numbers, (std::vector<uint32_t>{0xFFFFFE, 0xFFFFFF, 0x000000, 0x000001}));
    EXPECT_EQ(ring.at(ring.begin_serial() + 2).sequence, 0u);
}

TEST(SeedLinkRing, ResumeBySequenceAcrossTheWrap) {
    RecordRing ring = filled_ring(0xFFFFFA, 12);  // FFFFFA … 000005
    ASSERT_EQ(ring.next_sequence(), 0x000006u);
    struct Case {
        uint32_t asked;
        std::optional<uint32_t> first_sent;  // nullopt: the next new packet
    } cases[] = {
        {0xFFFFFA, 0xFFFFFA},  // the oldest held
        {0xFFFFFF, 0xFFFFFF},
        {0x000000, 0x000000},
        {0x000005, 0x000005},      // the newest
        {0x000006, std::nullopt},  // one past the newest: the client has everything
        // Numbers not held, whichever side of the ring: everything held.
        {0x000007, 0xFFFFFA},
        {0x000100, 0xFFFFFA},
        {0x7FFFFF, 0xFFFFFA},  // half the sequence space away
        {0xFFFF00, 0xFFFFFA},
        {0xFFFFF9, 0xFFFFFA},  // just lost to the ring
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        uint64_t serial = ring.resume_serial(c.asked);
        if (c.first_sent) {
            ASSERT_LT(serial, ring.end_serial());
            EXPECT_EQ(ring.at(serial).sequence, *c.first_sent);
        } else {
            EXPECT_EQ(serial, ring.end_serial());
        }
    }
    EXPECT_TRUE(ring.holds(0xFFFFFF));
    EXPECT_FALSE(ring.holds(0x000006));
    EXPECT_FALSE(ring.holds(0xFFFFF9));

    // Nothing held yet: every number waits for the first record.
    RecordRing empty(0x123456, 3600 * kSecond, 1 << 24);
    EXPECT_EQ(empty.resume_serial(0x123456), empty.end_serial());
    EXPECT_EQ(empty.resume_serial(0x000001), empty.end_serial());
}

TEST(SeedLinkRing, KeepsItsSpanOfArrivalAndItsByteCap) {
    RecordRing by_time = filled_ring(0, 100, 10 * kSecond);
    // One record a second; the newest arrived at 99.99 s, 10 s back is 89.99 s.
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

TEST(SeedLinkRing, AClockStepBackChangesNothingButTheRecordTimes) {
    // 20 records, then the station's clock steps back an hour and 20 more come, one a
    // second as before. The ring keeps its 10 s of arrival, whatever the records say.
    RecordRing ring(0, 10 * kSecond, 18 * 700);
    MicroTime arrived = kT0;
    for (int i = 0; i < 40; ++i, arrived += kSecond) {
        MicroTime start = kT0 + i * kSecond - (i >= 20 ? 3600 * kSecond : 0);
        ring.add(make_record(test_stream("HHZ"), start, 100), arrived);
    }
    ASSERT_EQ(ring.size(), 11u);
    EXPECT_EQ(ring.at(ring.begin_serial()).sequence, 29u);
    EXPECT_EQ(ring.at(ring.begin_serial()).record.start, kT0 + 29 * kSecond - 3600 * kSecond);

    // Before and after the step, in arrival order: the first record that ends at or after a
    // time may be followed by earlier ones.
    RecordRing stepped(0, 3600 * kSecond, 1 << 24);
    for (int second : {10, 11, 12, 5, 6, 7}) {
        stepped.add(make_record(test_stream("HHZ"), kT0 + second * kSecond, 100), arrived);
        arrived += kSecond;
    }
    EXPECT_EQ(stepped.first_ending_at_or_after(kT0 + 6 * kSecond), 0u);
    EXPECT_EQ(stepped.first_ending_at_or_after(kT0 + 12 * kSecond), 2u);
    EXPECT_EQ(stepped.first_ending_at_or_after(kT0 + 13 * kSecond), stepped.end_serial());
    auto streams = stepped.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].begin, kT0 + 5 * kSecond);
    EXPECT_EQ(streams[0].end, kT0 + 12 * kSecond + 990000);
    EXPECT_EQ(streams[0].last_end, kT0 + 7 * kSecond + 990000);  // the latest to arrive
}

TEST(SeedLinkRing, FindsByTimeAndReportsStreams) {
    RecordRing ring(0, 3600 * kSecond, 1 << 24);
    ring.add(make_record(test_stream("HHZ"), kT0, 100), kT0 + kSecond);
    ring.add(make_record(test_stream("HHN"), kT0, 100), kT0 + kSecond);
    ring.add(make_record(test_stream("HHZ"), kT0 + kSecond, 100), kT0 + 2 * kSecond);
    ring.add(make_record(test_stream("HHN"), kT0 + kSecond, 100), kT0 + 2 * kSecond);
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
