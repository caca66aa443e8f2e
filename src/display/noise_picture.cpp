#include "display/noise_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "display/noise_models.h"

namespace velkantor::display {

namespace {

using platform::Color;

// The plot's frame in pixels, and what it spans: periods 0.01 .. 1000 s.
constexpr int kLeft = 70;
constexpr int kTop = 44;
constexpr int kRight = 700;
constexpr int kBottom = 500;
constexpr double kLogPeriodMin = -2;
constexpr double kLogPeriodMax = 3;
constexpr int kGlyph = 7;  // the canvas font's advance
// Probabilities at or above this share of the hours take the last colour.
constexpr double kTopProbability = 0.3;

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kGrid{200, 200, 200};
constexpr Color kModel{90, 90, 90};

// From rare to frequent: pale blue, blue, green, yellow, red, in steps of one per cent, so
// that the picture keeps to a GIF's 256 colours and none of them is approximated.
Color probability_colour(double share) {
    static constexpr std::array<Color, 5> kStops = {
        {{200, 220, 255}, {40, 90, 230}, {40, 190, 70}, {250, 220, 30}, {220, 30, 30}}};
    constexpr double kSteps = kTopProbability * 100;
    double stepped = std::round(std::clamp(share / kTopProbability, 0.0, 1.0) * kSteps) / kSteps;
    double x = stepped * (kStops.size() - 1);
    auto i = std::min(static_cast<size_t>(x), kStops.size() - 2);
    double t = x - static_cast<double>(i);
    auto mix = [t](uint8_t a, uint8_t b) {
        return static_cast<uint8_t>(std::lround(a + (b - a) * t));
    };
    const Color& a = kStops[i];
    const Color& b = kStops[i + 1];
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

double x_of(double log_period) {
    return kLeft +
           (log_period - kLogPeriodMin) / (kLogPeriodMax - kLogPeriodMin) * (kRight - kLeft);
}

struct LevelScale {
    int low;
    int high;
    double y(double db) const { return kBottom - (db - low) / (high - low) * (kBottom - kTop); }
};

double log_band_edge(int band, double side) {
    return (band + side) / 8.0 * std::log10(2.0);
}

void thick_line(platform::Canvas& canvas, double x1, double y1, double x2, double y2, Color c) {
    canvas.line(x1, y1, x2, y2, c);
    canvas.line(x1, y1 + 1, x2, y2 + 1, c);
}

void centred_text(platform::Canvas& canvas, int x, int y, const std::string& text, Color c) {
    canvas.text(x - static_cast<int>(text.size()) * kGlyph / 2, y, text, c);
}

// Clips the segment to the plot's periods, so that a model drawn from 100000 s stops at the
// frame.
void model_line(platform::Canvas& canvas, const std::vector<NoisePoint>& points,
                const LevelScale& scale) {
    for (size_t i = 1; i < points.size(); ++i) {
        double p1 = -points[i - 1].log10_frequency, p2 = -points[i].log10_frequency;
        double l1 = points[i - 1].level_db, l2 = points[i].level_db;
        double lo = std::max(std::min(p1, p2), kLogPeriodMin);
        double hi = std::min(std::max(p1, p2), kLogPeriodMax);
        if (lo >= hi || p1 == p2) continue;
        auto at = [&](double p) { return l1 + (l2 - l1) * (p - p1) / (p2 - p1); };
        double a = std::clamp(at(lo), double(scale.low), double(scale.high));
        double b = std::clamp(at(hi), double(scale.low), double(scale.high));
        thick_line(canvas, x_of(lo), scale.y(a), x_of(hi), scale.y(b), kModel);
    }
}

}  // namespace

int NoiseHistogram::mode(int band) const {
    int best = -1, most = 0;
    for (int step = 0; step < steps; ++step) {
        if (count(band, step) > most) {
            most = count(band, step);
            best = step;
        }
    }
    return best;
}

NoiseHistogram MakeNoiseHistogram(std::span<const PsdHour> hours, int low_db, int high_db) {
    NoiseHistogram h;
    h.low_db = low_db;
    h.steps = std::max(1, high_db - low_db);
    int first = std::numeric_limits<int>::max(), last = std::numeric_limits<int>::min();
    for (const auto& hour : hours) {
        if (hour.curve.empty()) continue;
        first = std::min(first, hour.curve.first_band);
        last = std::max(last, hour.curve.last_band());
    }
    if (first > last) return h;
    h.first_band = first;
    h.bands = last - first + 1;
    h.counts.assign(static_cast<size_t>(h.bands * h.steps), 0);
    h.hours.assign(static_cast<size_t>(h.bands), 0);
    for (const auto& hour : hours) {
        for (int band = hour.curve.first_band; band <= hour.curve.last_band(); ++band) {
            double level = *hour.curve.level(band);
            int step = std::clamp(static_cast<int>(std::floor(level)) - low_db, 0, h.steps - 1);
            ++h.counts[static_cast<size_t>((band - first) * h.steps + step)];
            ++h.hours[static_cast<size_t>(band - first)];
        }
    }
    return h;
}

std::pair<int, int> NoiseLevelRange(std::span<const PsdHour> hours, bool calibrated) {
    if (calibrated) return {-200, -50};
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    for (const auto& hour : hours) {
        for (double level : hour.curve.level_db) {
            if (level < -300) continue;
            low = std::min(low, level);
            high = std::max(high, level);
        }
    }
    if (low > high) return {-50, 100};
    int bottom = static_cast<int>(std::floor(low / 10)) * 10 - 10;
    int top = static_cast<int>(std::ceil(high / 10)) * 10 + 10;
    if (top - bottom < 60) top = bottom + 60;
    return {bottom, top};
}

void DrawNoisePicture(platform::Canvas& canvas, std::span<const PsdHour> hours, bool calibrated,
                      const std::string& title) {
    canvas.set_scale(0, 0, kNoisePictureWidth, kNoisePictureHeight);
    canvas.clear(kWhite);
    auto [low, high] = NoiseLevelRange(hours, calibrated);
    const LevelScale scale{low, high};
    NoiseHistogram histogram = MakeNoiseHistogram(hours, low, high);

    // The probabilities, one box per band and 1 dB step.
    for (int band = histogram.first_band; band < histogram.first_band + histogram.bands; ++band) {
        int total = histogram.hours[static_cast<size_t>(band - histogram.first_band)];
        if (total == 0) continue;
        double x1 = std::max<double>(x_of(log_band_edge(band, -0.5)), kLeft);
        double x2 = std::min<double>(x_of(log_band_edge(band, 0.5)), kRight);
        if (x1 >= x2) continue;
        for (int step = 0; step < histogram.steps; ++step) {
            int n = histogram.count(band, step);
            if (n == 0) continue;
            canvas.box(x1, scale.y(low + step + 1), x2, scale.y(low + step),
                       probability_colour(static_cast<double>(n) / total));
        }
    }

    // The grid: decades of period, every 10 dB.
    for (int decade = static_cast<int>(kLogPeriodMin); decade <= kLogPeriodMax; ++decade) {
        double x = x_of(decade);
        canvas.line(x, kTop, x, kBottom, kGrid, platform::LineStyle::dotted);
        std::string label = decade < 0 ? (decade == -2 ? "0.01" : "0.1")
                                       : std::to_string(static_cast<int>(std::pow(10, decade)));
        centred_text(canvas, static_cast<int>(x), kBottom + 6, label, kBlack);
    }
    for (int db = (low / 10) * 10; db <= high; db += 10) {
        if (db < low) continue;
        double y = scale.y(db);
        canvas.line(kLeft, y, kRight, y, kGrid, platform::LineStyle::dotted);
        if (db % 20 == 0) {
            std::string label = std::to_string(db);
            canvas.text(kLeft - 6 - static_cast<int>(label.size()) * kGlyph,
                        static_cast<int>(y) - 7, label, kBlack);
        }
    }

    if (calibrated) {
        model_line(canvas, LowNoiseModelPoints(), scale);
        model_line(canvas, HighNoiseModelPoints(), scale);
    }

    // The most frequent level of each band.
    bool have_previous = false;
    double px = 0, py = 0;
    for (int band = histogram.first_band; band < histogram.first_band + histogram.bands; ++band) {
        int step = histogram.mode(band);
        double x = x_of(log_band_edge(band, 0));
        if (step < 0 || x < kLeft || x > kRight) {
            have_previous = false;
            continue;
        }
        double y = scale.y(low + step + 0.5);
        if (have_previous) thick_line(canvas, px, py, x, y, kBlack);
        px = x;
        py = y;
        have_previous = true;
    }

    canvas.line(kLeft, kTop, kRight, kTop, kBlack);
    canvas.line(kRight, kTop, kRight, kBottom, kBlack);
    canvas.line(kRight, kBottom, kLeft, kBottom, kBlack);
    canvas.line(kLeft, kBottom, kLeft, kTop, kBlack);

    // The colour scale.
    constexpr int kScaleLeft = 722, kScaleRight = 740;
    for (int y = kTop; y < kBottom; ++y) {
        double share = kTopProbability * (kBottom - y) / (kBottom - kTop);
        canvas.box(kScaleLeft, y, kScaleRight, y + 1, probability_colour(share));
    }
    canvas.text(kScaleRight + 4, kTop - 7, ">=30%", kBlack);
    canvas.text(kScaleRight + 4, kBottom - 7, "0%", kBlack);
    canvas.text(kScaleRight + 4, (kTop + kBottom) / 2 - 7, "of", kBlack);
    canvas.text(kScaleRight + 4, (kTop + kBottom) / 2 + 7, "hours", kBlack);

    canvas.text(kLeft, 8, title, kBlack);
    std::string what = calibrated ? "PSD, dB rel. 1 (m/s^2)^2/Hz" : "PSD, dB rel. 1 count^2/Hz";
    what += "   " + std::to_string(hours.size()) + (hours.size() == 1 ? " hour" : " hours");
    if (calibrated) what += "   grey: low and high noise models";
    what += "   black: most frequent";
    canvas.text(kLeft, 26, what, kBlack);
    centred_text(canvas, (kLeft + kRight) / 2, kBottom + 26, "Period (s)", kBlack);
    if (!calibrated) {
        centred_text(canvas, (kLeft + kRight) / 2, kBottom + 42,
                     "No calibration in the channel's settings: levels are in counts", kBlack);
    }
}

}  // namespace velkantor::display
