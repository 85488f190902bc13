// The chart: the sample ring, the point mapping, grid options, frame, labels, the data
// polyline with skipped and clamped points, dimming, degenerate ranges and rings, and the
// release of the record and the ring.
#include <climits>
#include <string>
#include <vector>

#include "widgets/xgraph_wgt.h"
#include "widgets_fixture.h"

namespace veld::test {
namespace {

class Chart : public WidgetTest {
protected:
    // A 150 x 100 chart at (10, 10): the plot area starts at form column 60.
    XGraphWgt* make(uint32_t options = 0, int32_t capacity = 16, XPosInfo position = {10, 10, 150, 100},
                    uint16_t id = 0) {
        XGraphWgt* chart = XGraphWgt_CreateWgt(&form_, id, options, capacity, &position);
        EXPECT_NE(chart, nullptr);
        return chart;
    }

    static void add(XGraphWgt* chart, int32_t x, int32_t y) {
        const XGraphSample sample{x, y, {uint32_t(x), 2, 3, 4}};
        ASSERT_EQ(XGraphWgt_AddData(chart, &sample), 0);
    }

    // The x values held, oldest first.
    static std::vector<int32_t> held(const XGraphWgt* chart) {
        std::vector<int32_t> xs;
        if (chart->oldest < 0) return xs;
        for (int32_t i = chart->oldest;; i = (i + 1) % chart->capacity) {
            xs.push_back(chart->samples[i].x);
            if (i == chart->newest) break;
        }
        return xs;
    }

    void render(XGraphWgt* chart) { XWIN_Render(&chart->window); }
};

TEST_F(Chart, CreationStartsEmptyAndAttaches) {
    XGraphWgt* chart = make(0, 5, {10, 10, 150, 100}, 3);
    EXPECT_EQ(chart->oldest, -1);
    EXPECT_EQ(chart->newest, -1);
    EXPECT_EQ(chart->capacity, 5);
    ASSERT_NE(chart->samples, nullptr);
    EXPECT_EQ(form_.children[3], &chart->window);
    // The chart handles no key.
    for (uint16_t code : {XKEY_UP, XKEY_DOWN, XKEY_LEFT, XKEY_RIGHT, uint16_t{10}})
        EXPECT_EQ(sendKey(&chart->window, code), XWIN_NOT_HANDLED);
    // Slot 3 follows empty slots, which the form's walks never pass: destroyed here.
    EXPECT_EQ(XWIN_Destroy(&chart->window, 0), 0);
}

struct RingCase {
    const char* name;
    int32_t capacity;
    int adds;  // samples 1, 2, ... adds
    std::vector<int32_t> expected;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const RingCase& c, std::ostream* os) { *os << c.name; }

class ChartRing : public Chart, public ::testing::WithParamInterface<RingCase> {};

TEST_P(ChartRing, KeepsTheNewestOldestFirst) {
    const RingCase& c = GetParam();
    XGraphWgt* chart = make(0, c.capacity);
    for (int i = 1; i <= c.adds; ++i) add(chart, i, i);
    EXPECT_EQ(held(chart), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChartRing,
    ::testing::Values(RingCase{"FirstSampleInSlotZero", 3, 1, {1}},
                      RingCase{"NotYetFull", 3, 2, {1, 2}},
                      RingCase{"Full", 3, 3, {1, 2, 3}},
                      RingCase{"OverwritesOldest", 3, 4, {2, 3, 4}},
                      RingCase{"TwiceRound", 3, 7, {5, 6, 7}},
                      RingCase{"CapacityOne", 1, 3, {3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Chart, SamplesAreCopiedWhole) {
    XGraphWgt* chart = make(0, 2);
    XGraphSample sample{7, -8, {9, 10, 11, 12}};
    ASSERT_EQ(XGraphWgt_AddData(chart, &sample), 0);
    sample.x = 0;
    EXPECT_EQ(chart->samples[0].x, 7);
    EXPECT_EQ(chart->samples[0].y, -8);
    EXPECT_EQ(chart->samples[0].extra[3], 12u);
}

TEST_F(Chart, ZeroCapacityKeepsNothing) {
    for (int32_t capacity : {0, -3}) {
        XGraphWgt* chart = make(0, capacity, {10, 10, 150, 100}, uint16_t(capacity == 0 ? 0 : 1));
        EXPECT_EQ(chart->capacity, 0);
        const XGraphSample sample{1, 1, {}};
        EXPECT_EQ(XGraphWgt_AddData(chart, &sample), -5);
        EXPECT_EQ(chart->newest, -1);
        XGraphWgt_SetXRange(chart, 0, 100, 10);
        XGraphWgt_SetYRange(chart, 0, 100, 10);
        render(chart);
        EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12), 0);
    }
}

TEST_F(Chart, NullArgumentsAreRefused) {
    XGraphWgt* chart = make();
    EXPECT_EQ(XGraphWgt_AddData(chart, nullptr), -5);
    EXPECT_EQ(XGraphWgt_AddData(nullptr, nullptr), -5);
    EXPECT_EQ(XGraphWgt_SetXRange(nullptr, 0, 1, 1), -5);
    EXPECT_EQ(XGraphWgt_SetYRange(nullptr, 0, 1, 1), -5);
    EXPECT_EQ(XGraphWgt_SetYLabel(nullptr, "a", "b"), -5);
    EXPECT_EQ(XGraphWgt_SetYLabel(chart, nullptr, nullptr), 0);
    EXPECT_EQ(chart->topLabel[0], '\0');
}

TEST_F(Chart, LabelsKeepAtMost32CharactersWithoutTerminator) {
    XGraphWgt* chart = make();
    const std::string longLabel(40, 'x');
    ASSERT_EQ(XGraphWgt_SetYLabel(chart, longLabel.c_str(), "+1ms"), 0);
    EXPECT_EQ(std::string(chart->bottomLabel, 32), std::string(32, 'x'));
    EXPECT_STREQ(chart->topLabel, "+1ms");
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    render(chart);  // the unterminated label is cut at 32 when drawn
    EXPECT_GT(countColour(0, 94, 60, 16, 3), 0);
}

struct MapCase {
    const char* name;
    int32_t xMin, xMax, yMin, yMax;
    uint16_t width, height;
    int64_t x, y;
    int32_t result, px, py;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const MapCase& c, std::ostream* os) { *os << c.name; }

class ChartMapping : public Chart, public ::testing::WithParamInterface<MapCase> {};

TEST_P(ChartMapping, MapsToPixels) {
    const MapCase& c = GetParam();
    XGraphWgt* chart = make(0, 1, {0, 0, c.width, c.height});
    XGraphWgt_SetXRange(chart, c.xMin, c.xMax, 1);
    XGraphWgt_SetYRange(chart, c.yMin, c.yMax, 1);
    int32_t px = -1;
    int32_t py = -1;
    ASSERT_EQ(veld::xwgt::mapGraphPoint(*chart, c.x, c.y, &px, &py), c.result);
    if (c.result == 0) {
        EXPECT_EQ(px, c.px);
        EXPECT_EQ(py, c.py);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChartMapping,
    ::testing::Values(
        MapCase{"MiddleOfX", 0, 100, 0, 100, 150, 100, 50, 50, 0, 100, 50},
        MapCase{"Minimums", 0, 100, 0, 100, 150, 100, 0, 0, 0, 50, 100},
        MapCase{"Maximums", 0, 100, 0, 100, 150, 100, 100, 100, 0, 150, 0},
        // Integer divisions truncate: 50 + 1 x 10 / 3 = 53; 10 - 10 x 1 / 3 = 7.
        MapCase{"Truncates", 0, 3, 0, 3, 60, 10, 1, 1, 0, 53, 7},
        MapCase{"NegativeRange", -20000, 20000, -20000, 20000, 250, 270, -1000, -1000, 0, 145,
                142},
        MapCase{"XBelowRange", 0, 100, 0, 100, 150, 100, -1, 50, -5, 0, 0},
        MapCase{"XAboveRange", 0, 100, 0, 100, 150, 100, 101, 50, -5, 0, 0},
        MapCase{"YAboveRange", 0, 100, 0, 100, 150, 100, 50, 101, -5, 0, 0},
        MapCase{"EmptyXRange", 5, 5, 0, 100, 150, 100, 5, 50, -5, 0, 0},
        MapCase{"EmptyYRange", 0, 100, 7, 7, 150, 100, 50, 7, -5, 0, 0},
        MapCase{"ReversedRange", 100, 0, 0, 100, 150, 100, 50, 50, -5, 0, 0},
        // The whole 32-bit span: no overflow on the way.
        MapCase{"WidestRange", INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 1050, 1000, 0, 0, 0,
                550, 500}),
    [](const auto& info) { return std::string(info.param.name); });

// Grid probes on a chart at (10, 10), 150 x 100, x -5000 .. 15000 step 2500 (x = 0 at form
// column 85, 2500 at 97, 5000 at 110), y -100 .. 100 step 50 (y = 0 at form row 60, 50 at 35).
struct GridCase {
    const char* name;
    uint32_t options;
    int x0, x2500, x5000;  // colours of the vertical lines at these x
    int y0, y50;           // colours of the horizontal lines at these y
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

class ChartGrid : public Chart, public ::testing::WithParamInterface<GridCase> {};

TEST_P(ChartGrid, LineColours) {
    const GridCase& c = GetParam();
    XGraphWgt* chart = make(c.options);
    XGraphWgt_SetXRange(chart, -5000, 15000, 2500);
    XGraphWgt_SetYRange(chart, -100, 100, 50);
    render(chart);
    // Vertical lines probed on form row 50, away from the horizontal ones.
    EXPECT_EQ(at(85, 50), c.x0);
    EXPECT_EQ(at(97, 50), c.x2500);
    EXPECT_EQ(at(110, 50), c.x5000);
    // Horizontal lines probed on form column 70, away from the vertical ones.
    EXPECT_EQ(at(70, 60), c.y0);
    EXPECT_EQ(at(70, 35), c.y50);
    // Nothing is drawn below the widget, where y minimum maps.
    EXPECT_EQ(countColour(0, 110, kWidth, kHeight - 110, 10), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ChartGrid,
    ::testing::Values(GridCase{"NoGrid", 0, 0, 0, 0, 0, 0},
                      GridCase{"Vertical", 0x4, 10, 10, 10, 0, 0},
                      GridCase{"VerticalZeroStandsOut", 0x4 | 0x10, 11, 10, 10, 0, 0},
                      GridCase{"VerticalEvery5000", 0x4 | 0x40, 11, 10, 11, 0, 0},
                      GridCase{"ZeroLineWins", 0x4 | 0x10 | 0x40, 11, 10, 10, 0, 0},
                      GridCase{"Horizontal", 0x8, 0, 0, 0, 10, 10},
                      GridCase{"HorizontalZeroStandsOut", 0x8 | 0x20, 0, 0, 0, 11, 10},
                      GridCase{"ZeroOptionsWithoutGrids", 0x10 | 0x20 | 0x40, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Chart, GridStartsAtTheFirstMultipleOfANegativeMinimum) {
    XGraphWgt* chart = make(0x4);
    // -18000 .. 2000, step 4000: lines at -16000, -12000, -8000, -4000 and 0.
    XGraphWgt_SetXRange(chart, -18000, 2000, 4000);
    XGraphWgt_SetYRange(chart, 0, 100, 0);
    render(chart);
    // x = -16000 maps to 50 + 2000 x 100 / 20000 = 60: form column 70; then every 20.
    EXPECT_EQ(at(70, 50), 10);
    EXPECT_EQ(countColour(61, 50, 98, 1, 10), 5);
}

TEST_F(Chart, FrameAroundThePlotArea) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    render(chart);
    // Top and bottom edges from x = 50 to width - 2, left and right edges to height - 2.
    EXPECT_EQ(countColour(60, 10, 99, 1, 9), 99);
    EXPECT_EQ(countColour(60, 109, 99, 1, 9), 99);
    EXPECT_EQ(countColour(60, 10, 1, 99, 9), 99);
    EXPECT_EQ(countColour(159, 10, 1, 99, 9), 99);
    EXPECT_EQ(at(159, 109), 0);
    EXPECT_EQ(at(59, 10), 0);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 9), 4 * 99 - 1);  // one shared corner
}

TEST_F(Chart, LabelsRightAlignedBesideTheAxisEnds) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    XGraphWgt_SetYLabel(chart, "lo", "hi");
    render(chart);
    // Two letters end at the right edge of the 40-pixel box: columns 34 .. 49 of the form.
    EXPECT_GT(countColour(34, 10, 16, 16, 3), 0);
    EXPECT_EQ(countColour(0, 0, 34, kHeight, 3), 0);
    EXPECT_GT(countColour(34, 94, 16, 16, 3), 0);
    EXPECT_EQ(countColour(34, 26, 16, 68, 3), 0);
}

TEST_F(Chart, PolylineJoinsPlottedPointsAndSkipsOnesOutsideX) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    add(chart, 10, 50);   // (60, 50) of the widget
    add(chart, 500, 50);  // outside the x range: skipped
    add(chart, -1, 10);   // likewise
    add(chart, 30, 50);   // (80, 50): one horizontal line from the first point
    render(chart);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12), 20);
    EXPECT_EQ(countColour(70, 60, 20, 1, 12), 20);
}

TEST_F(Chart, YAboveTheRangeIsDrawnAtTheTopEdge) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    add(chart, 20, 900);  // clamped to 100: row 0
    add(chart, 40, 900);
    render(chart);
    // Drawn after the frame, over its top edge.
    EXPECT_EQ(countColour(80, 10, 20, 1, 12), 20);
}

TEST_F(Chart, YBelowTheRangeIsClampedToTheMinimum) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 50, 150, 10);
    add(chart, 20, -900);
    add(chart, 40, 100);
    render(chart);
    // (70, 100) to (90, 50) of the widget: the polyline starts on the minimum's row.
    EXPECT_EQ(at(80, 110), 12);
    EXPECT_EQ(at(100, 60), 12);
}

TEST_F(Chart, ASinglePointOnlyStartsThePolyline) {
    XGraphWgt* chart = make();
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    add(chart, 50, 50);
    render(chart);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12), 0);
}

TEST_F(Chart, PolylineRunsFromOldestToNewestAfterOverwrite) {
    XGraphWgt* chart = make(0, 3);
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    for (int32_t x : {10, 20, 30, 40}) add(chart, x, 50);  // keeps 20, 30, 40
    render(chart);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12), 20);
    EXPECT_EQ(countColour(80, 60, 20, 1, 12), 20);
}

TEST_F(Chart, EverythingDimmedWithoutFocusWithTheOption) {
    XGraphWgt* chart = make(0x1 | 0x8);
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 50);
    XGraphWgt_SetYLabel(chart, "lo", "hi");
    add(chart, 10, 20);
    add(chart, 30, 20);
    XWM_SetFocus(nullptr);
    render(chart);
    for (uint8_t colour : {9, 10, 12, 3}) {
        EXPECT_EQ(countColour(0, 0, kWidth, kHeight, colour), 0) << int(colour);
        EXPECT_GT(countColour(0, 0, kWidth, kHeight, colour | 0x80), 0) << int(colour);
    }
}

struct DegenerateCase {
    const char* name;
    int32_t xMin, xMax, xStep, yMin, yMax, yStep;
    bool dataDrawn;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const DegenerateCase& c, std::ostream* os) { *os << c.name; }

class ChartDegenerate : public Chart, public ::testing::WithParamInterface<DegenerateCase> {};

// Ranges and steps that could divide by zero, loop for ever or overflow: the chart draws its
// frame and whatever is defined, nothing outside the widget, and data only where the ranges
// are usable.
TEST_P(ChartDegenerate, RendersSafely) {
    const DegenerateCase& c = GetParam();
    XGraphWgt* chart = make(0x4 | 0x8 | 0x10 | 0x20 | 0x40);
    XGraphWgt_SetXRange(chart, c.xMin, c.xMax, c.xStep);
    XGraphWgt_SetYRange(chart, c.yMin, c.yMax, c.yStep);
    add(chart, 0, 50);
    add(chart, 10, 50);
    render(chart);
    EXPECT_TRUE(untouchedOutside(10, 10, 150, 100));
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12) > 0, c.dataDrawn);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChartDegenerate,
    ::testing::Values(DegenerateCase{"AllZero", 0, 0, 0, 0, 0, 0, false},
                      DegenerateCase{"ZeroWidthX", 5, 5, 1, 0, 100, 10, false},
                      DegenerateCase{"ZeroHeightY", 0, 100, 10, 3, 3, 1, false},
                      DegenerateCase{"NegativeSteps", 0, 100, -10, 0, 100, -5, true},
                      DegenerateCase{"Reversed", 100, 0, 10, 100, 0, 10, false},
                      DegenerateCase{"StepNearTheTop", INT32_MIN, INT32_MAX, INT32_MAX, 2, 3,
                                     INT32_MAX, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Chart, EmptyRingDrawsNoData) {
    XGraphWgt* chart = make(0x4 | 0x8);
    XGraphWgt_SetXRange(chart, 0, 100, 10);
    XGraphWgt_SetYRange(chart, 0, 100, 10);
    render(chart);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 12), 0);
    EXPECT_GT(countColour(0, 0, kWidth, kHeight, 9), 0);
}

// A small chart with every grid option, labels, a zigzag, one clamped and one skipped sample.
TEST_F(Chart, GoldenChart) {
    XGraphWgt* chart = make(0x4 | 0x8 | 0x20 | 0x40, 16, {4, 4, 110, 40});
    XGraphWgt_SetXRange(chart, 0, 10000, 2500);
    XGraphWgt_SetYRange(chart, -20, 20, 10);
    XGraphWgt_SetYLabel(chart, "lo", "hi");
    for (int32_t i = 0; i <= 10; ++i) add(chart, i * 1000, i % 2 ? 15 : -15);
    add(chart, 12000, 0);  // skipped: past x maximum
    chart->samples[chart->newest - 4].y = 30;  // clamped to the top edge
    render(chart);
    expectGolden("chart", art(0, 0, 118, 48));
}

// 300 rings of 1100 samples would be nearly 8 MB.
TEST_F(Chart, DestroyReleasesTheRecordAndTheRing) {
    expectNoGrowthOverFormCycles(300, [](XWindow& form) {
        const XPosInfo position{0, 0, 100, 100};
        XGraphWgt* chart = XGraphWgt_CreateWgt(&form, 0, 111, 1100, &position);
        ASSERT_NE(chart, nullptr);
        add(chart, 1, 1);
    });
}

}  // namespace
}  // namespace veld::test
