// The debug keyboard: a USB keyboard drives the on-screen monitor. The task finds the
// keyboard among the kernel's input devices (the one with LEDs), takes it over exclusively,
// and turns eight keys into monitor key codes that it hands straight to the monitor's
// platform-event handler, bypassing the message endpoint.
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "detached_task.h"
#include "seam.h"
#include "ssm.h"
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

// The kernel hands out whole native records: 16 bytes on a 32-bit system, 24 on a 64-bit one.
static_assert(sizeof(input_event) == (sizeof(long) == 8 ? 24 : 16));
static_assert(offsetof(input_event, type) == 2 * sizeof(long));
static_assert(offsetof(input_event, code) == offsetof(input_event, type) + 2);
static_assert(offsetof(input_event, value) == offsetof(input_event, type) + 4);

constexpr const char* kDevicesPath = "/proc/bus/input/devices";
constexpr uint32_t kRetryPauseMs = 2000;
constexpr size_t kLineBytes = 256;
constexpr size_t kDeviceBytes = 80;
constexpr uint16_t kKeyEvent = 1;  // EV_KEY
constexpr int32_t kPress = 1;      // releases are 0, repeats 2
constexpr int32_t kUnmappedKey = -1;

struct KeyMapping {
    uint16_t input;
    int32_t monitor;
};

// First match wins.
constexpr std::array<KeyMapping, 8> kKeyTable{{
    {33, 10},   // F: select
    {28, 10},   // Enter: select
    {50, 109},  // M: close app
    {38, 59},   // L: left
    {40, 39},   // apostrophe: right
    {25, 91},   // P: up
    {39, 47},   // semicolon: down
    {45, 120},  // X
}};

constexpr int32_t monitorKey(uint16_t input) {
    for (const KeyMapping& row : kKeyTable)
        if (row.input == input) return row.monitor;
    return kUnmappedKey;
}
static_assert(monitorKey(28) == 10 && monitorKey(45) == 120 && monitorKey(16) == kUnmappedKey);

// Single-quotes a path for the shell unless it is made only of harmless characters (as the
// system's own paths are, so on a television the command is the plain one).
std::string shellWord(const std::string& text) {
    const bool plain = text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789/._-+") == std::string::npos;
    if (plain && !text.empty()) return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// The event number of the first input device whose handlers include "leds", or -1.
int detectKeyboard() {
    const std::string command = "cat " + shellWord(veld::seam::path(kDevicesPath)) + " | grep leds";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        VELDD_LOG_AS("SSM_KeyBoardTask", kUnexpected, "can't detect keyboard. retrying\n");
        return -1;
    }
    int eventNumber = -1;
    char line[kLineBytes];
    while (std::fgets(line, sizeof line, pipe)) {
        VELDD_LOG_AS("SSM_KeyBoardTask", kUnexpected, "+ text = %s\n", line);
        int number = -1;
        if (std::sscanf(line, " %*[^0-9]%d", &number) == 1) {
            VELDD_LOG_AS("SSM_KeyBoardTask", kUnexpected, "event%d detected\n", number);
            eventNumber = number;
            break;
        }
    }
    pclose(pipe);
    return eventNumber;
}

void sendKey(int32_t key) {
    VELDD_IPC_MSG message{};
    message.flags = veld::msg::kFlagRequest;
    message.id = veld::msg::kSsmKey;
    message.data[1] = static_cast<uint32_t>(key);
    SSM_PLTEventHandler(&message);
}

// Reads whole records until the device fails or ends; returns how many records it read.
// A reader that is not an event device may deliver a record in pieces, so the bytes of an
// unfinished record are kept for the next read.
size_t readEvents(int fd, int eventNumber) {
    std::array<input_event, 16> events{};
    auto* bytes = reinterpret_cast<unsigned char*>(events.data());
    size_t held = 0;
    size_t records = 0;
    for (;;) {
        const ssize_t n = read(fd, bytes + held, sizeof events - held);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return records;
        held += static_cast<size_t>(n);
        const size_t whole = held / sizeof(input_event);
        for (size_t i = 0; i < whole; ++i) {
            const input_event& event = events[i];
            ++records;
            if (event.type != kKeyEvent || event.value != kPress) continue;
            VELDD_LOG_AS("SSM_KeyBoardTask", kUnexpected,
                         "event%d, type: 0x%2x, code: 0x%2x, val: 0x%04x\n", eventNumber,
                         event.type, event.code, static_cast<unsigned>(event.value));
            sendKey(monitorKey(event.code));
        }
        const size_t used = whole * sizeof(input_event);
        std::memmove(bytes, bytes + used, held - used);
        held -= used;
    }
}

}  // namespace

extern "C" {

void* SSM_KeyBoardTask(void* /*argument*/) {
    veld::detachThisTask();
    for (;;) {
        const int eventNumber = detectKeyboard();
        if (eventNumber < 0) {
            VELD_OSA_SleepMsec(kRetryPauseMs);
            continue;
        }
        char device[kDeviceBytes];
        std::snprintf(device, sizeof device, "/dev/input/event%d", eventNumber);
        const std::string devicePath = veld::seam::path(device);
        const int fd = open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            VELD_OSA_SleepMsec(kRetryPauseMs);
            continue;
        }
        // Exclusive, so the keys drive only the monitor. Something that is not an event
        // device can't be grabbed; it is still read.
        if (ioctl(fd, EVIOCGRAB, 1) != 0)
            VELDD_LOG(kUnexpected, "can't grab %s (%s), reading it shared\n", devicePath.c_str(),
                      strerror(errno));
        VELDD_LOG(kUnexpected, "keyboard connected to %s. fd=%d\n", devicePath.c_str(), fd);
        const size_t records = readEvents(fd, eventNumber);
        close(fd);
        // An unplugged keyboard is looked for again at once; a device that fails before
        // delivering anything would otherwise be reopened in a tight loop.
        if (records == 0) VELD_OSA_SleepMsec(kRetryPauseMs);
    }
}

}  // extern "C"
