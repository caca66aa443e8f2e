#include "platform/fake/fake_devices.h"

#include <utility>

#include "text/number_text.h"

namespace velkantor::platform {

ParallelResult FakeParallelPort::read_data(int lpt) {
    if (missing || lpt < 1 || lpt > 3) {
        ++failed_operations;
        return {0, "/dev/parport" + std::to_string(lpt - 1) + ": No such device"};
    }
    return {reg(lpt), {}};
}

ParallelResult FakeParallelPort::write_data(int lpt, uint8_t value) {
    if (missing || lpt < 1 || lpt > 3) {
        ++failed_operations;
        return {0, "/dev/parport" + std::to_string(lpt - 1) + ": No such device"};
    }
    reg(lpt) = value;
    writes.push_back({lpt, value, clock_ ? text::to_epoch_seconds(clock_->now()) : 0.0});
    return {value, {}};
}

namespace {

// Replaces the tokens of a pattern, longest first at each position.
std::string expand(const std::string& pattern,
                   const std::vector<std::pair<std::string, std::string>>& tokens) {
    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        bool matched = false;
        for (const auto& [token, value] : tokens) {
            if (pattern.compare(i, token.size(), token) == 0) {
                out += value;
                i += token.size();
                matched = true;
                break;
            }
        }
        if (!matched) out += pattern[i++];
    }
    return out;
}

}  // namespace

std::string PatternDateFormats::short_date(const text::DateTime& t) const {
    return expand(date_, {{"YYYY", text::zero_padded(t.year, 4)},
                          {"YY", text::zero_padded(t.year % 100, 2)},
                          {"MM", text::zero_padded(t.month, 2)},
                          {"M", std::to_string(t.month)},
                          {"DD", text::zero_padded(t.day, 2)},
                          {"D", std::to_string(t.day)}});
}

std::string PatternDateFormats::short_time(const text::DateTime& t) const {
    return expand(time_, {{"HH", text::zero_padded(t.hour, 2)},
                          {"H", std::to_string(t.hour)},
                          {"MM", text::zero_padded(t.minute, 2)},
                          {"SS", text::zero_padded(t.second, 2)}});
}

}  // namespace velkantor::platform
