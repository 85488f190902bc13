// The seams: every fixed path, system-wide name and kernel command line the system uses passes
// through here, so that a PC or a test can run the system in a private root and namespace
// (VELD_ROOT, VELD_NS, VELD_CMDLINE, VELD_SIM). With none of them set they are the identity,
// which is what a television runs with.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace veld::seam {

// VELD_ROOT prefixed to a fixed absolute path ("/proc/stat" -> "$VELD_ROOT/proc/stat").
std::string path(std::string_view fixedPath);

// The namespace (VELD_NS), empty when unset.
std::string_view ns();

// A POSIX shared-memory or semaphore name in the namespace: "/name" -> "/<ns>.name".
std::string ipcName(std::string_view name);

// A System V key in the namespace. Without a namespace the key is unchanged; with one it is
// mixed with a hash of the namespace and never becomes IPC_PRIVATE.
key_t sysvKey(uint32_t key);

// The kernel command line: VELD_CMDLINE when set, else the text of $VELD_ROOT/proc/cmdline.
std::string kernelCmdline();

// Finds "key=" as a whole word on the command line and returns its value up to the next
// blank. `found` tells whether the key is there at all.
std::string cmdlineValue(std::string_view cmdline, std::string_view key, bool& found);

// VELD_SIM=1: kernel devices are served by the simulators.
bool simulated();

// Where the simulators of the current root and namespace keep their sockets, pid files and
// logs: $VELD_ROOT/tmp/veld-sim/<ns> ("default" without a namespace).
std::string simDir();

// The socket on which the simulator `name` ("tw", "gpu", "emmc", ...) serves its clients.
std::string simSocket(std::string_view name);

// A connection (SOCK_SEQPACKET) to the simulator `name` of the current root and namespace;
// -1 with errno, ENODEV when none serves (what a program sees without the device).
int connectSimulator(std::string_view name);

}  // namespace veld::seam
