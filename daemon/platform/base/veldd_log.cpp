// The daemon's log handle.
#include "veldd_log.h"

extern "C" {
int32_t g_veldd_logm_fd = -1;
}
