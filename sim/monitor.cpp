// The target monitor's state machine and its commands.
//
// A session opened with the sync byte 0x7F: every byte the host sends is
// echoed (the closing byte 0x0C excepted). A command byte is followed by its
// parameter bytes; after the last one the board sends the checksum (sum
// modulo 256 of the command byte and the parameter bytes) and then the
// command's results. StartProgram with the name AB on the wire:
//
//   host 05  board 05 | host 41  board 41 | host 42  board 42 |
//   host 00  board 00 | board 88 (checksum) | board 01 (result)
//
// New commands go into kCommands below: a class deriving from Command that
// collects its parameters and computes its results from the flash.
#include "sim/monitor.h"

#include "sim/commands.h"

#include <algorithm>
#include <iterator>

namespace vk::sim {
namespace {

// 4: closes the session; the board then waits for the closing byte.
class EndSession final : public Command {
 public:
  bool Complete() const override { return true; }
  void Param(uint8_t) override {}
  Reply Finish(FlashFs&) override {
    Reply r;
    r.results.push_back({{1}, false});
    r.ends_session = true;
    return r;
  }
};

// 5: starts a program from the flash by its name.
// Result: 0 no such file, 1 started, 2 the file is not a program.
class StartProgram final : public Command {
 public:
  bool Complete() const override { return name_.Complete(); }
  void Param(uint8_t byte) override { name_.Add(byte); }
  Reply Finish(FlashFs& flash) override {
    Reply r;
    const Program* p = flash.Find(name_.name());
    uint8_t result = 0;
    if (p != nullptr && p->type != FlashFs::kTypeProgram) {
      result = 2;
    } else if (p != nullptr) {
      result = 1;
      r.started.push_back(p->name);
    }
    r.results.push_back({{result}, false});
    return r;
  }

 private:
  NameParam name_;
};

template <typename T>
std::unique_ptr<Command> Make() {
  return std::make_unique<T>();
}

// Any other byte is echoed and answered with nothing more.
constexpr CommandEntry kCommands[] = {
    {0, "StartDownload", &MakeStartDownload},
    {1, "LoadStartAddress", &MakeLoadStartAddress},
    {2, "LoadData", &MakeLoadData},
    {3, "EndDownload", &MakeEndDownload},
    {4, "EndSession", &Make<EndSession>},
    {5, "StartProgram", &Make<StartProgram>},
    {6, "RenameProgram", &MakeRenameProgram},
    {7, "DeleteProgram", &MakeDeleteProgram},
    {8, "ListDirectory", &MakeListDirectory},
    {9, "FormatFlash", &MakeFormatFlash},
    {10, "CheckFlash", &MakeCheckFlash},
};

}  // namespace

const CommandEntry* FindCommand(uint8_t code) {
  const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [code](const CommandEntry& e) { return e.code == code; });
  return it == std::end(kCommands) ? nullptr : it;
}

void Monitor::Reset() {
  state_ = State::WaitSync;
  command_.reset();
}

void Monitor::Receive(uint8_t byte, Output& out) {
  switch (state_) {
    case State::Off:
      return;
    case State::Ram: {
      ++received_;
      std::vector<uint8_t> reply;
      const bool over = ram_.Receive(byte, reply, out.events);
      for (uint8_t b : reply) Send(b, out);
      // After the closing byte the loaded program runs; the monitor is
      // back only after the next reset (RTS pulse).
      if (over) state_ = State::Off;
      return;
    }
    case State::WaitSync:
      if (byte != kSync && byte != kRamSync) return;  // noise before the sync
      if (syncs_ignored_ < knobs_.sync_ignore) {
        ++syncs_ignored_;
        return;
      }
      if (byte == kRamSync) {
        OpenRamSession(out);
        return;
      }
      OpenSession(out);
      return;
    case State::Synced:
      if (byte == kSync) {  // the host may send more sync bytes than one
        Send(kSync, out);
        return;
      }
      ++received_;
      BeginCommand(byte, out);
      return;
    case State::Command:
      ++received_;
      BeginCommand(byte, out);
      return;
    case State::Params:
      ++received_;
      if (!command_->Accepts(byte)) {
        command_.reset();
        BeginCommand(byte, out);
        return;
      }
      Echo(byte, out);
      checksum_ = static_cast<uint8_t>(checksum_ + byte);
      command_->Param(byte);
      if (command_->Complete()) FinishCommand(out);
      return;
    case State::AwaitClose:
      ++received_;
      if (byte == kClose) state_ = State::WaitSync;
      return;
  }
}

// The RAM loader's session (sim/ram.h): the sync byte is echoed, then no
// byte is, and each message gets one checksum byte.
void Monitor::OpenRamSession(Output& out) {
  received_ = 0;
  if (knobs_.sync_junk) Send(kJunk, out);
  Send(kRamSync, out);
  for (int i = 0; i < knobs_.stale; ++i) Send(kStale, out);
  state_ = State::Ram;
  ram_.Begin();
  out.events.push_back("ram session");
}

void Monitor::OpenSession(Output& out) {
  received_ = 0;
  echoes_ = 0;
  first_command_ = true;
  if (knobs_.sync_junk) Send(kJunk, out);
  Send(kSync, out);
  for (int i = 0; i < knobs_.stale; ++i) Send(kStale, out);
  state_ = State::Synced;
}

void Monitor::BeginCommand(uint8_t byte, Output& out) {
  if (first_command_) {
    for (int i = 0; i < knobs_.fillers_7f; ++i) Send(kFiller7f, out);
    first_command_ = false;
  }
  ++echoes_;
  // A garbled command echo stands for a command byte that reached the board
  // garbled: the board serves the byte it echoed, which is no command.
  if (echoes_ == knobs_.echo_fault) byte ^= 0x80;
  Send(byte, out);
  const CommandEntry* entry = FindCommand(byte);
  if (entry == nullptr) {
    state_ = State::Command;
    return;
  }
  code_ = byte;
  checksum_ = byte;
  command_ = entry->make();
  command_->UseKnobs(knobs_);
  state_ = State::Params;
  if (command_->Complete()) FinishCommand(out);
}

void Monitor::FinishCommand(Output& out) {
  Reply reply = command_->Finish(flash_);
  command_.reset();
  const bool bad_sum = knobs_.checksum_fault.count(code_) != 0;
  if (reply.checksum_after_params) Send(static_cast<uint8_t>(checksum_ + (bad_sum ? 1 : 0)), out);
  const auto forced = knobs_.result_override.find(code_);
  const auto forced_late = knobs_.late_result_override.find(code_);
  const bool bad_reply_sum = knobs_.reply_checksum_fault.count(code_) != 0;
  bool first = true;
  bool first_late = true;
  for (const ResultPart& part : reply.results) {
    bool force_late = false;
    if (part.late) {
      for (int i = 0; i < part.busy + knobs_.fillers_ff; ++i) Send(kFillerFf, out);
      force_late = first_late && forced_late != knobs_.late_result_override.end();
      first_late = false;
    }
    for (uint8_t b : part.bytes) {
      if (first && forced != knobs_.result_override.end()) b = forced->second;
      if (force_late) b = forced_late->second;
      if (part.reply_checksum && bad_reply_sum) ++b;
      first = false;
      force_late = false;
      Send(b, out);
    }
  }
  for (const std::string& name : reply.started) {
    out.events.push_back("started " + name);
    out.started.push_back(name);
  }
  state_ = reply.ends_session ? State::AwaitClose : State::Command;
}

// A garbled parameter echo only garbles the byte on the line: the board
// keeps and sums the byte it received.
void Monitor::Echo(uint8_t byte, Output& out) {
  ++echoes_;
  Send(echoes_ == knobs_.echo_fault ? static_cast<uint8_t>(byte ^ 0x80) : byte, out);
}

bool Monitor::Silent() const {
  return knobs_.silent_after && received_ > 0 && received_ >= *knobs_.silent_after;
}

void Monitor::Send(uint8_t byte, Output& out) const {
  if (!Silent()) out.bytes.push_back(byte);
}

}  // namespace vk::sim
