// The low-power command file is written by other processes: any bytes in it must be parsed
// safely (long lines, no number, no command, binary data). The handler is run on the fuzzer's
// bytes as the file's content, in a private root and namespace.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "veldcore_host.h"
#include "veldd.h"

namespace {

std::string gFile;

void removeRoot() {
    VELD_HOST_UnlinkMemory(VELD_BOARD_REGION);
    std::error_code ec;
    std::filesystem::remove_all(std::getenv("VELD_ROOT"), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/vfz.XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::filesystem::create_directories(root + "/tmp");
    setenv("VELD_ROOT", root.c_str(), 1);
    setenv("VELD_NS", ("vfz" + std::to_string(getpid())).c_str(), 1);
    gFile = root + "/tmp/adjust_cmd.txt";
    atexit(removeRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = open(gFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 0;
    const ssize_t written = write(fd, data, size);
    close(fd);
    if (written != static_cast<ssize_t>(size)) return 0;
    veldd_vexos_low_power_handler("/tmp/adjust_cmd.txt", IN_CLOSE_WRITE);
    return 0;
}
