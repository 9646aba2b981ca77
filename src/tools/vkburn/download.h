// The flash download: the exchanges that create a named program in the
// board's flash, write its words, give its start address and close it.
//
//   StartDownload     00 -> ; <- [7F...] 00 ; descriptor bytes each echoed:
//                     name.. 00 day month year hour minute second 01(type)
//                     <- checksum (sum of all bytes sent) <- result (1 ok)
//   LoadData          one data message per data record (see message.h),
//                     echoed byte by byte (save mode) or as a block after
//                     the whole message (fast mode); <- checksum <- result
//   LoadStartAddress  01 AA AA AA AA, each echoed; <- checksum <- result
//   EndDownload       03 -> ; <- 03 ; <- 03 (checksum) ; <- [FF...] result
//                     (4 = the program is closed in flash)
// Every failure prints its message and ends the run through EndSession
// with 2.
#pragma once

#include <cstdint>
#include <string>

#include "fourlane/filedate.h"
#include "fourlane/reader.h"
#include "link/link.h"

namespace vk::vkburn {

enum class Mode { Save, Fast };

constexpr uint8_t kCmdStartDownload = 0x00;
constexpr uint8_t kCmdLoadStartAddress = 0x01;
constexpr uint8_t kCmdLoadData = 0x02;
constexpr uint8_t kCmdEndDownload = 0x03;
constexpr uint8_t kFileTypeProgram = 0x01;

void StartDownload(link::Link& link, const std::string& name, const fourlane::FileDate& date);

// Reads every record and sends it; prints the bytes-loaded line. Returns
// the address of the last record read (the start address after a complete
// program).
uint32_t DownloadRecords(link::Link& link, fourlane::LaneFiles& files, Mode mode);

void EndDownload(link::Link& link);

}  // namespace vk::vkburn
