// The info viewers' pages and actions: log error counts from /proc/logm, the board memory map,
// the raw bus-monitor text, the file view table, one memory pool in full and all memory pools
// one line each. The pages are built on the monitor task from kernel files read through
// VELD_ROOT; an unreadable source leaves a "can't open" line or an empty page, never a failure.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "seam.h"
#include "ssm_app.h"
#include "ssm_kernel_file.h"
#include "ssm_sys.h"
#include "ssm_viewers.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr size_t kLineBytes = 160;
constexpr size_t kKeyBytes = 64;
constexpr const char* kCantOpenProc = "<!> can't open proc\n";

struct FileViewRow {
    const char* label;
    const char* path;
};

// Every row whose label equals the app's label is shown, in this order.
constexpr FileViewRow g_file_view_lst[] = {
    {"linux/meminfo", "/proc/meminfo"},
    {"linux/vmstat", "/proc/vmstat"},
    {"TE MCU Info", "/proc/qv/te/mcu0/status"},
    {"TE MCU Info", "/proc/qv/te/mcu1/status"},
    {"AVS/PM Status", "/proc/qv/pm/status"},
    {"MPROT Info", "/proc/qv/mpro/status"},
};

class Directory {
public:
    explicit Directory(const std::string& fixedPath) : dir_(opendir(veld::seam::path(fixedPath).c_str())) {}
    ~Directory() {
        if (dir_) closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    explicit operator bool() const { return dir_ != nullptr; }
    int fd() const { return dirfd(dir_); }
    // The next entry other than "." and "..", null at the end.
    const char* next() {
        while (dirent* e = readdir(dir_))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) return e->d_name;
        return nullptr;
    }

private:
    DIR* dir_;
};

void appendFile(Page& page, KernelFile& file) {
    char line[kLineBytes];
    while (file.readLine(line)) page.append(line);
}

// A "key value" line of a pool's debug file, split at blanks and '='. False for a line
// without a token.
struct DebugEntry {
    char key[kKeyBytes];
    char value[kLineBytes];
};

bool splitDebugLine(char* line, DebugEntry& entry) {
    char* save = nullptr;
    const char* key = strtok_r(line, " =\t\n", &save);
    if (!key) return false;
    const char* value = strtok_r(nullptr, " =\t\n", &save);
    std::snprintf(entry.key, sizeof entry.key, "%s", key);
    std::snprintf(entry.value, sizeof entry.value, "%s", value ? value : "n/a");
    return true;
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

uint32_t hexValue(const char* text) {
    unsigned int v = 0;
    return std::sscanf(text, " %x", &v) == 1 ? v : 0;
}

std::string poolFile(std::string_view label, const char* file) {
    char path[PATH_MAX];
    std::snprintf(path, sizeof path, "%s%.*s/%s", "/proc/", static_cast<int>(label.size()), label.data(), file);
    return path;
}

struct PoolFigures {
    uint32_t size = 0;
    uint32_t free = 0;
    uint32_t peak = 0;
    unsigned long long allocNs = 0;
    int objects = 0;
};

PoolFigures readPool(const char* name) {
    PoolFigures pool;
    char path[PATH_MAX];
    std::snprintf(path, sizeof path, "%s%s/%s/%s", "/proc/", "hma", name, "debug");
    VELDD_LOG_AS("SSM_APP_GetBriefHMAInfo", kDebug, "[xDbg] Readling %s...\n", path);
    if (KernelFile debug(path); debug) {
        char line[kLineBytes];
        DebugEntry e;
        while (debug.readLine(line)) {
            if (!splitDebugLine(line, e)) continue;
            if (startsWith(e.key, "size"))
                pool.size = hexValue(e.value);
            else if (startsWith(e.key, "free_size"))
                pool.free = hexValue(e.value);
            else if (startsWith(e.key, "peak_size"))
                pool.peak = hexValue(e.value);
            else if (startsWith(e.key, "alloc_maxtime") && std::sscanf(e.value, " %llu", &pool.allocNs) != 1)
                pool.allocNs = 0;
        }
    }
    std::snprintf(path, sizeof path, "%s%s/%s/%s", "/proc/", "hma", name, "status");
    VELDD_LOG_AS("SSM_APP_GetBriefHMAInfo", kDebug, "[xDbg] Readling %s...\n", path);
    if (KernelFile status(path); status) {
        char line[kLineBytes];
        while (status.readLine(line))
            if (std::strstr(line, "used") && !std::strstr(line, "notused")) ++pool.objects;
    }
    return pool;
}

}  // namespace

XString logErrorCountsPage() {
    Page page(2048);
    static constexpr const char* kDir = "/proc/logm";
    Directory dir(kDir);
    if (!dir) return page.release();
    static constexpr std::string_view kCountLine = "\terror log count=";
    while (const char* name = dir.next()) {
        if (!std::strcmp(name, "lmsg") || !std::strcmp(name, "status") || !std::strcmp(name, "ldump")) continue;
        const std::string path = std::string(kDir) + "/" + name;
        KernelFile file(path);
        if (!file) {
            VELDD_LOG_AS("SSM_APP_AnalyzeLogmFile", kError, "[xErr] can't open %s\n", path.c_str());
            continue;
        }
        unsigned long count = 0;
        char line[kLineBytes];
        while (file.readLine(line)) {
            if (std::strncmp(line, kCountLine.data(), kCountLine.size()) != 0) continue;
            count = std::strtoul(line + kCountLine.size(), nullptr, 10);
            break;
        }
        if (count != 0)
            page.appendf("err(%8u) for %s\n", static_cast<unsigned>(std::min<unsigned long>(count, UINT32_MAX)), name);
    }
    return page.release();
}

XString boardMemoryMapPage() {
    static constexpr const char* kPath = "/proc/qv/base/status";
    static constexpr uint32_t kCapacity = 8192;
    XString page = XUTIL_AllocString(kCapacity);
    if (page.data && SSM_SYS_DumpTextFile(kPath, &page, kCapacity) != 0)
        VELDD_LOG_AS("SSM_APP_ReadBSPMemMapStatus", kError, "[xErr] can't read %s\n", kPath);
    return page;
}

XString rawBusMonitorPage() {
    static constexpr uint32_t kCapacity = 4096;
    XString page = XUTIL_AllocString(kCapacity);
    if (page.data && SSM_SYS_GetRawPmtText(&page, kCapacity) != 0) page.length = 0;
    return page;
}

XString fileViewPage(std::string_view label) {
    Page page(8196);
    VELDD_LOG_AS("SSM_APP_FileViewDataHandler", kDebug, "[xDbg] dump %.*s\n",
                 static_cast<int>(label.size()), label.data());
    for (const FileViewRow& row : g_file_view_lst) {
        if (label != row.label) continue;
        page.appendf("%s\n", row.path);
        page.append("---------------------------------------------------------\n");
        if (KernelFile file(row.path); file)
            appendFile(page, file);
        else
            page.appendf("can't open %s\n", row.path);
    }
    return page.release();
}

XString poolPage(std::string_view label) {
    Page page(16384);
    const std::string debugPath = poolFile(label, "debug");
    page.appendf("[%s]\n", debugPath.c_str());
    VELDD_LOG_AS("SSM_APP_HMAFullInfoDataHandler", kDebug, "[xDbg] ++ reading %s\n", debugPath.c_str());
    if (KernelFile debug(debugPath); debug) {
        char line[kLineBytes];
        DebugEntry e;
        while (debug.readLine(line)) {
            if (!splitDebugLine(line, e)) continue;
            const bool inBytes = startsWith(e.key, "size") || startsWith(e.key, "peak") ||
                                 startsWith(e.key, "free_size") || !std::strcmp(e.key, "max_available_size");
            if (inBytes)
                page.appendf("%18s: %-10s (%8.1fKB)\n", e.key, e.value, hexValue(e.value) / 1024.0);
            else
                page.appendf("%18s: %-10s\n", e.key, e.value);
        }
    } else {
        page.append(kCantOpenProc);
    }
    page.append("\n");
    const std::string statusPath = poolFile(label, "status");
    page.appendf("[%s]\n", statusPath.c_str());
    VELDD_LOG_AS("SSM_APP_HMAFullInfoDataHandler", kDebug, "[xDbg] ++ reading %s\n", statusPath.c_str());
    if (KernelFile status(statusPath); status)
        appendFile(page, status);
    else
        page.append(kCantOpenProc);
    return page.release();
}

XString allPoolsPage() {
    Page page(16384);
    page.appendf("%14s: %6s  %6s  %6s  %6s  %6s  %6s  %6s\n", "pool name", "size", "(usage)", "used", "freed",
                 "peak", "atime", "#obj");
    page.append("-----------------------------------------------------------------------\n");
    Directory dir("/proc/hma");
    if (!dir) {
        page.append("can't open /proc/hma\n");
        return page.release();
    }
    // The entries are examined relative to the open directory: the daemon's working directory
    // is shared by all its threads and stays where it is.
    while (const char* name = dir.next()) {
        struct stat st{};
        if (fstatat(dir.fd(), name, &st, 0) != 0 || std::strstr(name, "_cma") || !S_ISDIR(st.st_mode)) continue;
        const PoolFigures pool = readPool(name);
        // A pool reporting more free than its size is inconsistent; it shows as unused rather
        // than as four gigabytes in use.
        const uint32_t used = pool.free <= pool.size ? pool.size - pool.free : 0;
        constexpr double kMB = 1048576.0;
        page.appendf("%14s: %6.2f (%5.1f%%)  %6.2f  %6.2f  %6.2f  %6d  %6d\n", name, pool.size / kMB,
                     pool.size ? used * 100.0 / pool.size : 0.0, used / kMB, pool.free / kMB, pool.peak / kMB,
                     static_cast<int>(std::min<unsigned long long>(pool.allocNs / 1000000, INT_MAX)), pool.objects);
    }
    page.append(" \n");
    page.append("size, used, freed, peak : MByte/sec\n");
    page.append("atime : msec\n");
    return page.release();
}

namespace {

constexpr uint32_t kViewerFlags = SSM_TEXT_FLAG_SCROLLBAR | SSM_TEXT_FLAG_FOOTER | SSM_TEXT_FLAG_TICK;

int32_t rawPmtBuilder(XString* page, XWindow*) {
    *page = rawBusMonitorPage();
    return 0;
}

}  // namespace
}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_AnalyzeLogmFile(XString* page, XWindow*) {
    *page = logErrorCountsPage();
    return 0;
}

int32_t SSM_APP_ReadBSPMemMapStatus(XString* page, XWindow*) {
    *page = boardMemoryMapPage();
    return 0;
}

int32_t SSM_APP_FileViewDataHandler(XString* page, XWindow* form) {
    *page = fileViewPage(textAppLabel(form));
    return 0;
}

int32_t SSM_APP_HMAFullInfoDataHandler(XString* page, XWindow* form) {
    *page = poolPage(textAppLabel(form));
    return 0;
}

int32_t SSM_APP_GetBriefHMAInfo(XString* page, XWindow*) {
    *page = allPoolsPage();
    return 0;
}

int32_t SSM_APP_LOGMInfoAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, SSM_APP_AnalyzeLogmFile, nullptr, 400, 0, kViewerFlags, label);
}

int32_t SSM_APP_BSPMemMapInfoAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, SSM_APP_ReadBSPMemMapStatus, nullptr, 820, 0, kViewerFlags, label);
}

int32_t SSM_APP_PMTInfoAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, rawPmtBuilder, nullptr, 520, 740, kViewerFlags, label);
}

int32_t SSM_APP_FileMonitorwAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, SSM_APP_FileViewDataHandler, nullptr, 520, 0, kViewerFlags, label);
}

int32_t SSM_APP_HMAFullInfoAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, SSM_APP_HMAFullInfoDataHandler, nullptr, 0, 640, kViewerFlags, label);
}

int32_t SSM_APP_HMARealTimeViewAction(uint32_t mode, const void* label) {
    return SSM_APP_SimpleTextInfoAction(mode, SSM_APP_GetBriefHMAInfo, nullptr, 640, 0, kViewerFlags, label);
}

}  // extern "C"
