#pragma once

#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkantor::testing {

// A miniSEED record read back by libmseed: its header and samples.
struct DecodedRecord {
    std::string network, station, location, channel;
    int64_t start = 0;  // microseconds since 1970
    double rate = 0;
    int encoding = 0;
    int io_flags = 0;
    int dq_flags = 0;
    int timing_quality = -1;  // -1: no blockette 1001
    std::vector<int32_t> values;
    // The time of sample `k` (microseconds).
    int64_t time_of(size_t k) const {
        return start + std::llround(static_cast<double>(k) * 1e6 / rate);
    }
};

inline DecodedRecord decode_record(const std::string& bytes) {
    MSRecord* msr = nullptr;
    std::string copy = bytes;
    if (msr_unpack(copy.data(), static_cast<int>(copy.size()), &msr, 1, 0) != MS_NOERROR || !msr) {
        msr_free(&msr);
        throw std::runtime_error("not a miniSEED record");
    }
    DecodedRecord out{msr->network,
                      msr->station,
                      msr->location,
                      msr->channel,
                      msr->starttime,
                      msr->samprate,
                      msr->encoding,
                      msr->fsdh ? msr->fsdh->io_flags : 0,
                      msr->fsdh ? msr->fsdh->dq_flags : 0,
                      msr->Blkt1001 ? msr->Blkt1001->timing_qual : -1,
                      {}};
    auto* samples = static_cast<int32_t*>(msr->datasamples);
    out.values.assign(samples, samples + msr->numsamples);
    msr_free(&msr);
    return out;
}

// Every record of a file of 512-byte records.
inline std::vector<DecodedRecord> decode_records(const std::string& file) {
    std::vector<DecodedRecord> records;
    for (size_t at = 0; at + 512 <= file.size(); at += 512)
        records.push_back(decode_record(file.substr(at, 512)));
    return records;
}

}  // namespace velkantor::testing
