// Log objects of the platform library on a PC. Each registered object has a 32-bit mask of
// enabled levels; a line is formatted only when its level is enabled, then written in one
// write() as "<monotonic s.us> <object>[<level>] <function>:<line> <text>" to the file named
// by VELD_LOG (appending) or to standard error.
//
// Storms are rate-limited: of identical lines (same object, level, place and text) only the
// first kBurst of each second are written; the rest are counted and summed up, once the second
// is over and another line comes, as one line of the same place reading "... repeated N times".
// A test's sink (VELD_HOST_SetLogSink) still receives every line: it counts what the code logs.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

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

// Rate limiting of identical lines.
constexpr int kBurst = 5;                        // identical lines written per window
constexpr uint64_t kWindowNs = 1000000000ull;    // one second
constexpr size_t kTracked = 8;                   // distinct recent lines followed at once

// Fixed buffers: logging never allocates, so a log line changes nobody's heap figures.
struct Repeats {
    std::array<char, kLineBytes> key{};  // the line after its time stamp
    size_t keyLength = 0;                // 0: a free slot
    int32_t handle = -1;
    uint32_t level = 0;
    std::array<char, kNameBytes * 2> function{};
    int32_t line = 0;
    uint64_t windowStartNs = 0;
    uint64_t lastSeenNs = 0;
    int written = 0;      // in this window
    uint64_t skipped = 0;  // in this window, not written
};

std::mutex gRepeatsMutex;
std::array<Repeats, kTracked> gRepeats;
std::once_flag gForkHandlers;

// A child that logs between fork and exec (the launcher does) must not find the lock taken by
// a thread that does not exist in the child.
void holdAcrossFork() {
    pthread_atfork([] { gRepeatsMutex.lock(); }, [] { gRepeatsMutex.unlock(); },
                   [] { gRepeatsMutex.unlock(); });
}

LogObject* objectOf(int32_t handle) {
    if (handle < 0 || handle >= kMaxObjects) return nullptr;
    LogObject& object = gObjects[static_cast<size_t>(handle)];
    return object.used.load(std::memory_order_acquire) ? &object : nullptr;
}

bool enabled(int32_t handle, uint32_t level) {
    const LogObject* object = objectOf(handle);
    return object && level < 32 && (object->mask.load(std::memory_order_relaxed) & (1u << level));
}

size_t formatPrefix(char* text, size_t size, uint64_t ns, const char* object, uint32_t level,
                    const char* function, int32_t line) {
    const int n = std::snprintf(text, size, "%llu.%06llu %s[%u] %s:%d ",
                                static_cast<unsigned long long>(ns / 1000000000ull),
                                static_cast<unsigned long long>(ns / 1000ull % 1000000ull), object,
                                level, function ? function : "?", line);
    return n < 0 ? 0 : std::min(static_cast<size_t>(n), size - 1);
}

void emit(const char* text, size_t length) {
    ssize_t ignored = write(logFd(), text, length);
    (void)ignored;
}

// "... repeated N times" for the lines of `r` left out in its window; the window starts anew.
void emitSummary(Repeats& r, uint64_t ns) {
    if (r.skipped > 0) {
        LogObject* object = objectOf(r.handle);
        char text[kLineBytes];
        size_t used = formatPrefix(text, sizeof text, ns, object ? object->name.data() : "?", r.level,
                                   r.function.data(), r.line);
        const int m = std::snprintf(text + used, sizeof text - used, "... repeated %llu times\n",
                                    static_cast<unsigned long long>(r.skipped));
        if (m > 0) used = std::min(used + static_cast<size_t>(m), sizeof text - 1);
        emit(text, used);
    }
    r.windowStartNs = ns;
    r.written = 0;
    r.skipped = 0;
}

// Decides whether the line `key` (the line after its time stamp) is written now, and writes
// the summaries that are due. Called with gRepeatsMutex held.
bool admit(std::string_view key, int32_t handle, uint32_t level, const char* function, int32_t line,
           uint64_t ns) {
    Repeats* entry = nullptr;
    Repeats* oldest = &gRepeats[0];
    for (Repeats& r : gRepeats) {
        if (r.keyLength != 0 && std::string_view(r.key.data(), r.keyLength) == key)
            entry = &r;
        else if (r.skipped > 0 && ns - r.windowStartNs >= kWindowNs)
            emitSummary(r, ns);  // a storm that is over
        if (r.lastSeenNs < oldest->lastSeenNs) oldest = &r;
    }
    if (!entry) {
        entry = oldest;
        emitSummary(*entry, ns);
        entry->keyLength = std::min(key.size(), entry->key.size());
        std::memcpy(entry->key.data(), key.data(), entry->keyLength);
        entry->handle = handle;
        entry->level = level;
        std::snprintf(entry->function.data(), entry->function.size(), "%s", function ? function : "?");
        entry->line = line;
    } else if (ns - entry->windowStartNs >= kWindowNs) {
        emitSummary(*entry, ns);
    }
    entry->lastSeenNs = ns;
    if (entry->written < kBurst) {
        ++entry->written;
        return true;
    }
    ++entry->skipped;
    return false;
}

}  // namespace

void writeLogLine(int32_t handle, uint32_t level, const char* function, int32_t line,
                  const char* format, va_list args) {
    if (!enabled(handle, level)) return;
    LogObject* object = objectOf(handle);
    char text[kLineBytes];
    const uint64_t ns = VELD_OSA_ReadNsTicks();
    size_t used = formatPrefix(text, sizeof text, ns, object->name.data(), level, function, line);
    const size_t stamp = std::string_view(text, used).find(' ') + 1;
    const int m = std::vsnprintf(text + used, sizeof text - used, format, args);
    if (m > 0) used = std::min(used + static_cast<size_t>(m), sizeof text - 2);
    if (used == 0 || text[used - 1] != '\n') text[used++] = '\n';
    text[used] = '\0';
    if (VELD_HOST_LOG_SINK sink = gSink.load()) sink(text, gSinkContext.load());
    // Called through a lambda, not a reference to the function: on 32-bit ARM a Thumb
    // function's address is odd, which the sanitizer's alignment check takes for a fault.
    std::call_once(gForkHandlers, [] { holdAcrossFork(); });
    std::lock_guard lock(gRepeatsMutex);
    if (admit(std::string_view(text + stamp, used - stamp), handle, level, function, line, ns))
        emit(text, used);
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
    // A masked level costs a test, not the line's formatting frame: trace lines sit on hot paths.
    if (!enabled(handle, level)) return 0;
    va_list args;
    va_start(args, format);
    writeLogLine(handle, level, function, line, format, args);
    va_end(args);
    return 0;
}

const uint32_t* VELD_HOST_LogLevelMask(int32_t handle) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                      std::atomic<uint32_t>::is_always_lock_free,
                  "a mask word reads as a plain 32-bit word");
    if (handle < 0 || handle >= kMaxObjects) return nullptr;
    return reinterpret_cast<const uint32_t*>(&gObjects[static_cast<size_t>(handle)].mask);
}

void VELD_HOST_SetLogSink(VELD_HOST_LOG_SINK sink, void* context) {
    gSinkContext.store(context);
    gSink.store(sink);
}

}  // extern "C"
