// What the secure store's modules ask of each other: the flash side (partitions, the masked
// copies, initialisation and repair, the update; se_store.cpp) and the trusted world's side
// (codes, protection and packing of records, the "sedata" import; se_store_records.cpp).
// Everything here runs with the lock held and the process attached.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "se_channel.h"
#include "se_store.h"
#include "se_store_image.h"

namespace veld::se {

// ---- flash (se_store.cpp) ----

// The number of the partition named `name` in "/proc/partinfo" (1 to 100), or -1.
int findPartition(const char* name);
// The device file of the partition named `name`, or an empty string.
std::string partitionDevice(const char* name);
// Loads the store when it is not loaded (the first step of every record operation).
St checkAndReinit(ProcessRecord& p);
// Writes stored record data under `name` into the working copy (no flash).
St writeStoreRecord(ProcessRecord& p, const char* name, std::span<const uint8_t> stored);
// Deletes the named record from the working copy (no flash).
St deleteStoreRecord(ProcessRecord& p, const char* name);
// Seals the working copy and writes main and backup.
St updateStore(ProcessRecord& p);
// Initialises the store from flash.
St initializeStore(ProcessRecord& p);

// ---- the trusted world (se_store_records.cpp) ----

// The code over `seed` followed by `data`, computed by the trusted world; with `seedOut`, a
// fresh seed is generated first and written there.
St computeCode(ProcessRecord& p, uint8_t seed[kSeedBytes], bool freshSeed,
               std::span<const uint8_t> data, uint8_t code[kCodeBytes]);
// Whether `code` is the code over `seed` and `data` (the trusted world compares).
St checkCode(ProcessRecord& p, const uint8_t seed[kSeedBytes], std::span<const uint8_t> data,
             const uint8_t code[kCodeBytes], bool& equal);
// A store image's code over its directory and data, checked against its stored code; the
// structure must already be valid.
St imageCodeValid(ProcessRecord& p, const uint8_t* image, uint32_t used, bool& valid);
// Protects a record in place (encrypt + code block).
St protectRecord(ProcessRecord& p, uint8_t header[64], uint8_t* data, uint32_t length);
// Packs a protected record into stored record data, and unpacks it again (the header and the
// data out; the code block is verified over the data).
St packRecord(ProcessRecord& p, const uint8_t header[64], const uint8_t* data, uint32_t length,
              std::vector<uint8_t>& stored);
St unpackRecord(ProcessRecord& p, std::span<const uint8_t> stored, uint8_t header[64],
                uint8_t* data, uint32_t length);
// The store mask (256 bytes), made by the trusted world from the store's key.
St makeMask(ProcessRecord& p, uint8_t mask[256]);
// Imports "sedata" (or `path`); St::Fail when there is nothing to import or it failed.
St importData(ProcessRecord& p, const char* path);

// Reads into a caller's record the stored record data that `fetch` yields under the lock: the
// header and the data, unpacked and verified, written only on success; the record's length
// word must equal the stored data length. 0 or -1.
using FetchStored = std::function<St(ProcessRecord&, std::vector<uint8_t>&)>;
int32_t readStoredRecord(VELD_SE_SS_RECORD* record, const FetchStored& fetch);

// Stored record data of at least the overhead, in whole blocks, at most the record limit.
bool storedLengthValid(uint32_t length);

}  // namespace veld::se
