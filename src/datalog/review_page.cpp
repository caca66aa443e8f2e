#include "datalog/review_page.h"

#include <algorithm>
#include <cmath>

namespace velkantor::datalog {

namespace {

platform::Color colour_of(SampleSource source) {
    switch (source) {
        case SampleSource::locked:
            return platform::kChartColors[14];
        case SampleSource::unlocked:
            return platform::kChartColors[4];
        case SampleSource::past_end:
            return platform::kChartColors[2];
        case SampleSource::missing:
            return platform::kChartColors[7];
    }
    return platform::kChartColors[7];
}

}  // namespace

ReviewLayout ReviewLayout::from_settings(int review_rows, double review_chart_speed,
                                         double review_y_scale) {
    ReviewLayout layout;
    layout.rows = std::clamp(review_rows, 2, 8);
    layout.step = (review_chart_speed == 0 ? 1 : review_chart_speed) / 50;
    layout.amplitude = (review_y_scale == 0 ? 1 : review_y_scale) / 100;
    if (!(layout.step > 0) || !std::isfinite(layout.step)) layout.step = 1;
    return layout;
}

ReviewPage DrawReviewPage(platform::Canvas& canvas, const DatalogReader& reader, int ch,
                          double begin_epoch, const ReviewLayout& layout,
                          const std::function<bool()>& stop) {
    ReviewPage page;
    page.begin_epoch = begin_epoch;
    auto files = reader.files(ch);
    if (files.empty()) {
        page.title = "Warning!";
        page.message = "No datalog file present.";
        return page;
    }
    double width = canvas.width();
    double row_height = static_cast<double>(canvas.height()) / layout.rows;
    auto per_row = static_cast<size_t>(std::max(1.0, std::floor(width / layout.step)));

    // The page's rate: that of the file that covers, or next follows, the begin.
    double rate = 0;
    for (const auto& f : files) {
        rate = f.rate;
        if (f.start_epoch + static_cast<double>(f.samples) / f.rate > begin_epoch) break;
    }
    page.rate = rate;
    page.end_epoch = begin_epoch + static_cast<double>(layout.rows * per_row) / rate;

    canvas.set_scale(0, 0, width, canvas.height());
    canvas.clear(platform::kChartColors[0]);
    for (int row = 0; row < layout.rows; ++row) {
        double t = begin_epoch + static_cast<double>(row * per_row) / rate;
        // From the page's one listing: a row is not worth listing the folder again.
        auto run = reader.read(files, t, per_row, rate);
        if (run.rate_mismatch) {
            page.title = "Warning!";
            page.message = "Sampling rate mismatch. Mixed data review not possible.";
            return page;
        }
        double centre = row_height * (row + 0.5);
        double x = 0;
        double y = centre;
        for (size_t k = 0; k < run.values.size(); ++k) {
            // "Stop draw" takes effect at the next sample.
            if (stop && stop()) return page;
            double next_y = centre - run.values[k] * layout.amplitude;
            double next_x = k == 0 ? 0 : x + layout.step;
            canvas.line(x, y, next_x, next_y, colour_of(run.sources[k]));
            if (run.sources[k] == SampleSource::locked ||
                run.sources[k] == SampleSource::unlocked) {
                page.samples += 1;
            }
            x = next_x;
            y = next_y;
        }
    }
    return page;
}

double ReviewCursorTime(const ReviewPage& page, const ReviewLayout& layout, int width, int height,
                        double x, double y) {
    double row_height = static_cast<double>(height) / layout.rows;
    int row = std::clamp(static_cast<int>(y / row_height), 0, layout.rows - 1);
    double per_row = std::max(1.0, std::floor(width / layout.step));
    if (page.rate <= 0) return page.begin_epoch;
    return page.begin_epoch +
           (row * per_row + std::floor(std::max(0.0, x) / layout.step)) / page.rate;
}

}  // namespace velkantor::datalog
