// The directory reply of ListDirectory and the listing printed from it.
//
// Reply (target to host, after the command checksum):
//   entries   name 00, type, day month year, hour minute second, size (4)
//             ... one after the other; a name never begins with 00
//   00        end of the list, where the next name would begin
//   autoboot  name 00 (only the 00 when nothing starts automatically)
//   free      4 bytes, free bytes of the flash
//   trailing  1 byte, summed, value unused
//   checksum  sum mod 256 of every byte above
// A first byte 00 means no files: nothing follows it.
// Numbers travel most significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vk::vklist {

// The whole reply is held before anything is printed; a directory within
// the file system's limits (63 files, names of 15 characters) needs less.
constexpr size_t kStoreBytes = 2048;

struct Entry {
  std::string name;
  uint8_t type = 0;
  std::array<uint8_t, 3> date{};  // day, month, year within the century
  std::array<uint8_t, 3> time{};  // hour, minute, second
  uint32_t size = 0;
};

struct Directory {
  std::vector<Entry> entries;
  std::string autoboot;
  uint32_t free_bytes = 0;
};

// Takes the reply byte by byte as it arrives and knows when it is whole.
// A reply longer than the store is read to its end and summed all the same,
// so the session stays in step, but nothing of it is kept.
class DirectoryReply {
 public:
  void Add(uint8_t byte);
  // The reply and its checksum byte are in, or the first byte said that
  // there are no files.
  bool Complete() const { return step_ == Step::Done; }
  bool NoFiles() const { return no_files_; }
  bool Overflow() const { return overflow_; }
  uint8_t sum() const { return sum_; }
  uint8_t received_checksum() const { return received_checksum_; }
  const Directory& directory() const { return directory_; }

 private:
  enum class Step { NameOrEnd, Name, Fields, Autoboot, Free, Trailing, Checksum, Done };

  void Keep(uint8_t byte);

  Step step_ = Step::NameOrEnd;
  bool first_ = true;
  bool no_files_ = false;
  bool overflow_ = false;
  size_t stored_ = 0;   // reply bytes counted against the store
  size_t field_ = 0;    // bytes of the current fixed-size field read
  std::array<uint8_t, 11> fields_{};
  uint8_t sum_ = 0;
  uint8_t received_checksum_ = 0;
  Entry entry_;
  Directory directory_;
};

// The listing: a blank line, one line per entry, the auto-boot line and the
// free-flash line.
void PrintListing(std::FILE* out, const Directory& directory);

}  // namespace vk::vklist
