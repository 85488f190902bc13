// The 2D engine object (gco2D) as far as the lower layers know it: its construction, the
// reference count that lets threads share one (gco2D_Set2DEngine, gcoOS_CopyTLS), and the
// priming of older cores. Its drawing operations come with the surfaces.
#include <atomic>
#include <new>

#include "gal_internal.h"

struct _gco2D {
    uint32_t magic;
    gcoHAL hal;
    std::atomic<int32_t> references;
};

namespace gal {

void retainEngine(gco2D engine) { engine->references.fetch_add(1); }

void releaseEngine(gco2D engine) {
    if (engine->references.fetch_sub(1) != 1) return;
    engine->magic = 0;
    engine->~_gco2D();
    gcoOS_Free(nullptr, engine);
}

// Older cores are primed with one filter blit between two scratch surfaces. The surfaces and
// the filter blit are not part of the driver yet, so the priming reports "not supported",
// which the caller does not pass on.
gceSTATUS primeEngine(gco2D) { return gcvSTATUS_NOT_SUPPORTED; }

}  // namespace gal

extern "C" {

gceSTATUS gco2D_Construct(gcoHAL hal, gco2D* engine) {
    if (!engine) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gco2D), &memory);
    if (status < 0) return status;
    auto* e = new (memory) _gco2D{};
    e->magic = gal::kEngineMagic;
    e->hal = hal;
    e->references.store(1);
    *engine = e;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Destroy(gco2D engine) {
    if (!engine || engine->magic != gal::kEngineMagic) return gcvSTATUS_INVALID_OBJECT;
    gal::releaseEngine(engine);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Set2DEngine(gco2D engine) {
    if (!engine || engine->magic != gal::kEngineMagic) return gcvSTATUS_INVALID_OBJECT;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (record->engine2D == engine) return gcvSTATUS_OK;
    gal::retainEngine(engine);  // the installing thread may end before this one
    if (record->engine2D) gal::releaseEngine(record->engine2D);
    record->engine2D = engine;
    record->engineBorrowed = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_UnSet2DEngine(gco2D engine) {
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (!engine || record->engine2D != engine) return gcvSTATUS_INVALID_OBJECT;
    record->engine2D = nullptr;
    record->engineBorrowed = 0;
    gal::releaseEngine(engine);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Get2DEngine(gco2D* engine) { return gcoHAL_Get2DEngine(nullptr, engine); }

}  // extern "C"
