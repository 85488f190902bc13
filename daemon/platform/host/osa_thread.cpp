// Threads, clocks and sleep of the platform library on a PC: POSIX threads that carry their
// name (visible in /proc/<pid>/task/*/comm) and CLOCK_MONOTONIC.
#include <pthread.h>
#include <semaphore.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "host_internal.h"
#include "veldcore.h"

namespace {

uint64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// What a new thread needs before its entry runs. The thread names itself and the creator
// waits for that, so a thread carries its name once it is created and the creator never
// touches the handle afterwards: a task that nobody joins may detach itself and be gone
// before its creator returns. The creator and the thread each hold the record; the last
// to let go frees it.
struct ThreadStart {
    VELD_THREAD_ENTRY entry;
    void* argument;
    char name[16];
    sem_t named;
    std::atomic<int> holders{2};
};

void release(ThreadStart* start) {
    if (start->holders.fetch_sub(1) != 1) return;
    sem_destroy(&start->named);
    delete start;
}

void* startThread(void* raw) {
    auto* start = static_cast<ThreadStart*>(raw);
    if (start->name[0] != '\0') pthread_setname_np(pthread_self(), start->name);
    const VELD_THREAD_ENTRY entry = start->entry;
    void* const argument = start->argument;
    sem_post(&start->named);
    release(start);
    return entry(argument);
}

}  // namespace

extern "C" {

VELD_THREAD VELD_OSA_CreateThread(const char* name, VELD_THREAD_ENTRY entry, void* argument,
                                  uint32_t stackBytes, int32_t /*priority*/, uint32_t /*flags*/) {
    if (!entry) return 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackBytes != 0) {
        // The platform rounds small stacks up to what the system needs. PTHREAD_STACK_MIN is
        // sysconf's signed long; the comparison is made in size_t on purpose, as on 32 bits a
        // mixed one would convert the operands silently.
        const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
        const size_t size = stackBytes < minimum ? minimum : stackBytes;
        pthread_attr_setstacksize(&attr, size);
    }
    auto* start = new (std::nothrow) ThreadStart{entry, argument, {}, {}};
    if (!start || sem_init(&start->named, 0, 0) != 0) {
        delete start;
        pthread_attr_destroy(&attr);
        VELD_HOST_LOG(1, "thread %s not created: %s\n", name ? name : "?", strerror(ENOMEM));
        return 0;
    }
    if (name) strncpy(start->name, name, sizeof start->name - 1);
    pthread_t thread{};
    const int rc = pthread_create(&thread, &attr, startThread, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        sem_destroy(&start->named);
        delete start;
        VELD_HOST_LOG(1, "thread %s not created: %s\n", name ? name : "?", strerror(rc));
        return 0;
    }
    while (sem_wait(&start->named) != 0 && errno == EINTR) {
    }
    release(start);
    static_assert(sizeof(pthread_t) <= sizeof(VELD_THREAD));
    return static_cast<VELD_THREAD>(thread);
}

int32_t VELD_OSA_JoinThread(VELD_THREAD thread, void** result) {
    if (thread == 0) return -1;
    void* value = nullptr;
    const int rc = pthread_join(static_cast<pthread_t>(thread), &value);
    if (rc != 0) return -1;
    if (result) *result = value;
    return 0;
}

uint32_t VELD_OSA_ReadMsTicks(void) { return static_cast<uint32_t>(monotonicNs() / 1000000ull); }

uint64_t VELD_OSA_ReadNsTicks(void) { return monotonicNs(); }

int32_t VELD_OSA_SleepMsec(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
        if (errno != EINTR) return -1;
    }
    return 0;
}

}  // extern "C"
