// Named inter-process memory and semaphores of the platform library on a PC: POSIX shared
// memory and named semaphores, their names placed in the VELD_NS namespace.
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host_internal.h"
#include "seam.h"
#include "veldcore.h"
#include "veldcore_host.h"

namespace {

struct Region {
    void* address;
    size_t size;
};

}  // namespace

extern "C" {

VELD_HANDLE VELD_OSA_OpenMemory(const char* name, uint32_t size) {
    if (!name || size == 0) return 0;
    const std::string shmName = veld::seam::ipcName(name);
    const int fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        VELD_HOST_LOG(1, "shm_open %s: %s\n", shmName.c_str(), strerror(errno));
        return 0;
    }
    struct stat st{};
    // Growing only: another process may already use a larger region of the same name.
    if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(size) && ftruncate(fd, size) != 0)) {
        VELD_HOST_LOG(1, "shm size %s: %s\n", shmName.c_str(), strerror(errno));
        close(fd);
        return 0;
    }
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (address == MAP_FAILED) {
        VELD_HOST_LOG(1, "mmap %s: %s\n", shmName.c_str(), strerror(errno));
        return 0;
    }
    return reinterpret_cast<VELD_HANDLE>(new Region{address, size});
}

void* VELD_OSA_GetMemory(VELD_HANDLE region) {
    return region ? reinterpret_cast<Region*>(region)->address : nullptr;
}

int32_t VELD_OSA_CloseMemory(VELD_HANDLE region) {
    if (!region) return -1;
    auto* r = reinterpret_cast<Region*>(region);
    munmap(r->address, r->size);
    delete r;
    return 0;
}

VELD_HANDLE VELD_OSA_OpenSema(const char* name, uint32_t /*flags*/, uint32_t initial) {
    if (!name) return 0;
    const std::string semName = veld::seam::ipcName(name);
    sem_t* sem = sem_open(semName.c_str(), O_CREAT, 0666, initial);
    if (sem == SEM_FAILED) {
        VELD_HOST_LOG(1, "sem_open %s: %s\n", semName.c_str(), strerror(errno));
        return 0;
    }
    return reinterpret_cast<VELD_HANDLE>(sem);
}

int32_t VELD_OSA_LockSema(VELD_HANDLE sema, int32_t timeoutMs) {
    if (!sema) return -1;
    auto* sem = reinterpret_cast<sem_t*>(sema);
    if (timeoutMs < 0) {
        while (sem_wait(sem) != 0) {
            if (errno != EINTR) return -1;
        }
        return 0;
    }
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (sem_timedwait(sem, &deadline) != 0) {
        if (errno != EINTR) return -1;
    }
    return 0;
}

int32_t VELD_OSA_UnlockSema(VELD_HANDLE sema) {
    if (!sema) return -1;
    return sem_post(reinterpret_cast<sem_t*>(sema)) == 0 ? 0 : -1;
}

int32_t VELD_HOST_UnlinkMemory(const char* name) {
    return name && shm_unlink(veld::seam::ipcName(name).c_str()) == 0 ? 0 : -1;
}

int32_t VELD_HOST_UnlinkSema(const char* name) {
    return name && sem_unlink(veld::seam::ipcName(name).c_str()) == 0 ? 0 : -1;
}

}  // extern "C"
