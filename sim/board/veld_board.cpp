// veld_board: a simulated television board for a PC. It writes, under a VELD_ROOT, the
// platform driver files the monitor reads and keeps them changing like a running set: the bus
// monitor's control, status and pmtinfo files with "TOTAL" lines, the frame buffers' status
// files with flip counters growing at about 60 and 30 frames per second, the frame-buffer
// size file, the GPU load file, and links to the host's own /proc/stat, /proc/meminfo,
// /proc/vmstat and /proc/uptime so that the CPU and memory panels show real figures. For the
// monitor's apps it also keeps the log modules' error counts, the board memory map, the memory
// pools, the TE MCU, power-manager (temperature, CPU load) and memory-protection status, the
// clock-recovery lines, the debug GPIO pin and the DNN class counts, all moving.
//
// Each file is rewritten at about the pace its readers need (the frame counters every period,
// the clock recovery every 200 ms, the bus load, power manager and DNN counts twice a second,
// the TE MCUs once a second, the slowly swinging memory pools every five seconds) and only
// when its text has changed, so that the board costs under 1 % of a core.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <stdio.h>  // renameat2
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

constexpr const char* kUsage =
    "usage: veld_board --root DIR [--width W] [--height H] [--period MS] [--once]\n"
    "  Writes the simulated board's platform files under DIR and keeps them changing\n"
    "  every MS milliseconds (default 100) until SIGINT or SIGTERM; --once writes them once.\n";

struct Options {
    std::string root;
    int width = 1920;
    int height = 1080;
    int periodMs = 100;
    bool once = false;
};

class Board {
public:
    explicit Board(Options options) : o_(std::move(options)), start_(std::chrono::steady_clock::now()) {}

    void writeStatic() {
        writeFile("/proc/qv/qvbus/pmtctrl", "0\n");
        writeFile("/proc/qv/qvbus/pmtopts", "\n");
        writeFile("/proc/qv/qvbus/status",
                  "bus monitor ready\nddr_num: 2\nddr0.max_bw: 12800\nddr1.max_bw: 6400\n"
                  "ddr2.max_bw: 0\n");
        char fbmem[96];
        std::snprintf(fbmem, sizeof fbmem, "%x %d %d %d\n", 0x3c000000, o_.width * o_.height,
                      o_.width, o_.height);
        writeFile("/proc/qv/fbdev/fb0/fbmem", fbmem);
        writeAppStatic();
        for (const char* name : {"stat", "meminfo", "vmstat", "uptime"}) {
            const fs::path link = o_.root + "/proc/" + name;
            std::error_code ec;
            fs::create_directories(link.parent_path(), ec);
            if (!fs::exists(link, ec)) fs::create_symlink(std::string("/proc/") + name, link, ec);
        }
    }

    void update() {
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        ++ticks_;
        updateFast(t);
        if (due(kHalfSecondMs)) updateHalfSecond(t);
        if (due(kSecondMs)) updateTeMcus(t);
        if (due(kPoolsMs)) updatePools(t);
    }

    int periodMs() const { return o_.periodMs; }

private:
    static constexpr int kHalfSecondMs = 500;
    static constexpr int kSecondMs = 1000;
    static constexpr int kClockRecoveryMs = 200;
    static constexpr int kPoolsMs = 5000;

    // True on the first update and then every `everyMs` (in whole periods).
    bool due(int everyMs) const {
        const long every = std::max(1, everyMs / o_.periodMs);
        return (ticks_ - 1) % every == 0;
    }

    // Every period: the frame counters, and the GPIO pin and the log modules' error counts,
    // which change only now and then; the clock recovery every 200 ms.
    void updateFast(double t) {
        // Flip counters: OSD at 60 Hz, video at 30 Hz, a third layer idle.
        const unsigned long long flips[] = {static_cast<unsigned long long>(t * 60.0),
                                            static_cast<unsigned long long>(t * 30.0), 0};
        for (int n = 0; n < 3; ++n) {
            char status[160];
            std::snprintf(status, sizeof status, "layer %d\nvisible 1\nflip_count %llu\n", n,
                          flips[n] + (n < 2 ? 1 : 0));
            writeFile("/proc/qv/fbdev/fb" + std::to_string(n) + "/status", status);
        }
        const int tick = static_cast<int>(t * 10);
        // Error counts: some modules stay clean, the others grow now and then.
        for (int i = 0; i < static_cast<int>(std::size(kLogModules)); ++i) {
            const unsigned count = (i % 3 == 0) ? 0u : static_cast<unsigned>(tick / (20 * i + 7));
            char text[160];
            std::snprintf(text, sizeof text, "module %s\n\terror log count=%u\n\twarn log count=%u\n",
                          kLogModules[i], count, count * 3 + static_cast<unsigned>(i));
            writeFile(std::string("/proc/logm/") + kLogModules[i], text);
        }
        if (due(kClockRecoveryMs)) updateClockRecovery(t);
        writeFile("/proc/qv/gpio/val", (static_cast<int>(t / 0.7) % 2) ? "1\n" : "0\n");
    }

    // Clock recovery: the STC follows the PCR within about a millisecond.
    void updateClockRecovery(double t) {
        const unsigned long long stc = static_cast<unsigned long long>(t * 90000.0) + 0x1f0000000ull;
        const long long drift = static_cast<long long>(70 * std::sin(t / 2.5) + 20 * std::sin(t * 3.1));
        char pcr[256];
        std::snprintf(pcr, sizeof pcr, "PCR\nCH\n 0 1 0 %x %llx %llx %d %x\n 1 0 0 %x %llx %llx %d %x\n", 0x1011,
                      stc, stc + drift, 27000000, static_cast<unsigned>(t * 1000), 0x1021, stc, stc, 27000000,
                      static_cast<unsigned>(t * 1000));
        writeFile("/proc/qv/sdec/pcr_recovery", pcr);
    }

    // Twice a second: the bus load, the GPU load, the power manager and the DNN counts.
    void updateHalfSecond(double t) {
        // Bus load: two DDRs swinging slowly between light and heavy use.
        const double wr0 = 2400 + 1800 * std::sin(t / 3.0), rd0 = 3100 + 1500 * std::sin(t / 4.0 + 1);
        const double wr1 = 900 + 600 * std::sin(t / 5.0 + 2), rd1 = 1200 + 700 * std::cos(t / 6.0);
        // Every column right-aligned under its header, 9 characters wide.
        char pmt[512];
        std::snprintf(pmt, sizeof pmt,
                      "pmt bandwidth (MB/s)\n"
                      "%-6s%9s%9s%9s%9s\n"
                      "%-6s%9.2f%9.2f%9.2f%9.2f\n"
                      "%-6s%9.2f%9.2f%9.2f%9.2f\n"
                      "%-6s%9.2f%9.2f%9.2f%9.2f\n",
                      "", "WR0", "RD0", "WR1", "RD1", "GPU",
                      wr0 * 0.3, rd0 * 0.4, wr1 * 0.2, rd1 * 0.3, "VDEC", wr0 * 0.7, rd0 * 0.6, wr1 * 0.8,
                      rd1 * 0.7, "TOTAL", wr0, rd0, wr1, rd1);
        writeFile("/proc/qv/qvbus/pmtinfo", pmt);
        char gpu[64];
        std::snprintf(gpu, sizeof gpu, "mali0\ngpu util: %d\n",
                      static_cast<int>(35 + 25 * std::sin(t / 2.0)));
        writeFile("/sys/kernel/debug/mali0/gpu_utilization", gpu);
        // Power manager: temperature between 55 and 85 'C, summed load of four cores.
        char pm[256];
        std::snprintf(pm, sizeof pm, "avs: on\nvcore: %d mV\ntemp: %d\nloadsum: %d\nfreq: 1400 MHz\n",
                      900 + static_cast<int>(25 * std::sin(t / 7.0)), static_cast<int>(70 + 15 * std::sin(t / 9.0)),
                      static_cast<int>(160 + 120 * std::sin(t / 3.0) + 40 * std::sin(t * 1.7)));
        writeFile("/proc/qv/pm/status", pm);
        const int tick = static_cast<int>(t * 10);
        char dnn[96];
        std::snprintf(dnn, sizeof dnn, "%d %d %d %d\n", tick % 4, 5 + tick / 10 % 7, 20 + tick / 5 % 9,
                      60 + static_cast<int>(20 * std::sin(t / 5.0)));
        writeFile("/proc/qv/de/dnn_value", dnn);
    }

    // The pools the quick menu names, and one contiguous-memory pool the pools page leaves out.
    static constexpr const char* kPools[] = {"surface", "te_mcu", "sdec", "pvr", "te_shared",
                                             "vdec", "dpb", "dpb1", "audio_buffer", "video_cma"};
    static constexpr const char* kLogModules[] = {"vdec", "adec", "sdec", "de", "gpu", "te"};

    void writeAppStatic() {
        writeFile("/proc/qv/base/status",
                  "board memory map\n"
                  "  region        start       end         size\n"
                  "  kernel        0x00000000  0x0fffffff  256MB\n"
                  "  hma           0x10000000  0x2fffffff  512MB\n"
                  "  gpu           0x30000000  0x37ffffff  128MB\n"
                  "  fb            0x3c000000  0x3fffffff   64MB\n"
                  "  te            0x40000000  0x40ffffff   16MB\n");
        writeFile("/proc/logm/lmsg", "log messages\n");
        writeFile("/proc/logm/status", "logm ready\n");
        writeFile("/proc/logm/ldump", "\terror log count=1\n");  // never listed
        writeFile("/proc/qv/gpio/debugpin", "gpio debug\nDEBUG PIN: 17\n");
        writeFile("/proc/qv/mpro/status",
                  "memory protection\nregions: 4\nregion0: kernel ro\nregion1: te secure\n"
                  "region2: video secure\nregion3: fb rw\nviolations: 0\n");
    }

    // Memory pools: usage swinging slowly around a base load.
    void updatePools(double t) {
        for (int i = 0; i < static_cast<int>(std::size(kPools)); ++i) {
            const unsigned size = (4u << 20) * static_cast<unsigned>(1 + (i * 7) % 12);
            const double load = 0.45 + 0.35 * std::sin(t / (4.0 + i) + i);
            const unsigned used = static_cast<unsigned>(size * load) & ~0xfffu;
            const unsigned peak = std::max(used, static_cast<unsigned>(size * 0.82) & ~0xfffu);
            const unsigned objects = 3 + static_cast<unsigned>(load * 10);
            char debug[512];
            std::snprintf(debug, sizeof debug,
                          "name = %s\nsize = 0x%x\nfree_size = 0x%x\npeak_size = 0x%x\n"
                          "max_available_size = 0x%x\nalloc_count = %u\nalloc_maxtime = %llu\n",
                          kPools[i], size, size - used, peak, (size - used) / 2, objects,
                          static_cast<unsigned long long>(1500000 + 900000 * (1 + std::sin(t + i))));
            writeFile(std::string("/proc/hma/") + kPools[i] + "/debug", debug);
            std::string status = "obj  addr        size      state\n";
            for (unsigned k = 0; k < objects + 2; ++k) {
                char row[96];
                std::snprintf(row, sizeof row, "%3u  0x%08x  0x%06x  %s\n", k, 0x10000000u + k * 0x100000u,
                              used / (objects + 1), k < objects ? "used" : "notused");
                status += row;
            }
            writeFile(std::string("/proc/hma/") + kPools[i] + "/status", status);
        }
    }

    // The TE MCUs' heartbeat and load, once a second.
    void updateTeMcus(double t) {
        const int tick = static_cast<int>(t * 10);
        for (int m = 0; m < 2; ++m) {
            char mcu[256];
            std::snprintf(mcu, sizeof mcu,
                          "mcu%d: running\nfirmware: 2.%d.7\nheartbeat: %d\nload: %d%%\nqueue: %d\n", m, 4 + m,
                          tick / (m + 1), static_cast<int>(20 + 15 * std::sin(t / (2.0 + m))), (tick / 3 + m) % 5);
            writeFile("/proc/qv/te/mcu" + std::to_string(m) + "/status", mcu);
        }
    }

    // A board file and its spare: two inodes that trade names on every change, so that
    // rewriting a file creates and frees nothing (the costly part on a journalling file
    // system). The spares live under "/.veld_board" in the root, outside the board's folders,
    // so a reader listing a folder (the log modules, the memory pools) never meets them.
    struct BoardFile {
        std::string text;        // last written
        int fds[2] = {-1, -1};   // the two inodes
        int spare = 1;           // which of them is the spare now
        bool exchanging = false;  // false: every change is written aside and renamed over
    };

    // Readers never see a half-written file: the new text goes into the spare, which then
    // trades places with the file in one atomic exchange of names. A reader still holding
    // the old inode open reads the old text until the next change of that file, a period
    // later. A file whose text has not changed is left alone.
    void writeFile(const std::string& fixedPath, const std::string& text) {
        auto [entry, first] = files_.try_emplace(fixedPath);
        BoardFile& file = entry->second;
        if (!first && file.text == text) return;
        const std::string path = o_.root + fixedPath;
        const std::string sparePath = o_.root + "/.veld_board" + fixedPath;
        if (first) {
            std::error_code ec;
            fs::create_directories(fs::path(path).parent_path(), ec);
            fs::create_directories(fs::path(sparePath).parent_path(), ec);
            if (!replace(path, text)) return;
            file.text = text;
            file.fds[0] = open(path.c_str(), O_RDWR | O_CLOEXEC);
            file.fds[1] = open(sparePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            file.exchanging = file.fds[0] >= 0 && file.fds[1] >= 0;
            if (!file.exchanging) forget(file, sparePath);
            return;
        }
        if (file.exchanging) {
            const int fd = file.fds[file.spare];
            const auto size = static_cast<ssize_t>(text.size());
            if (pwrite(fd, text.data(), text.size(), 0) == size && ftruncate(fd, size) == 0 &&
                renameat2(AT_FDCWD, sparePath.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
                file.spare ^= 1;
                file.text = text;
                return;
            }
            forget(file, sparePath);  // a file system without the exchange
        }
        if (replace(path, text)) file.text = text;
    }

    static void forget(BoardFile& file, const std::string& sparePath) {
        for (int& fd : file.fds) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
        unlink(sparePath.c_str());
        file.exchanging = false;
    }

    // Writes the text aside and renames it over the file.
    bool replace(const std::string& path, const std::string& text) {
        const std::string temp = o_.root + "/.veld_board.tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        return whole && rename(temp.c_str(), path.c_str()) == 0;
    }

    Options o_;
    std::chrono::steady_clock::time_point start_;
    long ticks_ = 0;
    std::unordered_map<std::string, BoardFile> files_;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    static const option kOptions[] = {{"root", required_argument, nullptr, 'r'},
                                      {"width", required_argument, nullptr, 'w'},
                                      {"height", required_argument, nullptr, 'h'},
                                      {"period", required_argument, nullptr, 'p'},
                                      {"once", no_argument, nullptr, 'o'},
                                      {"help", no_argument, nullptr, '?'},
                                      {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        switch (c) {
            case 'r': o.root = optarg; break;
            case 'w': o.width = std::atoi(optarg); break;
            case 'h': o.height = std::atoi(optarg); break;
            case 'p': o.periodMs = std::max(10, std::atoi(optarg)); break;
            case 'o': o.once = true; break;
            default:
                std::fputs(kUsage, c == '?' && optind > 0 && std::string(argv[optind - 1]) == "--help" ? stdout : stderr);
                return c == '?' && std::string(argv[optind - 1]) == "--help" ? 0 : 1;
        }
    }
    if (o.root.empty()) {
        if (const char* env = std::getenv("VELD_ROOT")) o.root = env;
    }
    if (o.root.empty() || o.width <= 0 || o.height <= 0) {
        std::fputs(kUsage, stderr);
        std::fputs("veld_board: a root folder is needed (--root or VELD_ROOT), never the real /\n", stderr);
        return 1;
    }
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    Board board(o);
    board.writeStatic();
    board.update();
    if (o.once) return 0;
    while (!gStop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(board.periodMs()));
        board.update();
    }
    return 0;
}
