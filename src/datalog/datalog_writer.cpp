#include "datalog/datalog_writer.h"

#include <cmath>

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

void DatalogWriter::start(int16_t ad_type) {
    bytes_per_sample_ = (ad_type == config::kZeda18 || ad_type == config::kZeda20) ? 4 : 2;
    for (auto& b : buffers_) b.clear();
    for (auto& n : names_) n.clear();
    last_flush_.fill(0);
    last_written_.fill(true);
    new_file_.fill(false);
}

void DatalogWriter::AppendDatalogSample(int ch, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    auto& buffer = buffers_[static_cast<size_t>(ch)];
    for (int i = 0; i < bytes_per_sample_; ++i) buffer += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void DatalogWriter::DatalogFlush(const Second& second, const config::Settings& settings,
                                 const std::function<void(int, const std::string&)>& report) {
    int period = RotationMinutes(settings.general.flush_period) * 60;
    auto s = static_cast<int64_t>(text::seconds_since_midnight(second.board_time));
    bool boundary = s % period == 0;
    double now = text::to_epoch_seconds(second.board_time);
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        if (settings.channels[c].datalog_enabled == 0) continue;
        double rate = second.rates[c];
        std::string& buffer = buffers_[c];
        auto create = [&](const text::DateTime& named) {
            names_[c] = DatalogFileName(named, rate, second.lock, ch);
            file_start_[c] = text::to_epoch_seconds(named);
            if (auto made = fs_.write_file(path(ch), ""); !made) {
                report(ch, "Datalog " + names_[c] + " not created: " + made.error);
            }
        };
        double limit = text::round_half_even(rate * bytes_per_sample_);
        if (names_[c].empty()) {
            create(second.board_time);
        } else if (!buffer.empty() &&
                   ((now != last_flush_[c] + 1 && now - last_flush_[c] <= 86400 &&
                     now - 1 > file_start_[c]) ||
                    !last_written_[c] || new_file_[c])) {
            // A file places its samples by count from its start: after seconds that never
            // came (a silent or restarted board, a clock step forward) or one that could not
            // be written, this second's samples would land at another second's place. They
            // begin a file of their own, named with their second. The first second after a
            // gap is usually cut (the board started within it): its samples cannot be placed
            // and the file begins with the next whole second. A time that steps back before
            // the file's start is not followed: that file would hide what was recorded then.
            bool cut = limit > 0 && static_cast<double>(buffer.size()) < limit && !new_file_[c];
            if (cut) {
                buffer.clear();
                new_file_[c] = true;
            } else {
                create(text::from_epoch_seconds(now - 1));
                new_file_[c] = false;
            }
        }
        if (limit >= 0 && buffer.size() > limit) buffer.resize(static_cast<size_t>(limit));
        bool written_ok = true;
        if (!buffer.empty()) {
            if (auto written = fs_.append(path(ch), buffer); !written) {
                report(ch, "Datalog " + names_[c] + ": one second lost: " + written.error);
                written_ok = false;
            }
        }
        buffer.clear();
        // A time far ahead (a garbled frame) is not taken as the station's time.
        if (last_flush_[c] == 0 || now - last_flush_[c] <= 86400) last_flush_[c] = now;
        last_written_[c] = written_ok;
        if (boundary) {
            create(second.board_time);
            new_file_[c] = false;
            // The boundary's own file begins empty: the next second continues it.
            last_written_[c] = true;
        }
    }
}

void DatalogWriter::stop(const config::Settings& settings,
                         const std::function<void(int, const std::string&)>& report) {
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        if (settings.channels[c].datalog_enabled == 0 || names_[c].empty() || buffers_[c].empty()) {
            buffers_[c].clear();
            continue;
        }
        if (auto written = fs_.append(path(ch), buffers_[c]); !written) {
            report(ch, "Datalog " + names_[c] + ": last second lost: " + written.error);
        }
        buffers_[c].clear();
    }
}

}  // namespace velkantor::datalog
