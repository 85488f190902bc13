// veld_gpu: the simulated GPU kernel driver and its video memory, for one root and namespace.
//   veld_gpu --root DIR [--profile plain|old]
// The profile may also come from VELD_GPU_PROFILE. SIGTERM and SIGINT end it cleanly: the
// socket and the shared-memory object are removed.
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gpu_kernel.h"
#include "gpu_profile.h"
#include "gpu_server.h"
#include "sim_main.h"
#include "video_memory.h"

namespace {

volatile sig_atomic_t gStop = 0;
void onStop(int) { gStop = 1; }

const char kUsage[] =
    "usage: veld_gpu --root DIR [--profile plain|old]\n"
    "Serves the simulated GPU kernel driver and video memory of the root and namespace\n"
    "(VELD_NS) on $VELD_ROOT/tmp/veld-sim/<ns>/gpu.sock.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string profileName = getenv("VELD_GPU_PROFILE") ? getenv("VELD_GPU_PROFILE") : "plain";
    if (const int status =
            veld::sim::parseCommandLine(argc, argv, kUsage, {{"--profile", &profileName}});
        status >= 0)
        return status;
    const veld::gpusim::ChipProfile* profile = veld::gpusim::findProfile(profileName);
    if (!profile) {
        std::fprintf(stderr, "veld_gpu: unknown chip profile %s (plain, old)\n",
                     profileName.c_str());
        return 2;
    }

    // The stop signals are blocked except while the server waits, so that no request is cut
    // in half.
    sigset_t blocked, unblocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &unblocked);
    sigdelset(&unblocked, SIGTERM);
    sigdelset(&unblocked, SIGINT);
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    veld::gpusim::VideoMemory memory;
    if (!memory.create(error)) {
        std::fprintf(stderr, "veld_gpu: %s\n", error.c_str());
        return 1;
    }
    veld::gpusim::GpuKernel kernel(memory, *profile);
    veld::gpusim::GpuServer server(kernel, memory);
    if (!server.listen(error)) {
        std::fprintf(stderr, "veld_gpu: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "veld_gpu: serving chip profile %s, %s\n", profileName.c_str(),
                 memory.name().c_str());
    server.run(gStop, unblocked);
    std::fprintf(stderr, "veld_gpu: stopped (%llu GPU faults)\n",
                 static_cast<unsigned long long>(kernel.faults()));
    return 0;
}
