// The driver's wrappers of the operating system's services: files, sockets, threads, time,
// mutexes with a time-out, atoms, the floating-point-exception handler and dynamic libraries.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "gal_internal.h"

extern "C" {

gceSTATUS gcoOS_Open(gcoOS, const char* path, uint32_t mode, gcsFILE_PTR* file) {
    static const char* const kModes[] = {"wb", "ab", "rb", "w", "a", "r"};
    if (!path || !file || mode >= 6) return gcvSTATUS_INVALID_ARGUMENT;
    FILE* f = std::fopen(path, kModes[mode]);
    *file = f;
    return f ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Close(gcoOS, gcsFILE_PTR file) {
    if (!file) return gcvSTATUS_INVALID_ARGUMENT;
    std::fclose(static_cast<FILE*>(file));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_Read(gcoOS, gcsFILE_PTR file, size_t bytes, void* buffer, size_t* bytesRead) {
    const size_t n = file && buffer ? std::fread(buffer, 1, bytes, static_cast<FILE*>(file)) : 0;
    if (bytesRead) *bytesRead = n;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_Write(gcoOS, gcsFILE_PTR file, size_t bytes, const void* buffer) {
    if (!file || (!buffer && bytes)) return gcvSTATUS_INVALID_ARGUMENT;
    return std::fwrite(buffer, 1, bytes, static_cast<FILE*>(file)) == bytes ? gcvSTATUS_OK
                                                                              : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Flush(gcoOS, gcsFILE_PTR file) {
    return std::fflush(static_cast<FILE*>(file)) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Seek(gcoOS, gcsFILE_PTR file, int32_t delta, uint32_t whence) {
    if (!file || whence > 2) return gcvSTATUS_INVALID_ARGUMENT;
    return std::fseek(static_cast<FILE*>(file), delta, int(whence)) == 0 ? gcvSTATUS_OK
                                                                          : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_GetPos(gcoOS, gcsFILE_PTR file, uint32_t* position) {
    if (!file || !position) return gcvSTATUS_INVALID_ARGUMENT;
    const long p = std::ftell(static_cast<FILE*>(file));
    if (p < 0) return gcvSTATUS_GENERIC_IO;
    *position = static_cast<uint32_t>(p);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_SetPos(gcoOS, gcsFILE_PTR file, uint32_t position) {
    if (!file) return gcvSTATUS_INVALID_ARGUMENT;
    return std::fseek(static_cast<FILE*>(file), long(position), SEEK_SET) == 0
               ? gcvSTATUS_OK
               : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Stat(gcoOS, const char* path, void* statBuffer) {
    if (!path) return gcvSTATUS_INVALID_ARGUMENT;
    struct stat local {};
    if (::stat(path, statBuffer ? static_cast<struct stat*>(statBuffer) : &local) != 0)
        return gcvSTATUS_GENERIC_IO;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_DupFD(gcoOS, int fd, int* newFd) {
    if (!newFd) return gcvSTATUS_INVALID_ARGUMENT;
    *newFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return *newFd < 0 ? gcvSTATUS_OUT_OF_RESOURCES : gcvSTATUS_OK;
}

gceSTATUS gcoOS_CloseFD(gcoOS, int fd) {
    return ::close(fd) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_GetCwd(gcoOS, int32_t size, char* buffer) {
    if (!buffer || size <= 0) return gcvSTATUS_INVALID_ARGUMENT;
    return ::getcwd(buffer, size_t(size)) ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_GetEnv(gcoOS, const char* name, char** value) {
    if (!name || !value) return gcvSTATUS_INVALID_ARGUMENT;
    *value = std::getenv(name);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_SetEnv(gcoOS, const char* name, const char* value) {
    if (!name || !value) return gcvSTATUS_INVALID_ARGUMENT;
    return ::setenv(name, value, 1) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Socket(gcoOS, int domain, int type, int protocol, int* socketFd) {
    if (!socketFd) return gcvSTATUS_INVALID_ARGUMENT;
    *socketFd = ::socket(domain, type | SOCK_CLOEXEC, protocol);
    return *socketFd < 0 ? gcvSTATUS_GENERIC_IO : gcvSTATUS_OK;
}

gceSTATUS gcoOS_CloseSocket(gcoOS, int socketFd) {
    return ::close(socketFd) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Shutdown(gcoOS, int socketFd, int how) {
    return ::shutdown(socketFd, how) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_Send(gcoOS, int socketFd, size_t bytes, const void* data, int flags) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = ::send(socketFd, p, bytes, flags | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return gcvSTATUS_GENERIC_IO;
        p += n;
        bytes -= size_t(n);
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_WaitForSend(gcoOS, int socketFd, int seconds, int microseconds) {
    if (socketFd < 0 || socketFd >= FD_SETSIZE) return gcvSTATUS_INVALID_ARGUMENT;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socketFd, &set);
    timeval tv{seconds, microseconds};
    const int n = ::select(socketFd + 1, nullptr, &set, nullptr, &tv);
    if (n == 0) return gcvSTATUS_TIMEOUT;
    return n < 0 ? gcvSTATUS_GENERIC_IO : gcvSTATUS_OK;
}

gceSTATUS gcoOS_Connect(gcoOS os, int socketFd, const char* host, uint32_t port) {
    if (!host || port > 0xFFFF) return gcvSTATUS_INVALID_ARGUMENT;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return gcvSTATUS_GENERIC_IO;
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    if (::connect(socketFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return gcvSTATUS_OK;
    if (errno == EINPROGRESS) return gcoOS_WaitForSend(os, socketFd, 600, 0);
    return gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_CreateThread(gcoOS, gctTHREAD_ROUTINE routine, void* argument, void** thread) {
    if (!routine || !thread) return gcvSTATUS_INVALID_ARGUMENT;
    auto* handle = new (std::nothrow) pthread_t;
    if (!handle) return gcvSTATUS_OUT_OF_RESOURCES;
    if (pthread_create(handle, nullptr, routine, argument) != 0) {
        delete handle;
        return gcvSTATUS_OUT_OF_RESOURCES;
    }
    *thread = handle;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_CloseThread(gcoOS, void* thread) {
    if (!thread) return gcvSTATUS_INVALID_ARGUMENT;
    auto* handle = static_cast<pthread_t*>(thread);
    pthread_join(*handle, nullptr);
    delete handle;
    return gcvSTATUS_OK;
}

uint32_t gcoOS_GetCurrentProcessID(void) { return static_cast<uint32_t>(::getpid()); }
uint32_t gcoOS_GetCurrentThreadID(void) { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

gceSTATUS gcoOS_Delay(gcoOS, uint32_t milliseconds) {
    timespec ts{};
    if (milliseconds == 0) {
        ts.tv_nsec = 1000;
    } else {
        ts.tv_sec = milliseconds / 1000;
        ts.tv_nsec = long(milliseconds % 1000) * 1000000L;
    }
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return gcvSTATUS_OK;
}

uint32_t gcoOS_GetTicks(void) {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(uint64_t(tv.tv_sec) * 1000u + uint64_t(tv.tv_usec) / 1000u);
}

gceSTATUS gcoOS_GetTime(uint64_t* microseconds) {
    if (!microseconds) return gcvSTATUS_INVALID_ARGUMENT;
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    *microseconds = uint64_t(tv.tv_sec) * 1000000u + uint64_t(tv.tv_usec);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_GetCPUTime(uint64_t* microseconds) {
    if (!microseconds) return gcvSTATUS_INVALID_ARGUMENT;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    *microseconds = uint64_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000u +
                    uint64_t(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_GetMemoryUsage(uint32_t* maxResidentSize, uint32_t* integralSharedSize,
                               uint32_t* integralUnsharedDataSize,
                               uint32_t* integralUnsharedStackSize) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (maxResidentSize) *maxResidentSize = uint32_t(usage.ru_maxrss);
    if (integralSharedSize) *integralSharedSize = uint32_t(usage.ru_ixrss);
    if (integralUnsharedDataSize) *integralUnsharedDataSize = uint32_t(usage.ru_idrss);
    if (integralUnsharedStackSize) *integralUnsharedStackSize = uint32_t(usage.ru_isrss);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_GetProfileTick(uint64_t* tick) {
    if (!tick) return gcvSTATUS_INVALID_ARGUMENT;
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    *tick = uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_QueryProfileTickRate(uint64_t* tickRate) {
    if (!tickRate) return gcvSTATUS_INVALID_ARGUMENT;
    timespec res{};
    ::clock_getres(CLOCK_MONOTONIC, &res);
    *tickRate = uint64_t(res.tv_sec) * 1000000000u + uint64_t(res.tv_nsec);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_CreateMutex(gcoOS os, gcsMUTEX_PTR* mutex) {
    if (!mutex) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(os, sizeof(pthread_mutex_t), &memory);
    if (status < 0) return status;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(static_cast<pthread_mutex_t*>(memory), &attr);
    pthread_mutexattr_destroy(&attr);
    *mutex = memory;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_DeleteMutex(gcoOS os, gcsMUTEX_PTR mutex) {
    if (!mutex) return gcvSTATUS_INVALID_ARGUMENT;
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(mutex));
    return gcoOS_Free(os, mutex);
}

gceSTATUS gcoOS_AcquireMutex(gcoOS, gcsMUTEX_PTR mutex, uint32_t timeout) {
    if (!mutex) return gcvSTATUS_INVALID_ARGUMENT;
    auto* m = static_cast<pthread_mutex_t*>(mutex);
    if (timeout == 0xFFFFFFFFu) return pthread_mutex_lock(m) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
    if (pthread_mutex_trylock(m) == 0) return gcvSTATUS_OK;
    for (uint32_t i = 0; i < timeout; ++i) {
        timespec ms{0, 1000000};
        ::nanosleep(&ms, nullptr);
        if (pthread_mutex_trylock(m) == 0) return gcvSTATUS_OK;
    }
    return gcvSTATUS_TIMEOUT;
}

gceSTATUS gcoOS_ReleaseMutex(gcoOS, gcsMUTEX_PTR mutex) {
    if (!mutex) return gcvSTATUS_INVALID_ARGUMENT;
    return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex)) == 0 ? gcvSTATUS_OK
                                                                            : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_AtomConstruct(gcoOS os, gcsATOM_PTR* atom) {
    if (!atom) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(os, sizeof(gcsATOM), &memory);
    if (status < 0) return status;
    *atom = new (memory) gcsATOM{};
    (*atom)->value.store(0);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AtomDestroy(gcoOS os, gcsATOM_PTR atom) {
    if (!atom) return gcvSTATUS_INVALID_ARGUMENT;
    atom->~gcsATOM();
    return gcoOS_Free(os, atom);
}

gceSTATUS gcoOS_AtomGet(gcoOS, gcsATOM_PTR atom, int32_t* value) {
    if (!atom || !value) return gcvSTATUS_INVALID_ARGUMENT;
    *value = atom->value.load();
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AtomSet(gcoOS, gcsATOM_PTR atom, int32_t value) {
    if (!atom) return gcvSTATUS_INVALID_ARGUMENT;
    atom->value.store(value);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AtomIncrement(gcoOS, gcsATOM_PTR atom, int32_t* previous) {
    if (!atom) return gcvSTATUS_INVALID_ARGUMENT;
    const int32_t before = atom->value.fetch_add(1);
    if (previous) *previous = before;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AtomDecrement(gcoOS, gcsATOM_PTR atom, int32_t* previous) {
    if (!atom) return gcvSTATUS_INVALID_ARGUMENT;
    const int32_t before = atom->value.fetch_sub(1);
    if (previous) *previous = before;
    return gcvSTATUS_OK;
}

}  // extern "C"

namespace {

void floatingPointException(int signal, siginfo_t* info, void*) {
    if (!info || info->si_code == 0) return;
    gal::print("Process got signal (%d). To further debug the issue, you should run in debug mode",
               signal);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(signal, &dfl, nullptr);
    ::raise(signal);
}

}  // namespace

extern "C" {

gceSTATUS gcoOS_AddSignalHandler(uint32_t type) {
    static std::atomic<bool> installed{false};
    if (type != 1 || installed.exchange(true)) return gcvSTATUS_OK;
    struct sigaction sa {};
    sa.sa_sigaction = floatingPointException;
    sa.sa_flags = SA_RESTART | SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    return ::sigaction(SIGFPE, &sa, nullptr) == 0 ? gcvSTATUS_OK : gcvSTATUS_GENERIC_IO;
}

gceSTATUS gcoOS_LoadLibrary(gcoOS, const char* name, void** handle) {
    if (!handle) return gcvSTATUS_INVALID_ARGUMENT;
    *handle = nullptr;
    if (!name) return gcvSTATUS_INVALID_ARGUMENT;
    std::string path(name);
    if (path.size() < 3 || path.compare(path.size() - 3, 3, ".so") != 0) path += ".so";
    *handle = ::dlopen(path.c_str(), RTLD_NOW);
    return *handle ? gcvSTATUS_OK : gcvSTATUS_NOT_FOUND;
}

gceSTATUS gcoOS_FreeLibrary(gcoOS, void* handle) {
    if (handle) ::dlclose(handle);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_GetProcAddress(gcoOS, void* handle, const char* name, void** function) {
    if (!name || !function) return gcvSTATUS_INVALID_ARGUMENT;
    *function = ::dlsym(handle, name);
    return *function ? gcvSTATUS_OK : gcvSTATUS_NOT_FOUND;
}

}  // extern "C"
