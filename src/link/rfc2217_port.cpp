// The RFC 2217 backend: a serial port behind a network access server,
// named rfc2217://HOST:PORT (HOST a name, an IPv4 literal or [IPv6]).
//
// Nothing but a wait blocks on the socket (net/socket.h). Received bytes
// go through the Telnet decoder whenever anything reads the socket: data
// into a local queue, negotiations answered at once, modem-state
// notifications into the cached CTS bit. Outgoing bytes collect in one
// buffer that every send path drains, so answers produced while reading
// never recurse into a send. Apart from the server's agreement to
// COM-PORT-OPTION at the open (no subnegotiation may go out before it),
// nothing waits for an acknowledgement: servers differ in which commands
// they answer, and a missing answer must not stall the line.
//
// Whatever the server sends, every call returns within its time-out: a
// read of the socket takes a bounded amount per call, an overlong
// subnegotiation is dropped, and the received-data queue has a cap. Every
// loop that waits on the server checks its own deadline each time round: a
// server that keeps the socket readable makes each wait return at once, so
// the time-out handed to a wait bounds that wait only, never the loop.
#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/backend.h"
#include "link/clock.h"
#include "link/interrupt.h"
#include "link/port_names.h"
#include "net/socket.h"
#include "telnet/telnet.h"

namespace vk::link {
namespace {

namespace tn = vk::telnet;
namespace net = vk::net;
using Clock = SteadyClock;

constexpr int kConnectTimeoutMs = 5000;
// The server must agree to COM-PORT-OPTION within this time of the connect.
constexpr int kAgreementTimeoutMs = 3000;
// After the agreement a server may still be setting up its own side (a
// proxy connecting to the port), dropping line settings unanswered until it
// is ready. A rate query, which changes nothing, is asked this often until
// it is answered, for this long at most; a server that never answers one is
// then taken as ready.
constexpr int kReadyQueryMs = 100;
constexpr int kPurgeAnswerMs = 500;
constexpr int kReadyTimeoutMs = 2000;
// A send that makes no progress for this long means the server stopped
// reading; the write is given up with an error.
constexpr int kSendTimeoutMs = 2000;
// While CTS is polled, the modem-state mask is sent again this often; some
// servers look at the lines only about once a second unless prodded.
constexpr int kMaskRefreshMs = 100;
constexpr int kCloseDrainMs = 500;
// Once a block's bytes have started to come, a block read sleeps for the
// line time of up to this many of the rest before it looks again: a whole
// data message's echo in one sleep. (The kernel acknowledges the server's
// segments as they arrive, so a server sending a segment per byte is not
// held back by the sleep; measured through vksim and ser2net.)
constexpr size_t kBytesPerLook = 512;
// Received data beyond this is dropped, like an overrun of a driver queue.
constexpr size_t kMaxQueued = 1 << 20;
// One look at the socket decodes at most this much, so a flood cannot keep
// a call from returning.
constexpr size_t kMaxReadPerLook = 64 * 1024;
// What is kept of a server's words before it closed or refused.
constexpr size_t kMaxServerText = 200;

// Splits rfc2217://HOST:PORT[/...] into host and port. False when malformed.
bool ParseUrl(const std::string& url, std::string& host, std::string& port) {
  if (!IsRfc2217Url(url)) return false;
  std::string rest = url.substr(kRfc2217Scheme.size());
  if (const auto cut = rest.find_first_of("/?"); cut != std::string::npos) rest.resize(cut);
  size_t colon = 0;
  if (!rest.empty() && rest[0] == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
      return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) return false;  // bare IPv6 needs brackets
  }
  port = rest.substr(colon + 1);
  if (host.empty() || port.empty() || port.size() > 5) return false;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
  }
  const long number = std::stol(port);
  return number > 0 && number <= 65535;
}

// The code "Open Of %s Failed: %d" prints for a failure the protocol finds
// itself: the system's code of the same name.
int CodeFor(OpenFailure reason) {
  switch (reason) {
    case OpenFailure::BadUrl:
      return net::SystemCode(net::Errc::InvalidArgument);
    case OpenFailure::TimedOut:
      return net::SystemCode(net::Errc::TimedOut);
    case OpenFailure::ComPortRefused:
      return net::SystemCode(net::Errc::ProtocolNotSupported);
    default:
      return net::SystemCode(net::Errc::ConnectionReset);
  }
}

OpenFailure ReasonFor(net::ConnectFailure failure) {
  switch (failure) {
    case net::ConnectFailure::HostNotFound:
      return OpenFailure::HostNotFound;
    case net::ConnectFailure::Refused:
      return OpenFailure::ConnectionRefused;
    case net::ConnectFailure::TimedOut:
      return OpenFailure::TimedOut;
    case net::ConnectFailure::System:
      break;
  }
  return OpenFailure::System;
}

class Rfc2217Port final : public PortBackend {
 public:
  explicit Rfc2217Port(std::unique_ptr<net::Stream> stream) : stream_(std::move(stream)) {
    // Ask for the options we need; the answers are handled as they come.
    Queue(tn::Negotiation(tn::kWill, tn::kOptBinary));
    Queue(tn::Negotiation(tn::kDo, tn::kOptBinary));
    Queue(tn::Negotiation(tn::kWill, tn::kOptSuppressGoAhead));
    Queue(tn::Negotiation(tn::kDo, tn::kOptSuppressGoAhead));
    Queue(tn::Negotiation(tn::kWill, tn::kOptComPort));
    told_our_side_[tn::kOptBinary] = told_their_side_[tn::kOptBinary] = true;
    told_our_side_[tn::kOptSuppressGoAhead] = told_their_side_[tn::kOptSuppressGoAhead] = true;
    told_our_side_[tn::kOptComPort] = true;
  }

  ~Rfc2217Port() override {
    // Whatever is still queued goes if the socket takes it now; then close
    // our direction and read until the server closes too, so unread input
    // does not turn the close into a reset that destroys our last bytes.
    SendSome();
    stream_->ShutdownSend();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    std::array<uint8_t, 4096> sink{};
    while (Clock::now() < deadline) {
      int error = 0;
      if (stream_->Wait(net::kReadable, RemainingMs(deadline), error) == 0) {
        if (error != 0) break;
        continue;  // the time-out (the loop ends) or a signal
      }
      const net::Moved m = stream_->Receive(sink.data(), sink.size());
      if (m.closed || m.error != 0) break;
    }
  }
  Rfc2217Port(const Rfc2217Port&) = delete;
  Rfc2217Port& operator=(const Rfc2217Port&) = delete;

  // Sends the option requests and waits for the server to agree to
  // COM-PORT-OPTION and to be ready for line settings; then asks for the
  // modem state. A server that refuses, stays silent or closes fails the
  // open: false, with `error` saying which and what the server said.
  bool Start(OpenError& error) {
    int e = SendAll();
    auto deadline = Clock::now() + std::chrono::milliseconds(kAgreementTimeoutMs);
    while (e == 0 && com_port_ == Agreement::Asked)
      e = Clock::now() < deadline ? AwaitInput(deadline) : net::SystemCode(net::Errc::TimedOut);
    if (e == 0 && com_port_ == Agreement::Refused) return Failed(OpenFailure::ComPortRefused, error);
    deadline = Clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (e == 0 && !rate_answered_ && Clock::now() < deadline) {
      Queue(tn::ComPort(tn::kSetBaudRate, {0, 0, 0, 0}));
      e = SendAll();
      const auto next = std::min(deadline, Clock::now() + std::chrono::milliseconds(kReadyQueryMs));
      while (e == 0 && !rate_answered_ && Clock::now() < next) e = AwaitInput(next);
    }
    if (e != 0) {
      ReadAvailable();
      const OpenFailure reason = Classify(e);
      return Failed(reason, error, reason == OpenFailure::System ? e : 0);
    }
    QueueModemMask();
    if (const int sent = SendAll(); sent != 0) return Failed(Classify(sent), error, sent);
    return true;
  }

  // The server purges its own buffers only; what it sent before is still on
  // its way (through a proxy, possibly for a while), and its answer to the
  // purge comes after all of it. Everything up to that answer is dropped,
  // for kPurgeAnswerMs at most with a server that does not answer.
  int Purge() override {
    data_.clear();
    dropping_ = true;
    Queue(tn::ComPort(tn::kPurgeData, {tn::kPurgeBoth}));
    int e = SendAll();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPurgeAnswerMs);
    while (e == 0 && dropping_ && Clock::now() < deadline) e = AwaitInput(deadline);
    dropping_ = false;
    return e;
  }

  int ReadSettings(LineState& state) override {
    state = state_;
    return 0;
  }

  int WriteSettings(const LineState& state) override {
    if (state.baud <= 0) return net::SystemCode(net::Errc::InvalidArgument);
    Queue(tn::ComPort(tn::kSetBaudRate, tn::BaudValue(static_cast<uint32_t>(state.baud))));
    if (!configured_) {
      Queue(tn::ComPort(tn::kSetDataSize, {8}));
      Queue(tn::ComPort(tn::kSetParity, {tn::kParityNone}));
      Queue(tn::ComPort(tn::kSetStopSize, {tn::kStopBitsOne}));
    }
    if (!configured_ || state.handshake != state_.handshake) {
      Queue(tn::ComPort(tn::kSetControl, {state.handshake ? tn::kControlHardwareFlow
                                                          : tn::kControlNoFlow}));
    }
    if (!configured_) {
      // Lines at rest, as on a local port after its open.
      Queue(tn::ComPort(tn::kSetControl, {tn::kControlDtrOff}));
      Queue(tn::ComPort(tn::kSetControl, {tn::kControlRtsOff}));
    }
    if (int e = SendAll()) return e;
    configured_ = true;
    state_ = state;
    return 0;
  }

  int SetRts(bool on) override {
    Queue(tn::ComPort(tn::kSetControl, {on ? tn::kControlRtsOn : tn::kControlRtsOff}));
    return SendAll();
  }

  int ReadCts(bool& on) override {
    ReadAvailable();
    if (error_ != 0) return error_;
    const auto now = Clock::now();
    if (now - last_mask_ >= std::chrono::milliseconds(kMaskRefreshMs)) QueueModemMask();
    if (int e = SendAll()) return e;
    on = cts_;
    return 0;
  }

  int Write(const uint8_t* data, size_t n) override {
    tn::EscapeData(data, n, out_);
    return SendAll();
  }

  // Once the block's bytes have started to come, the rest cannot come
  // faster than the line carries them: the read sleeps for the line time of
  // the rest (kBytesPerLook at most), takes what came, and waits on the
  // socket only for the last byte. A block costs a few wake-ups instead of
  // one per byte. When a sleep brings fewer bytes than the line carried in
  // it, they are not coming at the line rate (a slow or held-back server),
  // and the rest of the block is read as it arrives. No sleep reaches the
  // time-out of the place it waits for. Waiting on the socket is a single
  // system call (ReadWaiting) unless answers are waiting to go out.
  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    got = 0;
    const auto timeout = std::chrono::milliseconds(timeout_ms);
    auto deadline = Clock::now() + timeout;
    const auto byte_time =
        std::chrono::nanoseconds(state_.baud > 0 ? int64_t{10'000'000'000} / state_.baud : 0);
    bool paced = byte_time.count() > 0;
    for (;;) {
      size_t took = 0;
      while (got < n && !data_.empty()) {
        data[got++] = data_.front();
        data_.pop_front();
        ++took;
      }
      if (took > 0) deadline = Clock::now() + timeout;  // the next place waits from here
      if (got == n) return 0;
      if (error_ != 0) return error_;
      SendSome();  // answers to negotiations found on the way
      if (Clock::now() >= deadline) return 0;  // data[got] did not come in time
      const size_t ahead = std::min(n - got - 1, kBytesPerLook);
      if (took > 0 && paced && ahead > 0 && out_.empty()) {
        const auto look = Clock::now() + byte_time * static_cast<int64_t>(ahead);
        std::this_thread::sleep_until(std::min(look, deadline));
        const size_t before = data_.size();
        ReadAvailable();
        if (data_.size() - before + 1 < ahead) paced = false;
        continue;
      }
      if (Interruption()) return kInterruptedError;
      const int left = RemainingMs(deadline);
      if (left == 0) continue;  // the deadline came meanwhile
      if (out_.empty()) {
        ReadWaiting(left);  // one system call for the wait and the read
      } else {
        int error = 0;
        if (stream_->Wait(net::kReadable | net::kWritable, left, error) != 0) ReadAvailable();
        if (error != 0) return error;
      }
    }
  }

  bool InputPending() override {
    ReadAvailable();
    SendSome();
    return !data_.empty();
  }

 private:
  void Queue(const std::string& bytes) { out_ += bytes; }

  void QueueModemMask() {
    // All bits: some servers report a CTS change only when its delta bit
    // survives the mask.
    Queue(tn::ComPort(tn::kSetModemStateMask, {0xFF}));
    last_mask_ = Clock::now();
  }

  // Reads and decodes whatever the socket holds now, without waiting. A
  // closed or failed connection is kept in error_ for the next call that
  // can report it.
  void ReadAvailable() {
    if (error_ != 0) return;
    std::array<uint8_t, 1024> buf{};
    for (size_t taken = 0; taken < kMaxReadPerLook;) {
      const net::Moved m = stream_->Receive(buf.data(), buf.size());
      if (m.bytes == 0) return Keep(m);
      Decode(buf.data(), m.bytes);
      taken += m.bytes;
      // A short read has emptied the socket; asking again would only cost
      // a system call to hear that.
      if (m.bytes < buf.size()) return;
    }
  }

  // Waits for input until `deadline` and takes it in, answering what asks
  // for an answer. A closed connection is an error; the deadline is the
  // caller's to check.
  int AwaitInput(Clock::time_point deadline) {
    if (error_ != 0) return error_;
    if (Interruption()) return kInterruptedError;
    int error = 0;
    if (stream_->Wait(net::kReadable, RemainingMs(deadline), error) != 0) ReadAvailable();
    if (error != 0) return error;
    if (error_ != 0) return error_;
    return SendAll();
  }

  // Waits up to `timeout_ms` for input and decodes what came, then what
  // else the socket holds.
  void ReadWaiting(int timeout_ms) {
    std::array<uint8_t, 1024> buf{};
    const net::Moved m = stream_->ReceiveWaiting(buf.data(), buf.size(), timeout_ms);
    if (m.bytes == 0) return Keep(m);
    Decode(buf.data(), m.bytes);
    if (m.bytes == buf.size()) ReadAvailable();
  }

  // A receive that moved nothing: the server's end of the connection, or a
  // failure, is kept in error_.
  void Keep(const net::Moved& m) {
    if (m.closed) error_ = net::SystemCode(net::Errc::ConnectionReset);
    if (m.error != 0) error_ = m.error;
  }

  void Decode(const uint8_t* bytes, size_t n) {
    std::vector<tn::Event> events;
    for (size_t i = 0; i < n; ++i) {
      uint8_t data = 0;
      const size_t seen = events.size();
      if (decoder_.Feed(bytes[i], data, events) && !dropping_ && data_.size() < kMaxQueued)
        data_.push_back(data);
      if (events.size() > seen && events.back().kind == tn::Event::Kind::ComPort &&
          events.back().option == tn::kServerOffset + tn::kPurgeData)
        dropping_ = false;  // the purge's answer: what follows is new
    }
    for (const tn::Event& ev : events) {
      if (ev.kind == tn::Event::Kind::Negotiation)
        Answer(ev.verb, ev.option);
      else if (ev.option == tn::kServerOffset + tn::kNotifyModemState && !ev.value.empty())
        cts_ = (ev.value[0] & tn::kModemCts) != 0;
      else if (ev.option == tn::kServerOffset + tn::kSetBaudRate)
        rate_answered_ = true;
    }
  }

  // Agrees to the options we use and refuses the rest, answering each
  // request at most once so two ends cannot echo each other forever.
  void Answer(uint8_t verb, uint8_t option) {
    if (option == tn::kOptComPort && com_port_ == Agreement::Asked) {
      if (verb == tn::kDo) com_port_ = Agreement::Agreed;
      if (verb == tn::kDont) com_port_ = Agreement::Refused;
    }
    const bool wanted = option == tn::kOptBinary || option == tn::kOptSuppressGoAhead ||
                        option == tn::kOptComPort;
    if (verb == tn::kDo) {
      if (told_our_side_[option]) return;
      told_our_side_[option] = true;
      Queue(tn::Negotiation(wanted ? tn::kWill : tn::kWont, option));
    } else if (verb == tn::kWill) {
      if (told_their_side_[option]) return;
      told_their_side_[option] = true;
      Queue(tn::Negotiation(wanted ? tn::kDo : tn::kDont, option));
    }
    // DONT/WONT: the server declines or confirms; nothing to answer.
  }

  // Sends what the socket takes now. Returns false on a hard error (kept in
  // send_error_).
  bool SendSome() {
    while (!out_.empty()) {
      const net::Moved m = stream_->Send(out_.data(), out_.size());
      if (m.bytes == 0) {
        send_error_ = m.error;
        return m.error == 0;  // no room now, or the failure
      }
      out_.erase(0, m.bytes);
    }
    return true;
  }

  // Sends all of out_, reading on the way so a server that echoes cannot
  // block us by waiting for its own sends. Gives up after kSendTimeoutMs
  // without progress.
  int SendAll() {
    if (send_error_ != 0) return send_error_;
    if (error_ != 0) return error_;  // the server is gone
    auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
    while (!out_.empty()) {
      const size_t before = out_.size();
      if (!SendSome()) return send_error_;
      if (out_.empty()) break;
      if (out_.size() != before)
        deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
      else if (Clock::now() >= deadline)
        return net::SystemCode(net::Errc::TimedOut);
      if (Interruption()) return kInterruptedError;
      int error = 0;
      const unsigned found = stream_->Wait(net::kWritable | net::kReadable, RemainingMs(deadline), error);
      if (error != 0) return error;
      if (found & net::kReadable) {
        ReadAvailable();
        if (error_ != 0) return error_;
      }
    }
    return 0;
  }

  // The received data as text a person can read: printable characters,
  // line ends as blanks.
  std::string PrintableText() const {
    std::string text;
    for (uint8_t c : data_) {
      if (text.size() >= kMaxServerText) break;
      if (c >= 0x20 && c < 0x7F) text.push_back(static_cast<char>(c));
      else if ((c == '\r' || c == '\n') && !text.empty() && text.back() != ' ') text.push_back(' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  // Why the open failed with `e`: a server that went away is reported so,
  // whether that showed first on the sending or the receiving side.
  OpenFailure Classify(int e) const {
    if (e == net::SystemCode(net::Errc::TimedOut)) return OpenFailure::TimedOut;
    if (error_ != 0 || send_error_ != 0) return OpenFailure::ClosedByServer;
    return OpenFailure::System;
  }

  // Fills `error` for a failed open (`code`: the system's, when it gave
  // one), with what the server said; false.
  bool Failed(OpenFailure reason, OpenError& error, int code = 0) {
    ReadAvailable();
    error.reason = reason;
    error.code = code != 0 ? code : CodeFor(reason);
    error.server_text = PrintableText();
    return false;
  }

  enum class Agreement { Asked, Agreed, Refused };

  std::unique_ptr<net::Stream> stream_;
  tn::Decoder decoder_;
  Agreement com_port_ = Agreement::Asked;
  bool rate_answered_ = false;    // the server has answered a rate query or setting
  bool dropping_ = false;         // a purge waits for its answer: data is stale
  std::deque<uint8_t> data_;
  std::string out_;
  int error_ = 0;       // receive side: closed or failed
  int send_error_ = 0;  // send side
  bool cts_ = false;
  bool configured_ = false;
  LineState state_;
  Clock::time_point last_mask_{};
  // Per option: we already sent WILL or WONT (our side), DO or DONT (the
  // server's side), as a request or as an answer.
  std::array<bool, 256> told_our_side_{};
  std::array<bool, 256> told_their_side_{};
};

}  // namespace

std::unique_ptr<PortBackend> OpenRfc2217Port(const std::string& url, OpenError& error) {
  error = {};
  std::string host;
  std::string port;
  if (!ParseUrl(url, host, port)) {
    error = {OpenFailure::BadUrl, CodeFor(OpenFailure::BadUrl), {}};
    return nullptr;
  }
  net::ConnectError failure;
  std::unique_ptr<net::Stream> stream = net::Stream::Connect(host, port, kConnectTimeoutMs, failure);
  if (!stream) {
    error.reason = ReasonFor(failure.reason);
    error.code = failure.code;
    return nullptr;
  }
  auto backend = std::make_unique<Rfc2217Port>(std::move(stream));
  if (!backend->Start(error)) return nullptr;
  return backend;
}

}  // namespace vk::link
