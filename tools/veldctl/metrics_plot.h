// veldctl metrics --plot: reads a metrics CSV (veldctl's or the daemon's start-up log) and draws
// it as an RGB chart, one panel per quantity stacked from top to bottom with time on x, its
// texts in the window system's own 8 x 16 font, and writes it as PNG with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ssm_metrics.h"

namespace veld::tools {

// A recorded run: seconds since its first row, and per metrics column (ssm::metrics::columns())
// one value per row, NaN where the row has none.
struct MetricsTable {
    std::vector<double> time;
    std::vector<std::vector<double>> values;
    std::string chart;  // the last chart app named in the file, "" when none ran
};

// Reads a CSV written by veldctl metrics or the start-up log. Rows that do not parse (a torn
// last line) are skipped. False with the reason when the file can't be read or is no metrics
// CSV.
bool readMetricsCsv(const std::string& path, MetricsTable& table, std::string& error);

struct RgbCanvas {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows of width * 3 bytes
    uint32_t at(int x, int y) const;  // 0xRRGGBB
    void set(int x, int y, uint32_t colour);
};

// Where one quantity's data area lies on the canvas and the values at its bottom and top.
struct PlotPanel {
    veld::ssm::metrics::Quantity quantity;
    int x, y, width, height;  // the data area, inside the frame
    double low, high;         // values at the bottom and the top row
    double seconds;           // time at the right edge
};

// The plot of a table; `panels` receives the panels drawn (quantities without any value get
// none). Series colours follow the columns' order within a panel (plotSeriesColour).
RgbCanvas drawMetrics(const MetricsTable& table, std::vector<PlotPanel>* panels = nullptr);
uint32_t plotSeriesColour(size_t indexInPanel);
constexpr uint32_t kPlotBackground = 0xFFFFFF;

// Reads `csvPath` and writes the plot to `pngPath` (via a temporary file, so it is never left
// half-written).
bool plotCsvFile(const std::string& csvPath, const std::string& pngPath, std::string& error);

}  // namespace veld::tools
