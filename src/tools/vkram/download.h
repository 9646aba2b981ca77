// The RAM loader's download: one message per record, one checksum byte back.
//
//   data record   00 MM MM 01 AA AA AA AA  W W W W ...  -> ; <- checksum
//   termination   05 AA AA AA AA                        -> ; <- checksum ;
//                 05 (closing byte, sent whatever the checksum was)
//
// Nothing is echoed; the checksum is the sum modulo 256 of the message's
// bytes (the closing byte not counted). Example: one word 0x11223344 at
// 0x800 goes out as 00 00 0C 01 00 00 08 00 11 22 33 44 and the board
// answers BF; start at 0x00809C00: 05 00 80 9C 00, answer 21, then 05.
//
// Every failure ends the run through ExitTool with 2; there is no closing
// exchange with the monitor.
#pragma once

#include <cstdint>
#include <vector>

#include "fourlane/reader.h"
#include "link/link.h"

namespace vk::vkram {

constexpr uint8_t kCmdData = 0x00;
constexpr uint8_t kCmdStart = 0x05;
constexpr uint8_t kClosingByte = 0x05;

struct Download {
  uint32_t address = 0;      // of the record read last: at the end, the entry address
  bool started = false;      // the start message has been exchanged
  unsigned long bytes = 0;   // lengths of all data messages sent
  std::vector<uint8_t> message;
};

// Reads the next record, sends it and checks the answer. False at the end
// of the input and after the start message.
bool DownloadRecord(link::Link& link, fourlane::LaneFiles& files, Download& download);

// Sends record after record until the start message or the end of the
// input, then prints the bytes loaded.
void DownloadProgram(link::Link& link, fourlane::LaneFiles& files, Download& download);

}  // namespace vk::vkram
