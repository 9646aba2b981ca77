// A serial line in memory for the link's tests: the far end is a script.
// Bytes written are recorded and may make a reply readable; a read takes
// what waits and, when nothing does, reports the time-out it waited out
// (to a fake clock, when one listens); every line operation is recorded and
// any can be made to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/backend.h"
#include "link/link.h"

namespace vktest {

enum class LineOp { Open, Prepare, ReadSettings, WriteSettings, Purge, SetRts, ReadCts, Write, Read };

struct ScriptedLine {
  // The far end.
  std::map<uint8_t, std::vector<uint8_t>> replies;  // a byte written makes these readable
  std::vector<uint8_t> input;                       // readable now
  bool cts = false;
  std::map<LineOp, int> errors;  // the error code an operation fails with
  vk::link::PrepareStep failing_step = vk::link::PrepareStep::Purge;
  std::function<void(int ms)> waited;  // told each read time-out that ran out

  // What the link did.
  std::vector<std::string> opened;  // the names it asked for
  std::vector<uint8_t> written;
  std::vector<vk::link::LineState> settings;  // each WriteSettings
  std::vector<bool> rts;
  int purges = 0;
  int timeouts = 0;  // reads that ran out of bytes

  // Hands the link this line, whatever name it opens.
  vk::link::BackendOpener Opener();
};

class ScriptedPort : public vk::link::PortBackend {
 public:
  explicit ScriptedPort(ScriptedLine& line) : line_(line) {}

  int Prepare(vk::link::PrepareStep& failed) override {
    failed = line_.failing_step;
    return Error(LineOp::Prepare);
  }
  int Purge() override {
    ++line_.purges;
    line_.input.clear();
    return Error(LineOp::Purge);
  }
  int ReadSettings(vk::link::LineState& state) override {
    if (!line_.settings.empty()) state = line_.settings.back();
    return Error(LineOp::ReadSettings);
  }
  int WriteSettings(const vk::link::LineState& state) override {
    if (int e = Error(LineOp::WriteSettings)) return e;
    line_.settings.push_back(state);
    return 0;
  }
  int SetRts(bool on) override {
    if (int e = Error(LineOp::SetRts)) return e;
    line_.rts.push_back(on);
    return 0;
  }
  int ReadCts(bool& on) override {
    on = line_.cts;
    return Error(LineOp::ReadCts);
  }
  int Write(const uint8_t* data, size_t n) override {
    if (int e = Error(LineOp::Write)) return e;
    for (size_t i = 0; i < n; ++i) {
      line_.written.push_back(data[i]);
      if (auto reply = line_.replies.find(data[i]); reply != line_.replies.end())
        line_.input.insert(line_.input.end(), reply->second.begin(), reply->second.end());
    }
    return 0;
  }
  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    got = std::min(n, line_.input.size());
    std::memcpy(data, line_.input.data(), got);
    line_.input.erase(line_.input.begin(), line_.input.begin() + static_cast<long>(got));
    if (got < n) {
      ++line_.timeouts;
      if (line_.waited) line_.waited(timeout_ms);
    }
    return Error(LineOp::Read);
  }
  bool InputPending() override { return !line_.input.empty(); }

 private:
  int Error(LineOp op) const {
    const auto e = line_.errors.find(op);
    return e == line_.errors.end() ? 0 : e->second;
  }

  ScriptedLine& line_;
};

inline vk::link::BackendOpener ScriptedLine::Opener() {
  return [this](const std::string& name, vk::link::OpenError& error) -> std::unique_ptr<vk::link::PortBackend> {
    opened.push_back(name);
    if (const auto e = errors.find(LineOp::Open); e != errors.end()) {
      error.code = e->second;
      return nullptr;
    }
    return std::make_unique<ScriptedPort>(*this);
  };
}

}  // namespace vktest
