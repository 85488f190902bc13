// The driver's text dumps ("$$" lines on the debug output): a formatted API line, arrays of
// words, token/value lists and raw bytes. They print only while the API-dump switch is on:
// VELD_GAL_API_DUMP set to anything but "0" (read at every call, so a tool may flip it).
// The remaining gcf calls are kept for callers and do nothing.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gal_dump.h"
#include "gal_internal.h"

namespace {

bool apiDumpOn() {
    const char* value = std::getenv("VELD_GAL_API_DUMP");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The address shown beside each line: the low 32 bits of the data's address.
uint32_t shown(const void* at) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at)); }

void closing() { gal::print("$$ **********"); }

// Lines of `perLine` items, each "$$ <address of its first item>:" and the items in `format`.
template <typename T>
void itemLines(const T* items, uint32_t count, uint32_t perLine, const char* format) {
    for (uint32_t i = 0; i < count; i += perLine) {
        std::string line;
        char part[16];
        for (uint32_t j = i; j < count && j < i + perLine; ++j) {
            std::snprintf(part, sizeof part, format, unsigned(items[j]));
            line += part;
        }
        gal::print("$$ 0x%08X:%s", shown(items + i), line.c_str());
    }
}

}  // namespace

extern "C" {

gceSTATUS gcfDumpApi(const char* format, ...) {
    if (!apiDumpOn()) return gcvSTATUS_OK;
    if (!format) return gcvSTATUS_INVALID_ARGUMENT;
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    gal::print("%s", line);
    return gcvSTATUS_OK;
}

gceSTATUS gcfDumpArray(const void* data, uint32_t count) {
    if (!apiDumpOn()) return gcvSTATUS_OK;
    const auto* words = static_cast<const uint32_t*>(data);
    if (!words) {
        gal::print("$$ <nil>");
    } else {
        itemLines(words, count, 4, " 0x%08X");
    }
    closing();
    return gcvSTATUS_OK;
}

gceSTATUS gcfDumpArrayToken(const void* data, uint32_t terminator) {
    if (!apiDumpOn()) return gcvSTATUS_OK;
    const auto* words = static_cast<const uint32_t*>(data);
    if (!words) {
        gal::print("$$ <nil>");
    } else {
        for (; *words != terminator; words += 2)
            gal::print("$$ 0x%08X: 0x%08X 0x%08X", shown(words), words[0], words[1]);
        gal::print("$$ 0x%08X: 0x%08X", shown(words), words[0]);
    }
    closing();
    return gcvSTATUS_OK;
}

gceSTATUS gcfDumpApiData(const void* data, uint32_t bytes) {
    if (!apiDumpOn()) return gcvSTATUS_OK;
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p) {
        gal::print("$$ <nil>");
    } else {
        if (bytes == 0) bytes = static_cast<uint32_t>(std::strlen(static_cast<const char*>(data)) + 1);
        itemLines(p, bytes, 8, " 0x%02X");
    }
    closing();
    return gcvSTATUS_OK;
}

void gcfDump(gcoOS, const char*, ...) {}
void gcfDumpBuffer(gcoOS, const char*, uint32_t, const void*, uint32_t, uint32_t) {}
void gcfDumpFrameRate(void) {}
gceSTATUS gcfDump2DCommand(const uint32_t*, uint32_t) { return gcvSTATUS_OK; }
gceSTATUS gcfDump2DSurface(int32_t, uint32_t) { return gcvSTATUS_OK; }
gceSTATUS gcfAddMemoryInfo(uint32_t, void*, uint32_t, uint32_t) { return gcvSTATUS_OK; }
gceSTATUS gcfDelMemoryInfo(uint32_t) { return gcvSTATUS_OK; }

}  // extern "C"
