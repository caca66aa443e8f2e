#include "stream/record_builder.h"

#include <libmseed.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace velkantor::stream {

namespace {

// Steim-2 holds differences of up to 30 bits; a pair of samples further apart (possible
// only with conditioned 32-bit values) is packed with Steim-1, which holds 32.
bool fits_steim2(const std::vector<int32_t>& values) {
    constexpr int64_t kLimit = (int64_t{1} << 29) - 1;
    for (size_t i = 1; i < values.size(); ++i) {
        int64_t difference = int64_t{values[i]} - int64_t{values[i - 1]};
        if (difference > kLimit || difference < -kLimit - 1) return false;
    }
    return true;
}

void copy_code(char* field, size_t size, const std::string& code) {
    std::memset(field, 0, size);
    std::memcpy(field, code.data(), std::min(code.size(), size - 1));
}

}  // namespace

RecordBuilder::RecordBuilder(StreamId id, RecordSink& sink) : id_(std::move(id)), sink_(sink) {
    msr_ = msr_init(nullptr);
    copy_code(msr_->network, sizeof msr_->network, id_.network);
    copy_code(msr_->station, sizeof msr_->station, id_.station);
    copy_code(msr_->location, sizeof msr_->location, id_.location);
    copy_code(msr_->channel, sizeof msr_->channel, id_.channel);
    msr_->dataquality = 'D';
    msr_->reclen = kRecordLength;
    msr_->byteorder = 1;  // big-endian, as the common readers expect
    msr_->sampletype = 'i';
    msr_->fsdh = static_cast<fsdh_s*>(std::calloc(1, sizeof(fsdh_s)));
    blkt_1001_s timing{};
    msr_addblockette(msr_, reinterpret_cast<char*>(&timing), sizeof timing, 1001, 0);
}

RecordBuilder::~RecordBuilder() {
    flush();
    msr_->datasamples = nullptr;  // the samples are ours
    msr_->numsamples = 0;
    msr_free(&msr_);
}

MicroTime RecordBuilder::time_of(int64_t sample) const {
    return segment_start_ + std::llround(static_cast<double>(sample) * 1e6 / rate_);
}

void RecordBuilder::add(MicroTime first, double rate, bool locked,
                        const std::vector<int32_t>& values, bool continues) {
    if (values.empty() || !(rate > 0)) return;
    if (open_ && (!continues || rate != rate_)) end_segment();
    if (open_ && locked != locked_) flush();  // a record's clock flags hold for all its samples
    if (!open_) {
        open_ = true;
        segment_start_ = first;
        packed_ = 0;
        rate_ = rate;
    }
    locked_ = locked;
    pending_.insert(pending_.end(), values.begin(), values.end());
    pack(false);
}

void RecordBuilder::flush() {
    if (!pending_.empty()) pack(true);
}

void RecordBuilder::end_segment() {
    flush();
    open_ = false;
}

void RecordBuilder::pack(bool flush_all) {
    // libmseed packs only the records it is sure to fill unless told to flush, and it waits
    // for more samples than any record could take: at 100 samples/s most records would go
    // out half full at the latency. So everything is packed, and all but the last record
    // (the one that may not be full yet) are kept; its samples wait for the next second.
    msr_->starttime = time_of(packed_);
    msr_->samprate = rate_;
    msr_->encoding = fits_steim2(pending_) ? DE_STEIM2 : DE_STEIM1;
    msr_->fsdh->io_flags = locked_ ? 0x20 : 0x00;  // bit 5: the clock is locked
    // Data quality bit 7, "time tag is questionable": a clock running free of its receiver.
    msr_->fsdh->dq_flags = locked_ ? 0x00 : 0x80;
    msr_->Blkt1001->timing_qual = static_cast<uint8_t>(locked_ ? kLockedQuality : kFreeQuality);
    msr_->datasamples = pending_.data();
    msr_->numsamples = static_cast<int64_t>(pending_.size());
    msr_->samplecnt = msr_->numsamples;
    const int32_t sequence = msr_->sequence_number;
    trial_.clear();
    int64_t packed = 0;
    msr_pack(msr_, &RecordBuilder::collect, this, &packed, 1, 0);
    msr_->datasamples = nullptr;
    msr_->numsamples = 0;
    size_t keep = flush_all || trial_.empty() ? trial_.size() : trial_.size() - 1;
    size_t done = 0;
    for (size_t i = 0; i < keep; ++i) done += static_cast<size_t>(emit(trial_[i]));
    // The fixed header's record number counts only the records sent (1 to 999999): the next
    // one follows the last kept record's.
    msr_->sequence_number = sequence;
    if (keep > 0) {
        int32_t last = 0;
        for (char c : trial_[keep - 1].substr(0, 6))
            last = last * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
        msr_->sequence_number = last >= 999999 ? 1 : last + 1;
    }
    done = std::min(done, pending_.size());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    packed_ += static_cast<int64_t>(done);
}

void RecordBuilder::collect(char* record, int length, void* self) {
    if (length != kRecordLength) return;
    static_cast<RecordBuilder*>(self)->trial_.emplace_back(record, static_cast<size_t>(length));
}

int RecordBuilder::emit(const std::string& record) {
    MSRecord* header = nullptr;
    std::string copy = record;
    if (msr_unpack(copy.data(), kRecordLength, &header, 0, 0) != MS_NOERROR || !header) {
        msr_free(&header);
        return 0;
    }
    MiniSeedRecord out;
    out.id = id_;
    out.start = header->starttime;
    out.samples = static_cast<int>(header->samplecnt);
    out.rate = rate_;
    out.end = out.start + (out.samples > 0 ? std::llround((out.samples - 1) * 1e6 / rate_) : 0);
    out.bytes = record;
    msr_free(&header);
    sink_.record(out);
    return out.samples;
}

}  // namespace velkantor::stream
