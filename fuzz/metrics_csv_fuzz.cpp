// A metrics CSV given to `veldctl metrics --plot` may be anything (a torn start-up log, another
// file, damage): reading it and drawing it must stay safe and finish, whatever the bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "metrics_plot.h"

namespace {

std::string gFile;

void removeFile() { std::remove(gFile.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gFile = "/tmp/vfz-metrics-" + std::to_string(getpid()) + ".csv";
    atexit(removeFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(gFile.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    veld::tools::MetricsTable table;
    std::string error;
    if (veld::tools::readMetricsCsv(gFile, table, error)) {
        const veld::tools::RgbCanvas canvas = veld::tools::drawMetrics(table);
        if (canvas.rgb.size() != static_cast<size_t>(canvas.width) * canvas.height * 3) abort();
    }
    return 0;
}
