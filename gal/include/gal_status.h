/*
 * gal_status.h - the 2D GPU driver's status codes (gceSTATUS) and hardware types.
 *
 * A status is a signed 32-bit value: negative is an error, zero is success and positive
 * values are informative successes. gcoOS_DebugStatus2Name (gal_os.h) names each of them.
 */
#ifndef GAL_STATUS_H
#define GAL_STATUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t gceSTATUS;

enum {
    gcvSTATUS_OK = 0,
    gcvSTATUS_TRUE = 1,
    gcvSTATUS_NO_MORE_DATA = 2,
    gcvSTATUS_CACHED = 3,
    gcvSTATUS_MIPMAP_TOO_LARGE = 4,
    gcvSTATUS_NAME_NOT_FOUND = 5,
    gcvSTATUS_NOT_OUR_INTERRUPT = 6,
    gcvSTATUS_MISMATCH = 7,
    gcvSTATUS_MIPMAP_TOO_SMALL = 8,
    gcvSTATUS_LARGER = 9,
    gcvSTATUS_SMALLER = 10,
    gcvSTATUS_CHIP_NOT_READY = 11,
    gcvSTATUS_NEED_CONVERSION = 12,
    gcvSTATUS_SKIP = 13,
    gcvSTATUS_DATA_TOO_LARGE = 14,
    gcvSTATUS_INVALID_CONFIG = 15,
    gcvSTATUS_CHANGED = 16,
    gcvSTATUS_NOT_SUPPORT_DITHER = 17,
    gcvSTATUS_EXECUTED = 18,
    gcvSTATUS_TERMINATE = 19,

    gcvSTATUS_INVALID_ARGUMENT = -1,
    gcvSTATUS_INVALID_OBJECT = -2,
    gcvSTATUS_OUT_OF_MEMORY = -3,
    gcvSTATUS_MEMORY_LOCKED = -4,
    gcvSTATUS_MEMORY_UNLOCKED = -5,
    gcvSTATUS_HEAP_CORRUPTED = -6,
    gcvSTATUS_GENERIC_IO = -7,
    gcvSTATUS_INVALID_ADDRESS = -8,
    gcvSTATUS_CONTEXT_LOSSED = -9,
    gcvSTATUS_TOO_COMPLEX = -10,
    gcvSTATUS_BUFFER_TOO_SMALL = -11,
    gcvSTATUS_INTERFACE_ERROR = -12,
    gcvSTATUS_NOT_SUPPORTED = -13,
    gcvSTATUS_MORE_DATA = -14,
    gcvSTATUS_TIMEOUT = -15,
    gcvSTATUS_OUT_OF_RESOURCES = -16,
    gcvSTATUS_INVALID_DATA = -17,
    gcvSTATUS_INVALID_MIPMAP = -18,
    gcvSTATUS_NOT_FOUND = -19,
    gcvSTATUS_NOT_ALIGNED = -20,
    gcvSTATUS_INVALID_REQUEST = -21,
    gcvSTATUS_GPU_NOT_RESPONDING = -22,
    gcvSTATUS_TIMER_OVERFLOW = -23,
    gcvSTATUS_VERSION_MISMATCH = -24,
    gcvSTATUS_LOCKED = -25,
    gcvSTATUS_INTERRUPTED = -26,
    gcvSTATUS_DEVICE = -27,
    gcvSTATUS_NOT_MULTI_PIPE_ALIGNED = -28
};

/* Hardware types, kept per thread and sent with every kernel request. */
enum {
    HW_TYPE_3D = 1,       /* the default core; video memory is allocated under it */
    HW_TYPE_2D = 2,       /* a separate 2D core */
    HW_TYPE_AUX = 3,      /* a further core that, like type 1, makes 3D available */
    HW_TYPE_COMBINED = 4  /* identity and product-name queries are refused */
};

#ifdef __cplusplus
}
#endif

#endif /* GAL_STATUS_H */
