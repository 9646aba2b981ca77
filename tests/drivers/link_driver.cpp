// Runs the serial routines of port.h from the command line, one command per
// argument group, printing one line per command. Tests run it as a child
// process because the routines end the process on failure.
//
//   open P BAUD     OpenPort(P, BAUD)                 -> "open ok"
//   baud N          SetBaudRate(N)                    -> "baud ok"
//   hs N            EnableAuto_RTS_CTS(N)             -> "hs ok"
//   rts N           SetRtsSignal(N)                   -> "rts ok"
//   cts             CTSSignalSet()                    -> "cts 0|1"
//   ctswait V MS    CTSSignalSet() until it is V      -> "ctswait V ok MS" | "ctswait V timeout"
//   tx HEX          Transmit() of each byte           -> "tx ok"
//   txb HEX         TransmitBlock() of the bytes      -> "txb ok"
//   txb0            TransmitBlock() with length 0     -> "txb0 ok"
//   rx N            ReceiveWait() N times             -> "rx HEX"
//   rxb N           ReceiveBlock() of N into EE bytes -> "rxb HEX ms=ELAPSED"
//   pending         RxPending()                       -> "pending 0|1 ms=ELAPSED"
//   pendwait MS     RxPending() until 1               -> "pendwait 0|1"
//   sleep MS        SleepMs(MS)                       -> "sleep ok"
//   exit N          ExitTool(N)
//   quit N          return N from main (no line restore)
// HEX is a string of hex digit pairs, e.g. 7fff00. Each line is flushed at
// once so a test sees progress even when a later command ends the process.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/port.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace vl = vk::link;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const std::string pair = text.substr(i, 2);
    char* end = nullptr;
    const long v = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    std::array<char, 4> cell{};
    std::snprintf(cell.data(), cell.size(), "%s%02x", out.empty() ? "" : " ", b);
    out += cell.data();
  }
  return out;
}

[[noreturn]] void Usage(const std::string& what) {
  std::printf("bad command: %s\n", what.c_str());
  std::exit(64);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  auto next = [&](const std::string& cmd) -> std::string {
    if (i >= args.size()) Usage(cmd + " needs an argument");
    return args[i++];
  };
  auto next_int = [&](const std::string& cmd) {
    const std::string s = next(cmd);
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0') Usage(cmd + " " + s);
    return static_cast<int>(v);
  };

  while (i < args.size()) {
    const std::string cmd = args[i++];
    if (cmd == "open") {
      const int port = next_int(cmd);
      const int baud = next_int(cmd);
      vl::OpenPort(port, baud);
      std::printf("open ok\n");
    } else if (cmd == "baud") {
      vl::SetBaudRate(next_int(cmd));
      std::printf("baud ok\n");
    } else if (cmd == "hs") {
      vl::EnableAuto_RTS_CTS(next_int(cmd));
      std::printf("hs ok\n");
    } else if (cmd == "rts") {
      vl::SetRtsSignal(next_int(cmd));
      std::printf("rts ok\n");
    } else if (cmd == "cts") {
      std::printf("cts %d\n", vl::CTSSignalSet());
    } else if (cmd == "ctswait") {
      const int want = next_int(cmd);
      const int limit = next_int(cmd);
      const auto start = Clock::now();
      bool seen = false;
      while (!(seen = vl::CTSSignalSet() == want) && MsSince(start) < limit) vl::SleepMs(5);
      if (seen)
        std::printf("ctswait %d ok %ld\n", want, MsSince(start));
      else
        std::printf("ctswait %d timeout\n", want);
    } else if (cmd == "tx" || cmd == "txb") {
      std::vector<uint8_t> bytes;
      const std::string hex = next(cmd);
      if (!ParseHex(hex, bytes)) Usage(cmd + " " + hex);
      if (cmd == "tx") {
        for (uint8_t b : bytes) vl::Transmit(b);
      } else {
        vl::TransmitBlock(bytes.data(), static_cast<int>(bytes.size()));
      }
      std::printf("%s ok\n", cmd.c_str());
    } else if (cmd == "txb0") {
      const std::vector<uint8_t> bytes = {0x11, 0x22};
      vl::TransmitBlock(bytes.data(), 0);
      std::printf("txb0 ok\n");
    } else if (cmd == "rx") {
      const int n = next_int(cmd);
      std::vector<uint8_t> got;
      for (int k = 0; k < n; ++k) got.push_back(static_cast<uint8_t>(vl::ReceiveWait()));
      std::printf("rx %s\n", Hex(got).c_str());
    } else if (cmd == "rxb") {
      const int n = next_int(cmd);
      std::vector<uint8_t> buffer(static_cast<size_t>(n > 0 ? n : 0), 0xEE);
      const auto start = Clock::now();
      vl::ReceiveBlock(buffer.data(), n);
      std::printf("rxb %s ms=%ld\n", Hex(buffer).c_str(), MsSince(start));
    } else if (cmd == "pending") {
      const auto start = Clock::now();
      const int p = vl::RxPending();
      std::printf("pending %d ms=%ld\n", p, MsSince(start));
    } else if (cmd == "pendwait") {
      const int limit = next_int(cmd);
      const auto start = Clock::now();
      int p = 0;
      while ((p = vl::RxPending()) == 0 && MsSince(start) < limit) vl::SleepMs(5);
      std::printf("pendwait %d\n", p);
    } else if (cmd == "sleep") {
      vl::SleepMs(next_int(cmd));
      std::printf("sleep ok\n");
    } else if (cmd == "exit") {
      std::fflush(stdout);
      vl::ExitTool(next_int(cmd));
    } else if (cmd == "quit") {
      return next_int(cmd);
    } else {
      Usage(cmd);
    }
    std::fflush(stdout);
  }
  return 0;
}
