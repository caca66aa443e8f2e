#include "display/scope_charts.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "platform/fake/recording_canvas.h"

namespace velkantor::display {
namespace {

using platform::Color;
using platform::kChartColors;
using platform::LineStyle;
using Op = platform::RecordingCanvas::Op;

constexpr Color kBg = ScopeCharts::kBackground;
constexpr Color kFg = ScopeCharts::kZeroLine;
constexpr Color kTrace = ScopeCharts::kTrace;
constexpr Color kBlue = kChartColors[1];
constexpr Color kLightGreen = kChartColors[10];
constexpr Color kRed = kChartColors[4];
constexpr double kTop = 32780;  // 16-bit boards
constexpr double kBottom = -32780;

// One drawing call, comparable as a whole.
struct Drawn {
    Op::Kind kind;
    double x1, y1, x2, y2;
    Color color;
    LineStyle style = LineStyle::solid;
    bool operator==(const Drawn&) const = default;
};

void PrintTo(const Drawn& d, std::ostream* os) {
    static const char* const kinds[] = {"clear", "line", "box", "point", "label"};
    *os << kinds[d.kind] << " (" << d.x1 << "," << d.y1 << ")-(" << d.x2 << "," << d.y2 << ") rgb("
        << int(d.color.r) << "," << int(d.color.g) << "," << int(d.color.b) << ")"
        << (d.style == LineStyle::dotted ? " dotted" : "");
}

Drawn box(double x1, double x2) {
    return {Op::box, x1, kBottom, x2, kTop, kBg};
}
Drawn line(double x1, double y1, double x2, double y2, Color c, LineStyle s = LineStyle::solid) {
    return {Op::line, x1, y1, x2, y2, c, s};
}

class ScopeChartsTest : public ::testing::Test {
protected:
    ScopeChartsTest() {
        charts.set_limits(config::kZeda10);
        charts.set_canvases({&chp[0], &chp[1], &chp[2], &chp[3]}, &zoom);
        charts.ResetCharts();
        forget_drawing();
    }

    void forget_drawing() {
        for (auto& c : chp) c.ops.clear();
        zoom.ops.clear();
    }
    static std::vector<Drawn> drawn(const platform::RecordingCanvas& canvas) {
        std::vector<Drawn> d;
        for (const Op& op : canvas.ops) {
            d.push_back({op.kind, op.x1, op.y1, op.x2, op.y2, op.color, op.style});
        }
        return d;
    }
    // A pen still at 0 moves to x in one step (a slow rate steps by the chart speed).
    void move_pen(int ch, int16_t x) {
        config::GeneralSettings g = settings.general;
        g.chart_speed = x;
        charts.AdvancePen(ch, 1, g);
    }
    void draw(int ch) { charts.DrawChartSample(ch, values, settings.general, triggers); }

    std::array<platform::RecordingCanvas, 4> chp{{{100, 50}, {100, 50}, {100, 50}, {100, 50}}};
    platform::RecordingCanvas zoom{200, 100};
    ScopeCharts charts;
    config::Settings settings;
    std::array<int32_t, 4> values{};
    std::array<TriggerTrace, 4> triggers{};
};

TEST_F(ScopeChartsTest, PenStepDependsOnRateOnlyFromThreeSamplesPerSecond) {
    struct Case {
        double rate;
        int16_t speed;
        double step;
    };
    const Case cases[] = {
        {0.1, 20, 20}, {2.99, 20, 20}, {3, 30, 20}, {100, 20, 0.4}, {50, 20, 0.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        charts.ResetCharts();
        settings.general.chart_speed = c.speed;
        charts.AdvancePen(2, c.rate, settings.general);
        EXPECT_DOUBLE_EQ(charts.pen_x(2), c.step);
        EXPECT_EQ(charts.pen_x(0), 0);
    }
}

TEST_F(ScopeChartsTest, AllPensWrapOnlyWhenOnePassesTheRightEdge) {
    settings.general.chart_speed = 100;
    move_pen(1, 300);
    values[1] = 7;
    charts.sample_ready(1);
    draw(1);
    charts.double_click_chart(3);
    for (int i = 0; i < 10; ++i) charts.AdvancePen(0, 1, settings.general);
    EXPECT_EQ(charts.pen_x(0), 1000);  // exactly at the edge: no wrap yet
    EXPECT_EQ(charts.pen_x(1), 300);

    charts.AdvancePen(0, 1, settings.general);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(charts.pen_x(ch), 0) << ch;
        EXPECT_EQ(charts.last_x(ch), 0) << ch;
    }
    EXPECT_EQ(charts.last_y(1), 7 * charts.chart_gain(1));  // the next segment joins it
    EXPECT_EQ(charts.zoom_last_x(3), -1);
    EXPECT_EQ(charts.zoom_last_x(0), 0);  // only the zoomed channel's zoom trace restarts
}

TEST_F(ScopeChartsTest, BandAheadOfThePenWrapsToTheLeftEdge) {
    struct Case {
        int16_t pen;
        std::vector<Drawn> ops;
    };
    const std::vector<Case> cases = {
        {930, {box(940, 990), line(940, 0, 990, 0, kFg)}},
        {950, {box(960, 1000), box(0, 10), line(960, 0, 1000, 0, kFg)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pen);
        charts.ResetCharts();
        move_pen(0, c.pen);
        forget_drawing();
        draw(0);  // no sample pending: the band only
        EXPECT_EQ(drawn(chp[0]), c.ops);
        EXPECT_TRUE(zoom.ops.empty());
    }
}

TEST_F(ScopeChartsTest, ZoomChartTakesThePendingSampleFirstAndMayShowTheAverage) {
    values = {3, 4, 6, 1000};
    settings.channels[3].y_scale = 2;
    charts.load_gains(settings);
    charts.double_click_chart(3);
    charts.set_average_three_channels(true);
    move_pen(3, 100);
    charts.sample_ready(3);

    // Another channel's frame already brings the zoomed sample onto the zoom chart...
    draw(0);
    EXPECT_EQ(drawn(zoom), (std::vector<Drawn>{box(110, 160), line(110, 0, 160, 0, kFg),
                                               line(0, 0, 100, 13.0 / 3 * 4, kTrace)}));
    EXPECT_EQ(charts.sample_pending(3), 2);
    EXPECT_TRUE(chp[3].ops.empty());

    // ...and the channel's own frame draws it on its chart, unaveraged, and not again on
    // the zoom chart.
    forget_drawing();
    draw(3);
    EXPECT_EQ(drawn(zoom), (std::vector<Drawn>{box(110, 160), line(110, 0, 160, 0, kFg)}));
    EXPECT_EQ(drawn(chp[3]), (std::vector<Drawn>{box(110, 160), line(110, 0, 160, 0, kFg),
                                                 line(0, 0, 100, 4000, kTrace)}));
    EXPECT_EQ(charts.sample_pending(3), 0);

    charts.set_average_three_channels(false);
    charts.sample_ready(3);
    forget_drawing();
    draw(3);
    EXPECT_EQ(drawn(zoom).back(), line(100, 13.0 / 3 * 4, 100, 4000, kTrace));
}

TEST_F(ScopeChartsTest, ServiceModeTwoPlotsTheTriggerOnTheZoomChart) {
    settings.general.service_mode = 2;
    charts.double_click_chart(1);
    move_pen(1, 40);
    const double g = charts.chart_gain(1);
    triggers[1] = {2.5, 100, 300};
    draw(1);
    triggers[1] = {3, 120, 310};
    forget_drawing();
    draw(1);
    EXPECT_EQ(drawn(zoom), (std::vector<Drawn>{
                               box(50, 100),
                               line(50, 0, 100, 0, kFg),
                               line(40, 5250 * g, 40, 5500 * g, kBlue),
                               {Op::point, 40, 5000 * g, 40, 5000 * g, kBlue},
                               line(40, -3900 * g, 40, -3880 * g, kChartColors[5]),
                               line(40, -6700 * g, 40, -6690 * g, kChartColors[2]),
                           }));
}

TEST_F(ScopeChartsTest, YScaleStepsBackBeforeTheLabelsFallBelowOneCount) {
    struct Case {
        int16_t ad_type;
        int selected;
        int k;
        int position;
        std::string countmin, countmax;
    };
    const Case cases[] = {
        {config::kZeda10, 0, 1, 1, "-16390", "16390"},
        {config::kZeda10, 0, 16, 16, "-1", "1"},  // 0.5002 still shows 1
        {config::kZeda10, 0, 17, 16, "-1", "1"},
        {config::kZeda10, 2, 20, 16, "-1", "1"},  // judged on the channel it applies to
        {config::kZeda18, 0, 19, 18, "-1", "1"},
        {config::kZeda20, 0, 2, 2, "-2097152", "2097152"},  // halves to even
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.ad_type) + " k=" + std::to_string(c.k));
        charts.set_limits(c.ad_type);
        EXPECT_EQ(charts.UpdateYScale(c.selected, c.k, settings), c.position);
        EXPECT_EQ(charts.countmin(c.selected), c.countmin);
        EXPECT_EQ(charts.countmax(c.selected), c.countmax);
        EXPECT_EQ(settings.channels[size_t(c.selected)].y_scale, c.position);
        EXPECT_EQ(charts.chart_gain(c.selected), 1 << c.position);
    }
}

TEST_F(ScopeChartsTest, YScaleAppliesToOneOrAllChannels) {
    charts.double_click_chart(1);
    charts.UpdateYScale(1, 3, settings);
    EXPECT_EQ(settings.channels[0].y_scale, 1);
    EXPECT_EQ(charts.countmax(0), "+32767");  // untouched until its scale changes
    EXPECT_EQ(charts.countmax(1), "4098");
    EXPECT_EQ(charts.zoomcountmax(), "4098");
    EXPECT_EQ(charts.zoomcountmin(), "-4098");

    ScopeCharts::set_y_scale_all(settings.general, true);
    charts.UpdateYScale(1, 5, settings);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(settings.channels[size_t(ch)].y_scale, 5) << ch;
        EXPECT_EQ(charts.countmin(ch), "-1024") << ch;
    }
}

TEST_F(ScopeChartsTest, ClickSelectsAndDoubleClickZooms) {
    charts.UpdateYScale(2, 4, settings);
    EXPECT_EQ(charts.click_chart(2), 3);
    EXPECT_EQ(charts.zoom_channel(), -1);
    EXPECT_EQ(drawn(zoom), (std::vector<Drawn>{{Op::clear, 0, 0, 0, 0, kBg}}));
    EXPECT_EQ(charts.zoomcountmax(), "2049");
    EXPECT_EQ(charts.zoomcountmin(), "-2049");
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(charts.chart_shown(i));
    EXPECT_FALSE(charts.zoom_shown());

    EXPECT_EQ(charts.double_click_chart(2), 3);
    EXPECT_EQ(charts.zoom_channel(), 2);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(charts.chart_shown(i));
    EXPECT_TRUE(charts.zoom_shown());

    charts.click_zoom();
    EXPECT_EQ(charts.zoom_channel(), -1);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(charts.chart_shown(i));
    EXPECT_FALSE(charts.zoom_shown());
}

TEST_F(ScopeChartsTest, TimeMarksDrawThresholdsSecondsAndNewMinutes) {
    settings.channels[1].sps_index = 0;  // off: no marks at all
    settings.channels[0].start_amplitude = 1000;
    settings.channels[0].stop_amplitude = 800;
    move_pen(0, 200);
    charts.double_click_chart(0);
    const double a = 1000 * charts.chart_gain(0);
    const double b = 800 * charts.chart_gain(0);
    const std::vector<Drawn> ticks = {line(200, a, 202, a, kLightGreen),
                                      line(200, -a, 202, -a, kLightGreen),
                                      line(200, b, 202, b, kRed), line(200, -b, 202, -b, kRed)};
    // The per-second tick: 3 % of the height up from the lower edge.
    const Drawn second =
        line(200, kBottom, 200, kBottom + 0.03 * (kTop - kBottom), kBlue, LineStyle::dotted);
    const Drawn minute = line(200, kBottom, 200, kTop, kBlue, LineStyle::dotted);

    struct Case {
        int minute;
        bool line;
    };
    // The first frame of a run only remembers its minute.
    const Case cases[] = {{5, false}, {5, false}, {6, true}, {6, false}, {0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minute);
        forget_drawing();
        charts.DrawTimeMarks(c.minute, settings);
        std::vector<Drawn> expected_chart = ticks;
        expected_chart.push_back(second);
        std::vector<Drawn> expected_zoom = ticks;
        if (c.line) {
            expected_chart.push_back(minute);
            expected_zoom.push_back(minute);
        }
        EXPECT_EQ(drawn(chp[0]), expected_chart);
        EXPECT_EQ(drawn(zoom), expected_zoom);
        EXPECT_TRUE(chp[1].ops.empty());
        EXPECT_EQ(chp[3].ops.size(), expected_chart.size());  // every active chart
    }
}

TEST_F(ScopeChartsTest, NoChartingSkipsEverything) {
    settings.general.no_charting = 1;
    charts.double_click_chart(0);
    charts.sample_ready(0);
    charts.AdvancePen(0, 100, settings.general);
    draw(0);
    charts.DrawTimeMarks(1, settings);
    charts.DrawTimeMarks(2, settings);
    EXPECT_EQ(charts.pen_x(0), 0);
    EXPECT_EQ(charts.sample_pending(0), 1);
    EXPECT_TRUE(chp[0].ops.empty());
    EXPECT_TRUE(zoom.ops.empty());
}

TEST_F(ScopeChartsTest, WithoutPicturesTheStateStillAdvances) {
    charts.set_canvases({}, nullptr);
    charts.double_click_chart(0);
    move_pen(0, 50);
    values[0] = 10;
    charts.sample_ready(0);
    draw(0);
    EXPECT_EQ(charts.zoom_last_x(0), 50);
    EXPECT_EQ(charts.last_x(0), 50);
    EXPECT_EQ(charts.sample_pending(0), 0);
    EXPECT_TRUE(chp[0].ops.empty());
}

}  // namespace
}  // namespace velkantor::display
