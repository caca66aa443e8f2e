#pragma once
// Real 512-byte miniSEED records for the SeedLink tests, packed by libmseed.

#include <libmseed.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::stream::testing {

inline constexpr MicroTime kSecond = 1000000;
inline constexpr MicroTime kT0 = 1'765'411'200 * kSecond;  // 2025-12-11 00:00:00

inline StreamId test_stream(const std::string& channel, const std::string& location = "00") {
    return {"XX", "VELK", location, channel};
}

// One Steim-2 record of `samples` values first, first+1, … at `rate` samples per second.
inline MiniSeedRecord make_record(const StreamId& id, MicroTime start, int samples,
                                  double rate = 100, int first = 0) {
    std::vector<int32_t> values(samples);
    for (int i = 0; i < samples; ++i) values[i] = first + i;
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "%s", id.network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%s", id.station.c_str());
    std::snprintf(msr->location, sizeof msr->location, "%s", id.location.c_str());
    std::snprintf(msr->channel, sizeof msr->channel, "%s", id.channel.c_str());
    msr->dataquality = 'D';
    msr->starttime = start;
    msr->samprate = rate;
    msr->reclen = kRecordLength;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->datasamples = values.data();
    msr->numsamples = samples;
    msr->sampletype = 'i';
    std::vector<std::string> records;
    int64_t packed = 0;
    msr_pack(
        msr,
        [](char* record, int length, void* data) {
            static_cast<std::vector<std::string>*>(data)->emplace_back(record, length);
        },
        &records, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    if (records.size() != 1) throw std::runtime_error("test record does not fit one record");
    MiniSeedRecord record;
    record.id = id;
    record.start = start;
    record.samples = samples;
    record.rate = rate;
    record.end = start + static_cast<MicroTime>((samples - 1) * 1e6 / rate);
    record.bytes = records[0];
    return record;
}

}  // namespace velkantor::stream::testing
