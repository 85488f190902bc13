// The permanent log (see se_permanent_log.h). Every byte of the file at position i is XORed
// with kScramble[i % 256]. The writer replaces the file atomically (temporary file, fsync,
// rename), so that a crash or a kill at any point leaves the old file or the new one, never an
// empty or half-written one.
#include "se_permanent_log.h"
#include "write_all.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "se_channel.h"
#include "se_core.h"
#include "se_daemon.h"
#include "se_hooks.h"
#include "se_log.h"
#include "seam.h"

namespace veld::se {
namespace {

// The fixed scrambling table: a byte stream of a 32-bit xorshift generator from a constant seed.
constexpr std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table{};
    uint32_t x = 0x5EC10C5Au;
    for (auto& b : table) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return table;
}
constexpr std::array<uint8_t, 256> kScramble = makeTable();

constexpr int kMaxRetries = 200;

std::mutex gBufferMutex;
VELD_HANDLE gBuffer = 0;
uint8_t* gBufferAddress = nullptr;
std::atomic<bool> gRunning{false};
std::atomic<bool> gStop{false};
std::once_flag gPriorityNote;

uint8_t* buffer() {
    std::lock_guard guard(gBufferMutex);
    if (!gBufferAddress) {
        gBuffer = VELD_OSA_OpenMemory(kLogBufferName, kLogBufferBytes);
        gBufferAddress = static_cast<uint8_t*>(gBuffer ? VELD_OSA_GetMemory(gBuffer) : nullptr);
    }
    return gBufferAddress;
}

void failed(const char* what) {
    SE_LOG(0, "%s:%s(%d)\n", what, std::strerror(errno), errno);
}

// Reads the tail of the file that the log keeps, unscrambled with its own positions.
bool readTail(const std::string& path, std::vector<uint8_t>& text, bool& missing) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return missing;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    size_t start = 0;
    if (size > kLogFileLimit) {
        SE_LOG(1, "Log file is larger than %d : fix it\n", static_cast<int>(kLogFileLimit));
        start = size - kLogFileLimit;
    }
    text.resize(size - start);
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(start + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != text.size()) return false;
    scramble(text.data(), text.size(), start);
    return true;
}

// Replaces the file with `content` scrambled from position 0.
bool replaceFile(const std::string& path, std::vector<uint8_t> content) {
    scramble(content.data(), content.size(), 0);
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = veld::writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself is made durable by syncing the folder.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

enum class Pass { Done, Retry, Empty };

// One pass of the writer, under the lock.
Pass writeOnce() {
    SharedRecord& s = *processRecord().pSharedInfo;
    const uint32_t pending = std::min(s.permanentLogPoint, kLogBufferBytes);
    uint8_t* shared = buffer();
    if (pending == 0) return Pass::Empty;
    if (!shared) return Pass::Retry;
    const std::string path = seam::path(kLogFile);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::vector<uint8_t> content;
    bool missing = false;
    if (!readTail(path, content, missing)) {
        failed(path.c_str());
        return Pass::Retry;
    }
    if (content.size() >= pending &&
        std::memcmp(content.data() + content.size() - pending, shared, pending) == 0) {
        SE_LOG(1, "Exist same log :  canceled\n");
    } else {
        content.insert(content.end(), shared, shared + pending);
        if (content.size() > kLogFileLimit)
            content.erase(content.begin(), content.end() - kLogFileLimit);
        if (!replaceFile(path, std::move(content))) {
            failed(path.c_str());
            ::chmod(path.c_str(), 0666);
            return Pass::Retry;
        }
    }
    s.permanentLogPoint = 0;
    ::chmod(path.c_str(), 0666);
    SE_LOG(kTraceLevel, "Done\n");
    return Pass::Done;
}

void* writerThread(void*) {
    for (int retry = 1;; ++retry) {
        {
            // A detach in another thread waits for this pass before it unmaps the buffer.
            std::shared_lock use(useMutex());
            if (seLock() != 0) {
                gRunning.store(false);
                return nullptr;
            }
            const Pass pass = writeOnce();
            if (pass != Pass::Retry) {
                // Decided under the lock: a flush that asks after this sees no running writer.
                gRunning.store(false);
                seUnlock();
                return nullptr;
            }
            seUnlock();
        }
        for (int i = 0; i < 100; ++i) {
            if (gStop.load()) {
                SE_LOG(1, "ForcedExit\n");
                gRunning.store(false);
                return nullptr;
            }
            ::usleep(10000);
        }
        SE_LOG(1, "RC=%d\n", retry);
        if (retry >= kMaxRetries) {
            SE_LOG(0, "Write Log Error\n");
            gRunning.store(false);
            return nullptr;
        }
    }
}

int32_t appendFormatted(const char* prefix, const char* format, va_list args) {
    char line[kLogLineBytes];
    size_t used = 0;
    if (prefix) {
        used = std::min(std::strlen(prefix), sizeof line - 1);
        std::memcpy(line, prefix, used);
        line[used] = '\0';
    }
    std::vsnprintf(line + used, sizeof line - used, format, args);
    const size_t length = std::strlen(line);
    int result;
    if (holdsLock()) {
        result = logAppend(line, length);
    } else {
        if (seLock() != 0) return -1;
        result = logAppend(line, length);
        seUnlock();
    }
    if (result == 0) veldd00(2, nullptr, 0);
    return result;
}

}  // namespace

void scramble(uint8_t* data, size_t length, size_t position) {
    for (size_t i = 0; i < length; ++i) data[i] ^= kScramble[(position + i) % 256];
}

int logAppend(const char* text, size_t length) {
    ProcessRecord& p = processRecord();
    uint8_t* shared = buffer();
    if (!p.pSharedInfo || !shared) return -1;
    uint32_t& point = p.pSharedInfo->permanentLogPoint;
    if (point > kLogBufferBytes || length > kLogBufferBytes - point) return -1;
    std::memcpy(shared + point, text, length);
    point += static_cast<uint32_t>(length);
    return 0;
}

bool readLogFile(const std::string& path, std::string& text) {
    std::vector<uint8_t> content;
    bool missing = false;
    if (!readTail(path, content, missing) || missing) return false;
    text.assign(content.begin(), content.end());
    return true;
}

int startWriter() {
    ProcessRecord& p = processRecord();
    if (gStop.load() || !p.pSharedInfo || p.pSharedInfo->permanentLogPoint == 0) return 0;
    bool expected = false;
    if (!gRunning.compare_exchange_strong(expected, true)) return 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    sched_param param{};
    param.sched_priority = 1;
    pthread_attr_setschedparam(&attr, &param);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, writerThread, nullptr);
    if (rc == EPERM) {
        // Real-time priority needs privileges a PC's user lacks: normal scheduling then.
        std::call_once(gPriorityNote, [] {
            SE_LOG(1, "no real-time priority for the log writer: normal scheduling\n");
        });
        pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
        rc = pthread_create(&thread, &attr, writerThread, nullptr);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        gRunning.store(false);
        SE_LOG(0, "pthread_create : %d\n", rc);
        return -1;
    }
    return 0;
}

void stopWriter() {
    gStop.store(true);
    while (gRunning.load()) ::usleep(10000);
}

bool writerRunning() { return gRunning.load(); }

void logClose() {
    std::lock_guard guard(gBufferMutex);
    if (gBuffer) VELD_OSA_CloseMemory(gBuffer);
    gBuffer = 0;
    gBufferAddress = nullptr;
}

void permanentLogResume() { gStop.store(false); }

}  // namespace veld::se

using namespace veld::se;

extern "C" {

int32_t VELD_SE_PL00(void) {
    std::string text;
    if (!readLogFile(veld::seam::path(kLogFile), text)) {
        SE_FAILED();
        return -1;
    }
    if (text.empty()) std::printf("None.\n");
    else std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
}

int32_t VELD_SE_PL01(void) {
    const int rc = ::unlink(veld::seam::path(kLogFile).c_str());
    ::sync();
    return rc == 0 ? 0 : -1;
}

int32_t VELD_SE_PL02(const char* format, ...) {
    if (!format) return -1;
    va_list args;
    va_start(args, format);
    const int32_t result = appendFormatted(nullptr, format, args);
    va_end(args);
    return result;
}

int32_t VELD_SE_PL03(const char* format, ...) {
    if (!format) return -1;
    const time_t now = ::time(nullptr);
    char stamp[64] = {};
    ::ctime_r(&now, stamp);
    if (char* newline = std::strchr(stamp, '\n')) *newline = '|';
    va_list args;
    va_start(args, format);
    const int32_t result = appendFormatted(stamp, format, args);
    va_end(args);
    return result;
}

}  // extern "C"
