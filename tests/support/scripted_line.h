// A serial line in memory whose far end is a script: a byte written may make
// a reply readable; a read short of bytes waits out its time-out on a fake
// clock. RTS and CTS requests can be made to fail.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/backend.h"
#include "link/link.h"

namespace vktest {

struct ScriptedLine {
  std::map<uint8_t, std::vector<uint8_t>> replies{};         // the far end
  std::vector<uint8_t> input{};                              // readable now
  std::chrono::milliseconds elapsed{0};                      // the fake clock
  std::chrono::milliseconds cts_at = std::chrono::hours(1);  // CTS is on from then
  int rts_error = 0, cts_error = 0;

  std::vector<std::string> opened{};  // what the link did
  std::vector<uint8_t> written{};
  vk::link::LineState settings{};
  std::vector<bool> rts{};

  // Hands the link this line, whatever name it opens.
  vk::link::BackendOpener Opener() {
    return [this](const std::string& name, vk::link::OpenError&) -> std::unique_ptr<vk::link::PortBackend> {
      opened.push_back(name);
      return std::make_unique<Port>(*this);
    };
  }

 private:
  class Port : public vk::link::PortBackend {
   public:
    explicit Port(ScriptedLine& line) : line_(line) {}

    int Purge() override {
      line_.input.clear();
      return 0;
    }
    int ReadSettings(vk::link::LineState& state) override {
      state = line_.settings;
      return 0;
    }
    int WriteSettings(const vk::link::LineState& state) override {
      line_.settings = state;
      return 0;
    }
    int SetRts(bool on) override {
      if (!line_.rts_error) line_.rts.push_back(on);
      return line_.rts_error;
    }
    int ReadCts(bool& on) override {
      on = line_.elapsed >= line_.cts_at;
      return line_.cts_error;
    }
    int Write(const uint8_t* data, size_t n) override {
      for (size_t i = 0; i < n; ++i) {
        line_.written.push_back(data[i]);
        if (const auto reply = line_.replies.find(data[i]); reply != line_.replies.end())
          line_.input.insert(line_.input.end(), reply->second.begin(), reply->second.end());
      }
      return 0;
    }
    int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
      got = std::min(n, line_.input.size());
      std::copy_n(line_.input.begin(), got, data);
      line_.input.erase(line_.input.begin(), line_.input.begin() + static_cast<long>(got));
      if (got < n) line_.elapsed += std::chrono::milliseconds(timeout_ms);
      return 0;
    }
    bool InputPending() override { return !line_.input.empty(); }

   private:
    ScriptedLine& line_;
  };
};

}  // namespace vktest
