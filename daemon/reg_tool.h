// The serial register tool's line helpers, shared by its task and its tests.
#pragma once

#include <cstdint>

extern "C" {

// Opens "/dev/ttyAMA1" (under the root seam) and applies the tool's raw 115200 8N1 settings.
// Returns the descriptor, negative when the port can't be opened.
int uart_daemon_init(void);

// Reads exactly `count` bytes into `buffer`. Returns 1 when they arrived; -1 for a negative
// descriptor, and -1 when the line is lost (a hung-up port reads 0 bytes, a broken one fails)
// so that the caller can reopen the port instead of retrying at full speed.
int uart_daemon_read(int fd, uint32_t count, uint8_t* buffer);

}  // extern "C"
