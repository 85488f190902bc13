// What veldctl can tell about the daemon and the simulated platform without changing them: the
// pid file and whether its process lives, whether the monitor runs, whether a board exists.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace veld::tools {

// The pid in "/tmp/veldd.pid" under VELD_ROOT, or nullopt without a readable one.
std::optional<pid_t> pidFromFile();

// True while a process with this pid exists.
bool processAlive(pid_t pid);

// True when a thread of `daemonPid` (the monitor task) has taken events from the window
// system's queue lately: the monitor's clock ticks pass through it five times a second.
bool monitorRunning(pid_t daemonPid);

// True when the simulated board's shared memory exists in the namespace (it is never created
// here).
bool boardPresent();

// "namespace NAME", or "the default namespace".
std::string namespaceText();

}  // namespace veld::tools
