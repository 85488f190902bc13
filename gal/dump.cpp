// The dump writer (gcoDUMP): a tagged binary file of frames, command spans, surfaces and
// deletions, with its header and frame records patched in place (see gal_dump.h). A mutex
// keeps the records of several threads whole.
#include <cstdio>
#include <mutex>
#include <new>

#include "gal_dump.h"
#include "gal_internal.h"

struct _gcoDUMP {
    uint32_t magic;
    std::mutex lock;
    FILE* file = nullptr;
    bool frameOpen = false;
    long framePosition = 0;
    uint32_t frameBytes = 0;
    uint32_t totalBytes = 0;
    uint32_t frameCount = 0;
};

namespace {

constexpr uint32_t kTagHeader = GAL_DUMP_TAG('g', 'c', 'D', 'B');
constexpr uint32_t kTagFrame = GAL_DUMP_TAG('f', 'r', 'm', ' ');
constexpr uint32_t kTagSurface = GAL_DUMP_TAG('s', 'u', 'r', 'f');
constexpr uint32_t kTagDelete = GAL_DUMP_TAG('d', 'e', 'l', ' ');

gceSTATUS write(FILE* f, const void* data, size_t bytes) {
    return std::fwrite(data, 1, bytes, f) == bytes ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS writeWords(FILE* f, uint32_t a, uint32_t b, uint32_t c) {
    const uint32_t words[3] = {a, b, c};
    return write(f, words, sizeof words);
}

// Rewrites three words at `position` and returns to where the file stood.
gceSTATUS patch(FILE* f, long position, uint32_t a, uint32_t b, uint32_t c) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, position, SEEK_SET) != 0) return gcvSTATUS_GENERIC_IO;
    const gceSTATUS status = writeWords(f, a, b, c);
    if (std::fseek(f, here, SEEK_SET) != 0) return gcvSTATUS_GENERIC_IO;
    return status;
}

void counted(gcoDUMP d, uint32_t bytes) {
    d->totalBytes += bytes;
    if (d->frameOpen) d->frameBytes += bytes;
}

gceSTATUS endFrame(gcoDUMP d) {
    if (!d->file || !d->frameOpen) return gcvSTATUS_OK;
    d->frameOpen = false;
    ++d->frameCount;
    return patch(d->file, d->framePosition, kTagFrame, d->frameBytes, d->frameCount);
}

}  // namespace

extern "C" {

gceSTATUS gcoDUMP_Construct(gcoOS os, gcoHAL, gcoDUMP* dump) {
    if (!dump) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(os, sizeof(_gcoDUMP), &memory);
    if (status < 0) return status;
    *dump = new (memory) _gcoDUMP{};
    (*dump)->magic = gal::fourCC('D', 'U', 'M', 'P');
    return gcvSTATUS_OK;
}

gceSTATUS gcoDUMP_Destroy(gcoDUMP dump) {
    if (!dump) return gcvSTATUS_INVALID_OBJECT;
    gcoDUMP_Control(dump, nullptr);
    dump->~_gcoDUMP();
    return gcoOS_Free(nullptr, dump);
}

gceSTATUS gcoHAL_GetDump(gcoHAL, gcoDUMP* dump) {
    if (!dump) return gcvSTATUS_INVALID_ARGUMENT;
    gcsTHREAD_DATA* record = nullptr;
    gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (!gcPLS.hal->dump) {
        status = gcoDUMP_Construct(nullptr, gcPLS.hal, &gcPLS.hal->dump);
        if (status < 0) return status;
    }
    *dump = gcPLS.hal->dump;
    return gcvSTATUS_OK;
}

gceSTATUS gcoDUMP_Control(gcoDUMP d, const char* fileName) {
    if (!d) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<std::mutex> guard(d->lock);
    if (fileName) {
        if (d->file) return gcvSTATUS_OK;
        d->file = std::fopen(fileName, "wb");
        if (!d->file) return gcvSTATUS_GENERIC_IO;
        d->frameOpen = false;
        d->frameBytes = d->totalBytes = d->frameCount = 0;
        return writeWords(d->file, kTagHeader, 0, 0);
    }
    if (!d->file) return gcvSTATUS_OK;
    // The open frame is closed; no new one is begun behind it.
    gceSTATUS status = endFrame(d);
    const gceSTATUS header = patch(d->file, 0, kTagHeader, d->totalBytes, d->frameCount);
    if (status >= 0) status = header;
    if (std::fclose(d->file) != 0 && status >= 0) status = gcvSTATUS_GENERIC_IO;
    d->file = nullptr;
    return status;
}

gceSTATUS gcoDUMP_IsEnabled(gcoDUMP d, int32_t* enabled) {
    if (!d || !enabled) return gcvSTATUS_INVALID_ARGUMENT;
    *enabled = d->file ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gcoDUMP_FrameBegin(gcoDUMP d) {
    if (!d) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->file || d->frameOpen) return gcvSTATUS_OK;
    d->framePosition = std::ftell(d->file);
    d->frameBytes = 0;
    const gceSTATUS status = writeWords(d->file, kTagFrame, 0, 0);
    if (status < 0) return status;
    d->totalBytes += 12;
    d->frameOpen = true;
    return gcvSTATUS_OK;
}

gceSTATUS gcoDUMP_FrameEnd(gcoDUMP d) {
    if (!d) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<std::mutex> guard(d->lock);
    return endFrame(d);
}

gceSTATUS gcoDUMP_DumpData(gcoDUMP d, uint32_t tag, uint32_t address, uint32_t bytes,
                           const void* data) {
    if (!d || !data || bytes == 0) return gcvSTATUS_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->file) return gcvSTATUS_OK;
    gceSTATUS status = writeWords(d->file, tag, bytes, address);
    if (status >= 0) status = write(d->file, data, bytes);
    if (status >= 0) counted(d, 12 + bytes);
    return status;
}

gceSTATUS gcoDUMP_AddSurface(gcoDUMP d, int32_t width, int32_t height, uint32_t format,
                             uint32_t address, uint32_t bytes) {
    if (!d) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->file) return gcvSTATUS_OK;
    const uint32_t words[5] = {kTagSurface, address,
                               (uint32_t(width) & 0xFFFF) | (uint32_t(height) & 0xFFFF) << 16,
                               format, bytes};
    const gceSTATUS status = write(d->file, words, sizeof words);
    if (status >= 0) counted(d, 20);
    return status;
}

gceSTATUS gcoDUMP_Delete(gcoDUMP d, uint32_t address) {
    if (!d) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->file) return gcvSTATUS_OK;
    const gceSTATUS status = writeWords(d->file, kTagDelete, 0, address);
    if (status >= 0) counted(d, 12);
    return status;
}

gceSTATUS gcoDUMP_SetDumpFlag(int32_t) { return gcvSTATUS_OK; }

}  // extern "C"
