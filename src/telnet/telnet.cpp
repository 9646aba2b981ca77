#include "telnet/telnet.h"

#include <algorithm>
#include <array>

#include "wire/bytes.h"

namespace vk::telnet {

bool Decoder::Feed(uint8_t byte, uint8_t& data, std::vector<Event>& events) {
  switch (state_) {
    case State::Data:
      if (byte == kIac) {
        state_ = State::Iac;
        return false;
      }
      data = byte;
      return true;
    case State::Iac:
      if (byte == kIac) {  // escaped 0xFF data byte
        state_ = State::Data;
        data = byte;
        return true;
      }
      if (byte >= kWill && byte <= kDont) {
        verb_ = byte;
        state_ = State::Verb;
      } else if (byte == kSb) {
        sb_.clear();
        sb_overlong_ = false;
        state_ = State::Sb;
      } else {
        state_ = State::Data;  // NOP, GA and the like carry nothing for us
      }
      return false;
    case State::Verb:
      events.push_back(Event{Event::Kind::Negotiation, verb_, byte, {}});
      state_ = State::Data;
      return false;
    case State::Sb:
      if (byte == kIac) state_ = State::SbIac;
      else Keep(byte);
      return false;
    case State::SbIac:
      if (byte == kIac) {  // doubled 0xFF inside the value
        Keep(byte);
        state_ = State::Sb;
        return false;
      }
      // kSe ends the subnegotiation; anything else is a framing fault that
      // ends it all the same.
      if (!sb_overlong_ && sb_.size() >= 2 && sb_[0] == kOptComPort) {
        events.push_back(Event{Event::Kind::ComPort, 0, sb_[1],
                               std::vector<uint8_t>(sb_.begin() + 2, sb_.end())});
      }
      state_ = State::Data;
      return false;
  }
  return false;
}

void Decoder::Keep(uint8_t byte) {
  if (sb_.size() < kMaxSubnegotiation) sb_.push_back(byte);
  else sb_overlong_ = true;
}

void EscapeData(const uint8_t* data, size_t n, std::string& out) {
  for (size_t i = 0; i < n; ++i) {
    out.push_back(static_cast<char>(data[i]));
    if (data[i] == kIac) out.push_back(static_cast<char>(kIac));
  }
}

std::string Negotiation(uint8_t verb, uint8_t option) {
  return std::string{static_cast<char>(kIac), static_cast<char>(verb),
                     static_cast<char>(option)};
}

std::string ComPort(uint8_t command, const std::vector<uint8_t>& value) {
  std::string out{static_cast<char>(kIac), static_cast<char>(kSb),
                  static_cast<char>(kOptComPort), static_cast<char>(command)};
  EscapeData(value.data(), value.size(), out);
  out.push_back(static_cast<char>(kIac));
  out.push_back(static_cast<char>(kSe));
  return out;
}

std::vector<uint8_t> BaudValue(uint32_t baud) {
  std::vector<uint8_t> value;
  wire::Put32(baud, value);
  return value;
}

uint32_t BaudFromValue(const std::vector<uint8_t>& value) {
  // A shorter value is taken as the low bytes of the number.
  std::array<uint8_t, 4> number{};
  const size_t n = std::min(value.size(), number.size());
  std::copy_n(value.begin(), n, number.end() - static_cast<long>(n));
  return wire::Get32(number.data());
}

}  // namespace vk::telnet
