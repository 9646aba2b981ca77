// Four-lane Extended Tektronix Hex reader.
//
// A program for the 32-bit target comes as four text files with one base
// name: .X0 holds bits 7-0 of every word, .X1 bits 15-8, .X2 bits 23-16 and
// .X3 bits 31-24. Record k of every file has the same block type, length,
// address length and address, and carries that lane's byte of the same
// words. ReadLoadRecord reads one line from each file, checks that they
// agree, and hands back one assembled record. It keeps one record at a time,
// so memory does not grow with the size of the program.
//
// One record line, field by field (positions after any leading blanks):
//   %  LL  T  CC  N  AAAAAAAA  DD DD ...
//   |  |   |  |   |  |         data: this lane's byte of each word
//   |  |   |  |   |  address (N hex digits; only the .X0 one is used)
//   |  |   |  |   address length N: 4, 6 or 8
//   |  |   |  checksum (must be there, not checked)
//   |  |   block type: 6 data, 8 termination
//   |  block length: characters after the '%'
//   header
// Example, lanes of one word 0x11223344 at 0x800 (block length 10 hex):
//   .X3 "%1060080000080011"   .X2 "%1060080000080022"
//   .X1 "%1060080000080033"   .X0 "%1060080000080044"
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vk::fourlane {

constexpr int kLanes = 4;
constexpr int kLineBuffer = 99;             // characters per line read, with the terminator
constexpr int kMaxLineChars = kLineBuffer - 1;

struct LoadRecord {
  enum class Kind { Data, Termination };
  Kind kind = Kind::Data;
  uint32_t address = 0;         // load address, or the program start address
  std::vector<uint32_t> words;  // data records only
};

// The four open input files in lane order .X0, .X1, .X2, .X3, closed at
// the latest when the set goes.
struct LaneFiles {
  LaneFiles() = default;
  ~LaneFiles() { Close(); }
  LaneFiles(const LaneFiles&) = delete;
  LaneFiles& operator=(const LaneFiles&) = delete;
  void Close() {
    for (FILE*& file : files) {
      if (file) std::fclose(file);
      file = nullptr;
    }
  }

  std::array<FILE*, kLanes> files{};
};

enum class ParseStatus { Record, Error };

// Checks and assembles one set of four lines (lane order .X0..X3, each at
// most kMaxLineChars characters, as read). On Error `message` holds the
// complete message to print, line end included.
ParseStatus ParseLanes(const std::array<std::string, kLanes>& lines, LoadRecord& record, std::string& message);

// Reads one line of at most kMaxLineChars characters, stopping after a line
// feed; the rest of a longer line is the next line. False at end of file.
bool ReadLaneLine(FILE* file, std::string& line);

enum class ReadStatus {
  Record,  // `record` is filled
  End,     // one of the files has no further line
  Error,   // a format error; its message has been printed
};

// Delivers the next record. After an Error the caller ends the run the way
// its program does.
ReadStatus ReadLoadRecord(LaneFiles& files, LoadRecord& record);

}  // namespace vk::fourlane
