// One of the programs run against a simulator of its own: a copy of the
// program in a temporary directory (its settings file lands there), COM1
// mapped to the simulator, the simulator's trace, its RAM image and, when
// given, its flash file in the same directory. Below it, the runner of the
// utilities' case tables.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace vktest {

// One data record of a program for the loaders: load address and words.
struct Block {
  uint32_t address;
  std::vector<uint32_t> words;
};

inline std::string Hex(unsigned value, int digits) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%0*X", digits, value);
  return text.data();
}

// A record line: block length, type, checksum, address length, address, data.
inline std::string LaneLine(char type, uint32_t address, const std::string& data) {
  const std::string body = type + std::string("008") + Hex(address, 8) + data;
  return "%" + Hex(static_cast<unsigned>(body.size() + 2), 2) + body;
}

// Writes the lane files BASE.X0 .. BASE.X3 (BASE a path): a data record per
// block and, when `entry` is given, the termination record, each line ending
// in `eol`. The checksum field, which the reader does not check, is 00.
inline void WriteLanes(const std::string& base, const std::vector<Block>& blocks, std::optional<uint32_t> entry,
                       const std::string& eol = "\n") {
  for (int lane = 0; lane < 4; ++lane) {
    std::string text;
    for (const Block& b : blocks) {
      std::string data;
      for (uint32_t w : b.words) data += Hex((w >> (8 * lane)) & 0xFF, 2);
      text += LaneLine('6', b.address, data) + eol;
    }
    if (entry) text += LaneLine('8', *entry, "") + eol;
    WriteFile(base + ".X" + std::to_string(lane), text);
  }
}

class ToolRig {
 public:
  // `flash`: the simulator's flash file, one file per line; empty for none.
  ToolRig(const std::string& tool, std::vector<std::string> sim_options, const std::string& flash = "")
      : sim_(Options(std::move(sim_options), flash)), tool_(dir_.File(tool)), ram_loader_(tool == "vkram") {
    CopyExecutable(BinDir() + "/" + tool, tool_);
  }

  // `env` adds to or replaces the tool's environment (ToolEnv).
  RunResult Run(std::vector<std::string> args, const std::string& input = "", int timeout_ms = 20000,
                const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), tool_);
    auto full_env = ToolEnv(sim_.Url());
    for (const auto& [key, value] : env) full_env[key] = value;
    return RunProgram(args, full_env, dir_.path(), input, timeout_ms);
  }

  // Waits (bounded) until the simulator has seen a connection end, so its
  // trace and RAM image are complete.
  void AwaitDisconnect() const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Connected() && Trace().find("# disconnect") == std::string::npos &&
           std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Host-to-board and board-to-host bytes after the connection's sync bytes.
  std::vector<int> Sent() const { return AfterSync(TraceBytes(Trace(), '>')); }
  std::vector<int> Received() const { return AfterSync(TraceBytes(Trace(), '<')); }
  std::string Trace() const { return ReadFile(dir_.File("trace.txt")); }
  bool Connected() const { return Trace().find("# connect") != std::string::npos; }
  // The simulator's flash file as it saved it last, comments dropped.
  std::string Flash() const {
    std::string kept;
    const std::string text = ReadFile(dir_.File("flash.txt"));
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      end = end == std::string::npos ? text.size() : end + 1;
      if (text[at] != '#') kept += text.substr(at, end - at);
      at = end;
    }
    return kept;
  }
  const TempDir& dir() const { return dir_; }
  const std::string& tool() const { return tool_; }
  std::string Url() const { return sim_.Url(); }
  SimProcess& sim() { return sim_; }
  std::string SettingsFile() const { return tool_ + ".SET"; }

 private:
  std::vector<std::string> Options(std::vector<std::string> options, const std::string& flash) {
    if (!flash.empty()) {
      WriteFile(dir_.File("flash.txt"), flash);
      options.insert(options.end(), {"--flash", dir_.File("flash.txt")});
    }
    options.insert(options.end(), {"--trace", dir_.File("trace.txt"), "--ram-dump", dir_.File("ram.txt")});
    return options;
  }

  // Without the answered try's sync bytes: the RAM loader's 0F pair, or
  // every leading 7F (the other programs' pair and the fillers after it).
  std::vector<int> AfterSync(std::vector<int> bytes) const {
    size_t i = 0;
    while (i < bytes.size() && (ram_loader_ ? i < 2 && bytes[i] == 0x0F : bytes[i] == 0x7F)) ++i;
    return {bytes.begin() + static_cast<long>(i), bytes.end()};
  }

  TempDir dir_;  // first: the simulator's files live in it
  SimProcess sim_;
  std::string tool_;
  bool ram_loader_;
};

// One run of a utility and what it must give.
struct ToolCase {
  const char* title = "";
  std::vector<std::string> sim = {};   // the simulator's options
  std::vector<std::string> args = {};  // the tool's
  std::string out = "";                // standard output, exactly
  int exit_code = 0;
  std::vector<int> sent = {};  // host to board after the sync; none: no connection at all
  std::optional<std::string> flash_after = std::nullopt;  // the flash file afterwards, when checked
  std::string input = "";                                 // standard input
};

inline void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.title; }

// Runs `tool` as the case says against a simulator whose flash file holds
// `flash`, and checks all of it. The settings file, new at the start, holds
// COM1 and 115200 afterwards in every case: written before any check that
// refuses the run, and not rewritten when the board answered at once.
inline void CheckToolCase(const std::string& tool, const std::string& flash, const ToolCase& c) {
  ToolRig rig(tool, c.sim, flash);
  const RunResult r = rig.Run(c.args, c.input);
  ASSERT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(rig.Sent(), c.sent);
  if (c.sent.empty()) {
    EXPECT_FALSE(rig.Connected()) << "no connection at all";
  }
  if (c.flash_after) {
    EXPECT_EQ(rig.Flash(), *c.flash_after);
  }
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM1\nBAUD=115200\n");
}

}  // namespace vktest
