// The Telnet / COM-PORT-OPTION codec: decoding received streams, encoding
// commands and data, and the two directions against each other.
#include "telnet/telnet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tn = vk::telnet;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromStr(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Decoded {
  Bytes data;
  std::vector<tn::Event> events;
};

Decoded DecodeAll(tn::Decoder& decoder, const Bytes& in) {
  Decoded out;
  for (uint8_t b : in) {
    uint8_t d = 0;
    if (decoder.Feed(b, d, out.events)) out.data.push_back(d);
  }
  return out;
}

tn::Event Neg(uint8_t verb, uint8_t option) {
  return tn::Event{tn::Event::Kind::Negotiation, verb, option, {}};
}
tn::Event Com(uint8_t command, Bytes value) {
  return tn::Event{tn::Event::Kind::ComPort, 0, command, std::move(value)};
}

void ExpectEvents(const std::vector<tn::Event>& got, const std::vector<tn::Event>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].kind, want[i].kind);
    EXPECT_EQ(got[i].option, want[i].option);
    if (want[i].kind == tn::Event::Kind::Negotiation) {
      EXPECT_EQ(got[i].verb, want[i].verb);
    }
    EXPECT_EQ(got[i].value, want[i].value);
  }
}

struct DecodeCase {
  const char* name;
  Bytes in;
  Bytes data;
  std::vector<tn::Event> events;
};

TEST(TelnetDecoder, Table) {
  const std::vector<DecodeCase> cases = {
      {"plain data", {0x41, 0x00, 0x0D, 0x0A}, {0x41, 0x00, 0x0D, 0x0A}, {}},
      {"doubled FF is one data byte", {0x41, 0xFF, 0xFF, 0x42}, {0x41, 0xFF, 0x42}, {}},
      {"two doubled FF", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, {}},
      {"negotiations between data",
       {0x31, 0xFF, 0xFB, 0x2C, 0x32, 0xFF, 0xFD, 0x00, 0xFF, 0xFE, 0x01, 0xFF, 0xFC, 0x03},
       {0x31, 0x32},
       {Neg(tn::kWill, 44), Neg(tn::kDo, 0), Neg(tn::kDont, 1), Neg(tn::kWont, 3)}},
      {"NOP and GA carry nothing", {0xFF, 0xF1, 0x41, 0xFF, 0xF9, 0x42}, {0x41, 0x42}, {}},
      {"modem state notification",
       {0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF, 0xF0, 0x55},
       {0x55},
       {Com(107, {0x11})}},
      {"baud echo with a doubled FF in the value",
       {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xC2, 0xFF, 0xFF, 0xFF, 0xF0},
       {},
       {Com(101, {0x00, 0x01, 0xC2, 0xFF})}},
      {"value that is FF only",
       {0xFF, 0xFA, 0x2C, 0x0B, 0xFF, 0xFF, 0xFF, 0xF0},
       {},
       {Com(11, {0xFF})}},
      {"bytes inside a subnegotiation are not data",
       {0xFF, 0xFA, 0x2C, 0x70, 0x03, 0xFF, 0xF0, 0x41},
       {0x41},
       {Com(112, {0x03})}},
      {"other options' subnegotiations are dropped",
       {0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0, 0x41},
       {0x41},
       {}},
      {"subnegotiation without a command is dropped",
       {0xFF, 0xFA, 0x2C, 0xFF, 0xF0, 0x41},
       {0x41},
       {}},
      {"a broken end still ends the subnegotiation",
       {0xFF, 0xFA, 0x2C, 0x6B, 0x10, 0xFF, 0xF1, 0x42},
       {0x42},
       {Com(107, {0x10})}},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    tn::Decoder decoder;
    const Decoded d = DecodeAll(decoder, c.in);
    EXPECT_EQ(d.data, c.data);
    ExpectEvents(d.events, c.events);
  }
}

TEST(TelnetDecoder, StateCarriesAcrossChunks) {
  // The same stream cut at every position decodes the same.
  const Bytes stream = {0x41, 0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF,
                        0xFF, 0xF0, 0xFF, 0xFD, 0x03, 0x42};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    tn::Decoder decoder;
    Decoded a = DecodeAll(decoder, Bytes(stream.begin(), stream.begin() + cut));
    Decoded b = DecodeAll(decoder, Bytes(stream.begin() + cut, stream.end()));
    a.data.insert(a.data.end(), b.data.begin(), b.data.end());
    a.events.insert(a.events.end(), b.events.begin(), b.events.end());
    EXPECT_EQ(a.data, (Bytes{0x41, 0xFF, 0x42}));
    ExpectEvents(a.events, {Com(107, {0xFF}), Neg(tn::kDo, 3)});
  }
}

TEST(TelnetDecoder, OverlongSubnegotiationIsDroppedAndStreamRecovers) {
  // Option and command count against the limit too: the longest one kept,
  // then one byte more.
  for (size_t value_bytes : {tn::Decoder::kMaxSubnegotiation - 2, tn::Decoder::kMaxSubnegotiation - 1}) {
    Bytes in = {0xFF, 0xFA, 0x2C, 0x6B};
    for (size_t i = 0; i < value_bytes; ++i) in.push_back(static_cast<uint8_t>(i % 250));
    in.insert(in.end(), {0xFF, 0xF0, 0x61, 0xFF, 0xFF});
    tn::Decoder decoder;
    const Decoded d = DecodeAll(decoder, in);
    EXPECT_EQ(d.data, (Bytes{0x61, 0xFF}));
    const bool kept = value_bytes + 2 <= tn::Decoder::kMaxSubnegotiation;
    ASSERT_EQ(d.events.size(), kept ? 1u : 0u) << value_bytes;
    if (kept) {
      EXPECT_EQ(d.events[0].value.size(), value_bytes);
    }
  }
}

struct EncodeCase {
  const char* name;
  std::string got;
  Bytes want;
};

TEST(TelnetEncoder, Table) {
  auto escaped = [](Bytes data) {
    std::string out = "x";  // appends, keeps what was there
    tn::EscapeData(data.data(), data.size(), out);
    return out;
  };
  const std::vector<EncodeCase> cases = {
      {"escape nothing", escaped({}), {'x'}},
      {"escape plain", escaped({0x00, 0x7F, 0xFE}), {'x', 0x00, 0x7F, 0xFE}},
      {"escape FF", escaped({0x41, 0xFF, 0x42}), {'x', 0x41, 0xFF, 0xFF, 0x42}},
      {"escape FF FF", escaped({0xFF, 0xFF}), {'x', 0xFF, 0xFF, 0xFF, 0xFF}},
      {"will com port", tn::Negotiation(tn::kWill, tn::kOptComPort), {0xFF, 0xFB, 0x2C}},
      {"dont echo", tn::Negotiation(tn::kDont, 1), {0xFF, 0xFE, 0x01}},
      {"baud 115200", tn::ComPort(tn::kSetBaudRate, tn::BaudValue(115200)),
       {0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0}},
      {"baud with FF bytes", tn::ComPort(tn::kSetBaudRate, tn::BaudValue(0x0001C2FF)),
       {0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0xFF, 0xFF, 0xFF, 0xF0}},
      {"purge both", tn::ComPort(tn::kPurgeData, {tn::kPurgeBoth}),
       {0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}},
      {"modem mask all", tn::ComPort(tn::kSetModemStateMask, {0xFF}),
       {0xFF, 0xFA, 0x2C, 0x0B, 0xFF, 0xFF, 0xFF, 0xF0}},
      {"rts off", tn::ComPort(tn::kSetControl, {tn::kControlRtsOff}),
       {0xFF, 0xFA, 0x2C, 0x05, 0x0C, 0xFF, 0xF0}},
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FromStr(c.got), c.want);
  }
}

TEST(TelnetCodec, BaudValuesRoundTrip) {
  for (uint32_t baud : {0u, 300u, 38400u, 115200u, 0x0001C2FFu, 0xFF00FF00u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(baud);
    const Bytes value = tn::BaudValue(baud);
    ASSERT_EQ(value.size(), 4u);
    EXPECT_EQ(tn::BaudFromValue(value), baud);
    tn::Decoder decoder;
    const Decoded d = DecodeAll(decoder, FromStr(tn::ComPort(tn::kSetBaudRate, value)));
    EXPECT_TRUE(d.data.empty());
    ExpectEvents(d.events, {Com(tn::kSetBaudRate, value)});
  }
}

TEST(TelnetCodec, AllByteValuesRoundTripAmongCommands) {
  Bytes data;
  for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
  std::string wire;
  tn::EscapeData(data.data(), 128, wire);
  wire += tn::ComPort(tn::kNotifyModemState + tn::kServerOffset, {0xFF});
  wire += tn::Negotiation(tn::kWill, tn::kOptBinary);
  tn::EscapeData(data.data() + 128, 128, wire);
  EXPECT_EQ(wire.size(), 256u + 1 + 8 + 3);  // the FF data byte doubled

  tn::Decoder decoder;
  const Decoded d = DecodeAll(decoder, FromStr(wire));
  EXPECT_EQ(d.data, data);
  ExpectEvents(d.events, {Com(107, {0xFF}), Neg(tn::kWill, tn::kOptBinary)});
}

}  // namespace
