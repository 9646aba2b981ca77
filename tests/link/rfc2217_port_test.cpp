// The RFC 2217 backend against a scripted server: the test accepts the
// connection itself and decodes what the backend sends with the codec.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "link/backend.h"
#include "link/link.h"
#include "support/pty_pair.h"
#include "telnet/telnet.h"
#include "support/process.h"

namespace {

namespace tn = vk::telnet;
using vk::link::LineState;
using vk::link::OpenError;
using vk::link::OpenRfc2217Port;
using vk::link::PortBackend;
using namespace vktest;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// What the server saw from the client, decoded.
struct Seen {
  Bytes data;
  std::vector<tn::Event> events;

  size_t Count(tn::Event::Kind kind, uint8_t verb_or_command, uint8_t option = 0) const {
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const tn::Event& e) {
      if (e.kind != kind) return false;
      if (kind == tn::Event::Kind::Negotiation)
        return e.verb == verb_or_command && e.option == option;
      return e.option == verb_or_command;
    }));
  }
  size_t Negotiations(uint8_t verb, uint8_t option) const {
    return Count(tn::Event::Kind::Negotiation, verb, option);
  }
  // The values of every COM-PORT command `command`, in order.
  std::vector<Bytes> Values(uint8_t command) const {
    std::vector<Bytes> out;
    for (const tn::Event& e : events) {
      if (e.kind == tn::Event::Kind::ComPort && e.option == command) out.push_back(e.value);
    }
    return out;
  }
};

class Server {
 public:
  explicit Server(int family = AF_INET) {
    listen_fd_ = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return;
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *a;
    }
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(listen_fd_, 1) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
      close(listen_fd_);
      listen_fd_ = -1;
      return;
    }
    port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                     : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  }
  ~Server() {
    if (conn_ >= 0) close(conn_);
    if (listen_fd_ >= 0) close(listen_fd_);
  }

  bool ok() const { return listen_fd_ >= 0; }
  std::string Url(const std::string& host = "127.0.0.1") const {
    return "rfc2217://" + host + ":" + std::to_string(port_);
  }

  bool Accept() {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return false;
    conn_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
  }

  void Send(const std::string& bytes) const {
    ASSERT_EQ(send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void SendData(const Bytes& data) const {
    std::string wire;
    tn::EscapeData(data.data(), data.size(), wire);
    Send(wire);
  }

  // Reads and decodes for `ms` milliseconds, or until `done` says enough.
  template <typename Done>
  void ReadFor(int ms, Done done) {
    const auto start = Clock::now();
    std::array<uint8_t, 4096> buf{};
    while (!done(seen_) && MsSince(start) < ms && !eof_) {
      pollfd p{conn_, POLLIN, 0};
      if (poll(&p, 1, 10) != 1) continue;
      const ssize_t r = recv(conn_, buf.data(), buf.size(), 0);
      if (r <= 0) {
        eof_ = true;
        reset_ = r < 0;
        break;
      }
      for (ssize_t i = 0; i < r; ++i) {
        uint8_t d = 0;
        if (decoder_.Feed(buf[static_cast<size_t>(i)], d, seen_.events)) seen_.data.push_back(d);
      }
    }
  }
  void ReadFor(int ms) {
    ReadFor(ms, [](const Seen&) { return false; });
  }

  void CloseConnection() {
    if (conn_ >= 0) close(conn_);
    conn_ = -1;
  }

  Seen& seen() { return seen_; }
  bool eof() const { return eof_; }
  bool reset() const { return reset_; }
  int conn() const { return conn_; }

 private:
  int listen_fd_ = -1;
  int conn_ = -1;
  int port_ = 0;
  tn::Decoder decoder_;
  Seen seen_;
  bool eof_ = false;
  bool reset_ = false;
};

// As a server does: agreement to COM-PORT-OPTION, and the line's rate
// (which tells the client the server is ready for settings).
void Agree(Server& server) {
  server.Send(tn::Negotiation(tn::kDo, tn::kOptComPort) +
              tn::ComPort(tn::kServerOffset + tn::kSetBaudRate, tn::BaudValue(115200)));
}

// Opens the client against `server`, which accepts and then answers as
// `serve` says: by default it agrees to COM-PORT-OPTION, as servers do.
std::unique_ptr<PortBackend> OpenAgainst(Server& server, const std::string& url, OpenError& error,
                                         void (*serve)(Server&) = Agree) {
  std::unique_ptr<PortBackend> port;
  std::thread opener([&] { port = OpenRfc2217Port(url, error); });
  if (server.Accept()) serve(server);
  opener.join();
  return port;
}

class Rfc2217PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    OpenError error;
    port_ = OpenAgainst(server_, server_.Url(), error);
    ASSERT_TRUE(port_) << "errno " << error.code;
  }
  void TearDown() override {
    // The server hangs up first, so the client's close need not wait out
    // its drain.
    server_.CloseConnection();
    port_.reset();
  }

  Bytes ReadBytes(size_t n, int timeout_ms) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = 0;
      ReadResult r = ReadResult::Timeout;
      if (ReadByte(*port_, b, timeout_ms, r) != 0 || r != ReadResult::Byte) break;
      out.push_back(b);
    }
    return out;
  }

  Server server_;
  std::unique_ptr<PortBackend> port_;
};

TEST_F(Rfc2217PortTest, OpeningOffersOptionsAndAsksForAllModemBits) {
  server_.ReadFor(1000, [](const Seen& s) { return !s.Values(tn::kSetModemStateMask).empty(); });
  const Seen& s = server_.seen();
  EXPECT_EQ(s.Negotiations(tn::kWill, tn::kOptBinary), 1u);
  EXPECT_EQ(s.Negotiations(tn::kDo, tn::kOptBinary), 1u);
  EXPECT_EQ(s.Negotiations(tn::kWill, tn::kOptSuppressGoAhead), 1u);
  EXPECT_EQ(s.Negotiations(tn::kDo, tn::kOptSuppressGoAhead), 1u);
  EXPECT_EQ(s.Negotiations(tn::kWill, tn::kOptComPort), 1u);
  EXPECT_EQ(s.Values(tn::kSetModemStateMask), std::vector<Bytes>{{0xFF}});
  EXPECT_TRUE(s.data.empty());
}

TEST_F(Rfc2217PortTest, NegotiationIsAnsweredOnceAndUnknownOptionsRefused) {
  server_.ReadFor(200);
  server_.seen() = Seen{};
  const uint8_t kEcho = 1;
  const uint8_t kTerminalType = 24;
  std::string requests;
  for (int round = 0; round < 3; ++round) {
    requests += tn::Negotiation(tn::kWill, kEcho);
    requests += tn::Negotiation(tn::kDo, kTerminalType);
    requests += tn::Negotiation(tn::kWill, tn::kOptComPort);  // not asked for yet: agree
    requests += tn::Negotiation(tn::kDo, tn::kOptComPort);    // already offered: silence
    requests += tn::Negotiation(tn::kWill, tn::kOptBinary);   // already asked: silence
  }
  server_.Send(requests);
  // Answers go out whenever input is read, even if no data is wanted.
  const auto start = Clock::now();
  while (MsSince(start) < 300) {
    EXPECT_FALSE(port_->InputPending());
    usleep(5000);
  }
  server_.ReadFor(300);
  const Seen& s = server_.seen();
  EXPECT_EQ(s.Negotiations(tn::kDont, kEcho), 1u);
  EXPECT_EQ(s.Negotiations(tn::kWont, kTerminalType), 1u);
  EXPECT_EQ(s.Negotiations(tn::kDo, tn::kOptComPort), 1u);
  EXPECT_EQ(s.events.size(), 3u) << "nothing else may be answered";
}

TEST_F(Rfc2217PortTest, LineSettingsGoOutWholeFirstThenByChange) {
  LineState state;
  ASSERT_EQ(port_->ReadSettings(state), 0);
  EXPECT_EQ(state.baud, 115200);
  EXPECT_FALSE(state.handshake);

  // A rate whose value holds an FF byte that must be doubled on the wire.
  ASSERT_EQ(port_->WriteSettings({0x0001C2FF, false}), 0);
  server_.ReadFor(1000, [](const Seen& s) { return s.Values(tn::kSetControl).size() >= 3; });
  {
    const Seen& s = server_.seen();
    EXPECT_EQ(s.Values(tn::kSetBaudRate), std::vector<Bytes>{tn::BaudValue(0x0001C2FF)});
    EXPECT_EQ(s.Values(tn::kSetDataSize), std::vector<Bytes>{{8}});
    EXPECT_EQ(s.Values(tn::kSetParity), std::vector<Bytes>{{tn::kParityNone}});
    EXPECT_EQ(s.Values(tn::kSetStopSize), std::vector<Bytes>{{tn::kStopBitsOne}});
    EXPECT_EQ(s.Values(tn::kSetControl),
              (std::vector<Bytes>{{tn::kControlNoFlow}, {tn::kControlDtrOff}, {tn::kControlRtsOff}}));
  }

  server_.seen() = Seen{};
  ASSERT_EQ(port_->WriteSettings({38400, true}), 0);
  ASSERT_EQ(port_->WriteSettings({38400, true}), 0);  // same rate again: still sent
  ASSERT_EQ(port_->ReadSettings(state), 0);
  EXPECT_EQ(state.baud, 38400);
  EXPECT_TRUE(state.handshake);
  server_.ReadFor(300);
  const Seen& s = server_.seen();
  EXPECT_EQ(s.Values(tn::kSetBaudRate),
            (std::vector<Bytes>{tn::BaudValue(38400), tn::BaudValue(38400)}));
  EXPECT_EQ(s.Values(tn::kSetControl), std::vector<Bytes>{{tn::kControlHardwareFlow}});
  EXPECT_TRUE(s.Values(tn::kSetDataSize).empty());
}

TEST_F(Rfc2217PortTest, RtsGoesOutAsSetControl) {
  ASSERT_EQ(port_->SetRts(true), 0);
  ASSERT_EQ(port_->SetRts(false), 0);
  server_.ReadFor(1000, [](const Seen& s) { return s.Values(tn::kSetControl).size() >= 2; });
  EXPECT_EQ(server_.seen().Values(tn::kSetControl),
            (std::vector<Bytes>{{tn::kControlRtsOn}, {tn::kControlRtsOff}}));
}

TEST_F(Rfc2217PortTest, DataIsEscapedOutAndDecodedInAmongCommands) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  ASSERT_EQ(port_->Write(all.data(), all.size()), 0);
  server_.ReadFor(1000, [&](const Seen& s) { return s.data.size() >= all.size(); });
  EXPECT_EQ(server_.seen().data, all);

  std::string wire;
  tn::EscapeData(all.data(), 100, wire);
  wire += tn::ComPort(tn::kServerOffset + tn::kSetBaudRate, tn::BaudValue(115200));
  wire += tn::Negotiation(tn::kDo, tn::kOptBinary);
  tn::EscapeData(all.data() + 100, all.size() - 100, wire);
  server_.Send(wire);
  EXPECT_EQ(ReadBytes(all.size(), 1000), all);
}

TEST_F(Rfc2217PortTest, ReadTimesOutWithoutData) {
  uint8_t b = 0x5A;
  ReadResult r = ReadResult::Byte;
  const auto start = Clock::now();
  ASSERT_EQ(ReadByte(*port_, b, 150, r), 0);
  EXPECT_EQ(r, ReadResult::Timeout);
  EXPECT_EQ(b, 0x5A);
  EXPECT_GE(MsSince(start), 150);
  EXPECT_LT(MsSince(start), 1000);
}

// A block read gets every byte in its place however the server spaces
// them: at the line rate (the read sleeps through most of them), slower
// than the line (it reads them as they come), or all at once.
struct BlockPacing {
  const char* name;
  int gap_us;  // between the server's one-byte segments; 0: one segment
};

class Rfc2217BlockRead : public Rfc2217PortTest, public ::testing::WithParamInterface<BlockPacing> {};

TEST_P(Rfc2217BlockRead, FillsEveryPlaceAndLeavesTheRestQueued) {
  LineState state;
  state.baud = 115200;
  ASSERT_EQ(port_->WriteSettings(state), 0);
  // 0xFF travels escaped; a notification in between is no data.
  Bytes block;
  for (int i = 0; i < 40; ++i) block.push_back(static_cast<uint8_t>(i * 37 + 0xFF));
  const Bytes after{0x11, 0x22};
  const int gap_us = GetParam().gap_us;
  std::thread sender([&] {
    if (gap_us == 0) {
      server_.SendData(block);
    } else {
      for (size_t i = 0; i < block.size(); ++i) {
        server_.SendData({block[i]});
        if (i == 20) server_.Send(tn::ComPort(tn::kServerOffset + tn::kNotifyModemState, {0x10}));
        std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
      }
    }
    server_.SendData(after);
  });
  Bytes got_bytes(block.size(), 0xEE);
  size_t got = 0;
  const auto start = Clock::now();
  const int e = port_->Read(got_bytes.data(), got_bytes.size(), 2000, got);
  const long took = MsSince(start);
  sender.join();
  ASSERT_EQ(e, 0);
  EXPECT_EQ(got, block.size());
  EXPECT_EQ(got_bytes, block);
  EXPECT_LT(took, 1000);
  EXPECT_EQ(ReadBytes(2, 1000), after);
}

INSTANTIATE_TEST_SUITE_P(Pacing, Rfc2217BlockRead,
                         ::testing::Values(BlockPacing{"line_rate", 87}, BlockPacing{"slower", 2000},
                                           BlockPacing{"at_once", 0}),
                         [](const ::testing::TestParamInfo<BlockPacing>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(Rfc2217PortTest, BlockReadStopsAtThePlaceWhoseByteIsLate) {
  LineState state;
  state.baud = 115200;
  ASSERT_EQ(port_->WriteSettings(state), 0);
  server_.SendData({0x01, 0x02, 0x03});
  Bytes buf(5, 0xEE);
  size_t got = 0;
  auto start = Clock::now();
  ASSERT_EQ(port_->Read(buf.data(), buf.size(), 150, got), 0);
  const long waited = MsSince(start);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(buf, (Bytes{0x01, 0x02, 0x03, 0xEE, 0xEE}));
  // The time-out counts from the last byte, which came at once.
  EXPECT_GE(waited, 150);
  EXPECT_LT(waited, 1000);

  server_.SendData({0x04, 0x05});
  start = Clock::now();
  ASSERT_EQ(port_->Read(buf.data() + 3, 2, 2000, got), 0);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_EQ(port_->Read(buf.data(), 0, 2000, got), 0);
  EXPECT_EQ(got, 0u);
}

TEST_F(Rfc2217PortTest, CtsFollowsModemStateNotifications) {
  auto notify = [&](uint8_t state) {
    server_.Send(tn::ComPort(tn::kServerOffset + tn::kNotifyModemState, {state}));
  };
  auto cts_within = [&](bool want, int ms) {
    const auto start = Clock::now();
    bool cts = !want;
    while (MsSince(start) < ms) {
      if (port_->ReadCts(cts) != 0) return false;
      if (cts == want) return true;
      usleep(2000);
    }
    return false;
  };
  bool cts = true;
  ASSERT_EQ(port_->ReadCts(cts), 0);
  EXPECT_FALSE(cts) << "no notification yet";
  notify(tn::kModemCts | tn::kModemDeltaCts);
  EXPECT_TRUE(cts_within(true, 1000));
  notify(0xB0);  // other lines change, CTS stays
  usleep(50 * 1000);
  ASSERT_EQ(port_->ReadCts(cts), 0);
  EXPECT_TRUE(cts);
  notify(tn::kModemDeltaCts);
  EXPECT_TRUE(cts_within(false, 1000));
}

TEST_F(Rfc2217PortTest, PollingCtsPromptsTheServerAtALimitedRate) {
  server_.ReadFor(150);
  server_.seen() = Seen{};
  const auto start = Clock::now();
  bool cts = false;
  while (MsSince(start) < 450) {
    ASSERT_EQ(port_->ReadCts(cts), 0);
    usleep(1000);
  }
  server_.ReadFor(100);
  const size_t masks = server_.seen().Values(tn::kSetModemStateMask).size();
  // About one every 100 ms: prompted, but not once per poll.
  EXPECT_GE(masks, 3u);
  EXPECT_LE(masks, 6u);
  for (const Bytes& v : server_.seen().Values(tn::kSetModemStateMask)) EXPECT_EQ(v, Bytes{0xFF});
}

TEST_F(Rfc2217PortTest, PurgeAsksTheServerAndDropsWhatIsInFlight) {
  server_.SendData({0x10, 0x11, 0xFF, 0x12});
  usleep(100 * 1000);  // in the client's socket, not yet read
  ASSERT_EQ(port_->Purge(), 0);
  EXPECT_FALSE(port_->InputPending());
  server_.ReadFor(1000, [](const Seen& s) { return !s.Values(tn::kPurgeData).empty(); });
  EXPECT_EQ(server_.seen().Values(tn::kPurgeData), std::vector<Bytes>{{tn::kPurgeBoth}});

  // Decoded but unread bytes go too, and the stream goes on afterwards.
  server_.SendData({0x20, 0x21});
  const auto start = Clock::now();
  while (!port_->InputPending() && MsSince(start) < 1000) usleep(2000);
  ASSERT_EQ(port_->Purge(), 0);
  EXPECT_FALSE(port_->InputPending());
  server_.SendData({0x30});
  EXPECT_EQ(ReadBytes(2, 300), Bytes{0x30});
}

TEST_F(Rfc2217PortTest, ServerClosingIsAnErrorAfterTheQueuedBytes) {
  server_.SendData({0x71});
  server_.CloseConnection();
  EXPECT_EQ(ReadBytes(1, 1000), Bytes{0x71});
  uint8_t b = 0;
  ReadResult r = ReadResult::Byte;
  const auto start = Clock::now();
  EXPECT_EQ(ReadByte(*port_, b, 2000, r), ECONNRESET);
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_NE(port_->Write(&b, 1), 0);
  bool cts = false;
  EXPECT_NE(port_->ReadCts(cts), 0);
}

TEST_F(Rfc2217PortTest, WriteGivesUpWhenTheServerStopsReading) {
  const Bytes chunk(1 << 16, 0x41);
  const auto start = Clock::now();
  int e = 0;
  // Loopback buffers take a few MB; the bound is on the stall, not the size.
  for (int i = 0; i < 1024 && e == 0 && MsSince(start) < 10000; ++i)
    e = port_->Write(chunk.data(), chunk.size());
  EXPECT_EQ(e, ETIMEDOUT);
  EXPECT_LT(MsSince(start), 6000);
}

TEST_F(Rfc2217PortTest, ClosingDeliversTheLastBytesDespiteUnreadInput) {
  // Input the client never reads: a plain close would answer it with a
  // reset, and the server could lose the final bytes.
  server_.SendData(Bytes(64 * 1024, 0x61));
  const uint8_t last[] = {0x7E, 0xFF};
  ASSERT_EQ(port_->Write(last, sizeof last), 0);
  ASSERT_EQ(port_->SetRts(false), 0);
  usleep(50 * 1000);
  const auto start = Clock::now();
  port_.reset();  // the server does not close: the drain ends at its bound
  const long took = MsSince(start);
  EXPECT_GE(took, 400);
  EXPECT_LT(took, 1500);
  server_.ReadFor(2000);
  EXPECT_TRUE(server_.eof());
  EXPECT_FALSE(server_.reset());
  const Bytes& data = server_.seen().data;
  ASSERT_GE(data.size(), 2u);
  EXPECT_EQ(Bytes(data.end() - 2, data.end()), (Bytes{0x7E, 0xFF}));
  const auto controls = server_.seen().Values(tn::kSetControl);
  ASSERT_FALSE(controls.empty());
  EXPECT_EQ(controls.back(), Bytes{tn::kControlRtsOff});
}

TEST(Rfc2217PortOpen, ClosingEndsEarlyWhenTheServerCloses) {
  Server server;
  ASSERT_TRUE(server.ok());
  OpenError error;
  auto port = OpenAgainst(server, server.Url(), error);
  ASSERT_TRUE(port);
  // Close our side as soon as the client's end of stream arrives.
  std::thread closer([&] {
    server.ReadFor(3000);
    server.CloseConnection();
  });
  const auto start = Clock::now();
  port.reset();
  const long took = MsSince(start);
  closer.join();
  EXPECT_TRUE(server.eof());
  EXPECT_LT(took, 400);
}

struct UrlCase {
  std::string url;
  int error;
  vk::link::OpenFailure reason = vk::link::OpenFailure::BadUrl;
};

TEST(Rfc2217PortOpen, BadUrlsAndRefusedConnections) {
  const std::vector<UrlCase> cases = {
      {"rfc2217://", EINVAL},
      {"rfc2217://127.0.0.1", EINVAL},
      {"rfc2217://127.0.0.1:", EINVAL},
      {"rfc2217://127.0.0.1:port", EINVAL},
      {"rfc2217://127.0.0.1:0", EINVAL},
      {"rfc2217://127.0.0.1:70000", EINVAL},
      {"rfc2217://:2217", EINVAL},
      {"rfc2217://::1:2217", EINVAL},
      {"rfc2217://[::1:2217", EINVAL},
      {"rfc2217://[::1]2217", EINVAL},
      {"rfc2217://127.0.0.1:1", ECONNREFUSED, vk::link::OpenFailure::ConnectionRefused},
      {"rfc2217://no-such-host.invalid:2217", ENXIO, vk::link::OpenFailure::HostNotFound},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.url);
    OpenError error;
    const auto start = Clock::now();
    EXPECT_FALSE(OpenRfc2217Port(c.url, error));
    EXPECT_EQ(error.reason, c.reason);
    EXPECT_EQ(error.code, c.error);
    EXPECT_LT(MsSince(start), 6000);
  }
}

struct HostCase {
  int family;
  std::string host;
};

TEST(Rfc2217PortOpen, HostsByNameAndLiteral) {
  const std::vector<HostCase> cases = {
      {AF_INET, "127.0.0.1"},
      {AF_INET, "localhost"},  // may resolve to ::1 first: the next address is tried
      {AF_INET6, "[::1]"},
  };
  for (const HostCase& c : cases) {
    SCOPED_TRACE(c.host);
    Server server(c.family);
    if (!server.ok()) {
      ADD_FAILURE() << "no loopback for this family";
      continue;
    }
    OpenError error;
    auto port = OpenAgainst(server, server.Url(c.host) + "/", error);
    ASSERT_TRUE(port) << "errno " << error.code;
    const uint8_t b = 0x42;
    ASSERT_EQ(port->Write(&b, 1), 0);
    server.ReadFor(1000, [](const Seen& s) { return !s.data.empty(); });
    EXPECT_EQ(server.seen().data, Bytes{0x42});
    server.CloseConnection();
  }
}

// Whatever a server floods the connection with, each call returns within
// its time-out and a small margin.
struct FloodCase {
  const char* name;
  std::string start;  // sent once first
  std::string unit;   // then sent again and again
};

TEST_F(Rfc2217PortTest, FloodsDoNotHoldACallPastItsTimeOut) {
  const std::string sb = std::string("\xFF\xFA\x2C\x07", 4);
  const std::vector<FloodCase> cases = {
      {"data", "", std::string(4096, '\x55')},
      {"Telnet NOPs", "", std::string("\xFF\xF1", 2)},
      {"negotiations", "", std::string("\xFF\xFB\x01\xFF\xFD\x18", 6)},
      {"a subnegotiation without end", sb, std::string(4096, '\x10')},
  };
  for (const FloodCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
      std::string pending = c.start;
      std::string units;
      while (units.size() < 64 * 1024) units += c.unit;
      while (!stop) {
        if (pending.empty()) pending = units;
        pollfd p{server_.conn(), POLLOUT, 0};
        if (poll(&p, 1, 10) != 1) continue;
        const ssize_t w = send(server_.conn(), pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) pending.erase(0, static_cast<size_t>(w));
        else if (w < 0 && errno != EAGAIN) break;
      }
    });
    usleep(50000);
    for (int round = 0; round < 3; ++round) {
      auto start = Clock::now();
      bool cts = false;
      EXPECT_EQ(port_->ReadCts(cts), 0);
      (void)port_->InputPending();
      EXPECT_LT(MsSince(start), 200);
      std::array<uint8_t, 4> buf{};
      size_t got = 0;
      start = Clock::now();
      EXPECT_EQ(port_->Read(buf.data(), buf.size(), 200, got), 0);
      EXPECT_LT(MsSince(start), 500);
    }
    stop = true;
    flood.join();
    // The stream recovers once the flood has ended: the unending
    // subnegotiation is closed, and a purge drops all that came before the
    // server's answer to it.
    int purged = -1;
    std::thread purge([&] { purged = port_->Purge(); });  // reads while the server's send waits for room
    server_.Send(std::string("\xFF\xF0", 2) + tn::ComPort(tn::kServerOffset + tn::kPurgeData, {3}));
    purge.join();
    EXPECT_EQ(purged, 0);
    server_.SendData({0x42});
    uint8_t b = 0;
    ReadResult r = ReadResult::Timeout;
    for (int tries = 0; tries < 20 && b != 0x42; ++tries) ReadByte(*port_, b, 1000, r);
    EXPECT_EQ(b, 0x42);
  }
}

// The link over pyserial's RFC 2217 server side, a peer we did not write:
// a loop port behind it echoes the data and mirrors RTS onto CTS.
class PyserialPeer {
 public:
  PyserialPeer()
      : process_({"/usr/bin/python3", std::string(VK_SOURCE_DIR) + "/tests/interop/pyserial_peer.py"}, true) {
    setenv("VK_COM1", process_.Url().c_str(), 1);
    for (const char* other : {"VK_COM2", "VK_COM3", "VK_COM4"}) setenv(other, "rfc2217://127.0.0.1:1", 1);
  }
  // After the link has gone: what the peer saw, by name.
  std::string Finding(const std::string& key) {
    if (findings_.empty()) {
      process_.Wait(10000);
      findings_ = "\n" + process_.Output();
    }
    const size_t at = findings_.find("\n" + key + "=");
    if (at == std::string::npos) return "(missing)";
    const size_t from = at + key.size() + 2;
    return findings_.substr(from, findings_.find('\n', from) - from);
  }

 private:
  vktest::SimProcess process_;
  std::string findings_;
};

std::string Hex(const Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    std::array<char, 3> cell{};
    std::snprintf(cell.data(), cell.size(), "%02x", b);
    out += cell.data();
  }
  return out;
}

// CTS as the link reads it, polled until it is `want` or `limit_ms` passed;
// the milliseconds it took, or -1.
long WaitForCts(vk::link::Link& link, int want, int limit_ms) {
  const auto start = Clock::now();
  while (MsSince(start) < limit_ms) {
    if (link.CTSSignalSet() == want) return MsSince(start);
    vk::link::SleepMs(5);
  }
  return -1;
}

TEST(Rfc2217Pyserial, DataLinesAndRateThroughPyserialsServer) {
  PyserialPeer peer;
  const Bytes sent{0x7F, 0xFF, 0x00, 0xFF, 0xFF, 0x41, 0x0D, 0x0A};  // the escape byte, both ways
  Bytes echoed(sent.size(), 0xEE);
  {
    vk::link::Link link;
    link.OpenPort(1, 115200);
    link.TransmitBlock(sent.data(), static_cast<int>(sent.size()));
    for (uint8_t& b : echoed) b = static_cast<uint8_t>(link.ReceiveWait());
    // CTS follows RTS through the loop.
    EXPECT_GE(WaitForCts(link, 0, 3000), 0);
    link.SetRtsSignal(1);
    const long on = WaitForCts(link, 1, 3000);
    link.SetRtsSignal(0);
    const long off = WaitForCts(link, 0, 3000);
    EXPECT_TRUE(on >= 0 && on < 1500) << on;
    EXPECT_TRUE(off >= 0 && off < 1500) << off;
    // A rate change reaches the server and purges the echo of what went
    // before it; the line goes on.
    const Bytes before{0x01, 0x02};
    link.TransmitBlock(before.data(), 2);
    vk::link::SleepMs(300);
    link.SetBaudRate(38400);
    EXPECT_EQ(link.RxPending(), 0);
    link.Transmit(0x09);
    EXPECT_EQ(link.ReceiveWait(), 0x09);
    link.EnableAuto_RTS_CTS(1);
    EXPECT_EQ(link.ExitTool(0), 0);
  }
  EXPECT_EQ(echoed, sent);
  EXPECT_EQ(peer.Finding("ended"), "1") << peer.Finding("error");
  EXPECT_EQ(peer.Finding("received"), Hex(sent) + "010209");
  // 8N1, DTR off, every modem-state bit asked for; after ExitTool RTS and
  // the handshake at rest.
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"bytesize", "8"}, {"parity", "N"}, {"stopbits", "1"}, {"dtr", "0"}, {"mask", "255"},
           {"baudrate", "38400"}, {"rts", "0"}, {"rtscts", "0"}})
    EXPECT_EQ(peer.Finding(key), value) << key;
}

}  // namespace
