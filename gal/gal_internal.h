// Inside the 2D GPU driver: the gcoOS and gcoHAL records, the hardware object's record, and
// the helpers every layer uses to reach the process state and send requests.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "gal_hal.h"
#include "gal_hardware.h"
#include "gal_kernel.h"
#include "gal_os.h"
#include "gal_request.h"
#include "gal_status.h"

// The operating-system object (magic "OS  "), allocated with the system allocator.
struct _gcoOS {
    uint32_t magic;
    gcoHEAP heap;
    uint32_t baseAddress;  // the kernel's GPU base address (command 29)
    int32_t device;        // -1 when closed
    uint32_t allocations, allocatedBytes, peakBytes, frees, freedBytes;
};

// The HAL object (magic "HAL "), one per process.
struct _gcoHAL {
    uint32_t magic;
    gcoDUMP dump;
    uint32_t chipCount;
    uint32_t chipTypes[3];
    uint32_t separated2D;
    uint32_t is3DAvailable;
    uint32_t* userDebugOption;
};

struct gcsATOM {
    std::atomic<int32_t> value;
};

// The chip identity as the kernel reports it (command 1) and the flags derived from it.
struct gcsCHIP_IDENTITY {
    uint32_t model, revision;
    uint32_t features[7];  // features, then minor features 0 to 5
    uint32_t further[3];
};

// The hardware object (magic "HARD"); one per hardware type per thread record.
struct _gcoHARDWARE {
    uint32_t magic;
    uint32_t type;
    uint32_t context;
    uint64_t context2;
    gcoQUEUE queue;
    uint32_t currentPipe;  // 1 = 2D
    gcsCHIP_IDENTITY identity;
    uint32_t has2DPipe;
    gcsSIGNAL_PTR stallSignal;
    std::atomic<int32_t> references;  // shared by copied thread records
    gcoBUFFER buffer;                 // the command-buffer ring
    gcsSTATE_DELTA* deltas[3];        // the state-delta ring
    uint32_t currentDelta;
    uint32_t pageLimited;  // 2D reservations must stay in one 4 KB page
    uint32_t needsEndFrameState;  // older chips: state 0x1650 = 1 at the end of a frame
    uint32_t needsPatch;          // older chips: the 34-word patch at the end of a frame
    uint32_t patch[34];
    uint32_t patchNode;           // the patch's 16 x 16 temporary surface
    uint32_t patchAddress;
    uint32_t* window2D;           // the 2D command window
    uint32_t windowIndex;
    uint32_t windowSize;
    uint32_t processDetection;    // the trailing word pair ends a frame
    uint32_t targetAddress;       // the current target's first plane address
};

// A state delta: the last value of each state loaded since the last commit (12-byte entries
// {address, mask, data}), with a per-address id map and entry index.
struct gcsSTATE_DELTA {
    uint32_t id;
    uint32_t elementCount;
    uint32_t* mapId;      // one word per state address
    uint32_t* mapIndex;   // one word per state address
    uint32_t* entries;    // three words per entry
    gcsSTATE_DELTA* next;
};

namespace gal {

constexpr uint32_t fourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kOsMagic = fourCC('O', 'S', ' ', ' ');
constexpr uint32_t kHalMagic = fourCC('H', 'A', 'L', ' ');
constexpr uint32_t kHardwareMagic = fourCC('H', 'A', 'R', 'D');
constexpr uint32_t kQueueMagic = fourCC('Q', 'U', 'E', ' ');
constexpr uint32_t kEngineMagic = fourCC('2', 'D', ' ', ' ');

// True when gcPLS has been initialised in this process.
bool initialised();
// The calling thread's type, or 2 while the process state is not initialised.
gceSTATUS currentType(uint32_t& type);

// Switches the calling thread's hardware type for a scope and restores it.
class TypeScope {
public:
    explicit TypeScope(uint32_t type);
    ~TypeScope();
    TypeScope(const TypeScope&) = delete;
    TypeScope& operator=(const TypeScope&) = delete;
    gceSTATUS status() const { return status_; }

private:
    gcsTHREAD_DATA* record_ = nullptr;
    uint32_t saved_ = 0;
    gceSTATUS status_ = gcvSTATUS_OK;
};

// Sends a request through gcoHAL_Call (status of the call or of the request).
gceSTATUS call(gcsIO_REQUEST& request);

// The calling thread's hardware object for its current type (the resolution rules).
gceSTATUS resolveHardware(gcoHARDWARE& hardware);
// A hardware argument, or the thread's when null.
gceSTATUS hardwareOf(gcoHARDWARE given, gcoHARDWARE& hardware);

// Hardware objects are shared by copied thread records; the last release destroys.
void retainHardware(gcoHARDWARE hardware);
void releaseHardware(gcoHARDWARE hardware, uint32_t type);
void retainEngine(gco2D engine);
void releaseEngine(gco2D engine);

// The event queue's pending count and head, as the kernel takes it (queue.cpp).
uint32_t queueCount(gcoQUEUE queue);
uint64_t queueHead(gcoQUEUE queue);

// The state deltas of a hardware object (state.cpp).
gceSTATUS constructDeltas(gcoHARDWARE hardware);
void destroyDeltas(gcoHARDWARE hardware);
void advanceDelta(gcoHARDWARE hardware);

// The signal a stall waits on after its commit, named in that commit so that a kernel which
// reaches it within the commit can take it for the caller (command_buffer.cpp).
void setCommitWait(gcoBUFFER buffer, gcsSIGNAL_PTR signal);
bool commitReachedWait(gcoBUFFER buffer);

// The older chips' end-of-frame patch and its surface (frame2d.cpp).
gceSTATUS preparePatch(gcoHARDWARE hardware);
void releasePatch(gcoHARDWARE hardware);

// Debug output, so that tests can read what the driver prints.
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads GAL_DEBUG once per process (HAL creation).
void readDebugEnvironment();

}  // namespace gal
