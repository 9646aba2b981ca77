// Telnet framing with the COM Port Control option (RFC 854/855, RFC 2217).
//
// Both ends of a network serial line use this codec: the RFC 2217 port
// backend of the tools (client side) and the board simulator (server side).
// It is pure: bytes go in, decoded events come out, nothing touches a socket.
//
// On the wire:
//   data byte 0xFF           -> FF FF            (escaped both ways)
//   option negotiation       -> FF {FB|FC|FD|FE} opt
//   subnegotiation           -> FF FA 2C cmd value... FF F0
//                               (0xFF inside value is doubled too)
//   Example: set the line to 115200 baud:
//     FF FA 2C 01 00 01 C2 00 FF F0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vk::telnet {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kOptBinary = 0;
constexpr uint8_t kOptSuppressGoAhead = 3;
constexpr uint8_t kOptComPort = 44;

// COM Port Control subcommands, client to server. The server answers each
// with the same code plus kServerOffset.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyLineState = 6;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kSetLineStateMask = 10;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values.
constexpr uint8_t kControlRequestFlow = 0;
constexpr uint8_t kControlNoFlow = 1;
constexpr uint8_t kControlXonXoff = 2;
constexpr uint8_t kControlHardwareFlow = 3;
constexpr uint8_t kControlDtrOn = 8;
constexpr uint8_t kControlDtrOff = 9;
constexpr uint8_t kControlRtsOn = 11;
constexpr uint8_t kControlRtsOff = 12;

constexpr uint8_t kParityNone = 1;
constexpr uint8_t kStopBitsOne = 1;

// PURGE-DATA values.
constexpr uint8_t kPurgeReceive = 1;   // the access server's receive buffer
constexpr uint8_t kPurgeTransmit = 2;  // the access server's transmit buffer
constexpr uint8_t kPurgeBoth = 3;

// Modem state bits.
constexpr uint8_t kModemCts = 0x10;
constexpr uint8_t kModemDeltaCts = 0x01;

// What the decoder found besides plain data.
struct Event {
  enum class Kind { Negotiation, ComPort } kind;
  uint8_t verb = 0;    // Negotiation: kWill/kWont/kDo/kDont
  uint8_t option = 0;  // Negotiation: option code; ComPort: subcommand
  std::vector<uint8_t> value;  // ComPort: the value bytes, unescaped
};

// Byte-at-a-time decoder for the receiving direction. Subnegotiations of
// options other than COM-PORT-OPTION are dropped, and so is one longer than
// kMaxSubnegotiation (memory stays bounded whatever a peer sends).
class Decoder {
 public:
  static constexpr size_t kMaxSubnegotiation = 256;

  // Feeds one received byte. Returns true and sets `data` when the byte
  // completes a data byte; events are appended to `events`.
  bool Feed(uint8_t byte, uint8_t& data, std::vector<Event>& events);

 private:
  void Keep(uint8_t byte);

  enum class State { Data, Iac, Verb, Sb, SbIac } state_ = State::Data;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sb_;
  bool sb_overlong_ = false;
};

// Appends `data` to `out` with every 0xFF doubled.
void EscapeData(const uint8_t* data, size_t n, std::string& out);

// The bytes of an option negotiation: FF verb option.
std::string Negotiation(uint8_t verb, uint8_t option);

// The bytes of a COM-PORT-OPTION subnegotiation with its value escaped.
std::string ComPort(uint8_t command, const std::vector<uint8_t>& value);

// Value of SET-BAUDRATE: four bytes, most significant first.
std::vector<uint8_t> BaudValue(uint32_t baud);
uint32_t BaudFromValue(const std::vector<uint8_t>& value);

}  // namespace vk::telnet
