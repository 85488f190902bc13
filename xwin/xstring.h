// Memory and text helpers of the window system: zeroed allocation rounded to 8 bytes, a
// pointer-clearing free, the counted string XString, the ring of eight static 4096-byte scratch
// buffers for formatted text, and the small random-number helpers.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "veldcore.h"  // VELD_PRINTF

extern "C" {

// Counted string, passed and returned by value. `length` counts bytes without a terminator;
// the text need not be terminated.
struct XString {
    uint32_t length;
    char* data;
};
static_assert(offsetof(XString, data) == sizeof(void*));

// Zeroed block of `size` rounded up to a multiple of 8; null on failure. Freed with
// XMEM_FreeSafe.
void* XMEM_Alloc(size_t size);
// Frees *block when it is not null and nulls the caller's pointer.
void XMEM_FreeSafe(void** block);

// Zeroed block of (capacity + 8) rounded down to a multiple of 8 bytes, so there is always
// room for `capacity` bytes and a terminator; length 0. The caller frees it with
// XUTIL_FreeString. Data is null when the allocation fails.
XString XUTIL_AllocString(uint32_t capacity);
// Formats into the next scratch buffer and copies the result into a new zeroed block (as
// XUTIL_AllocString); the caller frees it with XUTIL_FreeString.
XString XUTIL_AllocFormatedString(const char* format, ...) VELD_PRINTF(1, 2);
// Frees the data when it is not null.
void XUTIL_FreeString(XString text);

// Scratch strings: the next of eight static 4096-byte buffers, used in turn. A scratch string
// stays valid until eight further ones have been taken. Formatting stops at 4095 characters
// plus the terminator; longer results are cut there.
XString XUTIL_GetStaticString(void);
// Only the first `clearLength` bytes (at most the whole buffer) are cleared.
XString XUTIL_GetStaticStringEx(uint32_t clearLength);
XString XUTIL_GetStaticFormatedString(const char* format, ...) VELD_PRINTF(1, 2);
XString XUTIL_GetStaticFormatedStringEx(uint32_t clearLength, const char* format, ...)
    VELD_PRINTF(2, 3);
// Wraps existing characters; nothing is copied.
XString XUTIL_MakeString(const char* data, uint32_t length);

// srand(0).
void XUTIL_InitRandomNumber(void);
// rand() / 2147483647.0, in [0, 1].
double XUTIL_UniformRand(void);
// A value in [low, high] drawn with XUTIL_UniformRand.
int32_t XUTIL_Rand(int32_t low, int32_t high);

}  // extern "C"

namespace veld::xutil {

inline constexpr size_t kScratchBuffers = 8;
inline constexpr size_t kScratchBytes = 4096;

// The va_list form of the scratch formatting, for callers that forward their own arguments.
XString vformatStatic(uint32_t clearLength, const char* format, va_list args);

}  // namespace veld::xutil
