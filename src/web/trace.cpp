#include "web/trace.h"

#include <algorithm>
#include <cmath>

namespace velkantor::web {

TraceBuffer::TraceBuffer(double keep_seconds, int points_per_second)
    : keep_seconds_(keep_seconds),
      points_per_second_(std::max(points_per_second, 1)),
      // Twice the nominal count: a second cut short by a gap adds a partial point.
      max_points_(static_cast<size_t>(keep_seconds * points_per_second_ * 2) + 16) {}

void TraceBuffer::second(int ch, int64_t first_sample_time_us, double rate,
                         const std::vector<int32_t>& values) {
    if (ch < 0 || ch >= config::kChannels || values.empty() || !(rate > 0)) return;
    auto& points = channels_[static_cast<size_t>(ch)];
    size_t step = static_cast<size_t>(std::max(1.0, std::floor(rate / points_per_second_)));
    for (size_t i = 0; i < values.size(); i += step) {
        size_t end = std::min(values.size(), i + step);
        auto [low, high] = std::minmax_element(values.begin() + static_cast<std::ptrdiff_t>(i),
                                               values.begin() + static_cast<std::ptrdiff_t>(end));
        int64_t t_us = first_sample_time_us + static_cast<int64_t>(std::llround(i * 1e6 / rate));
        int64_t t_ms = t_us / 1000;
        // A board that goes back in time (a clock set) starts the trace again.
        if (!points.empty() && t_ms <= points.back().time_ms) points.clear();
        points.push_back({t_ms, *low, *high});
    }
    int64_t oldest = points.back().time_ms - static_cast<int64_t>(keep_seconds_ * 1000);
    while (!points.empty() && (points.front().time_ms < oldest || points.size() > max_points_)) {
        points.pop_front();
    }
}

std::vector<TraceBuffer::Point> TraceBuffer::after(int ch, int64_t since_ms) const {
    const auto& all = points(ch);
    // Times only grow along the buffer (a clock set back starts it again).
    auto first = std::upper_bound(all.begin(), all.end(), since_ms,
                                  [](int64_t t, const Point& p) { return t < p.time_ms; });
    return {first, all.end()};
}

std::string TraceBuffer::json_of(int ch, const std::vector<Point>& points) {
    std::string out = "{\"channel\":" + std::to_string((ch & 3) + 1) + ",\"points\":[";
    out.reserve(out.size() + points.size() * 24 + 2);
    bool first = true;
    for (const auto& p : points) {
        if (!first) out += ',';
        first = false;
        out += '[' + std::to_string(p.time_ms) + ',' + std::to_string(p.low) + ',' +
               std::to_string(p.high) + ']';
    }
    out += "]}";
    return out;
}

}  // namespace velkantor::web
