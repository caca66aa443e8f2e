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
    for (int ch = 0; ch < config::kChannels; ++ch) {
        auto c = static_cast<size_t>(ch);
        if (settings.channels[c].datalog_enabled == 0) continue;
        double rate = second.rates[c];
        std::string& buffer = buffers_[c];
        if (names_[c].empty()) {
            names_[c] = DatalogFileName(second.board_time, rate, second.lock, ch);
            if (auto made = fs_.write_file(path(ch), ""); !made) {
                report(ch, "Datalog " + names_[c] + " not created: " + made.error);
            }
        }
        double limit = text::round_half_even(rate * bytes_per_sample_);
        if (limit >= 0 && buffer.size() > limit) buffer.resize(static_cast<size_t>(limit));
        if (!buffer.empty()) {
            if (auto written = fs_.append(path(ch), buffer); !written) {
                report(ch, "Datalog " + names_[c] + ": one second lost: " + written.error);
            }
        }
        buffer.clear();
        if (boundary) {
            names_[c] = DatalogFileName(second.board_time, rate, second.lock, ch);
            if (auto made = fs_.write_file(path(ch), ""); !made) {
                report(ch, "Datalog " + names_[c] + " not created: " + made.error);
            }
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
