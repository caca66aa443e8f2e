#include "datalog/datalog_writer.h"

#include <algorithm>
#include <cmath>

#include "datalog/datalog_reader.h"
#include "text/number_text.h"

namespace velkantor::datalog {

std::string RateField(double rate) {
    std::string text = text::shortest_real(rate);
    if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
    return text.substr(text.size() - 4);
}

std::string DatalogFileName(const text::DateTime& board_time, double rate, char lock, int ch) {
    return text::format_file_stamp(board_time) + "_" + RateField(rate) + lock + ".LG" +
           static_cast<char>('0' + (ch & 3));
}

int RotationMinutes(int flush_period) {
    static const int kMinutes[] = {5, 10, 15, 20, 30, 60};
    if (flush_period < 0 || flush_period > 5) return 15;
    return kMinutes[flush_period];
}

namespace {

bool on_boundary(double second, int period) {
    auto of_day =
        static_cast<int64_t>(text::seconds_since_midnight(text::from_epoch_seconds(second)));
    return of_day % period == 0;
}

}  // namespace

int DatalogSampleBytes(int16_t ad_type) {
    return ad_type == config::kZeda18 || ad_type == config::kZeda20 ? 4 : 2;
}

void DatalogWriter::start(int16_t ad_type) {
    bytes_per_sample_ = DatalogSampleBytes(ad_type);
    for (auto& b : buffers_) b.clear();
    for (auto& n : names_) n.clear();
    file_start_.fill(0);
    next_second_.fill(0);
    frame_ = 0;
    frame_before_ = 0;
    rates_.fill(0);
    cut_.fill(false);
    filled_.fill(0);
    over_rate_.fill(0);
    stream_next_.fill(0);
    frame_offset_ = 0;
    stream_offset_.fill(0);
}

std::vector<int32_t> DatalogWriter::values_of(const std::string& buffer) const {
    std::vector<int32_t> values;
    const auto size = static_cast<size_t>(bytes_per_sample_);
    values.reserve(buffer.size() / size);
    for (size_t at = 0; at + size <= buffer.size(); at += size) {
        uint32_t bits = 0;
        for (size_t i = 0; i < size; ++i) {
            bits |= static_cast<uint32_t>(static_cast<uint8_t>(buffer[at + i])) << (8 * i);
        }
        // Two-byte samples are the 16-bit values a reader of the file sees.
        if (size == 2)
            bits = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(bits & 0xFFFF)));
        values.push_back(static_cast<int32_t>(bits));
    }
    return values;
}

void DatalogWriter::AppendDatalogSample(int ch, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    auto& buffer = buffers_[static_cast<size_t>(ch)];
    for (int i = 0; i < bytes_per_sample_; ++i)
        buffer += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

size_t DatalogWriter::second_bytes(double rate) const {
    // Whole samples: a rate below one (or between two whole numbers) still lets a second
    // carry the sample that falls in it, never a part of one.
    if (!(rate > 0)) return 0;
    return static_cast<size_t>(std::ceil(rate - 1e-9)) * static_cast<size_t>(bytes_per_sample_);
}

std::string DatalogWriter::free_name(const std::string& name) const {
    // The clock went back over files already written (summer time ending): the seconds it
    // gives again begin files of their own beside them, never in them.
    std::string candidate = name;
    for (int pass = 2; fs_.file_size(platform::join_path(folder_, candidate)).value_or(0) > 0;
         ++pass) {
        candidate = name + "." + std::to_string(pass);
    }
    return candidate;
}

bool DatalogWriter::begin_file(int ch, double start, double rate, char lock,
                               const std::function<void(int, const std::string&)>& report) {
    auto c = static_cast<size_t>(ch);
    std::string name = free_name(DatalogFileName(text::from_epoch_seconds(start), rate, lock, ch));
    std::string full = platform::join_path(folder_, name);
    names_[c] = name;
    file_start_[c] = start;
    if (auto made = fs_.write_file(full, ""); !made) {
        report(ch, "Datalog " + name + " not created: " + made.error);
        return false;
    }
    return true;
}

void DatalogWriter::DatalogFlush(const Second& second, const config::Settings& settings,
                                 const std::function<void(int, const std::string&)>& report) {
    const int period = RotationMinutes(settings.general.flush_period) * 60;
    const double now = text::to_epoch_seconds(second.board_time);
    // The buffers hold the second the previous frame began. Its time is trusted when it is in
    // step with the frame before it or with this one. A lone frame out of step between two in
    // step is a time garbled on the line that passed the checks: the second it began is the
    // one after the frame before it. A frame in step with neither (a garbled time next to a
    // restart or a correction) gives its second no place: those samples are dropped.
    double held = frame_;
    bool placed = frame_ > 0 && (frame_ == frame_before_ + 1 || now == frame_ + 1);
    if (!placed && frame_before_ > 0 && now == frame_before_ + 2) {
        held = frame_before_ + 1;
        placed = true;
    }
    frame_before_ = held;
    frame_ = now;
    const int held_offset = frame_offset_;
    frame_offset_ = second.utc_offset;
    rates_ = second.rates;
    lock_ = second.lock;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        const bool logged = settings.channels[c].datalog_enabled != 0;
        if (!logged && !sink_) continue;
        const double rate = second.rates[c];
        std::string& buffer = buffers_[c];
        const size_t whole = second_bytes(rate);
        const auto sample_bytes = static_cast<size_t>(bytes_per_sample_);
        const bool exact = second.exact_seconds && rate >= 1 && rate == std::floor(rate);
        if (cut_[c] && !buffer.empty()) {
            // The end of a second whose beginning was lost: its samples have no known place.
            if (!(exact && buffer.size() == whole)) buffer.clear();
            cut_[c] = false;
            next_second_[c] = 0;
            stream_next_[c] = 0;
        }
        // Before the run's first frame the samples are the tail of a second not known.
        if (!placed) {
            if (!buffer.empty()) next_second_[c] = 0;
            stream_next_[c] = 0;
            buffer.clear();
        }
        // More samples than a second can hold: the rest have no place and are dropped, so
        // the stream cannot go on from this second's last sample into the next.
        const bool cut_to_size = !buffer.empty() && buffer.size() > whole;
        if (cut_to_size) {
            over_rate_[c] += static_cast<long>((buffer.size() - whole) / sample_bytes);
            buffer.resize(whole);
        }
        if (!buffer.empty() && sink_ && rate > 0) {
            // A second short of samples on a board that paces them exactly is filled in the
            // file (to keep later seconds at their places) but not in the stream: its record
            // ends with the last real sample and the next second begins a new one.
            const double utc = held - held_offset;
            sink_->samples(ch, utc, rate, second.lock, values_of(buffer),
                           stream_next_[c] == utc && stream_offset_[c] == held_offset);
            stream_next_[c] = (exact && buffer.size() < whole) || cut_to_size ? 0 : utc + 1;
            stream_offset_[c] = held_offset;
        }
        if (!logged) {
            buffer.clear();
            continue;
        }
        if (!buffer.empty()) {
            size_t real_samples = 0;
            size_t filled_samples = 0;
            if (exact && buffer.size() < whole) {
                // Samples lost on the line: the second is filled up with its last sample, so
                // that every later second of the file stays at its place.
                std::string last = buffer.substr(buffer.size() - sample_bytes);
                real_samples = buffer.size() / sample_bytes;
                filled_samples = (whole - buffer.size()) / sample_bytes;
                filled_[c] += static_cast<long>(filled_samples);
                while (buffer.size() < whole) buffer += last;
            }
            // A second continues its channel's file when it is the one the file expects;
            // after seconds that never came (a silent or restarted board, a clock step) or
            // one that could not be written it begins a file of its own, named with it.
            bool ok = true;
            if (names_[c].empty() || next_second_[c] != held ||
                (on_boundary(held, period) && file_start_[c] != held)) {
                ok = begin_file(ch, held, rate, second.lock, report);
            }
            if (ok) {
                const uint64_t held_before =
                    filled_samples > 0 ? fs_.file_size(path(ch)).value_or(0) / sample_bytes : 0;
                // A full disk may take part of the second: whole samples stay.
                if (auto written = platform::append_records(fs_, path(ch), buffer, sample_bytes);
                    !written) {
                    report(ch,
                           "Datalog " + names_[c] + ": one second lost: " + written.result.error);
                    ok = false;
                } else if (filled_samples > 0) {
                    // Readers that must not take invented samples for data (the miniSEED
                    // export) find them here; the datalog file itself keeps its exact form.
                    const std::string line = std::to_string(held_before + real_samples) + " " +
                                             std::to_string(filled_samples) + "\r\n";
                    if (auto noted = fs_.append(path(ch) + std::string(kFilledSuffix), line);
                        !noted) {
                        report(ch, "Datalog " + names_[c] +
                                       ": filled samples not noted: " + noted.error);
                    }
                }
            }
            next_second_[c] = ok ? held + 1 : 0;
        }
        buffer.clear();
        // The file of a period (and the run's first) is there from its first frame on, as
        // long as that frame is in step with the one before.
        if ((held == 0 && names_[c].empty()) ||
            (placed && now == held + 1 && on_boundary(now, period) && file_start_[c] != now)) {
            if (begin_file(ch, now, rate, second.lock, report)) next_second_[c] = now;
        }
    }
}

void DatalogWriter::write_partial(const config::Settings& settings,
                                  const std::function<void(int, const std::string&)>& report,
                                  const char* what) {
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        std::string& buffer = buffers_[c];
        // The part of a second has a place only when its frame was in step with the one
        // before it (a garbled time must not name a file).
        bool placed = frame_ > 0 && frame_ == frame_before_ + 1;
        const bool logged = settings.channels[c].datalog_enabled != 0;
        if ((logged || sink_) && !buffer.empty() && placed && !cut_[c]) {
            const double rate = rates_[c];
            const size_t whole = second_bytes(rate);
            if (buffer.size() > whole) {
                over_rate_[c] += static_cast<long>((buffer.size() - whole) /
                                                   static_cast<size_t>(bytes_per_sample_));
                buffer.resize(whole);
            }
            if (sink_ && rate > 0 && !buffer.empty()) {
                const double utc = frame_ - frame_offset_;
                sink_->samples(ch, utc, rate, lock_, values_of(buffer),
                               stream_next_[c] == utc && stream_offset_[c] == frame_offset_);
            }
        }
        if (logged && !buffer.empty() && placed && !cut_[c]) {
            const double rate = rates_[c];
            bool ok = true;
            if (names_[c].empty() || next_second_[c] != frame_) {
                ok = begin_file(ch, frame_, rate, lock_, report);
            }
            if (ok) {
                if (auto written = platform::append_records(fs_, path(ch), buffer,
                                                            static_cast<size_t>(bytes_per_sample_));
                    !written) {
                    report(ch, "Datalog " + names_[c] + ": " + what + ": " + written.result.error);
                }
            }
        }
        buffer.clear();
        // A part of a second ends the file: the next second begins another.
        next_second_[c] = 0;
        stream_next_[c] = 0;
    }
    if (sink_) sink_->cut();
}

void DatalogWriter::stop(const config::Settings& settings,
                         const std::function<void(int, const std::string&)>& report) {
    write_partial(settings, report, "last second lost");
}

void DatalogWriter::samples_interrupted(
    const config::Settings& settings, const std::function<void(int, const std::string&)>& report) {
    write_partial(settings, report, "samples lost");
    cut_.fill(true);
}

}  // namespace velkantor::datalog
