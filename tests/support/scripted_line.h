// A serial line in memory for the link's tests, whose far end is a script:
// a byte written may make a reply readable, a read takes what waits and,
// when nothing does, tells `waited` the time-out it waited out (a fake
// clock listens there); every line operation is recorded, and any can be
// made to fail with an error code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/backend.h"
#include "link/link.h"

namespace vktest {

enum class LineOp { ReadSettings, WriteSettings, Purge, SetRts, ReadCts, Write, Read };

struct ScriptedLine {
  std::map<uint8_t, std::vector<uint8_t>> replies;  // the far end
  std::vector<uint8_t> input;                       // readable now
  bool cts = false;
  std::map<LineOp, int> errors;
  std::function<void(int ms)> waited;

  std::vector<std::string> opened;  // what the link did
  std::vector<uint8_t> written;
  std::vector<vk::link::LineState> settings;
  std::vector<bool> rts;
  int purges = 0;

  // Hands the link this line, whatever name it opens.
  vk::link::BackendOpener Opener();
};

class ScriptedPort : public vk::link::PortBackend {
 public:
  explicit ScriptedPort(ScriptedLine& line) : line_(line) {}

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
    if (!Error(LineOp::WriteSettings)) line_.settings.push_back(state);
    return Error(LineOp::WriteSettings);
  }
  int SetRts(bool on) override {
    if (!Error(LineOp::SetRts)) line_.rts.push_back(on);
    return Error(LineOp::SetRts);
  }
  int ReadCts(bool& on) override {
    on = line_.cts;
    return Error(LineOp::ReadCts);
  }
  int Write(const uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n && !Error(LineOp::Write); ++i) {
      line_.written.push_back(data[i]);
      const auto reply = line_.replies.find(data[i]);
      if (reply != line_.replies.end())
        line_.input.insert(line_.input.end(), reply->second.begin(), reply->second.end());
    }
    return Error(LineOp::Write);
  }
  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    got = std::min(n, line_.input.size());
    std::copy_n(line_.input.begin(), got, data);
    line_.input.erase(line_.input.begin(), line_.input.begin() + static_cast<long>(got));
    if (got < n && line_.waited) line_.waited(timeout_ms);
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
  return [this](const std::string& name, vk::link::OpenError&) -> std::unique_ptr<vk::link::PortBackend> {
    opened.push_back(name);
    return std::make_unique<ScriptedPort>(*this);
  };
}

}  // namespace vktest
