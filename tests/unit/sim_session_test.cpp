// One client connection of the simulator at the Telnet level: option
// negotiation, COM Port Control answers, modem-state notifications, data
// escaping and the trace.
#include <gtest/gtest.h>

#include "telnet/telnet.h"
#include "sim/session.h"

namespace tn = vk::telnet;
using vk::sim::kMillisecond;
using vk::sim::Nanos;
using vk::sim::Session;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr Nanos kT0 = 5'000'000'000;

// What the client sees of the server's output.
struct Seen {
  Bytes data;
  std::vector<tn::Event> events;
};

Seen Decode(const std::string& wire) {
  Seen seen;
  tn::Decoder d;
  for (char c : wire) {
    uint8_t b = 0;
    if (d.Feed(static_cast<uint8_t>(c), b, seen.events)) seen.data.push_back(b);
  }
  return seen;
}

std::string Neg(uint8_t verb, uint8_t option) { return tn::Negotiation(verb, option); }
std::string Data(const Bytes& b) {
  std::string s;
  tn::EscapeData(b.data(), b.size(), s);
  return s;
}

struct Rig {
  vk::sim::FlashFs flash;
  vk::sim::Knobs knobs;
  vk::sim::Trace trace;
  std::vector<std::string> lines;
  Session session;

  explicit Rig(vk::sim::LineConfig line = {})
      : session(line, knobs, flash, trace) {
    trace.CaptureTo(&lines);
    vk::sim::Program p;
    p.name = "AB";
    flash.Add(p);
    session.Start();
    session.TakeOutput();
    lines.clear();
  }
  Seen Send(const std::string& wire, Nanos now = kT0) {
    session.FromNetwork(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), now);
    return Decode(session.TakeOutput());
  }
  Seen At(Nanos now) {
    session.Advance(now);
    return Decode(session.TakeOutput());
  }
};

bool IsModemState(const tn::Event& e, uint8_t value) {
  return e.kind == tn::Event::Kind::ComPort && e.option == 107 &&
         e.value == std::vector<uint8_t>{value};
}

TEST(SimSession, OpensWithItsOptionRequests) {
  vk::sim::FlashFs flash;
  vk::sim::Knobs knobs;
  vk::sim::Trace trace;
  Session s({}, knobs, flash, trace);
  s.Start();
  EXPECT_EQ(s.TakeOutput(), Neg(tn::kWill, 0) + Neg(tn::kDo, 0) + Neg(tn::kWill, 3) +
                                Neg(tn::kDo, 3) + Neg(tn::kWill, 44));
}

struct NegCase {
  const char* name;
  std::string from_client;
  std::string reply;  // negotiation bytes expected back (modem state aside)
};

class SimSessionNegotiation : public ::testing::TestWithParam<NegCase> {};

TEST_P(SimSessionNegotiation, AnswersOnceAndRefusesUnknownOptions) {
  Rig rig;
  const Seen seen = rig.Send(GetParam().from_client);
  std::string negotiations;
  for (const tn::Event& e : seen.events) {
    if (e.kind == tn::Event::Kind::Negotiation) negotiations += Neg(e.verb, e.option);
  }
  EXPECT_EQ(negotiations, GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimSessionNegotiation,
    ::testing::Values(
        NegCase{"acks_are_not_answered", Neg(tn::kDo, 0) + Neg(tn::kWill, 0) + Neg(tn::kDo, 3) +
                                             Neg(tn::kWill, 3) + Neg(tn::kDo, 44), ""},
        NegCase{"client_com_port_is_agreed", Neg(tn::kWill, 44), Neg(tn::kDo, 44)},
        NegCase{"repeated_request_answered_once",
                Neg(tn::kWill, 44) + Neg(tn::kWill, 44) + Neg(tn::kDo, 0) + Neg(tn::kDo, 0),
                Neg(tn::kDo, 44)},
        NegCase{"unknown_do_refused", Neg(tn::kDo, 1), Neg(tn::kWont, 1)},
        NegCase{"unknown_will_refused", Neg(tn::kWill, 24), Neg(tn::kDont, 24)},
        NegCase{"dont_after_agreement_confirmed_once",
                Neg(tn::kDo, 0) + Neg(tn::kDont, 0) + Neg(tn::kDont, 0), Neg(tn::kWont, 0)},
        NegCase{"refusal_of_our_request_not_answered", Neg(tn::kDont, 0) + Neg(tn::kWont, 3), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimSession, ModemStateSentOnceComPortIsAgreed) {
  Rig rig;
  const Seen seen = rig.Send(Neg(tn::kDo, 44) + Neg(tn::kWill, 44));
  int notifications = 0;
  for (const tn::Event& e : seen.events) notifications += IsModemState(e, 0x00) ? 1 : 0;
  EXPECT_EQ(notifications, 1);
}

struct ComPortCase {
  const char* name;
  uint8_t command;
  Bytes value;
  std::vector<std::pair<uint8_t, Bytes>> replies;
  std::vector<std::string> trace;
};

class SimSessionComPort : public ::testing::TestWithParam<ComPortCase> {};

TEST_P(SimSessionComPort, AnsweredWithCodePlus100) {
  Rig rig;
  const ComPortCase& c = GetParam();
  const Seen seen = rig.Send(tn::ComPort(c.command, c.value));
  std::vector<std::pair<uint8_t, Bytes>> got;
  for (const tn::Event& e : seen.events) got.emplace_back(e.option, e.value);
  EXPECT_EQ(got, c.replies);
  EXPECT_EQ(rig.lines, c.trace);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimSessionComPort,
    ::testing::Values(
        ComPortCase{"baud", 1, {0, 0, 0x96, 0}, {{101, {0, 0, 0x96, 0}}}, {"# baud 38400"}},
        ComPortCase{"baud_query", 1, {0, 0, 0, 0}, {{101, {0, 1, 0xC2, 0}}}, {}},
        ComPortCase{"parity_query", 3, {0}, {{103, {1}}}, {}},
        ComPortCase{"flow_hw", 5, {3}, {{105, {3}}}, {"# flow hw"}},
        ComPortCase{"dtr_off", 5, {9}, {{105, {9}}}, {"# dtr 0"}},
        ComPortCase{"rts_query", 5, {10}, {{105, {12}}}, {}},
        ComPortCase{"inbound_flow_query", 5, {13}, {{105, {14}}}, {}},
        ComPortCase{"modem_mask", 11, {0xFF}, {{111, {0xFF}}, {107, {0x00}}}, {}},
        ComPortCase{"purge", 12, {3}, {{112, {3}}}, {"# purge 3"}},
        ComPortCase{"unknown_is_echoed", 20, {1, 2}, {{120, {1, 2}}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

Nanos AfterPulse(Rig& rig, Nanos now) {
  rig.Send(tn::ComPort(5, {11}) + tn::ComPort(5, {12}), now);
  return now;
}

TEST(SimSession, CtsRisesAfterThePulseWithANotification) {
  Rig rig;
  rig.Send(tn::ComPort(11, {0x10}));  // the client cares for CTS only
  const Nanos pulse = AfterPulse(rig, kT0);
  const Nanos delay = vk::sim::LineConfig{}.cts_delay;
  EXPECT_EQ(rig.session.NextDeadline(), pulse + delay);
  EXPECT_TRUE(rig.At(pulse + delay - 1).events.empty());
  const Seen seen = rig.At(pulse + delay);
  ASSERT_EQ(seen.events.size(), 1u);
  EXPECT_TRUE(IsModemState(seen.events[0], 0x10)) << "CTS with the delta bit masked off";
  EXPECT_EQ(rig.lines.back(), "# cts 1");
}

TEST(SimSession, ExchangeWithEscapedFfAndTrace) {
  Rig rig;
  AfterPulse(rig, kT0);
  rig.lines.clear();
  EXPECT_EQ(rig.Send(Data({0x7F})).data, Bytes({0x7F}));
  // 0xFF is doubled on the wire both ways; the board sees and echoes one.
  const std::string wire = Data({0x05, 0xFF, 0x00});
  EXPECT_EQ(wire.size(), 4u);
  rig.session.FromNetwork(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), kT0);
  const std::string out = rig.session.TakeOutput();
  EXPECT_EQ(out, std::string("\x05\xFF\xFF\x00\x04\x00", 6));
  EXPECT_EQ(rig.lines, std::vector<std::string>({"> 7f", "< 7f", "> 05", "< 05", "> ff", "< ff",
                                                 "> 00", "< 00", "< 04", "< 00"}));
}

TEST(SimSession, BytesAtTheWrongRateAreLostAndTraced) {
  Rig rig;
  AfterPulse(rig, kT0);
  rig.Send(tn::ComPort(1, tn::BaudValue(38400)));
  rig.lines.clear();
  EXPECT_TRUE(rig.Send(Data({0x7F, 0x7F})).data.empty());
  EXPECT_EQ(rig.lines, std::vector<std::string>({"x 7f", "x 7f"}));
  rig.Send(tn::ComPort(1, tn::BaudValue(115200)));
  EXPECT_EQ(rig.Send(Data({0x7F})).data, Bytes({0x7F}));
}

TEST(SimSession, PulseInTheSameChunkComesAfterTheDataBeforeIt) {
  Rig rig;
  AfterPulse(rig, kT0);
  // 7F opens a session; the pulse resets the board; 05 is then noise.
  const Seen seen = rig.Send(Data({0x7F}) + tn::ComPort(5, {11}) + tn::ComPort(5, {12}) +
                             Data({0x05, 0x7F}));
  EXPECT_EQ(seen.data, Bytes({0x7F, 0x7F}));
}

TEST(SimSession, PacedAnswerLeavesLaterAndPurgeDropsIt) {
  vk::sim::LineConfig line;
  line.pace = true;
  line.latency = 3 * kMillisecond;
  Rig rig(line);
  AfterPulse(rig, kT0);
  EXPECT_TRUE(rig.Send(Data({0x7F}), kT0).data.empty());
  const Nanos arrival = kT0 + 86'805;
  EXPECT_EQ(rig.At(arrival + 3 * kMillisecond + 86'804).data, Bytes{});
  EXPECT_EQ(rig.At(arrival + 3 * kMillisecond + 86'805).data, Bytes({0x7F}));
  rig.Send(Data({0x7F}), kT0 + 10 * kMillisecond);
  rig.At(kT0 + 11 * kMillisecond);  // arrived, answer not yet sent
  rig.Send(tn::ComPort(12, {1}), kT0 + 11 * kMillisecond);
  EXPECT_TRUE(rig.At(kT0 + 100 * kMillisecond).data.empty());
}

TEST(SimSession, StartedProgramsAreReported) {
  Rig rig;
  AfterPulse(rig, kT0);
  rig.Send(Data({0x7F, 0x05, 'A', 'B', 0x00}));
  EXPECT_EQ(rig.session.TakeStarted(), std::vector<std::string>{"AB"});
  EXPECT_EQ(rig.lines.back(), "< 01");
  EXPECT_NE(std::find(rig.lines.begin(), rig.lines.end(), "# started AB"), rig.lines.end());
}

}  // namespace
