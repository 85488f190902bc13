// Drawing a metrics CSV: the file is read back into columns, each quantity (CPU, memory, DDR
// load, bandwidth, frame rate, the chart app's value) gets a framed panel with a grid, axis
// figures and a legend in the built-in 8 x 16 font, and the whole picture is written as an
// RGB PNG.
#include "metrics_plot.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "png_file.h"
#include "xfont.h"

namespace veld::tools {
namespace {

namespace m = veld::ssm::metrics;
using m::Quantity;

constexpr int kWidth = 960;
constexpr int kLeft = 72, kRight = 24, kTop = 8;
constexpr int kTitle = 22, kArea = 120, kAxis = 20, kGap = 10;
constexpr double kSteps = 5;  // grid steps an axis aims at
constexpr uint32_t kFrame = 0x404040, kGrid = 0xE4E4E4, kText = 0x202020;
constexpr uint32_t kSeries[] = {0x1F5FBF, 0xD2561E, 0x2A9D3A, 0x8E44AD, 0xB8860B};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct QuantityInfo {
    Quantity quantity;
    const char* title;
    bool percent;  // axis from 0 to at least 100
};
constexpr QuantityInfo kQuantities[] = {
    {Quantity::kCpu, "CPU busy (%)", true},
    {Quantity::kMemory, "memory (MB)", false},
    {Quantity::kBusLoad, "DDR load (% of its maximum)", true},
    {Quantity::kBandwidth, "bus bandwidth (MB/s)", false},
    {Quantity::kFrameRate, "frame rate (fps)", false},
    {Quantity::kChart, "chart app", false},
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, ',')) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    return cells;
}

// Figures beyond this are no measurement: a damaged file. Keeping them out also keeps every
// axis range finite.
constexpr double kLargestFigure = 1e15;

bool number(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value) && std::fabs(value) <= kLargestFigure;
}

// The round value at or above v: 1, 2, 2.5 or 5 times a power of ten.
double niceCeiling(double v) {
    if (v <= 0) return 0;
    const double step = std::pow(10.0, std::floor(std::log10(v)));
    for (double f : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (f * step >= v * (1 - 1e-12)) return f * step;
    return 10 * step;
}

void drawText(RgbCanvas& c, int x, int y, const std::string& text, uint32_t colour) {
    const XFont& font = g_uxm_fnt_data;
    for (unsigned char ch : text) {
        if (const uint8_t* g = veld::xfont::glyph(font, ch)) {
            for (int row = 0; row < font.height; ++row)
                for (int col = 0; col < font.advance; ++col) {
                    const uint8_t bits = g[row * font.bytesPerRow + col / 8];
                    if (bits & (0x80 >> (col % 8))) c.set(x + col, y + row, colour);
                }
        }
        x += font.advance;
    }
}

int textWidth(const std::string& text) { return static_cast<int>(text.size()) * veld::xfont::kCellWidth; }

void drawLine(RgbCanvas& c, int x0, int y0, int x1, int y1, uint32_t colour) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        c.set(x0, y0, colour);
        if (x0 == x1 && y0 == y1) return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void fillRect(RgbCanvas& c, int x, int y, int w, int h, uint32_t colour) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) c.set(i, j, colour);
}

std::string figure(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// Times outside the run (rows out of order in a damaged file) stay on the panel's edges.
int xOf(const PlotPanel& p, double t) {
    return p.x + static_cast<int>(std::lround(std::clamp(t / p.seconds, 0.0, 1.0) * (p.width - 1)));
}

int yOf(const PlotPanel& p, double v) {
    return p.y + static_cast<int>(std::lround((p.high - v) / (p.high - p.low) * (p.height - 1)));
}

void drawPanel(RgbCanvas& c, const PlotPanel& p, const std::string& title, const MetricsTable& t,
               const std::vector<size_t>& series) {
    drawText(c, p.x, p.y - kTitle + 2, title, kText);
    // Legend at the right of the title line: a colour square and the column's label.
    int lx = p.x + p.width;
    for (size_t s = series.size(); s-- > 0;) {
        const std::string label = m::columns()[series[s]].label;
        lx -= textWidth(label) + 16;
        fillRect(c, lx, p.y - kTitle + 6, 10, 10, plotSeriesColour(s));
        drawText(c, lx + 13, p.y - kTitle + 2, label, kText);
    }
    // Round figures on both axes: about five steps of 1, 2, 2.5 or 5 times a power of ten.
    const double yStep = niceCeiling((p.high - p.low) / kSteps);
    const int ySteps = static_cast<int>(std::lround((p.high - p.low) / yStep));
    for (int i = 0; i <= ySteps; ++i) {
        const double v = p.low + i * yStep;
        const int y = yOf(p, v);
        if (i > 0 && i < ySteps) drawLine(c, p.x, y, p.x + p.width - 1, y, kGrid);
        const std::string text = figure(v);
        drawText(c, p.x - 6 - textWidth(text), y - 8, text, kText);
    }
    const double xStep = niceCeiling(p.seconds / kSteps);
    const int xSteps = static_cast<int>(std::floor(p.seconds / xStep + 1e-9));
    for (int i = 0; i <= xSteps; ++i) {
        const double t = i * xStep;
        const int x = xOf(p, t);
        if (i > 0 && x < p.x + p.width - 1) drawLine(c, x, p.y, x, p.y + p.height - 1, kGrid);
        const std::string text = figure(t) + (i == xSteps ? " s" : "");
        const int left = i == 0 ? x : std::min(x - textWidth(text) / 2, p.x + p.width - textWidth(text));
        drawText(c, left, p.y + p.height + 3, text, kText);
    }
    // The frame sits just outside the data area, so data on the edges stays visible.
    drawLine(c, p.x - 1, p.y - 1, p.x + p.width, p.y - 1, kFrame);
    drawLine(c, p.x - 1, p.y + p.height, p.x + p.width, p.y + p.height, kFrame);
    drawLine(c, p.x - 1, p.y - 1, p.x - 1, p.y + p.height, kFrame);
    drawLine(c, p.x + p.width, p.y - 1, p.x + p.width, p.y + p.height, kFrame);
    for (size_t s = 0; s < series.size(); ++s) {
        const std::vector<double>& v = t.values[series[s]];
        bool pen = false;
        int px = 0, py = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            if (std::isnan(v[i])) {
                pen = false;  // a gap in the data is a gap in the line
                continue;
            }
            const int x = xOf(p, t.time[i]), y = yOf(p, std::clamp(v[i], p.low, p.high));
            if (pen) drawLine(c, px, py, x, y, plotSeriesColour(s));
            else c.set(x, y, plotSeriesColour(s));
            pen = true;
            px = x;
            py = y;
        }
    }
}

}  // namespace

uint32_t RgbCanvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

void RgbCanvas::set(int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
}

uint32_t plotSeriesColour(size_t indexInPanel) { return kSeries[indexInPanel % std::size(kSeries)]; }

bool readMetricsCsv(const std::string& path, MetricsTable& table, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    if (!std::getline(in, line)) {
        error = path + " is empty";
        return false;
    }
    const std::vector<std::string> header = split(line);
    std::map<std::string, size_t> at;
    for (size_t i = 0; i < header.size(); ++i) at[header[i]] = i;
    if (!at.count("mono_s")) {
        error = path + " is no metrics CSV (no mono_s column)";
        return false;
    }
    const auto cols = m::columns();
    table = MetricsTable{};
    table.values.assign(cols.size(), {});
    double first = kNaN;
    while (std::getline(in, line)) {
        const std::vector<std::string> cells = split(line);
        double mono = 0;
        if (cells.size() != header.size() || !number(cells[at["mono_s"]], mono)) continue;
        if (std::isnan(first)) first = mono;
        table.time.push_back(mono - first);
        for (size_t c = 0; c < cols.size(); ++c) {
            const auto it = at.find(cols[c].csvName);
            double v = kNaN;
            if (it == at.end() || !number(cells[it->second], v)) v = kNaN;
            table.values[c].push_back(v);
        }
        if (const auto it = at.find("chart"); it != at.end() && !cells[it->second].empty()) table.chart = cells[it->second];
    }
    if (table.time.empty()) {
        error = path + " has no samples";
        return false;
    }
    return true;
}

RgbCanvas drawMetrics(const MetricsTable& table, std::vector<PlotPanel>* panels) {
    const auto cols = m::columns();
    struct Planned {
        QuantityInfo info;
        std::vector<size_t> series;
        double low, high;
    };
    std::vector<Planned> planned;
    for (const QuantityInfo& q : kQuantities) {
        Planned p{q, {}, 0, 0};
        double low = 0, high = q.percent ? 100 : 0;
        for (size_t c = 0; c < cols.size(); ++c) {
            if (cols[c].quantity != q.quantity || c >= table.values.size()) continue;
            bool any = false;
            for (double v : table.values[c])
                if (!std::isnan(v)) {
                    any = true;
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
            if (any) p.series.push_back(c);
        }
        if (p.series.empty()) continue;
        if (high <= low) high = low + 1;
        // Both ends on whole grid steps.
        const double step = niceCeiling((high - low) / kSteps);
        p.low = std::floor(low / step) * step;
        p.high = std::ceil(high / step) * step;
        planned.push_back(p);
    }
    double seconds = 1.0;
    for (double t : table.time) seconds = std::max(seconds, t);
    const int panelHeight = kTitle + kArea + kAxis + kGap;
    RgbCanvas canvas;
    canvas.width = kWidth;
    canvas.height = kTop + static_cast<int>(std::max<size_t>(planned.size(), 1)) * panelHeight;
    canvas.rgb.assign(static_cast<size_t>(canvas.width) * canvas.height * 3, 0xFF);
    if (planned.empty()) drawText(canvas, kLeft, kTop + kTitle, "no samples with values", kText);
    for (size_t i = 0; i < planned.size(); ++i) {
        const Planned& p = planned[i];
        const PlotPanel panel{p.info.quantity, kLeft, kTop + static_cast<int>(i) * panelHeight + kTitle,
                              kWidth - kLeft - kRight, kArea, p.low, p.high, seconds};
        std::string title = p.info.title;
        if (p.info.quantity == Quantity::kChart && !table.chart.empty()) title += ": " + table.chart;
        drawPanel(canvas, panel, title, table, p.series);
        if (panels) panels->push_back(panel);
    }
    return canvas;
}

bool plotCsvFile(const std::string& csvPath, const std::string& pngPath, std::string& error) {
    MetricsTable table;
    if (!readMetricsCsv(csvPath, table, error)) return false;
    const RgbCanvas canvas = drawMetrics(table);
    PngPicture picture;
    picture.width = static_cast<uint32_t>(canvas.width);
    picture.height = static_cast<uint32_t>(canvas.height);
    picture.format = PNG_FORMAT_RGB;
    picture.pixels = canvas.rgb.data();
    error = writePng(pngPath, picture);
    if (!error.empty()) error = "cannot write " + pngPath + ": " + error;
    return error.empty();
}

}  // namespace veld::tools
