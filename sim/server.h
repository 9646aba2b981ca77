// The network side of the simulator: a TCP listener on 127.0.0.1 and a
// single-threaded poll() loop serving one client connection at a time,
// over RFC 2217 or, with an adapter, over USB/IP. A
// second client while one is connected is closed at once, as by a serial
// server whose port is busy. Every wait is bounded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/adapters.h"
#include "sim/flash.h"
#include "sim/line.h"
#include "sim/monitor.h"
#include "sim/replay.h"
#include "sim/trace.h"

namespace vk::sim {

struct ServerConfig {
  uint16_t port = 0;          // 0: any free port
  bool once = false;          // end after the first client has gone
  int idle_timeout_s = 0;     // end after this long without a client; 0: never
  std::string flash_path;     // where the flash is saved after a change; empty: nowhere
  LineConfig line;
  Knobs knobs;
  std::optional<Recording> replay;  // played back instead of the board's monitor
  // Serve the board as this USB serial adapter over USB/IP instead of over RFC 2217.
  std::optional<AdapterConfig> adapter;
};

// The exit code when the host strayed from the recording played back.
constexpr int kExitReplayDiverged = 3;

class Server {
 public:
  Server(const ServerConfig& config, FlashFs& flash, Trace& trace);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; port() then gives the port.
  bool Listen(std::string& error);
  uint16_t port() const { return port_; }

  // Serves clients until --once or the idle time-out ends it, or SIGINT or
  // SIGTERM arrives, or the board fails the connection (a replay that
  // diverged). Returns the exit code.
  int Run();

 private:
  class Client;

  void Accept();
  void SaveFlash();

  const ServerConfig& config_;
  FlashFs& flash_;
  Trace& trace_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  uint64_t saved_generation_ = 0;
  std::unique_ptr<Client> client_;
};

}  // namespace vk::sim
