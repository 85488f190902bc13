// The library heap. Its construction reports "not supported", so that every allocation of the
// driver goes to the system allocator (gcoOS_AllocateMemory); the other calls refuse a heap
// they cannot have made.
#include "gal_internal.h"

extern "C" {

gceSTATUS gcoHEAP_Construct(gcoOS, size_t, gcoHEAP* heap) {
    if (heap) *heap = nullptr;
    return gcvSTATUS_NOT_SUPPORTED;
}

gceSTATUS gcoHEAP_Destroy(gcoHEAP) { return gcvSTATUS_NOT_SUPPORTED; }

gceSTATUS gcoHEAP_Allocate(gcoHEAP, size_t, void** memory) {
    if (memory) *memory = nullptr;
    return gcvSTATUS_NOT_SUPPORTED;
}

gceSTATUS gcoHEAP_Free(gcoHEAP, void*) { return gcvSTATUS_NOT_SUPPORTED; }

gceSTATUS gcoHEAP_GetSize(gcoHEAP, void*, size_t* bytes) {
    if (bytes) *bytes = 0;
    return gcvSTATUS_NOT_SUPPORTED;
}

}  // extern "C"
