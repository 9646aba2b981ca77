#include "fourlane/message.h"

#include "wire/bytes.h"

namespace vk::fourlane {

void BuildDataMessage(uint8_t command, const LoadRecord& record, std::vector<uint8_t>& out) {
  const size_t length = kDataHeaderBytes + 4 * record.words.size();
  out.clear();
  out.push_back(command);
  wire::Put16(static_cast<uint32_t>(length), out);
  out.push_back(kBlockKindData);
  wire::Put32(record.address, out);
  for (uint32_t word : record.words) wire::Put32(word, out);
}

void BuildAddressMessage(uint8_t command, uint32_t address, std::vector<uint8_t>& out) {
  out.clear();
  out.push_back(command);
  wire::Put32(address, out);
}

}  // namespace vk::fourlane
