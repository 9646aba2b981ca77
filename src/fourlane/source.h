// The loaders' shared pieces: the source name and the four lane files, all
// settled before the port is opened, and the lines a load prints.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "fourlane/reader.h"
#include "link/ending.h"

namespace vk::fourlane {

constexpr size_t kMaxSourceName = 256;

// What the command line gave: the name as typed and upper-cased (the frame
// upper-cases names during the option scan).
struct SourceName {
  std::string typed;
  std::string upper;  // sent to the target and printed in messages
};

// Asks "File To Load : " when no name was given and reads one word from
// standard input. Then refuses a name with a '.' ("\nFilename Extension Is
// Not Allowed") and a name longer than 256 characters; a refusal ends the
// run directly with 2.
void SettleSourceName(SourceName& name);

// The file of one lane: the name as typed with ".Xn" when that file exists,
// else the upper-cased name with ".Xn" (on a case-insensitive file system
// the two are the same file).
std::string LaneFileName(const SourceName& name, int lane);

// Why a file cannot be opened, in words for standard error: missing, no
// regular file, no read permission.
std::string CannotOpenReason(const std::string& path);

// Prints "\nCan't Open File %s\n", the reason on standard error (led by the
// program's name), and ends the run directly with 2.
[[noreturn]] void RefuseFile(const std::string& program, const std::string& path);

// Opens the four lane files in lane order, printing "Loading File: %s\n"
// for each; the first that cannot be opened is refused (RefuseFile).
void OpenLaneFiles(const std::string& program, const SourceName& name, LaneFiles& files);

// The progress line while records go out: the address of the record.
void ShowProgress(uint32_t address);

// The count of bytes sent, the four of the start address included.
void PrintBytesLoaded(unsigned long message_bytes);

// The loaders' last lines after a complete load: the start address, the
// files closed, the download time since `download_start_ms`. The run then
// ends through ExitTool with 0.
link::RunEnd FinishLoad(const SourceName& name, uint32_t start, LaneFiles& files, long download_start_ms);

}  // namespace vk::fourlane
