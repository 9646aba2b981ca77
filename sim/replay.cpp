// Reading a recording and playing it back; the rules are in sim/trace.h.
#include "sim/replay.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "wire/bytes.h"

namespace vk::sim {
namespace {

// One line of a trace.
struct Entry {
  std::optional<Nanos> at;  // when it was written, if recorded
  char kind = '#';          // '>', '<', 'x' or '#'
  uint8_t byte = 0;
  std::string_view event;   // the text after "#"
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A run of at most 15 decimal digits (a time in microseconds stays within
// range as nanoseconds).
std::optional<int64_t> Decimal(std::string_view s) {
  if (s.empty() || s.size() > 15) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// False when `line` (trimmed, not empty) is no trace line.
bool ParseLine(std::string_view line, Entry& e) {
  if (IsDigit(line.front())) {
    const size_t blank = line.find(' ');
    const auto us = Decimal(line.substr(0, blank));
    if (blank == std::string_view::npos || !us) return false;
    e.at = *us * 1000;
    line = Trim(line.substr(blank));
    if (line.empty()) return false;
  }
  e.kind = line.front();
  if (e.kind == '#') {
    e.event = Trim(line.substr(1));
    return true;
  }
  if ((e.kind != '>' && e.kind != '<' && e.kind != 'x') || line.size() != 4 || line[1] != ' ')
    return false;
  const int hi = vk::wire::HexDigit(line[2]);
  const int lo = vk::wire::HexDigit(line[3]);
  if (hi < 0 || lo < 0) return false;
  e.byte = static_cast<uint8_t>(hi * 16 + lo);
  return true;
}

// The number of the event `name` ("baud 38400", "cts 1") when `e` is one.
std::optional<int64_t> Value(const Entry& e, std::string_view name) {
  if (e.kind != '#' || e.event.size() <= name.size() || e.event.substr(0, name.size()) != name ||
      e.event[name.size()] != ' ')
    return std::nullopt;
  return Decimal(e.event.substr(name.size() + 1));
}

// The host's rate after `e`.
uint32_t RateAfter(const Entry& e, uint32_t rate) {
  const auto baud = Value(e, "baud");
  return baud && *baud > 0 && *baud <= UINT32_MAX ? static_cast<uint32_t>(*baud) : rate;
}

// CTS at connect is the first recorded state (a tool records the state it
// read first, after its RTS pulse); after the first RTS pulse it drops (when
// it was on) and rises as recorded, with the recorded delays.
void SetCts(const std::vector<Entry>& entries, LineConfig& line) {
  std::optional<bool> at_connect;
  std::optional<size_t> pulse;
  bool rts = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (const auto cts = Value(entries[i], "cts"); cts && !at_connect) at_connect = *cts != 0;
    if (const auto on = Value(entries[i], "rts"); on && !pulse) {
      if (rts && *on == 0) pulse = i;
      rts = *on != 0;
    }
  }
  const bool on = at_connect.value_or(false);
  std::optional<size_t> drop;
  std::optional<size_t> rise;
  for (size_t i = pulse ? *pulse + 1 : entries.size(); i < entries.size() && !rise; ++i) {
    const auto cts = Value(entries[i], "cts");
    if (!cts) continue;
    if (on && !drop) {
      if (*cts == 0) drop = i;
    } else if (*cts != 0) {
      rise = i;
    }
  }
  const auto span = [&entries](size_t from, size_t to, Nanos otherwise) {
    const auto& a = entries[from].at;
    const auto& b = entries[to].at;
    return a && b ? std::max<Nanos>(0, *b - *a) : otherwise;
  };
  if (!rise) {
    line.cts_mode = on ? CtsMode::Stuck : CtsMode::Never;
  } else if (!on) {
    line.cts_mode = CtsMode::Normal;
    line.cts_delay = span(*pulse, *rise, line.cts_delay);
  } else {
    line.cts_mode = CtsMode::High;
    line.cts_drop_delay = span(*pulse, *drop, line.cts_drop_delay);
    line.cts_delay = span(*drop, *rise, line.cts_delay);
  }
}

std::string Hex(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

bool ParseRecording(std::string_view text, Recording& recording, std::string& error) {
  std::vector<Entry> entries;
  size_t number = 0;
  while (!text.empty()) {
    const size_t eol = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(std::min(eol + 1, text.size()));
    ++number;
    if (line.empty()) continue;
    Entry e;
    if (!ParseLine(line, e)) {
      error = "line " + std::to_string(number) + ": not a trace line: '" + std::string(line) + "'";
      return false;
    }
    if (e.event == "disconnect" || e.event == "close") break;  // one connection only
    entries.push_back(e);
  }

  Recording r;
  uint32_t rate = Line::kDefaultHostBaud;
  std::optional<uint32_t> listening;
  for (const Entry& e : entries) {
    if (e.kind == '<') {
      listening = rate;
      break;
    }
    rate = RateAfter(e, rate);
  }
  r.line.board_baud = listening.value_or(rate);

  rate = Line::kDefaultHostBaud;
  for (const Entry& e : entries) {
    rate = RateAfter(e, rate);
    if ((e.kind == '>' || e.kind == '<') && rate == r.line.board_baud)
      r.steps.push_back({e.kind == '>', e.byte});
  }
  SetCts(entries, r.line);
  recording = std::move(r);
  return true;
}

void Replay::SendDue(Output& out) {
  while (next_ < steps_.size() && !steps_[next_].from_host) out.bytes.push_back(steps_[next_++].byte);
}

void Replay::Receive(uint8_t byte, Output& out) {
  if (!failure_.empty()) return;
  SendDue(out);
  ++compared_;
  if (next_ == steps_.size()) return Diverge("end of recording", byte);
  if (steps_[next_].byte != byte) return Diverge(Hex(steps_[next_].byte), byte);
  ++next_;
  SendDue(out);
}

void Replay::HostClosed() {
  if (!failure_.empty()) return;
  const auto host = std::find_if(steps_.begin() + static_cast<long>(next_), steps_.end(),
                                 [](const Recording::Step& s) { return s.from_host; });
  if (host != steps_.end())
    failure_ = "replay diverged: host closed at host byte " + std::to_string(compared_ + 1) +
               ", expected " + Hex(host->byte);
}

void Replay::Diverge(const std::string& expected, uint8_t received) {
  failure_ = "replay diverged at host byte " + std::to_string(compared_) + ": expected " + expected +
             ", received " + Hex(received);
}

}  // namespace vk::sim
