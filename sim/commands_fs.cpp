// The flash file system, board side: renaming, deleting, listing,
// formatting and checking.
//
//   6 RenameProgram  old 00 new 00; after 0xFF fillers while it works:
//                    0 no program of the old name, 1 renamed, 2 the new
//                    name is in use, 3 a new name the flash cannot hold
//                    (empty or longer than 15)
//   7 DeleteProgram  name 00; result 0 no such program, 1 deleting; then,
//                    after 0xFF fillers, 1 deleted or 0 failed
//   8 ListDirectory  no parameters; after the checksum the directory:
//                    per file name 00, type, day month year, hour minute
//                    second, size (4); then 00, the auto-boot name 00, the
//                    free bytes (4), a trailing 00, and the sum of all
//                    these bytes. An empty directory is the single byte 00.
//   9 FormatFlash    00 FF 55; after 0xFF fillers 1 formatted or 0 failed.
//                    Any other byte where a confirmation byte is due drops
//                    the command and is served as the next command byte.
//  10 CheckFlash     no parameters and no checksum after the command; the
//                    report: file count, flash size (4), free bytes (4),
//                    the names of damaged files (each name 00, fillers
//                    0xFF before each and before the closing 00), the
//                    autostart descriptor status, the version (major,
//                    minor), and the sum of 0A and every report byte but
//                    the fillers.
// Numbers go out most significant byte first.
#include <array>

#include "wire/bytes.h"
#include "sim/commands.h"

namespace vk::sim {
namespace {

constexpr uint8_t kVersionMajor = 2;
constexpr uint8_t kVersionMinor = 1;
constexpr uint8_t kCmdDeleteProgram = 7;
constexpr uint8_t kCmdFormatFlash = 9;
constexpr uint8_t kCmdCheckFlash = 10;
// Busy fillers the board sends while it works on the flash.
constexpr int kRenameBusy = 1;
constexpr uint32_t kBytesPerDeleteBusy = 1024;
constexpr uint32_t kSectorBytes = 0x10000;  // formatting erases sector by sector

void PutName(std::vector<uint8_t>& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

Reply Late(uint8_t value, int busy) {
  Reply r;
  r.results.push_back({{value}, true, busy});
  return r;
}

class RenameProgram final : public Command {
 public:
  bool Complete() const override { return to_.Complete(); }
  void Param(uint8_t byte) override {
    if (!from_.Complete()) from_.Add(byte);
    else to_.Add(byte);
  }
  Reply Finish(FlashFs& flash) override {
    switch (flash.Rename(from_.name(), to_.name())) {
      case FlashFs::Status::Ok: return Late(1, kRenameBusy);
      case FlashFs::Status::NotFound: return Late(0, kRenameBusy);
      case FlashFs::Status::Exists: return Late(2, kRenameBusy);
      default: return Late(3, kRenameBusy);
    }
  }

 private:
  NameParam from_;
  NameParam to_;
};

class DeleteProgram final : public Command {
 public:
  bool Complete() const override { return name_.Complete(); }
  void Param(uint8_t byte) override { name_.Add(byte); }
  void UseKnobs(const Knobs& knobs) override { fails_ = knobs.work_fault.count(kCmdDeleteProgram) != 0; }
  Reply Finish(FlashFs& flash) override {
    Reply r;
    const Program* p = flash.Find(name_.name());
    if (p == nullptr) {
      r.results.push_back({{0}, false});
      return r;
    }
    const int busy = 1 + static_cast<int>(p->SizeBytes() / kBytesPerDeleteBusy);
    r.results.push_back({{1}, false});
    const bool deleted = !fails_ && flash.Remove(name_.name()) == FlashFs::Status::Ok;
    r.results.push_back({{static_cast<uint8_t>(deleted ? 1 : 0)}, true, busy});
    return r;
  }

 private:
  NameParam name_;
  bool fails_ = false;
};

class ListDirectory final : public Command {
 public:
  bool Complete() const override { return true; }
  void Param(uint8_t) override {}
  void UseKnobs(const Knobs& knobs) override {
    autoboot_ = knobs.autoboot;
    odd_entries_ = knobs.odd_entries;
  }
  Reply Finish(FlashFs& flash) override {
    std::vector<uint8_t> dir;
    auto entry = [&dir](const Program& p) {
      PutName(dir, p.name);
      dir.push_back(p.type);
      dir.insert(dir.end(), p.date.begin(), p.date.end());
      vk::wire::Put32(p.SizeBytes(), dir);
    };
    for (const Program& p : flash.programs()) entry(p);
    for (const Program& p : odd_entries_) entry(p);
    Reply r;
    if (dir.empty()) {
      r.results.push_back({{0}, false});
      return r;
    }
    dir.push_back(0);
    PutName(dir, autoboot_);
    vk::wire::Put32(flash.FreeBytes(), dir);
    dir.push_back(0);
    const uint8_t sum = vk::wire::Sum8(dir);
    r.results.push_back({std::move(dir), false});
    r.results.push_back({{sum}, false, 0, true});
    return r;
  }

 private:
  std::string autoboot_;
  std::vector<Program> odd_entries_;
};

class FormatFlash final : public Command {
 public:
  bool Complete() const override { return got_ == kConfirmation.size(); }
  bool Accepts(uint8_t byte) const override { return byte == kConfirmation[got_]; }
  void Param(uint8_t) override { ++got_; }
  void UseKnobs(const Knobs& knobs) override { fails_ = knobs.work_fault.count(kCmdFormatFlash) != 0; }
  Reply Finish(FlashFs& flash) override {
    const int busy = static_cast<int>(FlashFs::kCapacityBytes / kSectorBytes);
    if (fails_) return Late(0, busy);
    flash.Format();
    return Late(1, busy);
  }

 private:
  static constexpr std::array<uint8_t, 3> kConfirmation{0x00, 0xFF, 0x55};
  size_t got_ = 0;
  bool fails_ = false;
};

class CheckFlash final : public Command {
 public:
  bool Complete() const override { return true; }
  void Param(uint8_t) override {}
  void UseKnobs(const Knobs& knobs) override {
    corrupt_ = knobs.corrupt;
    autostart_ = knobs.autostart_status;
  }
  Reply Finish(FlashFs& flash) override {
    Reply r;
    r.checksum_after_params = false;
    std::vector<uint8_t> head{static_cast<uint8_t>(flash.programs().size())};
    vk::wire::Put32(FlashFs::kCapacityBytes, head);
    vk::wire::Put32(flash.FreeBytes(), head);
    uint8_t sum = vk::wire::Sum8(head, kCmdCheckFlash);
    r.results.push_back({std::move(head), false});
    for (const std::string& name : corrupt_) {
      std::vector<uint8_t> entry;
      PutName(entry, name);
      sum = vk::wire::Sum8(entry, sum);
      r.results.push_back({std::move(entry), true});
    }
    r.results.push_back({{0}, true});
    const std::vector<uint8_t> tail{autostart_, kVersionMajor, kVersionMinor};
    sum = vk::wire::Sum8(tail, sum);
    r.results.push_back({tail, false});
    r.results.push_back({{sum}, false, 0, true});
    return r;
  }

 private:
  std::vector<std::string> corrupt_;
  uint8_t autostart_ = 0;
};

template <typename T>
std::unique_ptr<Command> Make() {
  return std::make_unique<T>();
}

}  // namespace

std::unique_ptr<Command> MakeRenameProgram() { return Make<RenameProgram>(); }
std::unique_ptr<Command> MakeDeleteProgram() { return Make<DeleteProgram>(); }
std::unique_ptr<Command> MakeListDirectory() { return Make<ListDirectory>(); }
std::unique_ptr<Command> MakeFormatFlash() { return Make<FormatFlash>(); }
std::unique_ptr<Command> MakeCheckFlash() { return Make<CheckFlash>(); }

}  // namespace vk::sim
