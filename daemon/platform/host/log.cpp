// Log objects of the platform library on a PC. Each registered object has a 32-bit mask of
// enabled levels; a line is formatted only when its level is enabled, then written in one
// write() as "<monotonic s.us> <object>[<level>] <function>:<line> <text>" to the file named
// by VELD_LOG (appending) or to standard error.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "host_internal.h"
#include "veldcore.h"
#include "veldcore_host.h"

extern "C" {
int32_t g_global_vdk_logm_fd = -1;
}

namespace veld::host {
namespace {

constexpr int kMaxObjects = 64;
constexpr size_t kNameBytes = 32;
constexpr size_t kLineBytes = 2048;

struct LogObject {
    std::array<char, kNameBytes> name{};
    std::atomic<uint32_t> mask{0};
    std::atomic<bool> used{false};
};

std::array<LogObject, kMaxObjects> gObjects;
std::mutex gRegistry;  // registration only; writes read the atomics
std::atomic<VELD_HOST_LOG_SINK> gSink{nullptr};
std::atomic<void*> gSinkContext{nullptr};

int logFd() {
    static const int fd = [] {
        const char* path = std::getenv("VELD_LOG");
        if (!path || !*path) return STDERR_FILENO;
        const int f = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        return f >= 0 ? f : STDERR_FILENO;
    }();
    return fd;
}

LogObject* objectOf(int32_t handle) {
    if (handle < 0 || handle >= kMaxObjects) return nullptr;
    LogObject& object = gObjects[static_cast<size_t>(handle)];
    return object.used.load(std::memory_order_acquire) ? &object : nullptr;
}

}  // namespace

void writeLogLine(int32_t handle, uint32_t level, const char* function, int32_t line,
                  const char* format, va_list args) {
    LogObject* object = objectOf(handle);
    if (!object || level >= 32 || !(object->mask.load(std::memory_order_relaxed) & (1u << level)))
        return;
    char text[kLineBytes];
    const uint64_t ns = VELD_OSA_ReadNsTicks();
    int n = std::snprintf(text, sizeof text, "%llu.%06llu %s[%u] %s:%d ",
                          static_cast<unsigned long long>(ns / 1000000000ull),
                          static_cast<unsigned long long>(ns / 1000ull % 1000000ull),
                          object->name.data(), level, function ? function : "?", line);
    if (n < 0) return;
    size_t used = std::min(static_cast<size_t>(n), sizeof text - 1);
    const int m = std::vsnprintf(text + used, sizeof text - used, format, args);
    if (m > 0) used = std::min(used + static_cast<size_t>(m), sizeof text - 2);
    if (used == 0 || text[used - 1] != '\n') text[used++] = '\n';
    text[used] = '\0';
    if (VELD_HOST_LOG_SINK sink = gSink.load()) sink(text, gSinkContext.load());
    ssize_t ignored = write(logFd(), text, used);
    (void)ignored;
}

void logPlatform(uint32_t level, const char* function, int32_t line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogLine(g_global_vdk_logm_fd, level, function, line, format, args);
    va_end(args);
}

}  // namespace veld::host

using namespace veld::host;

extern "C" {

int32_t VELD_LOGM_ObjRegister(const char* name) {
    if (!name || !*name) return -1;
    std::lock_guard lock(gRegistry);
    int32_t freeSlot = -1;
    for (int32_t i = 0; i < kMaxObjects; ++i) {
        LogObject& object = gObjects[static_cast<size_t>(i)];
        if (object.used.load() && std::strncmp(object.name.data(), name, kNameBytes - 1) == 0)
            return i;
        if (!object.used.load() && freeSlot < 0) freeSlot = i;
    }
    if (freeSlot < 0) return -1;
    LogObject& object = gObjects[static_cast<size_t>(freeSlot)];
    std::snprintf(object.name.data(), kNameBytes, "%s", name);
    object.mask.store(0);
    object.used.store(true, std::memory_order_release);
    return freeSlot;
}

int32_t VELD_LOGM_ObjDeregister(const char* name) {
    if (!name) return -1;
    std::lock_guard lock(gRegistry);
    for (LogObject& object : gObjects) {
        if (object.used.load() && std::strncmp(object.name.data(), name, kNameBytes - 1) == 0) {
            object.used.store(false, std::memory_order_release);
            object.mask.store(0);
            return 0;
        }
    }
    return -1;
}

int32_t VELD_LOGM_BitMaskEnable(int32_t handle, uint32_t level) {
    LogObject* object = objectOf(handle);
    if (!object || level >= 32) return -1;
    object->mask.fetch_or(1u << level);
    return 0;
}

int32_t VELD_LOGM_BitMaskDisable(int32_t handle, uint32_t level) {
    LogObject* object = objectOf(handle);
    if (!object || level >= 32) return -1;
    object->mask.fetch_and(~(1u << level));
    return 0;
}

int32_t VELD_LOGM_WriteLog(int32_t handle, uint32_t level, const char* function, int32_t line,
                           const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogLine(handle, level, function, line, format, args);
    va_end(args);
    return 0;
}

void VELD_HOST_SetLogSink(VELD_HOST_LOG_SINK sink, void* context) {
    gSinkContext.store(context);
    gSink.store(sink);
}

}  // extern "C"
