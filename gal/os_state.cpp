// The driver's process and thread state: gcPLS, the per-thread records, their creation (once
// per process, under a static mutex, with the fork handler and the thread-exit clean-up), the
// process-exit hook and the teardown. A failed creation, and a forked child, keep no device
// descriptor, mapping or HAL object of the attempt or of the parent.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "gal_internal.h"
#include "gpu_device.h"
#include "seam.h"

extern "C" {
gcsPROCESS_DATA gcPLS = {nullptr, nullptr, {}, {}, {}, {0, 0, 212}, nullptr, 0, 0, 0, nullptr,
                         nullptr};
}


namespace gal {
gceSTATUS createHal(gcoHAL& hal);
}

namespace {

std::mutex gCreateLock;
pthread_key_t gKey;
bool gKeyCreated = false;
bool gForkHandlerRegistered = false;

uint32_t threadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }
uint32_t processId() { return static_cast<uint32_t>(::getpid()); }

void threadExit(void* value);

void createKey() {
    if (!gKeyCreated && pthread_key_create(&gKey, threadExit) == 0) gKeyCreated = true;
}

void deleteKey() {
    if (gKeyCreated) pthread_key_delete(gKey);
    gKeyCreated = false;
}

void unmapPool(gcsPOOL_INFO& pool) {
    if (!pool.logical) return;
    gcsIO_REQUEST r = gal::request(CMD_UNMAP_MEMORY);
    gal::setField<uint64_t>(r, 0, pool.physical);
    gal::setField<uint64_t>(r, 8, pool.bytes);
    gal::setPointer(r, 16, pool.logical);
    gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
    pool.logical = nullptr;
}

void closeDevice() {
    if (!gcPLS.os) return;
    if (gcPLS.os->heap) gcoHEAP_Destroy(gcPLS.os->heap);
    if (gcPLS.os->device >= 0) veld::gpu_device::close(gcPLS.os->device);
    std::free(gcPLS.os);
    gcPLS.os = nullptr;
}

// Tears the process state down (the last user has gone, or a creation failed half-way).
void teardown() {
    gcPLS.processId = 0;  // from here on requests carry type 2 and reach no thread record
    if (gcPLS.destructor) {
        gctPLS_DESTRUCTOR destructor = gcPLS.destructor;
        gcPLS.destructor = nullptr;
        destructor(&gcPLS, gcPLS.reference);
    }
    unmapPool(gcPLS.contiguousPool);
    unmapPool(gcPLS.externalPool);
    unmapPool(gcPLS.internalPool);
    if (gcPLS.accessLock) gcoOS_DeleteMutex(nullptr, gcPLS.accessLock);
    gcPLS.accessLock = nullptr;
    if (gcPLS.reference) gcoOS_AtomDestroy(nullptr, gcPLS.reference);
    gcPLS.reference = nullptr;
    if (gcPLS.hal) gcoHAL_DestroyEx(gcPLS.hal);
    gcPLS.hal = nullptr;
    closeDevice();
    deleteKey();
}

// The child of a fork starts without the parent's driver state: it closes its copy of the
// device, drops its copies of the pool mappings and frees its copies of the objects, so that
// its first call creates everything anew.
void forkChild() {
    if (gcPLS.os && gcPLS.os->device >= 0) veld::gpu_device::close(gcPLS.os->device);
    for (gcsPOOL_INFO* pool : {&gcPLS.internalPool, &gcPLS.externalPool, &gcPLS.contiguousPool}) {
        if (pool->logical) veld::gpu_device::munmap(pool->logical, pool->bytes);
        pool->logical = nullptr;
    }
    // The copies are freed as memory only: the parent still owns what they stand for.
    for (void* copy : {static_cast<void*>(gcPLS.hal), static_cast<void*>(gcPLS.reference),
                       static_cast<void*>(gcPLS.accessLock)})
        if (copy) gcoOS_FreeMemory(nullptr, copy);
    if (gcPLS.os) std::free(gcPLS.os);
    gcPLS.os = nullptr;
    gcPLS.hal = nullptr;
    gcPLS.contiguousPool.bytes = 0;
    gcPLS.reference = nullptr;
    gcPLS.accessLock = nullptr;
    gcPLS.processId = 0;
    if (gKeyCreated) {
        // The forking thread's record refers to the parent's hardware; the child does not
        // use it.
        void* record = pthread_getspecific(gKey);
        pthread_setspecific(gKey, nullptr);
        std::free(record);
    }
    deleteKey();
    createKey();
}

gceSTATUS openDevice() {
    auto* os = static_cast<_gcoOS*>(std::calloc(1, sizeof(_gcoOS)));
    if (!os) return gcvSTATUS_OUT_OF_MEMORY;
    os->magic = gal::kOsMagic;
    os->device = veld::gpu_device::open(GAL_DEVICE_PATH);
    if (os->device < 0) os->device = veld::gpu_device::open(GAL_DEVICE_PATH_ALT);
    if (os->device < 0) {
        std::free(os);
        return gcvSTATUS_DEVICE;
    }
    gcPLS.os = os;
    // No library heap: the driver's records come from the system allocator, whose statistics
    // the gcoOS object keeps (a gcoHEAP serves callers that construct one).
    os->heap = nullptr;
    gcsIO_REQUEST r = gal::request(CMD_GET_BASE_ADDRESS);
    const gceSTATUS status = gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r,
                                                 sizeof r);
    if (status < 0) return status;
    os->baseAddress = gal::field<uint32_t>(r, 0);
    gcoOS_ProfileStart(os);
    return gcvSTATUS_OK;
}

gceSTATUS queryAndMapPools() {
    gcsIO_REQUEST r = gal::request(CMD_QUERY_VIDEO_MEMORY);
    gceSTATUS status = gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
    if (status < 0) return status;
    gcsPOOL_INFO* pools[] = {&gcPLS.internalPool, &gcPLS.externalPool, &gcPLS.contiguousPool};
    for (int i = 0; i < 3; ++i) {
        pools[i]->physical = gal::field<uint64_t>(r, 16 * i);
        pools[i]->bytes = gal::field<uint64_t>(r, 16 * i + 8);
        pools[i]->logical = nullptr;
    }
    for (gcsPOOL_INFO* pool : pools) {
        if (pool->bytes == 0) continue;
        gcsIO_REQUEST map = gal::request(CMD_MAP_MEMORY);
        gal::setField<uint64_t>(map, 0, pool->physical);
        gal::setField<uint64_t>(map, 8, pool->bytes);
        status = gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &map, sizeof map, &map, sizeof map);
        if (status < 0) return status;
        pool->logical = gal::pointerField(map, 16);
    }
    return gcvSTATUS_OK;
}

gceSTATUS createProcessState() {
    if (!gForkHandlerRegistered) {
        pthread_atfork(nullptr, nullptr, forkChild);
        gForkHandlerRegistered = true;
    }
    createKey();
    if (!gKeyCreated) return gcvSTATUS_OUT_OF_RESOURCES;
    gceSTATUS status = gcPLS.os ? gcvSTATUS_OK : openDevice();
    if (status >= 0 && !gcPLS.hal) status = gal::createHal(gcPLS.hal);
    if (status >= 0) status = gcoOS_AtomConstruct(nullptr, &gcPLS.reference);
    if (status >= 0) status = gcoOS_AtomIncrement(nullptr, gcPLS.reference, nullptr);
    if (status >= 0) status = queryAndMapPools();
    if (status >= 0) status = gcoOS_CreateMutex(nullptr, &gcPLS.accessLock);
    if (status < 0) {
        teardown();
        return status;
    }
    gcPLS.mainThreadId = threadId();
    __atomic_store_n(&gcPLS.processId, processId(), __ATOMIC_RELEASE);
    return gcvSTATUS_OK;
}

gceSTATUS ensureProcess() {
    // A forked child finds the process id cleared by the fork handler, so a set id is this
    // process's own and no system call is needed to tell.
    if (__atomic_load_n(&gcPLS.processId, __ATOMIC_ACQUIRE) != 0) return gcvSTATUS_OK;
    std::lock_guard<std::mutex> guard(gCreateLock);
    if (gcPLS.processId == processId()) return gcvSTATUS_OK;
    return createProcessState();
}

// Pins the library for a thread other than the main one, so that it stays loaded while the
// thread's clean-up may still run.
void* pinLibrary() {
    std::string candidates;
    if (const char* paths = std::getenv("LD_LIBRARY_PATH")) candidates = paths;
    size_t start = 0;
    while (start <= candidates.size() && !candidates.empty()) {
        const size_t end = candidates.find(':', start);
        const std::string dir = candidates.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty()) {
            const std::string path = dir + "/libGAL.so";
            if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE)) return h;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (const char* fixed : {"/usr/lib/libGAL.so", "/lib/libGAL.so"})
        if (void* h = ::dlopen(veld::seam::path(fixed).c_str(), RTLD_NOW | RTLD_NODELETE)) return h;
    return nullptr;
}

void threadCleanup(gcsTHREAD_DATA* record) {
    pthread_setspecific(gKey, record);  // the clean-up's own requests find the record
    if (record->destructor) {
        gctTLS_DESTRUCTOR destructor = record->destructor;
        record->destructor = nullptr;
        destructor(record);
    }
    if (record->engine2D) gal::releaseEngine(record->engine2D);
    record->engine2D = nullptr;
    const uint32_t saved = record->currentType;
    if (record->defaultHardware) {
        record->currentType = HW_TYPE_3D;
        gal::releaseHardware(record->defaultHardware, HW_TYPE_3D);
    }
    if (record->hardware2D) {
        record->currentType = HW_TYPE_2D;
        gal::releaseHardware(record->hardware2D, HW_TYPE_2D);
    }
    record->defaultHardware = record->hardware2D = record->currentHardware = nullptr;
    record->currentType = saved;
    if (record->libraryHandle && !gcPLS.exiting) ::dlclose(record->libraryHandle);
    record->libraryHandle = nullptr;
    int32_t previous = 0;
    if (gcPLS.reference) gcoOS_AtomDecrement(nullptr, gcPLS.reference, &previous);
    if (previous == 1) {
        pthread_setspecific(gKey, nullptr);
        std::free(record);
        teardown();
        return;
    }
    std::free(record);
    pthread_setspecific(gKey, nullptr);
}

void threadExit(void* value) {
    if (!value || gcPLS.processId != processId()) {
        std::free(value);
        return;
    }
    threadCleanup(static_cast<gcsTHREAD_DATA*>(value));
}

__attribute__((destructor)) void processExit() {
    if (gcPLS.processId != processId()) return;
    gcPLS.exiting = 1;
    int32_t previous = 0;
    gcoOS_AtomDecrement(nullptr, gcPLS.reference, &previous);
    if (previous == 1) {
        teardown();
        return;
    }
    auto* record = gKeyCreated ? static_cast<gcsTHREAD_DATA*>(pthread_getspecific(gKey)) : nullptr;
    if (record) threadCleanup(record);
}

gceSTATUS newThreadRecord(gcsTHREAD_DATA*& record) {
    record = static_cast<gcsTHREAD_DATA*>(std::calloc(1, sizeof(gcsTHREAD_DATA)));
    if (!record) return gcvSTATUS_OUT_OF_MEMORY;
    record->currentType = HW_TYPE_2D;
    if (pthread_setspecific(gKey, record) != 0) {
        std::free(record);
        record = nullptr;
        return gcvSTATUS_GENERIC_IO;
    }
    if (gcPLS.mainThreadId != 0 && threadId() != gcPLS.mainThreadId)
        record->libraryHandle = pinLibrary();
    gcoOS_AtomIncrement(nullptr, gcPLS.reference, nullptr);
    return gcvSTATUS_OK;
}

}  // namespace

namespace gal {

bool initialised() { return __atomic_load_n(&gcPLS.processId, __ATOMIC_ACQUIRE) != 0; }

gceSTATUS currentType(uint32_t& type) {
    type = HW_TYPE_2D;
    if (!initialised()) return gcvSTATUS_OK;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    type = record->currentType;
    return gcvSTATUS_OK;
}

TypeScope::TypeScope(uint32_t type) {
    status_ = gcoOS_GetTLS(&record_);
    if (status_ < 0) return;
    saved_ = record_->currentType;
    record_->currentType = type;
}

TypeScope::~TypeScope() {
    if (record_) record_->currentType = saved_;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoOS_GetTLS(gcsTHREAD_DATA** record) {
    if (!record) return gcvSTATUS_INVALID_ARGUMENT;
    gceSTATUS status = ensureProcess();
    if (status < 0) return status;
    auto* existing = static_cast<gcsTHREAD_DATA*>(pthread_getspecific(gKey));
    if (!existing) {
        status = newThreadRecord(existing);
        if (status < 0) return status;
    }
    *record = existing;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_CopyTLS(gcsTHREAD_DATA* source) {
    if (!source) return gcvSTATUS_INVALID_ARGUMENT;
    gceSTATUS status = ensureProcess();
    if (status < 0) return status;
    if (pthread_getspecific(gKey)) return gcvSTATUS_INVALID_REQUEST;
    gcsTHREAD_DATA* record = nullptr;
    status = newThreadRecord(record);
    if (status < 0) return status;
    // The shared objects are counted, so that whichever thread ends last destroys them.
    record->currentType = source->currentType;
    record->defaultHardware = source->defaultHardware;
    record->hardware2D = source->hardware2D;
    record->engine2D = source->engine2D;
    if (record->defaultHardware) gal::retainHardware(record->defaultHardware);
    if (record->hardware2D) gal::retainHardware(record->hardware2D);
    if (record->engine2D) gal::retainEngine(record->engine2D);
    record->currentHardware = nullptr;
    record->destructor = nullptr;
    record->copied = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_FreeThreadData(void) {
    if (gcPLS.processId != processId() || !gKeyCreated) return gcvSTATUS_OK;
    auto* record = static_cast<gcsTHREAD_DATA*>(pthread_getspecific(gKey));
    if (record) threadCleanup(record);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_Construct(void*, gcoOS* os) {
    if (!os) return gcvSTATUS_INVALID_ARGUMENT;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    *os = gcPLS.os;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_Destroy(gcoOS) { return gcvSTATUS_OK; }

uintptr_t gcoOS_GetPLSValue(uint32_t n) {
    if (n < 3) return gcPLS.plsValue[n];
    if (n == 3) return reinterpret_cast<uintptr_t>(gcPLS.destructor);
    return 0;
}

void gcoOS_SetPLSValue(uint32_t n, uintptr_t value) {
    if (n < 3)
        gcPLS.plsValue[n] = value;
    else if (n == 3)
        gcPLS.destructor = reinterpret_cast<gctPLS_DESTRUCTOR>(value);
}

void gcoOS_LockPLS(void) {
    if (gcPLS.accessLock) gcoOS_AcquireMutex(nullptr, gcPLS.accessLock, 0xFFFFFFFFu);
}

void gcoOS_UnLockPLS(void) {
    if (gcPLS.accessLock) gcoOS_ReleaseMutex(nullptr, gcPLS.accessLock);
}

}  // extern "C"
