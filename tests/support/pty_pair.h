// A pseudo-terminal pair for the serial tests: the code under test opens the
// slave by its path, the test plays the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/backend.h"

namespace vktest {

using Bytes = std::vector<uint8_t>;

// One byte through a backend's Read, with the outcome spelled out.
enum class ReadResult { Byte, Timeout };
inline int ReadByte(vk::link::PortBackend& port, uint8_t& byte, int timeout_ms, ReadResult& result) {
  size_t got = 0;
  const int e = port.Read(&byte, 1, timeout_ms, got);
  result = got == 1 ? ReadResult::Byte : ReadResult::Timeout;
  return e;
}

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0)
      throw std::runtime_error("ptsname failed");
    slave_path_ = name.data();
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    CloseMaster();
    if (keeper_ >= 0) ::close(keeper_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // Holds the slave open without using it, so the pair does not hang up
  // between the runs of child processes.
  void KeepSlaveOpen() {
    if (keeper_ < 0) keeper_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Writes all of `bytes` to the master; false if they did not fit in time.
  bool Send(const Bytes& bytes) const {
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
      const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 20);
      }
    }
    return done == bytes.size();
  }

  // Reads from the master until `count` bytes came or `timeout_ms` passed.
  Bytes Receive(size_t count, int timeout_ms) const {
    Bytes out;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::array<uint8_t, 4096> buf{};
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) continue;
      const ssize_t r = ::read(master_, buf.data(), std::min(buf.size(), count - out.size()));
      if (r > 0) out.insert(out.end(), buf.begin(), buf.begin() + r);
    }
    return out;
  }

 private:
  int master_ = -1;
  int keeper_ = -1;
  std::string slave_path_;
};

}  // namespace vktest
