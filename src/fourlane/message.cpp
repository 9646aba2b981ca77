#include "fourlane/message.h"

namespace vk::fourlane {
namespace {

void PutWord(uint32_t value, std::vector<uint8_t>& out) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

void BuildDataMessage(uint8_t command, const LoadRecord& record, std::vector<uint8_t>& out) {
  const size_t length = kDataHeaderBytes + 4 * record.words.size();
  out.clear();
  out.push_back(command);
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
  out.push_back(kBlockKindData);
  PutWord(record.address, out);
  for (uint32_t word : record.words) PutWord(word, out);
}

void BuildAddressMessage(uint8_t command, uint32_t address, std::vector<uint8_t>& out) {
  out.clear();
  out.push_back(command);
  PutWord(address, out);
}

uint8_t Checksum(const std::vector<uint8_t>& bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

}  // namespace vk::fourlane
