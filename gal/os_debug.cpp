// The driver's strings, process detection, debug output and profiling, and the names of its
// status codes. Debug output goes to standard error unless a debug file replaces it.
#include <signal.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gal_internal.h"

namespace {

struct StatusName {
    gceSTATUS status;
    const char* name;
};

constexpr StatusName kStatusNames[] = {
    {0, "gcvSTATUS_OK"},
    {1, "gcvSTATUS_TRUE"},
    {2, "gcvSTATUS_NO_MORE_DATA"},
    {3, "gcvSTATUS_CACHED"},
    {4, "gcvSTATUS_MIPMAP_TOO_LARGE"},
    {5, "gcvSTATUS_NAME_NOT_FOUND"},
    {6, "gcvSTATUS_NOT_OUR_INTERRUPT"},
    {7, "gcvSTATUS_MISMATCH"},
    {8, "gcvSTATUS_MIPMAP_TOO_SMALL"},
    {9, "gcvSTATUS_LARGER"},
    {10, "gcvSTATUS_SMALLER"},
    {11, "gcvSTATUS_CHIP_NOT_READY"},
    {12, "gcvSTATUS_NEED_CONVERSION"},
    {13, "gcvSTATUS_SKIP"},
    {14, "gcvSTATUS_DATA_TOO_LARGE"},
    {15, "gcvSTATUS_INVALID_CONFIG"},
    {16, "gcvSTATUS_CHANGED"},
    {17, "gcvSTATUS_NOT_SUPPORT_DITHER"},
    {18, "gcvSTATUS_EXECUTED"},
    {19, "gcvSTATUS_TERMINATE"},
    {-1, "gcvSTATUS_INVALID_ARGUMENT"},
    {-2, "gcvSTATUS_INVALID_OBJECT"},
    {-3, "gcvSTATUS_OUT_OF_MEMORY"},
    {-4, "gcvSTATUS_MEMORY_LOCKED"},
    {-5, "gcvSTATUS_MEMORY_UNLOCKED"},
    {-6, "gcvSTATUS_HEAP_CORRUPTED"},
    {-7, "gcvSTATUS_GENERIC_IO"},
    {-8, "gcvSTATUS_INVALID_ADDRESS"},
    {-9, "gcvSTATUS_CONTEXT_LOSSED"},
    {-10, "gcvSTATUS_TOO_COMPLEX"},
    {-11, "gcvSTATUS_BUFFER_TOO_SMALL"},
    {-12, "gcvSTATUS_INTERFACE_ERROR"},
    {-13, "gcvSTATUS_NOT_SUPPORTED"},
    {-14, "gcvSTATUS_MORE_DATA"},
    {-15, "gcvSTATUS_TIMEOUT"},
    {-16, "gcvSTATUS_OUT_OF_RESOURCES"},
    {-17, "gcvSTATUS_INVALID_DATA"},
    {-18, "gcvSTATUS_INVALID_MIPMAP"},
    {-19, "gcvSTATUS_NOT_FOUND"},
    {-20, "gcvSTATUS_NOT_ALIGNED"},
    {-21, "gcvSTATUS_INVALID_REQUEST"},
    {-22, "gcvSTATUS_GPU_NOT_RESPONDING"},
    {-23, "gcvSTATUS_TIMER_OVERFLOW"},
    {-24, "gcvSTATUS_VERSION_MISMATCH"},
    {-25, "gcvSTATUS_LOCKED"},
    {-26, "gcvSTATUS_INTERRUPTED"},
    {-27, "gcvSTATUS_DEVICE"},
    {-28, "gcvSTATUS_NOT_MULTI_PIPE_ALIGNED"},
    {-1000, "gcvSTATUS_GLOBAL_TYPE_MISMATCH"},
    {-1001, "gcvSTATUS_TOO_MANY_ATTRIBUTES"},
    {-1002, "gcvSTATUS_TOO_MANY_UNIFORMS"},
    {-1003, "gcvSTATUS_TOO_MANY_VARYINGS"},
    {-1004, "gcvSTATUS_UNDECLARED_VARYING"},
    {-1005, "gcvSTATUS_VARYING_TYPE_MISMATCH"},
    {-1006, "gcvSTATUS_MISSING_MAIN"},
    {-1007, "gcvSTATUS_NAME_MISMATCH"},
    {-1008, "gcvSTATUS_INVALID_INDEX"},
    {-1009, "gcvSTATUS_UNIFORM_MISMATCH"},
    {-1010, "gcvSTATUS_UNSAT_LIB_SYMBOL"},
    {-1011, "gcvSTATUS_TOO_MANY_SHADERS"},
    {-1012, "gcvSTATUS_LINK_INVALID_SHADERS"},
    {-1013, "gcvSTATUS_CS_NO_WORKGROUP_SIZE"},
    {-1014, "gcvSTATUS_LINK_LIB_ERROR"},
    {-1015, "gcvSTATUS_SHADER_VERSION_MISMATCH"},
    {-1016, "gcvSTATUS_TOO_MANY_INSTRUCTION"},
    {-1017, "gcvSTATUS_SSBO_MISMATCH"},
    {-1018, "gcvSTATUS_TOO_MANY_OUTPUT"},
    {-1019, "gcvSTATUS_TOO_MANY_INPUT"},
    {-1020, "gcvSTATUS_NOT_SUPPORT_CL"},
    {-1021, "gcvSTATUS_NOT_SUPPORT_INTEGER"},
    {-2000, "gcvSTATUS_COMPILER_FE_PREPROCESSOR_ERROR"},
    {-2001, "gcvSTATUS_COMPILER_FE_PARSER_ERROR"},
};

std::mutex gOutputLock;
FILE* gDebugFile = nullptr;  // null: standard error
std::atomic<uint32_t> gDebugLevel{0};
uint32_t gDebugZones[16] = {};

FILE* output() { return gDebugFile ? gDebugFile : stderr; }

void printLine(const char* format, va_list arguments) {
    std::lock_guard<std::mutex> guard(gOutputLock);
    FILE* out = output();
    std::vfprintf(out, format, arguments);
    std::fputc('\n', out);
    std::fflush(out);
}

bool traceEnabled(uint32_t level, uint32_t zone) {
    if (level > gDebugLevel.load()) return false;
    return (gDebugZones[zone >> 28] & zone & 0x0FFFFFFFu) != 0;
}

}  // namespace

namespace gal {

void print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printLine(format, arguments);
    va_end(arguments);
}

}  // namespace gal

extern "C" {

gceSTATUS gcoOS_StrStr(const char* string, const char* sub, char** output) {
    if (!string || !sub) return gcvSTATUS_INVALID_ARGUMENT;
    char* found = const_cast<char*>(std::strstr(string, sub));
    if (output) *output = found;
    return found ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoOS_StrFindReverse(const char* string, int8_t character, char** output) {
    if (!string || !output) return gcvSTATUS_INVALID_ARGUMENT;
    *output = const_cast<char*>(std::strrchr(string, character));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_StrCopySafe(char* destination, size_t size, const char* source) {
    if (!destination || !source || size == 0) return gcvSTATUS_INVALID_ARGUMENT;
    const size_t n = strnlen(source, size - 1);
    std::memcpy(destination, source, n);
    destination[n] = '\0';
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_StrCatSafe(char* destination, size_t size, const char* source) {
    if (!destination || !source || size == 0) return gcvSTATUS_INVALID_ARGUMENT;
    const size_t used = strnlen(destination, size);
    if (used + 1 < size) {
        const size_t n = strnlen(source, size - used - 1);
        std::memcpy(destination + used, source, n);
        destination[used + n] = '\0';
    } else {
        destination[size - 1] = '\0';
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_StrCmp(const char* a, const char* b) {
    if (!a || !b) return gcvSTATUS_INVALID_ARGUMENT;
    const int c = std::strcmp(a, b);
    return c == 0 ? gcvSTATUS_OK : c > 0 ? gcvSTATUS_LARGER : gcvSTATUS_SMALLER;
}

gceSTATUS gcoOS_StrNCmp(const char* a, const char* b, size_t count) {
    if (!a || !b) return gcvSTATUS_INVALID_ARGUMENT;
    const int c = std::strncmp(a, b, count);
    return c == 0 ? gcvSTATUS_OK : c > 0 ? gcvSTATUS_LARGER : gcvSTATUS_SMALLER;
}

gceSTATUS gcoOS_StrToInt(const char* string, int32_t* value) {
    if (!string || !value) return gcvSTATUS_INVALID_ARGUMENT;
    *value = static_cast<int32_t>(std::strtol(string, nullptr, 10));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_StrToFloat(const char* string, float* value) {
    if (!string || !value) return gcvSTATUS_INVALID_ARGUMENT;
    *value = std::strtof(string, nullptr);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_HexStrToInt(const char* string, int32_t* value) {
    if (!string || !value) return gcvSTATUS_INVALID_ARGUMENT;
    *value = static_cast<int32_t>(std::strtoul(string, nullptr, 16));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_HexStrToFloat(const char* string, float* value) {
    if (!string || !value) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t bits = static_cast<uint32_t>(std::strtoul(string, nullptr, 16));
    std::memcpy(value, &bits, sizeof bits);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_MemCmp(const void* a, const void* b, size_t bytes) {
    if (!a || !b) return gcvSTATUS_INVALID_ARGUMENT;
    return std::memcmp(a, b, bytes) == 0 ? gcvSTATUS_OK : gcvSTATUS_MISMATCH;
}

gceSTATUS gcoOS_PrintStrVSafe(char* string, size_t size, uint32_t* offset, const char* format,
                              va_list arguments) {
    if (!string || !offset || !format) return gcvSTATUS_INVALID_ARGUMENT;
    if (*offset >= size) return gcvSTATUS_OK;
    const size_t room = size - *offset;  // at most room - 1 characters and the terminator
    const int n = std::vsnprintf(string + *offset, room, format, arguments);
    if (n < 0) return gcvSTATUS_GENERIC_IO;
    *offset += static_cast<uint32_t>(static_cast<size_t>(n) < room ? size_t(n) : room - 1);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_PrintStrSafe(char* string, size_t size, uint32_t* offset, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const gceSTATUS status = gcoOS_PrintStrVSafe(string, size, offset, format, arguments);
    va_end(arguments);
    return status;
}

gceSTATUS gcoOS_StrDup(gcoOS os, const char* string, char** copy) {
    if (!string || !copy) return gcvSTATUS_INVALID_ARGUMENT;
    const size_t bytes = std::strlen(string) + 1;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(os, bytes, &memory);
    if (status < 0) return status;
    std::memcpy(memory, string, bytes);
    *copy = static_cast<char*>(memory);
    return gcvSTATUS_OK;
}

int32_t gcoOS_DetectProcessByNamePid(const char* name, uint32_t pid) {
    if (!name) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/cmdline", pid);
    FILE* f = std::fopen(path, "rb");
    if (!f) return 0;
    char line[128] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    // Arguments are separated by NUL bytes: look through the whole command line.
    for (size_t i = 0; i < n; ++i)
        if (line[i] == '\0') line[i] = ' ';
    return std::strstr(line, name) ? 1 : 0;
}

int32_t gcoOS_DetectProcessByName(const char* name) {
    return gcoOS_DetectProcessByNamePid(name, gcoOS_GetCurrentProcessID());
}

int32_t gcoOS_DetectProcessByEncryptedName(const char* name) {
    if (!name) return 0;
    char plain[1024];
    gcoOS_StrCopySafe(plain, sizeof plain, name);
    for (char* p = plain; *p; ++p) *p = static_cast<char>(~static_cast<unsigned char>(*p));
    return gcoOS_DetectProcessByName(plain);
}

void gcoOS_Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printLine(format, arguments);
    va_end(arguments);
}

void gcoOS_DebugTrace(uint32_t level, const char* format, ...) {
    if (level > gDebugLevel.load()) return;
    va_list arguments;
    va_start(arguments, format);
    printLine(format, arguments);
    va_end(arguments);
}

void gcoOS_DebugTraceZone(uint32_t level, uint32_t zone, const char* format, ...) {
    if (!traceEnabled(level, zone)) return;
    va_list arguments;
    va_start(arguments, format);
    printLine(format, arguments);
    va_end(arguments);
}

void gcoOS_SetDebugLevel(uint32_t level) { gDebugLevel.store(level); }
void gcoOS_GetDebugLevel(uint32_t* level) {
    if (level) *level = gDebugLevel.load();
}
void gcoOS_SetDebugZone(uint32_t zone) { gDebugZones[zone >> 28] = zone & 0x0FFFFFFFu; }
void gcoOS_GetDebugZone(uint32_t zone, uint32_t* zones) {
    if (zones) *zones = gDebugZones[zone >> 28] | (zone & 0xF0000000u);
}
void gcoOS_SetDebugLevelZone(uint32_t level, uint32_t zone) {
    gcoOS_SetDebugLevel(level);
    gcoOS_SetDebugZone(zone);
}
void gcoOS_SetDebugZones(uint32_t zones, int32_t enable) {
    uint32_t& group = gDebugZones[zones >> 28];
    if (enable)
        group |= zones & 0x0FFFFFFFu;
    else
        group &= ~(zones & 0x0FFFFFFFu);
}

void gcoOS_SetDebugFile(const char* fileName) {
    std::lock_guard<std::mutex> guard(gOutputLock);
    if (gDebugFile) std::fclose(gDebugFile);
    gDebugFile = fileName && *fileName ? std::fopen(fileName, "w") : nullptr;
}

gcsFILE_PTR gcoOS_ReplaceDebugFile(gcsFILE_PTR file) {
    std::lock_guard<std::mutex> guard(gOutputLock);
    FILE* previous = gDebugFile;
    gDebugFile = static_cast<FILE*>(file);
    return previous;
}

void gcoOS_DebugBreak(void) { ::raise(SIGTRAP); }

void gcoOS_DebugFatal(int32_t, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printLine(format, arguments);
    va_end(arguments);
    gcoOS_DebugBreak();
}

const char* gcoOS_DebugStatus2Name(gceSTATUS status) {
    for (const StatusName& s : kStatusNames)
        if (s.status == status) return s.name;
    return "nil";
}

void gcoOS_StackPush(int8_t*, const char*, uint32_t, const char*, ...) {}
void gcoOS_StackPop(int8_t*, const char*) {}
void gcoOS_StackDump(void) {}
void gcoOS_SysTraceBegin(const char*) {}
void gcoOS_SysTraceEnd(void) {}
void gcoOS_BinaryTrace(const char*, int32_t, const char*, ...) {}
gceSTATUS gcoOS_Verify(gceSTATUS) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_EnableDebugBuffer(uint32_t) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_WriteToStorage(void) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_Compact(gcoOS) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_RecordAllocation(void) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_EndRecordAllocation(void) { return gcvSTATUS_OK; }
gceSTATUS gcoOS_AddRecordAllocation(size_t) { return gcvSTATUS_OK; }

gceSTATUS gcoOS_ProfileStart(gcoOS os) {
    _gcoOS* o = os ? os : gcPLS.os;
    if (!o) return gcvSTATUS_INVALID_OBJECT;
    o->allocations = o->allocatedBytes = o->peakBytes = o->frees = o->freedBytes = 0;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_ProfileEnd(gcoOS os, const char* title) {
    _gcoOS* o = os ? os : gcPLS.os;
    if (!o) return gcvSTATUS_INVALID_OBJECT;
    gal::print("-----[ MEMORY STATISTICS for %s ]-----", title ? title : "");
    gal::print("Allocation count   : %u for %u bytes", o->allocations,
               o->allocatedBytes + o->freedBytes);
    gal::print("Maximum allocation : %u bytes", o->peakBytes);
    gal::print("Free count         : %u for %u bytes", o->frees, o->freedBytes);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_SetProfileSetting(gcoOS, int32_t enable, const char* fileName) {
    if (fileName && std::strlen(fileName) > 127) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_SET_PROFILE_SETTING);
    gal::setField<uint32_t>(r, 0, enable ? 1 : 0);
    return gal::call(r);
}

gceSTATUS gcoOS_ProfileDB(const char*, int32_t) { return gcvSTATUS_OK; }

}  // extern "C"
