// veld_board: a simulated television board for a PC. It writes, under a VELD_ROOT, the
// platform driver files the monitor reads and keeps them changing like a running set: the bus
// monitor's control, status and pmtinfo files with "TOTAL" lines, the frame buffers' status
// files with flip counters growing at about 60 and 30 frames per second, the frame-buffer
// size file, the GPU load file, and links to the host's own /proc/stat, /proc/meminfo and
// /proc/vmstat so that the CPU and memory panels show real figures.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

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
        for (const char* name : {"stat", "meminfo", "vmstat", "uptime"}) {
            const fs::path link = o_.root + "/proc/" + name;
            std::error_code ec;
            fs::create_directories(link.parent_path(), ec);
            if (!fs::exists(link, ec)) fs::create_symlink(std::string("/proc/") + name, link, ec);
        }
    }

    void update() {
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        // Bus load: two DDRs swinging slowly between light and heavy use.
        const double wr0 = 2400 + 1800 * std::sin(t / 3.0), rd0 = 3100 + 1500 * std::sin(t / 4.0 + 1);
        const double wr1 = 900 + 600 * std::sin(t / 5.0 + 2), rd1 = 1200 + 700 * std::cos(t / 6.0);
        char pmt[512];
        std::snprintf(pmt, sizeof pmt,
                      "pmt bandwidth (MB/s)   WR0      RD0      WR1      RD1\n"
                      "GPU    %8.2f %8.2f %8.2f %8.2f\n"
                      "VDEC   %8.2f %8.2f %8.2f %8.2f\n"
                      "TOTAL  %8.2f %8.2f %8.2f %8.2f\n",
                      wr0 * 0.3, rd0 * 0.4, wr1 * 0.2, rd1 * 0.3, wr0 * 0.7, rd0 * 0.6, wr1 * 0.8,
                      rd1 * 0.7, wr0, rd0, wr1, rd1);
        writeFile("/proc/qv/qvbus/pmtinfo", pmt);
        // Flip counters: OSD at 60 Hz, video at 30 Hz, a third layer idle.
        const unsigned long long flips[] = {static_cast<unsigned long long>(t * 60.0),
                                            static_cast<unsigned long long>(t * 30.0), 0};
        for (int n = 0; n < 3; ++n) {
            char status[160];
            std::snprintf(status, sizeof status, "layer %d\nvisible 1\nflip_count %llu\n", n,
                          flips[n] + (n < 2 ? 1 : 0));
            writeFile("/proc/qv/fbdev/fb" + std::to_string(n) + "/status", status);
        }
        char gpu[64];
        std::snprintf(gpu, sizeof gpu, "mali0\ngpu util: %d\n",
                      static_cast<int>(35 + 25 * std::sin(t / 2.0)));
        writeFile("/sys/kernel/debug/mali0/gpu_utilization", gpu);
    }

    int periodMs() const { return o_.periodMs; }

private:
    // Readers never see a half-written file: write beside it, then rename over it.
    void writeFile(const std::string& fixedPath, const std::string& text) {
        const fs::path path = o_.root + fixedPath;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        const fs::path temp = path.string() + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            out << text;
        }
        fs::rename(temp, path, ec);
    }

    Options o_;
    std::chrono::steady_clock::time_point start_;
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
