// The board's flash file system: up to 63 named files, each with a type
// byte, a date and time, a start address and its 32-bit words. It can be
// kept in a text file between runs of the simulator (format at
// FlashFs::Serialize).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk::sim {

struct Program {
  std::string name;
  uint8_t type = 1;                // 1 = executable program, anything else = data
  std::array<uint8_t, 6> date{};   // day, month, year in century, hour, minute, second
  uint32_t start = 0;              // start address
  std::vector<uint32_t> words;

  uint32_t SizeBytes() const { return static_cast<uint32_t>(words.size() * 4); }
  bool operator==(const Program&) const = default;
};

class FlashFs {
 public:
  static constexpr size_t kMaxPrograms = 63;
  static constexpr size_t kMaxNameLength = 15;
  static constexpr uint8_t kTypeProgram = 1;
  // Bytes of flash that file contents may fill (512 KiB).
  static constexpr uint32_t kCapacityBytes = 0x80000;

  enum class Status { Ok, BadName, Exists, Full, NoSpace, NotFound };

  // 1 to 15 characters, none of them 0.
  static bool ValidName(std::string_view name);

  const std::vector<Program>& programs() const { return programs_; }
  const Program* Find(std::string_view name) const;
  uint32_t UsedBytes() const;
  uint32_t FreeBytes() const { return kCapacityBytes - UsedBytes(); }

  // Adds a new file; refuses a name in use.
  Status Add(Program program);
  // Adds a file or replaces the one of the same name.
  Status Put(Program program);
  Status Remove(std::string_view name);
  Status Rename(std::string_view from, std::string_view to);
  void Format();

  // The program a flash download is writing: opened by StartDownload,
  // filled by LoadData, given its start address by LoadStartAddress, and
  // stored by EndDownload. Not part of the flash's contents until then.
  struct Download {
    Program program;
    bool start_given = false;
    uint32_t bytes_written = 0;
  };
  std::optional<Download>& download() { return download_; }

  // Counts the changes made so far; the owner saves when it moves.
  uint64_t generation() const { return generation_; }

  std::string Serialize() const;
  // Replaces the contents with the files described by `text`. On failure
  // nothing changes and `error` says which line is wrong and why.
  bool Parse(std::string_view text, std::string& error);
  bool Load(const std::string& path, std::string& error);
  // Writes a temporary file beside `path` and renames it over `path`.
  bool Save(const std::string& path, std::string& error) const;

 private:
  Status Check(const Program& program, const Program* replacing) const;

  std::vector<Program> programs_;
  uint64_t generation_ = 0;
  std::optional<Download> download_;
};

const char* StatusText(FlashFs::Status status);

}  // namespace vk::sim
