// What the simulated GPU kernel tells about itself: the status page of veldctl gpu status, the
// counters tests read, and the control commands that change how it answers.
#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "gal_states.h"
#include "gpu_kernel.h"

namespace veld::gpusim {
namespace {

std::string poolLine(const char* name, const RangeAllocator& a) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "  %-10s physical 0x%08" PRIx64 " GPU 0x%08" PRIx64 "  used %" PRIu64
                  " of %" PRIu64 " KiB in %zu blocks, largest free %" PRIu64 " KiB\n",
                  name, kPhysicalBase + a.range().offset, kGpuBase + a.range().offset,
                  a.usedBytes() / 1024, a.range().bytes / 1024, a.usedBlocks(),
                  a.largestFree() / 1024);
    return line;
}

}  // namespace

std::string GpuKernel::status() const {
    std::ostringstream out;
    char line[256];
    std::snprintf(line, sizeof line,
                  "chip: profile %.*s (%.*s), model 0x%04x revision 0x%04x, %u core%s\n",
                  int(profile_->name.size()), profile_->name.data(), int(profile_->summary.size()),
                  profile_->summary.data(), profile_->model, profile_->revision,
                  profile_->chipCount, profile_->chipCount == 1 ? "" : "s");
    out << line;
    std::snprintf(line, sizeof line, "version: %u.%u.%u build %u\n", version_.major,
                  version_.minor, version_.patch, version_.build);
    out << line;
    std::snprintf(line, sizeof line, "video memory: %s, %" PRIu64 " MiB, base address 0x%08" PRIx64 "\n",
                  memory_.name().c_str(), kVideoBytes >> 20, kBaseAddress);
    out << line;
    out << poolLine("internal", memory_.internal) << poolLine("external", memory_.external)
        << poolLine("contiguous", memory_.contiguous);
    size_t live = 0, locked = 0, named = 0;
    for (const Node& n : nodes_) {
        if (!n.live) continue;
        ++live;
        locked += n.locks.empty() ? 0 : 1;
        named += n.name ? 1 : 0;
    }
    std::snprintf(line, sizeof line,
                  "nodes: %zu (%zu locked, %zu named), other allocations: %zu, user mappings: %zu\n",
                  live, locked, named, allocations_.size(), userMappings_.size());
    out << line;
    std::snprintf(line, sizeof line, "signals: %zu, fired %" PRIu64 "\n", signals_.size(),
                  signalsFired_);
    out << line;
    std::snprintf(line, sizeof line,
                  "requests: %" PRIu64 ", commits: %" PRIu64 " (%" PRIu64 " command bytes), events: %" PRIu64
                  ", 2D draws: %" PRIu64 " (%" PRIu64 " pixels)\n",
                  requests_, commits_, commitBytes_, events_, core_.draws(), core_.pixels());
    out << line;
    std::snprintf(line, sizeof line, "GPU faults: %" PRIu64 "%s%s\n", faults_,
                  lastFault_.empty() ? "" : ", last: ", lastFault_.c_str());
    out << line;
    return out.str();
}

std::string GpuKernel::counters() const {
    size_t live = 0;
    for (const Node& n : nodes_) live += n.live ? 1 : 0;
    std::ostringstream out;
    out << "requests=" << requests_ << "\nfaults=" << faults_ << "\ncommits=" << commits_
        << "\ncommit_bytes=" << commitBytes_ << "\nevents=" << events_ << "\nnodes=" << live
        << "\nallocations=" << allocations_.size() << "\nsignals=" << signals_.size()
        << "\nsignals_fired=" << signalsFired_ << "\nuser_mappings=" << userMappings_.size()
        << "\nexternal_used=" << memory_.external.usedBytes()
        << "\ninternal_used=" << memory_.internal.usedBytes()
        << "\ncontiguous_used=" << memory_.contiguous.usedBytes() << "\ndraws=" << core_.draws()
        << "\npixels=" << core_.pixels() << "\n";
    return out.str();
}

std::string GpuKernel::lastTarget() const {
    const Core2D::TargetRecord& t = core_.lastTarget();
    if (t.address == 0) return "error: nothing has been drawn yet\n";
    const uint64_t offset = uint64_t(t.address) - kGpuBase;
    const uint64_t bytes = uint64_t(t.stride) * t.height;
    std::ostringstream out;
    out << "address=" << t.address << "\noffset=" << offset << "\nstride=" << t.stride << "\nwidth=" << t.width
        << "\nheight=" << t.height << "\nformat=" << (t.config & 0x1F) << "\nswizzle=" << ((t.config >> GAL_DEST_SWIZZLE_SHIFT) & 3)
        << "\nlive=" << (t.address >= kGpuBase && bytes && insideNode(offset, bytes) ? 1 : 0) << "\n";
    return out.str();
}

std::string GpuKernel::control(std::string_view command) {
    std::istringstream in{std::string(command)};
    std::string verb;
    in >> verb;
    if (verb == "status") return status();
    if (verb == "counters") return counters();
    if (verb == "save-stream") {
        std::string path;
        if (!(in >> path)) return "error: save-stream needs a file\n";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return "error: cannot write " + path + "\n";
        const size_t n = std::fwrite(lastStream_.data(), 4, lastStream_.size(), f);
        std::fclose(f);
        return n == lastStream_.size() ? "ok\n" : "error: cannot write " + path + "\n";
    }
    if (verb == "version") {
        Version v{};
        if (!(in >> v.major >> v.minor >> v.patch >> v.build))
            return "error: version needs MAJOR MINOR PATCH BUILD\n";
        version_ = v;
        return "ok\n";
    }
    if (verb == "target") return lastTarget();
    return "error: unknown command (status, counters, version, interrupt, save-stream, target)\n";
}

}  // namespace veld::gpusim
