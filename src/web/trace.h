#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config/settings.h"

namespace velkantor::web {

// The last minutes of every channel for the page's live trace, decimated to a bounded size:
// each point is the lowest and highest sample of a short stretch, so a quake's peaks show
// however far the trace is thinned. Fed once per board second per channel with the
// datalog's conditioned values and time positions.
class TraceBuffer {
public:
    explicit TraceBuffer(double keep_seconds = 300, int points_per_second = 10);

    void second(int ch, int64_t first_sample_time_us, double rate,
                const std::vector<int32_t>& values);

    struct Point {
        int64_t time_ms;
        int32_t low;
        int32_t high;
    };

    // {"channel":N,"points":[[t_ms,min,max],...]} with the points after `since_ms` (0: all).
    std::string json(int ch, int64_t since_ms) const { return json_of(ch, after(ch, since_ms)); }
    // The points after `since_ms`: a copy, so a reader under the engine's lock only copies and
    // formats the answer after letting go.
    std::vector<Point> after(int ch, int64_t since_ms) const;
    static std::string json_of(int ch, const std::vector<Point>& points);

    const std::deque<Point>& points(int ch) const { return channels_[static_cast<size_t>(ch & 3)]; }

private:
    double keep_seconds_;
    int points_per_second_;
    size_t max_points_;
    std::array<std::deque<Point>, config::kChannels> channels_;
};

}  // namespace velkantor::web
