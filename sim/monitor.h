// The target monitor: the program resident on the board that answers the
// host tools. It is fed the bytes that reach the board one at a time and
// hands back the bytes the board sends, so it knows nothing of sockets or
// time. Commands are objects made from a dispatch table (monitor.cpp).
//
// States: off until the first RTS pulse; waiting for a sync byte; in a
// session opened with 0x7F (commands echoed, checksum, results); waiting for
// the closing byte 0x0C after EndSession; in a RAM-loader session opened
// with 0x0F.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/flash.h"
#include "sim/ram.h"

namespace vk::sim {

// Faults the board can be told to make, for testing the host's error paths.
struct Knobs {
  int fillers_7f = 0;                   // 0x7F bytes before the first command echo of a session
  int fillers_ff = 0;                   // 0xFF bytes before every late result
  int echo_fault = 0;                   // this echo of a session (1 = first) goes out XOR 0x80; 0 = none
  std::set<uint8_t> checksum_fault;     // commands whose checksum byte goes out one too high
  std::map<uint8_t, uint8_t> result_override;  // command -> value of its first result byte
  std::optional<int> silent_after;      // no answer to the N-th and later bytes of a session
  int stale = 0;                        // 0x55 bytes right after the first sync echo
  bool sync_junk = false;               // one 0x00 before the first sync echo
  int sync_ignore = 0;                  // sync bytes of a connection that are not answered
  // The flash file commands (commands_fs.cpp).
  std::map<uint8_t, uint8_t> late_result_override;  // command -> value of its first late result byte
  std::set<uint8_t> reply_checksum_fault;  // commands whose checksum over their reply goes out one too high
  std::set<uint8_t> work_fault;         // commands whose work on the flash fails (7 delete, 9 format)
  std::string autoboot;                 // the program the directory names as starting automatically
  uint8_t autostart_status = 0;         // the check's verdict on the autostart descriptor (0 sound)
  std::vector<std::string> corrupt;     // names the check reports with a checksum error
  std::vector<Program> odd_entries;     // directory entries beyond the file system's limits
  RamKnobs ram;                         // the RAM-loader session (sim/ram.h)
};

// What the board does in answer to one byte.
struct Output {
  std::vector<uint8_t> bytes;         // to the host, in order
  std::vector<std::string> events;    // trace events ("started AB")
  std::vector<std::string> started;   // names of programs started
};

// What answers at the board's end of the line: the target monitor below,
// or a recorded session played back (sim/replay.h).
class Board {
 public:
  virtual ~Board() = default;
  // The RTS pulse; `out` takes what the board sends as it comes up.
  virtual void Reset(Output& out) = 0;
  // One byte has reached the board.
  virtual void Receive(uint8_t byte, Output& out) = 0;
  // The host has closed the connection.
  virtual void HostClosed() {}
  // Why the connection has to end in error; empty while all is well.
  virtual std::string Failure() const { return {}; }
};

// Result bytes of a command. A late result comes after work on the flash;
// the board may send 0xFF fillers before it while busy.
struct ResultPart {
  std::vector<uint8_t> bytes;
  bool late = false;
  int busy = 0;  // 0xFF fillers the work itself takes, before the knob's
  bool reply_checksum = false;  // the board's checksum over its reply (one byte)
};

struct Reply {
  std::vector<ResultPart> results;
  std::vector<std::string> started;
  bool ends_session = false;  // the board then waits for the closing byte
  // False when the command's checksum comes at the end of its results
  // instead of right after the parameters.
  bool checksum_after_params = true;
};

// One command exchange in progress: takes the parameter bytes the host
// sends after the command byte, then produces the results.
class Command {
 public:
  virtual ~Command() = default;
  // True once the command has all its parameters (at once for commands
  // without any).
  virtual bool Complete() const = 0;
  virtual void Param(uint8_t byte) = 0;
  virtual Reply Finish(FlashFs& flash) = 0;
  // The board's settings, given before the first parameter, for commands
  // whose answers depend on them.
  virtual void UseKnobs(const Knobs&) {}
  // False for a parameter byte the command cannot take: the board drops
  // the command and serves that byte as the next command byte.
  virtual bool Accepts(uint8_t) const { return true; }
};

struct CommandEntry {
  uint8_t code;
  const char* name;
  std::unique_ptr<Command> (*make)();
};

// The command dispatch table; nullptr for a byte that is no known command.
const CommandEntry* FindCommand(uint8_t code);

class Monitor final : public Board {
 public:
  static constexpr uint8_t kSync = 0x7F;
  static constexpr uint8_t kRamSync = 0x0F;
  static constexpr uint8_t kClose = 0x0C;
  static constexpr uint8_t kFiller7f = 0x7F;
  static constexpr uint8_t kFillerFf = 0xFF;
  static constexpr uint8_t kStale = 0x55;
  static constexpr uint8_t kJunk = 0x00;

  enum class State { Off, WaitSync, Synced, Command, Params, AwaitClose, Ram };

  Monitor(FlashFs& flash, const Knobs& knobs) : flash_(flash), knobs_(knobs) {}

  // The RTS pulse: back to waiting for the sync byte.
  void Reset();
  void Reset(Output&) override { Reset(); }
  // One byte has reached the board.
  void Receive(uint8_t byte, Output& out) override;

  State state() const { return state_; }
  const RamLoader& ram() const { return ram_; }

 private:
  void OpenSession(Output& out);
  void OpenRamSession(Output& out);
  void BeginCommand(uint8_t byte, Output& out);
  void FinishCommand(Output& out);
  void Send(uint8_t byte, Output& out) const;
  void Echo(uint8_t byte, Output& out);
  bool Silent() const;

  FlashFs& flash_;
  const Knobs& knobs_;
  State state_ = State::Off;
  RamLoader ram_{knobs_.ram};
  int syncs_ignored_ = 0;  // per connection

  // Per session (from the sync byte to the closing byte).
  int received_ = 0;  // bytes after the sync
  int echoes_ = 0;
  bool first_command_ = true;

  // The command in progress.
  uint8_t code_ = 0;
  uint8_t checksum_ = 0;
  std::unique_ptr<Command> command_;
};

}  // namespace vk::sim
