// Compiled with the 32-bit ARM compiler by the test GalLayout.Arm32: the static_asserts of the
// driver's fixed records (request record, argument record, command-buffer record, events,
// gcPLS and the thread record, the format-table entry) and of the device seam's wire hold on
// the television's ABI.
#include "gal_kernel.h"
#include "gal_os.h"
#include "gal_surface.h"
#include "gpu_device.h"

static_assert(sizeof(void*) == 4, "this check is for a 32-bit build");
static_assert(alignof(uint64_t) == 8, "the ARM EABI aligns 64-bit fields to 8");
static_assert(sizeof(gcsSURF_FORMAT_INFO) == 100, "a format-table entry is 100 bytes");
