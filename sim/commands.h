// Pieces the board's commands share, and the factories of the commands
// that live in files of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/monitor.h"

namespace vk::sim {

constexpr size_t kMaxStoredName = 255;

// A name parameter: characters up to and including the terminating 0.
// Characters past kMaxStoredName are echoed but not kept.
class NameParam {
 public:
  bool Complete() const { return done_; }
  void Add(uint8_t byte) {
    if (byte == 0) {
      done_ = true;
    } else if (name_.size() < kMaxStoredName) {
      name_.push_back(static_cast<char>(byte));
    }
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  bool done_ = false;
};

// The flash download (commands_load.cpp): 0 StartDownload, 1
// LoadStartAddress, 2 LoadData, 3 EndDownload.
std::unique_ptr<Command> MakeStartDownload();
std::unique_ptr<Command> MakeLoadStartAddress();
std::unique_ptr<Command> MakeLoadData();
std::unique_ptr<Command> MakeEndDownload();

// The flash file system (commands_fs.cpp): 6 RenameProgram, 7
// DeleteProgram, 8 ListDirectory, 9 FormatFlash, 10 CheckFlash.
std::unique_ptr<Command> MakeRenameProgram();
std::unique_ptr<Command> MakeDeleteProgram();
std::unique_ptr<Command> MakeListDirectory();
std::unique_ptr<Command> MakeFormatFlash();
std::unique_ptr<Command> MakeCheckFlash();

}  // namespace vk::sim
