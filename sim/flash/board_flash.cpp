// The board's flash partitions as files under the root (see board_flash.h).
#include "board_flash.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "seam.h"

namespace veld::sim {

std::string partitionPath(const FlashPartition& partition) {
    return seam::path("/dev/mmcblk0p" + std::to_string(partition.number));
}

std::string makeBoardFlash() {
    std::error_code ec;
    std::filesystem::create_directories(seam::path("/dev"), ec);
    std::filesystem::create_directories(seam::path("/proc"), ec);
    std::string table;
    for (const FlashPartition& p : kFlashPartitions) {
        const std::string path = partitionPath(p);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || st.st_size != static_cast<off_t>(p.bytes)) {
            const std::vector<char> erased(p.bytes, static_cast<char>(0xFF));
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (!out.write(erased.data(), static_cast<long>(erased.size())) || !out.flush())
                return "cannot write " + path + ": " + std::strerror(errno);
        }
        char line[96];
        std::snprintf(line, sizeof line, "part%d: 0x%08x \"%s\"\n", p.number, p.bytes, p.name);
        table += line;
    }
    std::ofstream out(seam::path("/proc/partinfo"), std::ios::trunc);
    if (!(out << table) || !out.flush()) return "cannot write " + seam::path("/proc/partinfo");
    return {};
}

}  // namespace veld::sim
