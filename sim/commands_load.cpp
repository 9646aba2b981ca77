// The flash download, board side: a program is opened with its descriptor,
// filled with data messages, given a start address and closed.
//
//   0 StartDownload     name 00 day month year hour minute second type
//                       result 1 accepted, 0 the name exists, 2 a name the
//                       flash cannot hold (empty or longer than 15)
//   2 LoadData          LL LL 01 AAAAAAAA words... (LL counts the whole
//                       message, command byte included)
//                       result 1 written, 0 flash full
//   1 LoadStartAddress  AAAAAAAA; result 1 accepted, 0 no download open
//   3 EndDownload       late result after 0xFF fillers while it writes:
//                       4 stored, 0 no StartDownload, 1 no start address,
//                       2 data incomplete, 3 already 63 programs
#include <array>

#include "wire/bytes.h"
#include "sim/commands.h"

namespace vk::sim {
namespace {

constexpr uint8_t kAccepted = 1;
// The board sends one busy byte for every this many bytes it commits.
constexpr uint32_t kBytesPerBusyFiller = 1024;

Reply Result(uint8_t value, bool late = false, int busy = 0) {
  Reply r;
  r.results.push_back({{value}, late, busy});
  return r;
}

class StartDownload final : public Command {
 public:
  bool Complete() const override { return name_.Complete() && descriptor_count_ == descriptor_.size(); }
  void Param(uint8_t byte) override {
    if (!name_.Complete()) name_.Add(byte);
    else if (descriptor_count_ < descriptor_.size()) descriptor_[descriptor_count_++] = byte;
  }
  Reply Finish(FlashFs& flash) override {
    if (flash.Find(name_.name()) != nullptr) return Result(0);
    if (!FlashFs::ValidName(name_.name())) return Result(2);
    FlashFs::Download download;
    download.program.name = name_.name();
    for (size_t i = 0; i < 6; ++i) download.program.date[i] = descriptor_[i];
    download.program.type = descriptor_[6];
    flash.download() = std::move(download);
    return Result(kAccepted);
  }

 private:
  NameParam name_;
  std::array<uint8_t, 7> descriptor_{};  // day month year hour minute second type
  size_t descriptor_count_ = 0;
};

class LoadData final : public Command {
 public:
  // The length field counts the command byte, which is not a parameter.
  bool Complete() const override { return bytes_.size() >= 2 && bytes_.size() + 1 >= Length(); }
  void Param(uint8_t byte) override { bytes_.push_back(byte); }
  Reply Finish(FlashFs& flash) override {
    auto& download = flash.download();
    // Words after the header: the block kind and the address come first.
    const size_t header = 7;
    if (bytes_.size() < header) return Result(kAccepted);
    const size_t words = (bytes_.size() - header) / 4;
    if (download) {
      if (flash.UsedBytes() + download->bytes_written + 4 * words > FlashFs::kCapacityBytes) return Result(0);
      for (size_t w = 0; w < words; ++w)
        download->program.words.push_back(vk::wire::Get32(&bytes_[header + 4 * w]));
      download->bytes_written += static_cast<uint32_t>(4 * words);
    }
    return Result(kAccepted);
  }

 private:
  size_t Length() const {
    // A length below the 8-byte header still takes the header's bytes.
    const size_t length = vk::wire::Get16(bytes_.data());
    return length < 8 ? 8 : length;
  }
  std::vector<uint8_t> bytes_;
};

class LoadStartAddress final : public Command {
 public:
  bool Complete() const override { return count_ == address_.size(); }
  void Param(uint8_t byte) override { address_[count_++] = byte; }
  Reply Finish(FlashFs& flash) override {
    auto& download = flash.download();
    if (!download) return Result(0);
    download->program.start = vk::wire::Get32(address_.data());
    download->start_given = true;
    return Result(kAccepted);
  }

 private:
  std::array<uint8_t, 4> address_{};
  size_t count_ = 0;
};

class EndDownload final : public Command {
 public:
  bool Complete() const override { return true; }
  void Param(uint8_t) override {}
  Reply Finish(FlashFs& flash) override {
    auto& download = flash.download();
    if (!download) return Result(0, true);
    if (!download->start_given) {
      download.reset();
      return Result(1, true);
    }
    const int busy = 1 + static_cast<int>(download->bytes_written / kBytesPerBusyFiller);
    const FlashFs::Status status = flash.Add(std::move(download->program));
    download.reset();
    switch (status) {
      case FlashFs::Status::Ok:
        return Result(4, true, busy);
      case FlashFs::Status::Full:
        return Result(3, true, busy);
      default:
        return Result(2, true, busy);
    }
  }
};

}  // namespace

std::unique_ptr<Command> MakeStartDownload() { return std::make_unique<StartDownload>(); }
std::unique_ptr<Command> MakeLoadStartAddress() { return std::make_unique<LoadStartAddress>(); }
std::unique_ptr<Command> MakeLoadData() { return std::make_unique<LoadData>(); }
std::unique_ptr<Command> MakeEndDownload() { return std::make_unique<EndDownload>(); }

}  // namespace vk::sim
