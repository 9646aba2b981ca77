#include "sim/ram.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "wire/bytes.h"

namespace vk::sim {
namespace {

constexpr size_t kLengthEnd = 3;     // command byte and the two length bytes
constexpr size_t kDataHeader = 8;    // ... block kind and the load address
constexpr size_t kStartMessage = 5;  // command byte and the entry address

std::string Hex8(uint32_t value) {
  std::array<char, 9> text{};
  std::snprintf(text.data(), text.size(), "%08x", value);
  return text.data();
}

std::string Hex2(uint8_t value) {
  std::array<char, 3> text{};
  std::snprintf(text.data(), text.size(), "%02x", value);
  return text.data();
}

}  // namespace

RamLoader::~RamLoader() {
  if (dump_pending_) WriteDump();
}

void RamLoader::Begin() {
  if (dump_pending_) WriteDump();
  stage_ = Stage::Idle;
  message_.clear();
  messages_ = 0;
  started_at_.reset();
  dump_pending_ = true;
}

bool RamLoader::Receive(uint8_t byte, std::vector<uint8_t>& reply, std::vector<std::string>& events) {
  switch (stage_) {
    case Stage::Over:
      return true;
    case Stage::Idle:
      if (byte == kSync) {  // the second byte of the sync pair, or more
        reply.push_back(kSync);
        return false;
      }
      if (byte != kData && byte != kStart) {
        events.push_back("ram unknown byte " + Hex2(byte));
        return false;
      }
      message_.assign(1, byte);
      stage_ = byte == kData ? Stage::DataLength : Stage::StartAddress;
      return false;
    case Stage::DataLength:
      message_.push_back(byte);
      if (message_.size() == kLengthEnd) {
        expected_ = std::max<size_t>(vk::wire::Get16(&message_[1]), kLengthEnd);
        if (message_.size() == expected_) FinishMessage(reply, events);
        else stage_ = Stage::DataBody;
      }
      return false;
    case Stage::DataBody:
      message_.push_back(byte);
      if (message_.size() == expected_) FinishMessage(reply, events);
      return false;
    case Stage::StartAddress:
      message_.push_back(byte);
      if (message_.size() == kStartMessage) FinishMessage(reply, events);
      return false;
    case Stage::Closing:
      stage_ = Stage::Over;
      if (byte == kClosing) {
        started_at_ = entry_;
        events.push_back("ram start " + Hex8(entry_));
      } else {
        events.push_back("ram not started: closing byte " + Hex2(byte));
      }
      WriteDump();
      return true;
  }
  return false;
}

void RamLoader::FinishMessage(std::vector<uint8_t>& reply, std::vector<std::string>& events) {
  ++messages_;
  uint8_t sum = vk::wire::Sum8(message_);
  if (knobs_.checksum_fault.count(messages_) != 0) ++sum;

  if (message_[0] == kStart) {
    entry_ = vk::wire::Get32(&message_[1]);
    events.push_back("ram entry " + Hex8(entry_));
    stage_ = Stage::Closing;
  } else {
    if (message_.size() >= kDataHeader && message_[3] == kBlockData) {
      const uint32_t address = vk::wire::Get32(&message_[4]);
      const size_t words = (message_.size() - kDataHeader) / 4;
      for (size_t k = 0; k < words; ++k)
        image_[address + static_cast<uint32_t>(k)] = vk::wire::Get32(&message_[kDataHeader + 4 * k]);
      events.push_back("ram data " + Hex8(address) + " " + std::to_string(words));
    } else {
      events.push_back("ram message not stored (" + std::to_string(message_.size()) + " bytes)");
    }
    stage_ = Stage::Idle;
  }
  reply.push_back(sum);
  message_.clear();
}

std::string RamLoader::DumpText() const {
  std::string text = "# vksim RAM image: entry, then word address and word, hexadecimal\n";
  text += "entry " + (started_at_ ? Hex8(*started_at_) : std::string("none")) + "\n";
  for (const auto& [address, word] : image_) text += Hex8(address) + " " + Hex8(word) + "\n";
  return text;
}

void RamLoader::WriteDump() {
  dump_pending_ = false;
  if (knobs_.dump_path.empty()) return;
  // Written whole to a temporary name and renamed, so a reader never sees
  // half a dump.
  const std::string temporary = knobs_.dump_path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "vksim: cannot write %s\n", temporary.c_str());
    return;
  }
  const std::string text = DumpText();
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), knobs_.dump_path.c_str()) != 0)
    std::fprintf(stderr, "vksim: cannot write %s\n", knobs_.dump_path.c_str());
}

}  // namespace vk::sim
