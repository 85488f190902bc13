// Zeroed allocation, counted strings, the eight scratch buffers and random numbers (see
// xstring.h).
#include "xstring.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using veld::xutil::kScratchBuffers;
using veld::xutil::kScratchBytes;

char gScratch[kScratchBuffers][kScratchBytes];
// Index of the last buffer handed out; it starts at 7 so that the first call uses buffer 0.
// Atomic only so that stray callers outside the window manager's task cannot tear it.
std::atomic<uint32_t> gScratchIndex{kScratchBuffers - 1};

static_assert((std::numeric_limits<uint32_t>::max() + 1ull) % kScratchBuffers == 0,
              "the index may wrap without skipping a buffer");

char* nextScratch() {
    const uint32_t index = gScratchIndex.fetch_add(1, std::memory_order_relaxed) + 1;
    return gScratch[index % kScratchBuffers];
}

// (n + 8) rounded down to a multiple of 8: at least n + 1 bytes.
size_t stringBlockBytes(size_t n) { return (n + 8) & ~size_t{7}; }

// Formats into `buffer` and returns the number of characters kept (at most kScratchBytes - 1).
uint32_t formatInto(char* buffer, const char* format, va_list args) {
    if (!format) {
        buffer[0] = '\0';
        return 0;
    }
    const int n = std::vsnprintf(buffer, kScratchBytes, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(n), kScratchBytes - 1));
}

XString copyToBlock(const char* text, uint32_t n) {
    auto* data = static_cast<char*>(XMEM_Alloc(stringBlockBytes(n)));
    if (!data) return {0, nullptr};
    std::memcpy(data, text, n);
    return {n, data};
}

}  // namespace

namespace veld::xutil {

XString vformatStatic(uint32_t clearLength, const char* format, va_list args) {
    char* buffer = nextScratch();
    std::memset(buffer, 0, std::min<size_t>(clearLength, kScratchBytes));
    return {formatInto(buffer, format, args), buffer};
}

}  // namespace veld::xutil

extern "C" {

void* XMEM_Alloc(size_t size) {
    if (size > std::numeric_limits<size_t>::max() - 7) return nullptr;
    const size_t rounded = (size + 7) & ~size_t{7};
    return std::calloc(1, rounded == 0 ? 8 : rounded);
}

void XMEM_FreeSafe(void** block) {
    if (!block) return;
    std::free(*block);
    *block = nullptr;
}

XString XUTIL_AllocString(uint32_t capacity) {
    auto* data = static_cast<char*>(XMEM_Alloc(stringBlockBytes(capacity)));
    return {0, data};
}

XString XUTIL_AllocFormatedString(const char* format, ...) {
    char* buffer = nextScratch();
    va_list args;
    va_start(args, format);
    const uint32_t n = formatInto(buffer, format, args);
    va_end(args);
    return copyToBlock(buffer, n);
}

void XUTIL_FreeString(XString text) { std::free(text.data); }

XString XUTIL_GetStaticString(void) {
    char* buffer = nextScratch();
    std::memset(buffer, 0, kScratchBytes);
    return {0, buffer};
}

XString XUTIL_GetStaticStringEx(uint32_t clearLength) {
    char* buffer = nextScratch();
    std::memset(buffer, 0, std::min<size_t>(clearLength, kScratchBytes));
    return {0, buffer};
}

XString XUTIL_GetStaticFormatedString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const XString text = veld::xutil::vformatStatic(kScratchBytes, format, args);
    va_end(args);
    return text;
}

XString XUTIL_GetStaticFormatedStringEx(uint32_t clearLength, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const XString text = veld::xutil::vformatStatic(clearLength, format, args);
    va_end(args);
    return text;
}

XString XUTIL_MakeString(const char* data, uint32_t length) {
    return {length, const_cast<char*>(data)};
}

void XUTIL_InitRandomNumber(void) { std::srand(0); }

double XUTIL_UniformRand(void) { return std::rand() / 2147483647.0; }

int32_t XUTIL_Rand(int32_t low, int32_t high) {
    const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
    // Flooring (not truncating towards zero) keeps negative ranges uniform, and the clamp keeps
    // the one draw where rand() returns its maximum inside the range.
    const double value = std::floor(static_cast<double>(low) + span * XUTIL_UniformRand());
    return static_cast<int32_t>(std::clamp(value, static_cast<double>(std::min(low, high)),
                                           static_cast<double>(std::max(low, high))));
}

}  // extern "C"
