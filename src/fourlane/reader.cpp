// Four-lane reader: line reading, field checks and word assembly.
//
// How one set of lines is taken apart (ParseLanes):
//   - Each lane's line is looked at from its first character that is not a
//     space (tabs and other white space are not passed over here).
//   - Every field sits at a fixed offset from there: '%' at 0, block length
//     at 1 (2 wide), block type at 3 (1), checksum at 4 (2), address length
//     N at 6 (1), address at 7 (N), data at 7 + N (2 per byte).
//   - A numeric field is read like a scanf "%<width>X": white space before
//     the first digit is passed over, then at most <width> hexadecimal
//     digits (either case) are taken, and at least one must be there or the
//     field counts as missing. Only digits count: no sign, no "0x". The next
//     field starts at its own fixed offset, however many characters the
//     read took. A line that ends before a field's offset lacks that field.
//   - Checks run field by field, all four lanes of a field (.X0 first)
//     before the next field, and the comparisons of neighbouring lanes after
//     all four values of the field are read; so a bad record always gives
//     the same single message.
//   - A line holds what was read of it: a carriage return before the line
//     feed, and the line feed, stay in it and are ignored after the record
//     like any other trailing characters. A NUL character ends the line.
//
// Data records whose block length leaves a negative or odd number of data
// characters cannot describe whole bytes; they are refused with the
// data-value message of lane .X3, the lane whose value would be read first.
#include "fourlane/reader.h"

#include <cstdarg>
#include <string_view>

#include "wire/bytes.h"

namespace vk::fourlane {
namespace {

constexpr std::array<const char*, kLanes> kLaneName{".X0", ".X1", ".X2", ".X3"};

// Offsets of the fields from the '%'.
constexpr size_t kPosBlockLength = 1;
constexpr size_t kPosBlockType = 3;
constexpr size_t kPosChecksum = 4;
constexpr size_t kPosAddressLength = 6;
constexpr size_t kPosAddress = 7;
// Characters of a record after the '%' that are not address or data:
// block length, type, checksum and address length.
constexpr int kFixedChars = 6;

constexpr unsigned kTypeData = 6;
constexpr unsigned kTypeTermination = 8;

constexpr char kHeader = '%';

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A "%<width>X" read at `pos` of `line`. False when no digit is found.
bool ReadHex(std::string_view line, size_t pos, int width, uint32_t& value) {
  if (pos >= line.size()) return false;
  size_t i = pos;
  while (i < line.size() && IsSpace(line[i])) ++i;
  uint32_t v = 0;
  int digits = 0;
  while (digits < width && i < line.size()) {
    const int d = wire::HexDigit(line[i]);
    if (d < 0) break;
    v = (v << 4) | static_cast<uint32_t>(d);
    ++digits;
    ++i;
  }
  if (digits == 0) return false;
  value = v;
  return true;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  std::array<char, 160> buffer{};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  return buffer.data();
}

// One numeric field of all four lanes: read each (a missing one gives
// `missing`), then compare neighbours (`differ`, nullptr when the lanes need
// not agree).
bool ReadField(const std::array<std::string_view, kLanes>& lanes, size_t pos, int width,
               const char* missing, const char* differ, std::array<uint32_t, kLanes>& values,
               std::string& message) {
  for (int lane = 0; lane < kLanes; ++lane) {
    const size_t i = static_cast<size_t>(lane);
    if (!ReadHex(lanes[i], pos, width, values[i])) {
      message = Format(missing, kLaneName[i]);
      return false;
    }
  }
  if (differ == nullptr) return true;
  for (int lane = 0; lane + 1 < kLanes; ++lane) {
    const size_t i = static_cast<size_t>(lane);
    if (values[i] != values[i + 1]) {
      message = Format(differ, kLaneName[i], kLaneName[i + 1]);
      return false;
    }
  }
  return true;
}

std::string DataValueMessage(int lane) {
  return Format("ERROR: Something Wrong With Data Value In %s File\n", kLaneName[static_cast<size_t>(lane)]);
}


// Each lane from its '%' on (or from the character that should be one): up
// to a NUL, leading spaces dropped.
std::array<std::string_view, kLanes> TrimLanes(const std::array<std::string, kLanes>& lines) {
  std::array<std::string_view, kLanes> lanes;
  for (size_t i = 0; i < lanes.size(); ++i) {
    std::string_view line(lines[i]);
    line = line.substr(0, line.find('\0'));
    const size_t start = line.find_first_not_of(' ');
    lanes[i] = start == std::string_view::npos ? std::string_view{} : line.substr(start);
  }
  return lanes;
}

bool CheckHeaders(const std::array<std::string_view, kLanes>& lanes, std::string& message) {
  for (size_t i = 0; i < lanes.size(); ++i) {
    if (lanes[i].empty() || lanes[i][0] != kHeader) {
      message = Format("ERROR: First Character In %s Line Must Always Be %s\n", kLaneName[i], "%");
      return false;
    }
  }
  return true;
}

// The fields before the address, as the .X0 lane gives them (the lanes
// agree on them by the time they are returned).
struct RecordHead {
  uint32_t block_length = 0;
  uint32_t block_type = 0;
  uint32_t address_length = 0;
};

bool ReadHead(const std::array<std::string_view, kLanes>& lanes, RecordHead& head, std::string& message) {
  // "Alwys" in the missing-field messages below is misspelt on purpose:
  // scripts match these messages as they have always been printed.
  std::array<uint32_t, kLanes> block_length{};
  if (!ReadField(lanes, kPosBlockLength, 2, "ERROR: There Must Alwys Be Two Block Length Characters In %s File\n",
                 "ERROR: Block Lengths Of %s File And %s File Must Be The Same\n", block_length, message))
    return false;

  // The missing-type message names the block length: that is the wording
  // users of these files know.
  std::array<uint32_t, kLanes> block_type{};
  if (!ReadField(lanes, kPosBlockType, 1, "ERROR: There Must Alwys Be A Block Length Character In %s File\n",
                 "ERROR: Block Types Of %s File And %s File Must Be The Same\n", block_type, message))
    return false;
  if (block_type[0] != kTypeData && block_type[0] != kTypeTermination) {
    message = Format("ERROR: Illegal LoadAddress Width %x In .X0...X3 File\n", block_type[0]);
    return false;
  }

  // The checksum must be there; its value is not checked.
  std::array<uint32_t, kLanes> checksum{};
  if (!ReadField(lanes, kPosChecksum, 2, "ERROR: There Must Alwys Be A Checksum Character In %s File\n", nullptr,
                 checksum, message))
    return false;

  std::array<uint32_t, kLanes> address_length{};
  if (!ReadField(lanes, kPosAddressLength, 1,
                 "ERROR: There Must Alwys Be A Length Of Load Address Character In %s File\n",
                 "ERROR: Address Lengths Of %s File And %s File Must Be The Same\n", address_length, message))
    return false;
  if (const uint32_t n = address_length[0]; n != 4 && n != 6 && n != 8) {
    message = Format("ERROR: Illegal LoadAddress Width %u In .X0...X3 File\n", n);
    return false;
  }
  head = {block_length[0], block_type[0], address_length[0]};
  return true;
}

// The data words: byte k of every lane, .X3 read first, make word k.
bool AssembleWords(const std::array<std::string_view, kLanes>& lanes, const RecordHead& head,
                   std::vector<uint32_t>& words, std::string& message) {
  const int data_chars =
      static_cast<int>(head.block_length) - kFixedChars - static_cast<int>(head.address_length);
  if (data_chars < 0 || data_chars % 2 != 0) {
    message = DataValueMessage(3);
    return false;
  }
  const int count = data_chars / 2;
  const size_t data_pos = kPosAddress + head.address_length;
  words.reserve(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) {
    uint32_t word = 0;
    for (int lane = kLanes - 1; lane >= 0; --lane) {
      uint32_t byte = 0;
      if (!ReadHex(lanes[static_cast<size_t>(lane)], data_pos + 2 * static_cast<size_t>(k), 2, byte)) {
        message = DataValueMessage(lane);
        words.clear();
        return false;
      }
      word |= byte << (8 * lane);
    }
    words.push_back(word);
  }
  return true;
}

}  // namespace

ParseStatus ParseLanes(const std::array<std::string, kLanes>& lines, LoadRecord& record, std::string& message) {
  message.clear();
  record.words.clear();
  const std::array<std::string_view, kLanes> lanes = TrimLanes(lines);
  RecordHead head;
  if (!CheckHeaders(lanes, message) || !ReadHead(lanes, head, message)) return ParseStatus::Error;

  // Only the .X0 address is read; the other lanes' address characters are
  // passed over unread.
  if (!ReadHex(lanes[0], kPosAddress, static_cast<int>(head.address_length), record.address)) {
    message = "ERROR: Something Wrong With LoadAddress In .X0...X3 File\n";
    return ParseStatus::Error;
  }
  if (head.block_type == kTypeTermination) {
    record.kind = LoadRecord::Kind::Termination;
    return ParseStatus::Record;
  }
  record.kind = LoadRecord::Kind::Data;
  return AssembleWords(lanes, head, record.words, message) ? ParseStatus::Record : ParseStatus::Error;
}

bool ReadLaneLine(FILE* file, std::string& line) {
  line.clear();
  int c = 0;
  while (line.size() < static_cast<size_t>(kMaxLineChars) && (c = std::getc(file)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line.empty();
}

ReadStatus ReadLoadRecord(LaneFiles& files, LoadRecord& record) {
  std::array<std::string, kLanes> lines;
  bool ended = false;
  for (size_t i = 0; i < lines.size(); ++i)
    if (!ReadLaneLine(files.files[i], lines[i])) ended = true;
  if (ended) return ReadStatus::End;

  std::string message;
  if (ParseLanes(lines, record, message) == ParseStatus::Record) return ReadStatus::Record;
  std::printf("%s", message.c_str());
  std::fflush(stdout);
  return ReadStatus::Error;
}

}  // namespace vk::fourlane
