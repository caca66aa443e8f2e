#pragma once

#include <functional>
#include <string>

#include "datalog/datalog_reader.h"
#include "platform/canvas.h"

namespace velkantor::datalog {

// How a review page is laid out, from the settings: rows clamped to 2..8, zero scales
// taken as 1.
struct ReviewLayout {
    int rows = 6;
    double step = 1;         // horizontal advance per sample, in pixels (chart speed / 50)
    double amplitude = 0.1;  // pixels per count (Y scale / 100)

    static ReviewLayout from_settings(int review_rows, double review_chart_speed,
                                      double review_y_scale);
};

struct ReviewPage {
    double begin_epoch = 0;
    double end_epoch = 0;  // begin + rows x samples per row / rate
    double rate = 0;
    std::string title;  // of the message, when the page could not be drawn
    std::string message;
    double samples = 0;  // samples drawn from the datalog (not the zeros where none is)
    bool drawn() const { return message.empty(); }
};

// Draws one channel's datalog from `begin_epoch` on: one row after another, samples from a
// locked file in light yellow, from an unlocked one in red, zeros in green past a file's
// end and in light grey where no file covers the time. `stop` is asked before each sample
// (the window yields to its buttons there).
ReviewPage DrawReviewPage(platform::Canvas& canvas, const DatalogReader& reader, int ch,
                          double begin_epoch, const ReviewLayout& layout,
                          const std::function<bool()>& stop = nullptr);

// The time under a point of the page (the cursor).
double ReviewCursorTime(const ReviewPage& page, const ReviewLayout& layout, int width, int height,
                        double x, double y);
// Where the previous page begins: as long before the current one as the current one lasts.
inline double PreviousPageBegin(const ReviewPage& page) {
    return page.begin_epoch - (page.end_epoch - page.begin_epoch);
}

}  // namespace velkantor::datalog
