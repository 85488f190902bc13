// A power cut for the flash partitions of a test process: linked into a test program, it
// stands between the program and the C library's pwrite and write. Once armed on a file, writes
// to that file pass for a given number of 512-byte blocks (counted at 512-byte boundaries of
// the file) and every byte after that is dropped while the writer is told it was written, as
// when the power goes away under a running system. Reads are never touched, so what the next
// "boot" finds is exactly what reached the file.
#pragma once

#include <string>

namespace veld::sim {

constexpr long kFlashBlock = 512;

// Lets `blocks` more blocks of writes to `path` through; -1 counts without ever cutting.
void armPowerCut(const std::string& path, long blocks);
// Writes pass again.
void disarmPowerCut();
// Blocks written to the armed file since it was armed (the dropped ones not counted).
long blocksWritten();
// Whether any write was dropped since the cut was armed.
bool powerWasCut();

}  // namespace veld::sim
