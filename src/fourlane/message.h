// The data and start-address messages both loaders build from a record.
//
// Data message (command byte, then a length that counts every byte of the
// message, then block kind 1, the load address and the words, all most
// significant byte first):
//   cmd  LL LL  01  AA AA AA AA  W0 W0 W0 W0  ...
// Example: one word 0x11223344 at 0x800 with command 2:
//   02 00 0C 01 00 00 08 00 11 22 33 44      (checksum C1)
// Start-address message: cmd AA AA AA AA, e.g. 01 00 80 9C 00.
#pragma once

#include <cstdint>
#include <vector>

#include "fourlane/reader.h"

namespace vk::fourlane {

constexpr uint8_t kBlockKindData = 0x01;
constexpr int kDataHeaderBytes = 8;

// Builds the data message of a data record into `out` (replacing its
// content; the vector's capacity is reused from record to record).
void BuildDataMessage(uint8_t command, const LoadRecord& record, std::vector<uint8_t>& out);

// Builds the five-byte message carrying an address.
void BuildAddressMessage(uint8_t command, uint32_t address, std::vector<uint8_t>& out);

}  // namespace vk::fourlane
