// The four chart apps: the PCR-STC difference from the demultiplexer's clock recovery, the
// chip temperature and the summed CPU load from the power manager's status, and the level of
// the debug GPIO pin. Each one is its sample reader, its zoom table and its texts; the rest is
// the common chart app.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "ssm_app.h"
#include "ssm_charts.h"
#include "ssm_kernel_file.h"
#include "veldd_log.h"
#include "xwm.h"

using namespace veld::loglevel;

extern "C" {
int32_t gpiodebugpin = 0;
}

namespace veld::ssm {
namespace {

constexpr size_t kLineBytes = 160;
constexpr const char* kPmStatus = "/proc/qv/pm/status";

struct ZoomStep {
    int32_t low, high, step;
    const char* bottom;
    const char* top;
};

void applyStep(XGraphWgt* graph, const ZoomStep& z) {
    XGraphWgt_SetYRange(graph, z.low, z.high, z.step);
    XGraphWgt_SetYLabel(graph, z.bottom, z.top);
}

// ---- PCR ----------------------------------------------------------------------------------

constexpr ZoomStep kPcrZoom[] = {
    {-20000, 20000, 4000, "-20ms", "+20ms"}, {-10000, 10000, 2000, "-10ms", "+10ms"},
    {-5000, 5000, 1000, "-5ms", "+5ms"},     {-2000, 2000, 400, "-2ms", "+2ms"},
    {-1000, 1000, 200, "-1ms", "+1ms"},
};

void pcrZoom(XGraphWgt* graph, int32_t level) {
    constexpr int32_t kLast = static_cast<int32_t>(std::size(kPcrZoom)) - 1;
    applyStep(graph, kPcrZoom[level < 0 ? 0 : (level > kLast ? kLast : level)]);
}

bool sameLine(const char* line, const char* word) {
    const size_t n = std::strcspn(line, "\r\n");
    return n == std::strlen(word) && std::strncmp(line, word, n) == 0;
}

// The first line of the selected channel is the sample; a file without one adds nothing.
bool pcrSample(ChartContext& chart, XGraphSample& sample) {
    KernelFile file("/proc/qv/sdec/pcr_recovery");
    if (!file) {
        VELDD_LOG(kError, "[xErr] can't open pcr_recovery proc\n");
        return false;
    }
    char line[kLineBytes];
    while (file.readLine(line)) {
        if (sameLine(line, "PCR") || sameLine(line, "CH")) continue;
        int channel = 0, selected = 0, unused = 0, frequency = 0;
        unsigned pid = 0, ms = 0;
        unsigned long long fifth = 0, sixth = 0;
        if (std::sscanf(line, " %d %d %d %x %llx %llx %d %x", &channel, &selected, &unused, &pid, &fifth, &sixth,
                        &frequency, &ms) != 8 ||
            selected != 1)
            continue;
        chart.channel = channel;
        chart.pid = pid;
        chart.frequency = frequency;
        chart.counters[0] = fifth;
        chart.counters[1] = sixth;
        sample.x = static_cast<int32_t>(ms);
        sample.y = clockDifferenceMicros(fifth, sixth);
        sample.extra[0] = static_cast<uint32_t>(sixth);
        sample.extra[1] = static_cast<uint32_t>(fifth);
        return true;
    }
    return false;
}

void pcrTitle(XWindow* form, const ChartContext& chart, const XPosInfo& box) {
    char text[96];
    std::snprintf(text, sizeof text, "CH:%d  PID:0x%04x  FREQ: %8d\n", chart.channel, chart.pid, chart.frequency);
    drawChartText(form, text, box, XGRP_ALIGN_RIGHT);
    drawChartText(form, "PCR-STC Diff Chart", box, XGRP_ALIGN_LEFT);
}

// ---- TEMP and CPULOAD ---------------------------------------------------------------------

void tempZoom(XGraphWgt* graph, int32_t level) {
    static constexpr ZoomStep kWide{0, 160, 20, "0 'C", "160'C"};
    static constexpr ZoomStep kNarrow{50, 150, 10, "50'C", "150'C"};
    applyStep(graph, level == 0 ? kWide : kNarrow);
}

void cpuLoadZoom(XGraphWgt* graph, int32_t level) {
    applyStep(graph, ZoomStep{0, 400, level == 1 ? 50 : 100, "0 %", "400%"});
}

// The value of the first "<key> <n>" line of the power manager's status, 0 when it lies
// outside [low, high] or there is no such line; false when the file can't be opened.
bool pmValue(const char* key, int32_t low, int32_t high, const char* failure, int32_t& value) {
    KernelFile file(kPmStatus);
    if (!file) {
        VELDD_LOG(kError, "%s", failure);
        return false;
    }
    value = 0;
    char line[kLineBytes];
    while (file.readLine(line)) {
        if (std::strncmp(line, key, std::strlen(key)) != 0) continue;
        char word[kLineBytes];
        int n = 0;
        if (std::sscanf(line, "%159s %d", word, &n) == 2 && n >= low && n <= high) value = n;
        break;
    }
    return true;
}

bool timedSample(int32_t value, XGraphSample& sample) {
    uint32_t time = 0;
    if (!uptimeHundredths(time)) return false;
    sample.x = static_cast<int32_t>(time);
    sample.y = value;
    return true;
}

bool tempSample(ChartContext&, XGraphSample& sample) {
    int32_t value = 0;
    return pmValue("temp:", 1, 199, "[xErr] can't open TEMP info proc\n", value) && timedSample(value, sample);
}

bool cpuLoadSample(ChartContext&, XGraphSample& sample) {
    int32_t value = 0;
    return pmValue("loadsum:", 1, 400, "[xErr] can't open CPULOAD info proc\n", value) && timedSample(value, sample);
}

void tempTitle(XWindow* form, const ChartContext&, const XPosInfo& box) {
    drawChartText(form, "Temperature\tChart", box, XGRP_ALIGN_LEFT);
}

void cpuLoadTitle(XWindow* form, const ChartContext&, const XPosInfo& box) {
    drawChartText(form, "CPULOAD Chart", box, XGRP_ALIGN_LEFT);
}

// ---- GPIO ---------------------------------------------------------------------------------

void gpioZoom(XGraphWgt* graph, int32_t) { applyStep(graph, ZoomStep{0, 1, 1, "low", "high"}); }

bool gpioSample(ChartContext&, XGraphSample& sample) {
    XGraphSample level{};
    if (SSM_GPIOInfoReadProc(&level) != 0) return false;
    return timedSample(level.y, sample);
}

void gpioTitle(XWindow* form, const ChartContext&, const XPosInfo& box) {
    char text[48];
    std::snprintf(text, sizeof text, "GPIO %d Chart", gpiodebugpin);
    drawChartText(form, text, box, XGRP_ALIGN_LEFT);
}

// ---- The apps -----------------------------------------------------------------------------

constexpr ChartKind kPcr{"pcrmon", 20, 200, 1100, 20000, 1000, 4, 4, pcrZoom, pcrSample, pcrTitle,
                         {{"x_range=20sec", XGRP_ALIGN_CENTER}, {"UP/DN: Zoom In/Out   MENU: Return", XGRP_ALIGN_RIGHT}},
                         chartKey, chartRender, chartSampler, 521};
constexpr ChartKind kTemp{"tempmon", 200, 200, 1000, 3000, 500, 1, 4, tempZoom, tempSample, tempTitle,
                          {{"x_range=30sec", XGRP_ALIGN_CENTER}, {nullptr, 0}},
                          chartKey, chartRender, chartSampler, 522};
constexpr ChartKind kCpuLoad{"CPULOADmon", 20, 20, 1100, 2000, 500, 2, 2, cpuLoadZoom, cpuLoadSample, cpuLoadTitle,
                             {{"x_range=30sec", XGRP_ALIGN_CENTER}, {nullptr, 0}},
                             chartKey, chartRender, chartSampler, 523};
constexpr ChartKind kGpio{"GPIOmon", 20, 20, 1100, 2000, 500, 2, 2, gpioZoom, gpioSample, gpioTitle,
                          {{"x_range=4sec", XGRP_ALIGN_CENTER}, {nullptr, 0}},
                          SSM_GPIOInfoKeyHandler, SSM_GPIOInfoRender, SSM_GPIOInfoCollectionThread, 524};

}  // namespace
}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_PCRInfoAction(uint32_t mode, const void*) { return chartAction(mode, kPcr); }
int32_t SSM_APP_TEMPInfoAction(uint32_t mode, const void*) { return chartAction(mode, kTemp); }
int32_t SSM_APP_CPULOADInfoAction(uint32_t mode, const void*) { return chartAction(mode, kCpuLoad); }

int32_t SSM_APP_GPIOInfoAction(uint32_t mode, const void*) {
    if (mode == 0) SSM_GPIOPIN_Ready();  // without the file the chart shows the last pin known
    return chartAction(mode, kGpio);
}

int32_t SSM_GPIOPIN_Ready(void) {
    static constexpr const char* kPath = "/proc/qv/gpio/debugpin";
    KernelFile file(kPath);
    if (!file) {
        VELDD_LOG(kError, "[xErr] can't open /proc/qv/gpio/debugpin proc\n");
        return -5;
    }
    char line[kLineBytes];
    while (file.readLine(line)) {
        if (std::strncmp(line, "DEBUG PIN:", 10) != 0) continue;
        char first[kLineBytes], second[kLineBytes];
        int pin = 0;
        if (std::sscanf(line, "%159s %159s %d", first, second, &pin) != 3) continue;
        gpiodebugpin = pin;
        std::printf(" debugpin %s %s %d \n", first, second, pin);
    }
    return 0;
}

int32_t SSM_GPIOInfoReadProc(XGraphSample* sample) {
    static constexpr const char* kPath = "/proc/qv/gpio/val";
    KernelFile file(kPath);
    if (!file) {
        VELDD_LOG(kError, "[xErr] can't open GPIO val proc[%s] \n", kPath);
        return -5;
    }
    char line[kLineBytes];
    int level = 0;
    while (file.readLine(line)) std::sscanf(line, "%d", &level);  // the last number counts
    if (sample) sample->y = level;
    return 0;
}

int32_t SSM_GPIOInfoChangeYResolution(XWindow* form, int32_t level) {
    setChartZoom(form, level);
    return 0;
}

int32_t SSM_GPIOInfoKeyHandler(XWindow* form, XKeyData* key, uint32_t arg) { return chartKey(form, key, arg); }
int32_t SSM_GPIOInfoRender(XWindow* form) { return chartRender(form); }
void* SSM_GPIOInfoCollectionThread(void* form) { return chartSampler(form); }

}  // extern "C"
