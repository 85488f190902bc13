// Tasks that run on their own and are never joined: the daemon's register tool, file monitor,
// keyboard and monitor tasks and the monitor's samplers. Each detaches its thread as it
// starts, so that its stack and descriptor go back to the system when it ends; a task started
// per request would otherwise keep one mapping per ended run until the process ran out of
// them. Threads that are joined (the chart and top-list samplers, the tick) do not call this.
#pragma once

#include <pthread.h>

namespace veld {

inline void detachThisTask() { pthread_detach(pthread_self()); }

}  // namespace veld
