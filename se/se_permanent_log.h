// The permanent log: lines from any process gather in the shared buffer "se_permanent_log"
// and the writer (started by the secure-engine daemon) moves them into the scrambled flash
// file "/mnt/flash/data/se_log.dat", which keeps the newest 32,768 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veld::se {

constexpr const char* kLogFile = "/mnt/flash/data/se_log.dat";
constexpr const char* kLogBufferName = "se_permanent_log";
constexpr uint32_t kLogBufferBytes = 16384;
constexpr uint32_t kLogFileLimit = 32768;
constexpr size_t kLogLineBytes = 256;

// Appends a formatted line to the shared buffer (lock held); 0 or -1 when it does not fit.
int logAppend(const char* text, size_t length);
// Scrambles (or unscrambles) `length` bytes that stand at file position `position`.
void scramble(uint8_t* data, size_t length, size_t position);
// The decoded text of a log file; false when it cannot be read.
bool readLogFile(const std::string& path, std::string& text);
// Starts the writer thread unless it runs, is stopped or nothing is pending (lock held).
int startWriter();
// Stops the writer and waits until it has ended.
void stopWriter();
// Whether a writer thread runs (tests, daemon).
bool writerRunning();
// Releases this process's mapping of the shared buffer (detach).
void logClose();

}  // namespace veld::se

extern "C" {
int32_t VELD_SE_PL00(void);
int32_t VELD_SE_PL01(void);
int32_t VELD_SE_PL02(const char* format, ...) __attribute__((format(printf, 1, 2)));
int32_t VELD_SE_PL03(const char* format, ...) __attribute__((format(printf, 1, 2)));
}
