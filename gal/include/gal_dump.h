/*
 * gal_dump.h - the dump writer: command buffers, surfaces and deletions recorded into a tagged
 * binary file. All fields are 32-bit little-endian; every record starts with a tag:
 *   header  "gcDB", bytes of the records that follow, frame count (patched on close)
 *   frame   "frm ", bytes of the frame's records, frame number from 1 (patched at its end)
 *   data    tag ("cmd " for command buffers), byte count n, address (0 for commands), n bytes
 *   surface "surf", address, width | height << 16, format, byte count
 *   delete  "del ", 0, address
 * One dump object per process, kept by the HAL; records of several threads do not interleave.
 */
#ifndef GAL_DUMP_H
#define GAL_DUMP_H

#include "gal_os.h"

#ifdef __cplusplus
extern "C" {
#endif

gceSTATUS gcoHAL_GetDump(gcoHAL hal, gcoDUMP* dump);
gceSTATUS gcoDUMP_Construct(gcoOS os, gcoHAL hal, gcoDUMP* dump);
gceSTATUS gcoDUMP_Destroy(gcoDUMP dump);
/* Opens `fileName` for a new dump, or with NULL closes the open one and patches its header. */
gceSTATUS gcoDUMP_Control(gcoDUMP dump, const char* fileName);
gceSTATUS gcoDUMP_IsEnabled(gcoDUMP dump, int32_t* enabled);
gceSTATUS gcoDUMP_FrameBegin(gcoDUMP dump);
gceSTATUS gcoDUMP_FrameEnd(gcoDUMP dump);
gceSTATUS gcoDUMP_DumpData(gcoDUMP dump, uint32_t tag, uint32_t address, uint32_t bytes,
                           const void* data);
gceSTATUS gcoDUMP_AddSurface(gcoDUMP dump, int32_t width, int32_t height, uint32_t format,
                             uint32_t address, uint32_t bytes);
gceSTATUS gcoDUMP_Delete(gcoDUMP dump, uint32_t address);
gceSTATUS gcoDUMP_SetDumpFlag(int32_t enabled);

/* Text dumps: "$$" lines on the debug output, printed only while VELD_GAL_API_DUMP is set to
 * anything but "0". Each array dump ends with "$$ **********"; a null pointer prints
 * "$$ <nil>". */
gceSTATUS gcfDumpApi(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* Four words per line. */
gceSTATUS gcfDumpArray(const void* data, uint32_t count);
/* Token/value pairs up to the terminator, which gets a line of its own. */
gceSTATUS gcfDumpArrayToken(const void* data, uint32_t terminator);
/* Eight bytes per line; a count of 0 dumps the string at `data` with its terminator. */
gceSTATUS gcfDumpApiData(const void* data, uint32_t bytes);
/* Kept for callers; they do nothing. */
void gcfDump(gcoOS os, const char* format, ...);
void gcfDumpBuffer(gcoOS os, const char* tag, uint32_t physical, const void* logical,
                   uint32_t offset, uint32_t bytes);
void gcfDumpFrameRate(void);
gceSTATUS gcfDump2DCommand(const uint32_t* command, uint32_t count);
gceSTATUS gcfDump2DSurface(int32_t source, uint32_t address);
gceSTATUS gcfAddMemoryInfo(uint32_t address, void* memory, uint32_t physical, uint32_t size);
gceSTATUS gcfDelMemoryInfo(uint32_t address);

#define GAL_DUMP_TAG(a, b, c, d) \
    ((uint32_t)(uint8_t)(a) | (uint32_t)(uint8_t)(b) << 8 | (uint32_t)(uint8_t)(c) << 16 | \
     (uint32_t)(uint8_t)(d) << 24)
#define GAL_DUMP_TAG_COMMAND GAL_DUMP_TAG('c', 'm', 'd', ' ')

#ifdef __cplusplus
}
#endif

#endif /* GAL_DUMP_H */
