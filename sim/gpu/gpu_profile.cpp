// The chip profiles the GPU simulator can play (see gpu_profile.h). The driver numbers the
// chip's features across the seven feature words: feature n is bit n % 32 of word n / 32
// (word 0 the features, words 1 to 6 minor features 0 to 5). What the profiles set:
//   0, 1  the older 2D pipe generation (with 139 absent: 2D reservations stay in one 4 KB page)
//   9     the 2D pipe
//   32    no flush and stall after every rectangle      33  no end-of-frame patch sequence
//   34    all 256 ROPs (else only 0xAA, 0xCC, 0xF0)     35  the mirror extension of rotations
//   36    the newer clear-colour state (0x12C0)         37  the newer palette states (0x3400)
//   38    the lookup tables (0x13800, 0x13C00)          39  the wider source block
//   14    the advanced 2D settings (colour-key ranges, global colours, multiply modes,
//         auto-flush cycles)
//   51, 52  every rotation and flip of sources and targets (else only 0 and 90 degrees)
//   107   the two 256-entry lookup tables    108  the user YUV modes and coefficient sets
//   132   the YUV colour modes of sources and targets
//   139   2D reservations may cross a 4 KB page
// An older chip has none of 14, 32 to 39, 51, 52, 107, 108, 132 and not 139.
#include "gpu_profile.h"

namespace veld::gpusim {

const ChipProfile kProfiles[2] = {
    {"plain", "current 2D core beside a 3D core", 0x0320, 0x5341,
     {0x00004203, 0x001800FF, 0, 0x00001800, 0x00000810, 0, 0}, {0x00000001, 0x00000000, 0x20190221}, 2,
     {1, 2, 0}},
    {"old", "single older core (revision 0x4301) with the older chips' quirks", 0x0300, 0x4301,
     {0x00000203, 0x00000000, 0, 0, 0x00000000, 0, 0}, {0x00000001, 0x00000000, 0x20120815}, 1,
     {1, 0, 0}},
};

const ChipProfile* findProfile(std::string_view name) {
    for (const ChipProfile& p : kProfiles)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace veld::gpusim
