// Telnet and COM Port Control (RFC 2217) server side of one connection.
//
// Options: BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION are agreed in both
// directions, everything else refused. A request is answered only when it
// changes an option's state, so two ends cannot bounce requests forever.
//
// Every COM Port Control command is answered with its code + 100. A value
// of 0 asks for the current setting (rate, data size, parity, stop size);
// SET-CONTROL's request values 0, 4, 7, 10 and 13 are answered with the
// current flow control, break, DTR, RTS and inbound flow control state.
// NOTIFY-MODEMSTATE carries CTS (0x10) and its change bit (0x01), masked
// with the client's mask. FLOWCONTROL-SUSPEND and -RESUME are taken without
// an answer.
#include "sim/session.h"

namespace vk::sim {

namespace tn = vk::telnet;

namespace {

bool Supported(uint8_t option) {
  return option == tn::kOptBinary || option == tn::kOptSuppressGoAhead ||
         option == tn::kOptComPort;
}

// Codes the codec has no name for. FLOWCONTROL-SUSPEND / -RESUME ask the
// other end to hold its data; the board's answers are short and the tools
// never send them, so they are not acted on.
constexpr uint8_t kFlowSuspend = 8;
constexpr uint8_t kFlowResume = 9;
constexpr uint8_t kRequestFlow = 0;
constexpr uint8_t kRequestBreak = 4;
constexpr uint8_t kBreakOff = 6;
constexpr uint8_t kRequestDtr = 7;
constexpr uint8_t kRequestRts = 10;
constexpr uint8_t kRequestInboundFlow = 13;
constexpr uint8_t kInboundNoFlow = 14;
constexpr uint8_t kInboundHardwareFlow = 16;

}  // namespace

Session::Session(const LineConfig& line, std::unique_ptr<Board> board, Trace& trace)
    : wire_(line, std::move(board), trace), line_(wire_.line()), trace_(trace) {}

Session::Session(const LineConfig& line, const Knobs& knobs, FlashFs& flash, Trace& trace)
    : Session(line, std::make_unique<Monitor>(flash, knobs), trace) {}

void Session::Start() {
  for (uint8_t option : {tn::kOptBinary, tn::kOptSuppressGoAhead}) {
    out_ += tn::Negotiation(tn::kWill, option);
    out_ += tn::Negotiation(tn::kDo, option);
    options_[option].us_asked = options_[option].him_asked = true;
  }
  out_ += tn::Negotiation(tn::kWill, tn::kOptComPort);
  options_[tn::kOptComPort].us_asked = true;
  wire_.Start();
}

void Session::FromNetwork(const uint8_t* data, size_t n, Nanos now) {
  Advance(now);
  std::vector<tn::Event> events;
  for (size_t i = 0; i < n; ++i) {
    uint8_t byte = 0;
    events.clear();
    const bool is_data = decoder_.Feed(data[i], byte, events);
    for (const tn::Event& ev : events) {
      if (ev.kind == tn::Event::Kind::Negotiation) {
        Negotiate(ev.verb, ev.option);
      } else {
        ComPort(ev.option, ev.value, now);
      }
    }
    if (is_data) wire_.FromHost(byte, now);
    // Keep the order of data and line changes: a byte that has reached the
    // board is served before a later RTS pulse or rate change.
    Advance(now);
  }
}

void Session::Advance(Nanos now) {
  // Each change is told on its own, as a port that notices every edge.
  while (line_.UpdateCts(now)) {
    trace_.Event(line_.cts() ? "cts 1" : "cts 0");
    NotifyModemState(true);
  }
  std::vector<uint8_t> sent;
  wire_.Advance(now, sent);
  tn::EscapeData(sent.data(), sent.size(), out_);
}

std::string Session::TakeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

void Session::Negotiate(uint8_t verb, uint8_t option) {
  OptionState& o = options_[option];
  switch (verb) {
    case tn::kDo:
      if (!Supported(option)) {
        out_ += tn::Negotiation(tn::kWont, option);
      } else if (!o.us) {
        o.us = true;
        if (!o.us_asked) out_ += tn::Negotiation(tn::kWill, option);
        o.us_asked = false;
        if (option == tn::kOptComPort) ComPortAgreed();
      }
      return;
    case tn::kDont:
      if (o.us && !o.us_asked) out_ += tn::Negotiation(tn::kWont, option);
      o.us = o.us_asked = false;
      return;
    case tn::kWill:
      if (!Supported(option)) {
        out_ += tn::Negotiation(tn::kDont, option);
      } else if (!o.him) {
        o.him = true;
        if (!o.him_asked) out_ += tn::Negotiation(tn::kDo, option);
        o.him_asked = false;
        if (option == tn::kOptComPort) ComPortAgreed();
      }
      return;
    case tn::kWont:
      if (o.him && !o.him_asked) out_ += tn::Negotiation(tn::kDont, option);
      o.him = o.him_asked = false;
      return;
    default:
      return;
  }
}

// Once the client speaks COM Port Control it learns the modem lines at
// once, as from a port that has just been opened.
void Session::ComPortAgreed() {
  if (modem_state_sent_) return;
  modem_state_sent_ = true;
  NotifyModemState(false);
}

void Session::NotifyModemState(bool cts_changed) {
  const uint8_t state = static_cast<uint8_t>((line_.cts() ? tn::kModemCts : 0) |
                                             (cts_changed ? tn::kModemDeltaCts : 0));
  if (cts_changed && (modem_mask_ & (tn::kModemCts | tn::kModemDeltaCts)) == 0) return;
  Reply(tn::kNotifyModemState, {static_cast<uint8_t>(state & modem_mask_)});
}

void Session::Reply(uint8_t command, const std::vector<uint8_t>& value) {
  out_ += tn::ComPort(static_cast<uint8_t>(command + tn::kServerOffset), value);
}

void Session::ComPort(uint8_t command, const std::vector<uint8_t>& value, Nanos now) {
  const uint8_t v = value.empty() ? 0 : value[0];
  switch (command) {
    case tn::kSetBaudRate: {
      const uint32_t baud = tn::BaudFromValue(value);
      if (value.size() >= 4 && baud != 0) wire_.SetHostBaud(baud);
      Reply(command, tn::BaudValue(line_.host_baud()));
      return;
    }
    case tn::kSetDataSize:
      if (v != 0) data_size_ = v;
      Reply(command, {data_size_});
      return;
    case tn::kSetParity:
      if (v != 0) parity_ = v;
      Reply(command, {parity_});
      return;
    case tn::kSetStopSize:
      if (v != 0) stop_size_ = v;
      Reply(command, {stop_size_});
      return;
    case tn::kSetControl:
      SetControl(v, now);
      return;
    case tn::kNotifyLineState:  // a poll: nothing to report on this line
      Reply(command, {0});
      return;
    case tn::kNotifyModemState:  // a poll
      NotifyModemState(false);
      return;
    case tn::kSetLineStateMask:
      line_mask_ = v;
      Reply(command, {line_mask_});
      return;
    case tn::kSetModemStateMask:
      modem_mask_ = v;
      Reply(command, {modem_mask_});
      NotifyModemState(false);
      return;
    case tn::kPurgeData:
      trace_.Event("purge " + std::to_string(v));
      if (v == tn::kPurgeReceive || v == tn::kPurgeBoth) line_.PurgeToHost();
      if (v == tn::kPurgeTransmit || v == tn::kPurgeBoth) line_.PurgeToBoard();
      Reply(command, {v});
      return;
    case kFlowSuspend:
    case kFlowResume:
      return;
    default:
      if (command < tn::kServerOffset) Reply(command, value);
      return;
  }
}

void Session::SetControl(uint8_t v, Nanos now) {
  switch (v) {
    case kRequestFlow:
      Reply(tn::kSetControl, {flow_});
      return;
    case tn::kControlNoFlow:
    case tn::kControlXonXoff:
    case tn::kControlHardwareFlow:
      flow_ = v;
      trace_.Event(v == tn::kControlHardwareFlow ? "flow hw"
                   : v == tn::kControlXonXoff    ? "flow xon"
                                                 : "flow none");
      break;
    case kRequestBreak:
      Reply(tn::kSetControl, {kBreakOff});
      return;
    case kRequestDtr:
      Reply(tn::kSetControl, {dtr_ ? tn::kControlDtrOn : tn::kControlDtrOff});
      return;
    case tn::kControlDtrOn:
    case tn::kControlDtrOff:
      dtr_ = v == tn::kControlDtrOn;
      trace_.Event(dtr_ ? "dtr 1" : "dtr 0");
      break;
    case kRequestRts:
      Reply(tn::kSetControl, {line_.rts() ? tn::kControlRtsOn : tn::kControlRtsOff});
      return;
    case kRequestInboundFlow:  // follows the outbound setting
      Reply(tn::kSetControl, {flow_ == tn::kControlHardwareFlow ? kInboundHardwareFlow
                                                                : kInboundNoFlow});
      return;
    case tn::kControlRtsOn:
    case tn::kControlRtsOff: {
      wire_.SetRts(v == tn::kControlRtsOn, now);
      break;
    }
    default:
      break;
  }
  Reply(tn::kSetControl, {v});
}

}  // namespace vk::sim
