#include "stream/seedlink_session.h"

#include <gtest/gtest.h>
#include <libmseed.h>

#include <cstdio>
#include <set>

#include "unit/seedlink_records.h"

namespace velkantor::stream {
namespace {

using namespace testing;  // the records, their stream and times

// The text of every message, packets shown by their header only: "[SL00000A]", "[SLINFO *]".
std::string show(const std::vector<SeedLinkMessage>& messages) {
    std::string text;
    for (const auto& m : messages) {
        if (!m.binary) {
            text += m.bytes;
        } else {
            size_t header = m.bytes.rfind("SLINFO", 0) == 0 ? 8 : 8;
            EXPECT_EQ(m.bytes.size(), header + kRecordLength);
            text += "[" + m.bytes.substr(0, header) + "]";
        }
    }
    return text;
}

// The XML carried by a run of SLINFO packets.
std::string info_text(const std::vector<SeedLinkMessage>& messages) {
    std::string xml;
    for (const auto& m : messages) {
        if (!m.binary || m.bytes.rfind("SLINFO", 0) != 0) continue;
        std::string record = m.bytes.substr(8);
        MSRecord* msr = nullptr;
        EXPECT_EQ(msr_parse(record.data(), static_cast<int>(record.size()), &msr, 0, 1, 0),
                  MS_NOERROR);
        if (!msr) continue;
        EXPECT_STREQ(msr->channel, "LOG");
        xml.append(static_cast<const char*>(msr->datasamples),
                   static_cast<size_t>(msr->numsamples));
        msr_free(&msr);
    }
    return xml;
}

class SeedLinkSessionTest : public ::testing::Test {
protected:
    SeedLinkIdentity identity{"XX", "VELK", "Test station", "VELKANTOR 2.28", kT0};
    RecordRing ring{0x000010, 3600 * kSecond, 1 << 24};
    SeedLinkSession session{identity, ring};
    MicroTime now = kT0 + 100 * kSecond;
    int next_record = 0;

    // Adds records on HHZ, HHN, HHE in turn, one second each, each arriving as it ends.
    void add_records(int count, MicroTime clock_step = 0) {
        static const char* channels[] = {"HHZ", "HHN", "HHE"};
        for (int i = 0; i < count; ++i, ++next_record) {
            MicroTime start = kT0 + next_record / 3 * kSecond;
            ring.add(make_record(test_stream(channels[next_record % 3]), start + clock_step, 100),
                     start + kSecond);
        }
    }
    std::string send(std::string_view bytes) {
        session.receive(bytes, now);
        return show(session.take_output());
    }
    std::string pump(size_t budget = 1000) {
        session.pump(budget);
        return show(session.take_output());
    }
};

TEST_F(SeedLinkSessionTest, CommandReplies) {
    struct Case {
        const char* sent;
        const char* reply;
    } cases[] = {
        {"HELLO\r", "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\n"},
        {"hello\r\n", "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\n"},
        {"CAT\r", "XX VELK Test station\r\nEND"},
        {"STATION  VELK XX\r", "OK\r\n"},
        {"STATION VELK\n", "OK\r\n"},
        {"  station velk xx  \r\n", "OK\r\n"},
        {"STATION OTHER XX\r", "ERROR\r\n"},
        {"STATION VELK YY\r", "ERROR\r\n"},
        {"STATION\r", "ERROR\r\n"},
        // Every documented form of a selector, including those that match nothing here
        // (other record types): a client that has none of its selectors accepted gives up.
        {"SELECT 00HHZ.D\r", "OK\r\n"},
        {"SELECT 00BHZ.D\r", "OK\r\n"},
        {"SELECT !??HH?\r", "OK\r\n"},
        {"SELECT --HHZ\r", "OK\r\n"},
        {"SELECT --BHZ.D\r", "OK\r\n"},
        {"SELECT -HHZ\r", "OK\r\n"},
        {"SELECT HHZ\r", "OK\r\n"},
        {"SELECT BH?\r", "OK\r\n"},
        {"SELECT BH?.D\r", "OK\r\n"},
        {"SELECT ?????.D\r", "OK\r\n"},
        {"SELECT D\r", "OK\r\n"},
        {"SELECT d\r", "OK\r\n"},
        {"SELECT .D\r", "OK\r\n"},
        {"SELECT !T\r", "OK\r\n"},
        {"SELECT !.E\r", "OK\r\n"},
        {"SELECT !LOG\r", "OK\r\n"},
        {"SELECT E\r", "OK\r\n"},
        {"SELECT 00HHZ.L\r", "OK\r\n"},
        {"SELECT ?\r", "OK\r\n"},
        {"SELECT\r", "OK\r\n"},
        {"SELECT H\r", "ERROR\r\n"},  // not a record type
        {"SELECT 00HHZ.X\r", "ERROR\r\n"},
        {"SELECT 00HHZ.DD\r", "ERROR\r\n"},
        {"SELECT 00HHZ.\r", "ERROR\r\n"},
        {"SELECT .\r", "ERROR\r\n"},
        {"SELECT !\r", "ERROR\r\n"},
        {"SELECT HH\r", "ERROR\r\n"},
        {"SELECT 0HHZ.D\r", "ERROR\r\n"},
        {"SELECT 0*HHZ\r", "ERROR\r\n"},
        {"SELECT 00HHZ 01HHZ\r", "ERROR\r\n"},
        {"DATA 0x1g\r", "ERROR\r\n"},
        {"DATA 0x\r", "ERROR\r\n"},
        {"DATA 10000000000000000\r", "ERROR\r\n"},  // beyond 64 bits
        {"DATA -1\r", "ERROR\r\n"},
        {"DATA 12 2026,13,01,00,00,00\r", "ERROR\r\n"},
        {"DATA 12 2026,12,01\r", "ERROR\r\n"},
        {"TIME\r", "ERROR\r\n"},
        {"TIME 2025,12,11,00,00,10 2025,12,11,00,00,00\r", "ERROR\r\n"},
        {"FETCH 1 2 3\r", "ERROR\r\n"},
        {"END\r", "ERROR\r\n"},  // no STATION before it
        {"FOO\r", "ERROR\r\n"},
        {"BATCH\r", "ERROR\r\n"},
        {"CAPABILITIES EXTREPLY\r", "ERROR\r\n"},
        {"INFO FOO\r", "ERROR\r\n"},
        {"INFO CONNECTIONS\r", "ERROR\r\n"},
        {"INFO\r", "ERROR\r\n"},
        {"\r\n\r\n\r", ""},
        {"HEL", ""},  // not a line yet
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        SeedLinkSession fresh(identity, ring);
        fresh.receive(c.sent, now);
        EXPECT_EQ(show(fresh.take_output()), c.reply);
        EXPECT_FALSE(fresh.closed());
    }
}

TEST_F(SeedLinkSessionTest, LinesArriveInPiecesAndTooLongOnesAreForgotten) {
    EXPECT_EQ(send("HEL"), "");
    EXPECT_EQ(send("LO\r"), "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\n");
    EXPECT_EQ(send(std::string(1000, 'A') + "\r"), "ERROR\r\n");
    EXPECT_EQ(send("STATION VELK XX\r"), "OK\r\n");
    // The LF of a CR LF split over two reads is not a second, empty command.
    EXPECT_EQ(send("SELECT HHZ\r"), "OK\r\n");
    EXPECT_EQ(send("\nSELECT HHN\r"), "OK\r\n");
}

TEST_F(SeedLinkSessionTest, ALineEndInTheDescriptionDoesNotEndTheGreeting) {
    identity.description = "Hill\r\nstation";
    EXPECT_EQ(send("HELLO\r"),
              "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nHill  station\r\n");
}

TEST_F(SeedLinkSessionTest, ByeAndTooManyCommandsEndTheConversation) {
    send("BYE\r");
    EXPECT_EQ(session.close_reason(), "BYE");

    SeedLinkSession chatty(identity, ring);
    std::string burst;
    for (int i = 0; i < kMaxCommandsPerSecond; ++i) burst += "SELECT\r";
    chatty.receive(burst, now);
    EXPECT_FALSE(chatty.closed());
    chatty.receive("SELECT\r", now + kSecond);  // a new second, a new allowance
    EXPECT_FALSE(chatty.closed());
    chatty.receive(burst, now + kSecond);
    EXPECT_EQ(chatty.close_reason(), "too many commands");
}

TEST_F(SeedLinkSessionTest, UniStationDataStartsAtOnceWithTheNextNewPacket) {
    add_records(3);  // 000010 … 000012, already held
    EXPECT_EQ(send("DATA\r"), "");
    EXPECT_TRUE(session.streaming());
    EXPECT_EQ(pump(), "");
    add_records(2);
    EXPECT_EQ(pump(), "[SL000013][SL000014]");
    EXPECT_EQ(send("HELLO\r"), "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\n");
    EXPECT_EQ(send("SELECT HHZ\r"), "ERROR\r\n");  // no changes once the transfer runs
}

TEST_F(SeedLinkSessionTest, MultiStationTransferStartsOnEnd) {
    add_records(6);
    EXPECT_EQ(
        send("HELLO\rSTATION  VELK XX\rSELECT 00HHZ\rDATA 0x11\r"),
        "SeedLink v3.1 (VELKANTOR 2.28) :: SLPROTO:3.1\r\nTest station\r\nOK\r\nOK\r\nOK\r\n");
    EXPECT_FALSE(session.streaming());
    EXPECT_EQ(send("END\r"), "");
    // From 000011 on, the HHZ records only: 000013 (the fourth record).
    EXPECT_EQ(pump(), "[SL000013]");
}

TEST_F(SeedLinkSessionTest, ReconnectWithTheNextSequenceHasNoGapAndNoDuplicate) {
    // Clients resume with their last number plus one, not wrapped: after FFFFFF they ask
    // for 1000000, with "0x" (one client library) or without (another).
    for (const char* format : {"DATA 0x%x\r", "DATA %X\r"}) {
        SCOPED_TRACE(format);
        RecordRing wrapping(0xFFFFFC, 3600 * kSecond, 1 << 24);
        auto add = [&](int i) {
            wrapping.add(make_record(test_stream("HHZ"), kT0 + i * kSecond, 100),
                         kT0 + (i + 1) * kSecond);
        };
        for (int i = 0; i < 4; ++i) add(i);
        std::vector<uint32_t> received;
        auto take = [&](SeedLinkSession& s) {
            s.pump(1000);
            for (const auto& m : s.take_output()) {
                ASSERT_TRUE(m.binary) << m.bytes;
                received.push_back(
                    static_cast<uint32_t>(std::stoul(m.bytes.substr(2, 6), nullptr, 16)));
            }
        };
        SeedLinkSession first(identity, wrapping);
        first.receive("DATA FFFFFC\r", now);
        take(first);
        ASSERT_EQ(received.back(), 0xFFFFFFu);
        char resume[32];
        std::snprintf(resume, sizeof resume, format, received.back() + 1);
        SeedLinkSession second(identity, wrapping);
        second.receive(resume, now);
        take(second);  // nothing new yet, and nothing again
        // Records keep coming.
        for (int i = 4; i < 8; ++i) add(i);
        take(second);
        EXPECT_EQ(received,
                  (std::vector<uint32_t>{0xFFFFFC, 0xFFFFFD, 0xFFFFFE, 0xFFFFFF, 0, 1, 2, 3}));
    }
}

TEST_F(SeedLinkSessionTest, ResumeStartsAtTheOldestUnlessTheNumberIsHeldOrNext) {
    // This run started at kT0 + 100 s and holds six records; its numbers start from the
    // clock then. Numbers of earlier runs are behind it by sixteen a second, wrapped.
    RecordRing run(initial_sequence(kT0 + 100 * kSecond), 3600 * kSecond, 1 << 24);
    for (int i = 0; i < 6; ++i) {
        run.add(make_record(test_stream("HHZ"), kT0 + (100 + i) * kSecond, 100),
                kT0 + (101 + i) * kSecond);
    }
    const uint32_t oldest = run.at(run.begin_serial()).sequence;
    const uint32_t next = run.next_sequence();
    auto earlier_run = [](MicroTime before) {
        return initial_sequence(kT0 + 100 * kSecond - before) + 40;
    };
    auto hex = [](uint64_t n) {
        char text[24];
        std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(n));
        return std::string(text);
    };
    auto header = [](uint32_t sequence) {
        char text[8];
        std::snprintf(text, sizeof text, "%06X", sequence);
        return std::string(text);
    };
    struct Case {
        const char* name;
        std::string asked;             // the arguments after DATA or FETCH
        std::optional<uint32_t> from;  // first packet sent; nullopt: none held is sent
    } cases[] = {
        {"held", hex((oldest + 2) & kSequenceMask), (oldest + 2) & kSequenceMask},
        {"the next", hex(next), std::nullopt},
        {"the next, with the last packet's time", hex(next) + " 2025,12,11,00,01,45", std::nullopt},
        {"the next, unwrapped, as 0x", "0x" + hex(next + kSequenceModulus), std::nullopt},
        {"earlier run, minutes before", hex(earlier_run(300 * kSecond)), oldest},
        {"earlier run, a week before", hex(earlier_run(7 * 86400 * kSecond)), oldest},
        {"earlier run, ten days before", hex(earlier_run(10 * 86400 * kSecond)), oldest},
        {"earlier run, ten days before, with its time",
         hex(earlier_run(10 * 86400 * kSecond)) + " 2025,12,01,00,00,00", oldest},
        {"1000000 (after FFFFFF)", "1000000", oldest},
        {"0x1000000", "0x1000000", oldest},
        {"beyond everything held", hex((next + 1) & kSequenceMask), oldest},
        {"far beyond", hex((next + 0x400000) & kSequenceMask), oldest},
        {"beyond, longer than 24 bits", "0x" + hex(next + 0x10000001), oldest},
    };
    ASSERT_FALSE(run.holds(0));  // "1000000" asks for 000000
    for (const auto& c : cases) {
        for (const char* verb : {"DATA", "FETCH"}) {
            SCOPED_TRACE(std::string(verb) + " " + c.asked + " (" + c.name + ")");
            std::string expected;
            if (c.from) {
                for (uint64_t serial = run.resume_serial(*c.from); serial < run.end_serial();
                     ++serial) {
                    expected += "[SL" + header(run.at(serial).sequence) + "]";
                }
                ASSERT_EQ(expected.substr(0, 10), "[SL" + header(*c.from) + "]");
            }
            if (std::string(verb) == "FETCH") expected += "END";
            SeedLinkSession client(identity, run);
            client.receive("STATION VELK XX\r" + std::string(verb) + " " + c.asked + "\rEND\r",
                           now);
            EXPECT_EQ(show(client.take_output()), "OK\r\nOK\r\n");
            client.pump(1000);
            EXPECT_EQ(show(client.take_output()), expected);
        }
    }
}

TEST_F(SeedLinkSessionTest, FetchSendsWhatIsBufferedThenEnd) {
    add_records(4);
    EXPECT_EQ(send("STATION VELK XX\rFETCH 000012\rEND\r"), "OK\r\nOK\r\n");
    EXPECT_EQ(pump(1), "[SL000012]");
    EXPECT_TRUE(session.behind());
    EXPECT_EQ(pump(), "[SL000013]END");
    add_records(1);
    EXPECT_EQ(pump(), "");  // finished: nothing more
    EXPECT_EQ(send("INFO ID\r"), "[SLINFO  ]");
}

TEST_F(SeedLinkSessionTest, TimeWindowEndsOnceEveryStreamPassedIt) {
    add_records(9);  // three seconds of HHZ, HHN, HHE
    send("TIME 2025,12,11,00,00,01 2025,12,11,00,00,02\r");
    // The records of second 1; second 2 starts at the window's end and is left out. The
    // newest records end at 2.99 s, past the end on every stream: the window is complete.
    EXPECT_EQ(pump(), "[SL000013][SL000014][SL000015]END");

    SeedLinkSession open_window(identity, ring);
    open_window.receive("TIME 2025,12,11,00,00,02 2025,12,11,00,00,05\r", now);
    open_window.pump(1000);
    EXPECT_EQ(show(open_window.take_output()), "[SL000016][SL000017][SL000018]");
}

TEST_F(SeedLinkSessionTest, ATimeWindowEndsByWhatArrivedAfterAClockStepBack) {
    add_records(9);  // seconds 0-2 of HHZ, HHN, HHE, numbered 000010 …
    // The clock steps back an hour; records keep arriving in order.
    const MicroTime step = -3600 * kSecond;
    add_records(6, step);  // seconds 3-4, stamped an hour earlier: 000019 …
    SeedLinkSession window(identity, ring);
    window.receive("TIME 2025,12,10,23,00,04 2025,12,10,23,00,05\r", now);
    window.pump(1000);
    // Nothing of the window yet, and it is not over: the streams have come only to
    // 23:00:04.99 since the step, whatever the records before it say.
    EXPECT_EQ(show(window.take_output()), "[SL00001C][SL00001D][SL00001E]");
    add_records(3, step);  // second 5, the end of the window on every stream
    window.pump(1000);
    EXPECT_EQ(show(window.take_output()), "END");
}

TEST_F(SeedLinkSessionTest, DataWithATimeFallsBackToItWhenTheSequenceIsGone) {
    add_records(9);
    send("DATA 000001 2025,12,11,00,00,02\r");
    EXPECT_EQ(pump(), "[SL000016][SL000017][SL000018]");
}

TEST_F(SeedLinkSessionTest, SelectorsChooseStreams) {
    struct Case {
        std::vector<const char*> selectors;
        const char* sent;
    } cases[] = {
        {{}, "[SL000010][SL000011][SL000012]"},
        {{"HHZ"}, "[SL000010]"},
        {{"00HH?.D"}, "[SL000010][SL000011][SL000012]"},
        {{"00HH?.T"}, ""},
        {{"!00HHN"}, "[SL000010][SL000012]"},
        {{"HHZ", "HHE"}, "[SL000010][SL000012]"},
        {{"??HH?", "!HHE"}, "[SL000010][SL000011]"},
        {{"--HHZ"}, ""},  // the streams have location 00
        {{"01HHZ"}, ""},
        // By record type alone: every record is a data record.
        {{"D"}, "[SL000010][SL000011][SL000012]"},
        {{".D"}, "[SL000010][SL000011][SL000012]"},
        {{"?????.D"}, "[SL000010][SL000011][SL000012]"},
        {{"!T"}, "[SL000010][SL000011][SL000012]"},
        {{"!LOG"}, "[SL000010][SL000011][SL000012]"},
        {{"!D"}, ""},
        {{"E"}, ""},
        {{"HHZ.E"}, ""},
        {{"E", "HHN.D"}, "[SL000011]"},
        {{"HH?.D", "!00HHE.D"}, "[SL000010][SL000011]"},
    };
    add_records(3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        SeedLinkSession client(identity, ring);
        for (const char* s : c.selectors) client.receive("SELECT " + std::string(s) + "\r", now);
        client.take_output();
        client.receive("DATA 10\r", now);
        client.pump(100);
        EXPECT_EQ(show(client.take_output()), c.sent);
    }
    EXPECT_TRUE(selected({*parse_selector("--HHZ")}, test_stream("HHZ", "")));
    EXPECT_FALSE(selected({*parse_selector("--HHZ")}, test_stream("HHZ", "00")));
}

TEST_F(SeedLinkSessionTest, InfoIsAnsweredWhileDataFlows) {
    send("DATA\r");
    add_records(3);
    session.pump(1);
    EXPECT_EQ(send("INFO ID\r"), "[SL000010][SLINFO  ]");
    EXPECT_EQ(pump(), "[SL000011][SL000012]");

    session.receive("INFO STREAMS\r", now);
    std::string xml = info_text(session.take_output());
    EXPECT_NE(xml.find("software=\"SeedLink v3.1 (VELKANTOR 2.28)\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<station name=\"VELK\" network=\"XX\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("begin_seq=\"000010\" end_seq=\"000013\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("seedname=\"HHN\" type=\"D\" begin_time=\"2025/12/11 00:00:00.0000\" "
                       "end_time=\"2025/12/11 00:00:00.9900\""),
              std::string::npos)
        << xml;
}

TEST_F(SeedLinkSessionTest, LongInfoSpansSeveralPacketsAndTheLastIsMarked) {
    identity.description = std::string(2000, 'd');  // repeated in the XML: several records
    session.receive("INFO STATIONS\r", now);
    auto messages = session.take_output();
    ASSERT_GE(messages.size(), 3u);
    std::string shown = show(messages);
    EXPECT_EQ(shown.substr(shown.size() - 10), "[SLINFO  ]");
    EXPECT_EQ(shown.substr(0, 10), "[SLINFO *]");
    std::string xml = info_text(messages);
    EXPECT_EQ(xml.substr(xml.size() - 12), "</seedlink>\n");
}

TEST_F(SeedLinkSessionTest, AClientBehindTheRingIsDropped) {
    RecordRing small(0, 3600 * kSecond, 4000);  // a few packets only
    SeedLinkSession slow(identity, small);
    slow.receive("DATA\r", now);
    for (int i = 0; i < 20; ++i) {
        small.add(make_record(test_stream("HHZ"), kT0 + i * kSecond, 100), kT0 + i * kSecond);
    }
    slow.pump(100);
    EXPECT_EQ(slow.close_reason(), "fell behind the ring");
}

TEST(SeedLinkTime, ParsesTheCommandForm) {
    struct Case {
        const char* text;
        std::optional<MicroTime> time;
    } cases[] = {
        {"2025,12,11,00,00,00", kT0},
        {"2025,12,11,01,02,03", kT0 + 3723 * kSecond},
        {"2025,12,11,01,02,03.5", kT0 + 3723 * kSecond},
        {"2024,2,29,0,0,0", kT0 - (366 - 60 + 1 + 344) * 86400 * kSecond},
        {"2025,12,11,00,00", std::nullopt},
        {"2025,12,11,24,00,00", std::nullopt},
        {"2025,00,11,00,00,00", std::nullopt},
        {"2025,12,11,00,00,00,", std::nullopt},
        {"2025-12-11", std::nullopt},
        {"99999,12,11,00,00,00", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_seedlink_time(c.text), c.time);
    }
}

}  // namespace
}  // namespace velkantor::stream
