// The flash report of CheckFlash and how it is printed.
//
// Report (target to host, after the echo of the command byte 0A):
//   count     1 byte, files present
//   common    4 bytes, flash size
//   free      4 bytes, free flash
//   errors    [FF...] name 00 [FF...] name 00 ... [FF...] 00
//             names of files whose checksum is wrong; FF fillers stand
//             only before an entry and before the final 00
//   autostart 1 byte: 0 sound, 1 descriptor checksum error, other unknown
//   version   major, minor
//   checksum  sum mod 256 of the command byte and every report byte, the
//             FF fillers excepted
// Numbers travel most significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vk::vkcheck {

// The file error list is kept in this many bytes, each name with its 00.
// A list within the file system's limits (63 names of 15 characters)
// needs less; names past it are counted, not kept.
constexpr size_t kListBytes = 1024;

struct Report {
  uint8_t file_count = 0;
  uint32_t common_size = 0;
  uint32_t free_size = 0;
  std::vector<std::string> bad_files;  // as far as the list's store holds
  int files_not_kept = 0;              // names that did not fit
  uint8_t autostart = 0;
  uint8_t version_major = 0;
  uint8_t version_minor = 0;

  bool HasFileErrors() const { return !bad_files.empty() || files_not_kept > 0; }
};

// Takes the report byte by byte as it arrives, skipping the fillers where
// they may stand, and sums it onto the checksum of the command byte.
class ReportReader {
 public:
  explicit ReportReader(uint8_t command_sum) : sum_(command_sum) {}
  void Add(uint8_t byte);
  // The report and its checksum byte are in.
  bool Complete() const { return step_ == Step::Done; }
  uint8_t sum() const { return sum_; }
  uint8_t received_checksum() const { return received_checksum_; }
  const Report& report() const { return report_; }

 private:
  enum class Step { Header, NameOrEnd, Name, Tail, Checksum, Done };

  void Sum(uint8_t byte) { sum_ = static_cast<uint8_t>(sum_ + byte); }
  void EndName();

  Step step_ = Step::Header;
  size_t field_ = 0;
  std::array<uint8_t, 9> header_{};
  std::array<uint8_t, 3> tail_{};
  size_t list_used_ = 0;  // bytes of the list's store taken
  bool list_cut_ = false;
  std::string name_;
  bool name_too_long_ = false;
  uint8_t sum_;
  uint8_t received_checksum_ = 0;
  Report report_;
};

// The report in one of its two layouts: without file errors the autostart
// line comes before the numbers, with them after.
void PrintReport(std::FILE* out, const Report& report);

}  // namespace vk::vkcheck
