// The board's side of the RAM loader: a session opened with the sync byte
// 0x0F. Nothing is echoed; every message is answered with one checksum
// byte, the sum modulo 256 of all its bytes.
//
//   data message   00 LL LL 01 AA AA AA AA  W W W W ...   LL LL = length of
//                  the whole message; the words are written to RAM from
//                  word address AAAAAAAA on          <- checksum
//   start message  05 AA AA AA AA                       <- checksum
//                  then the closing byte 05: the board starts the program
//                  at AAAAAAAA and the monitor is gone until the next reset
//
// Example: 00 00 0C 01 00 00 08 00 11 22 33 44 <- BF puts 0x11223344 at
// 0x800; 05 00 80 9C 00 <- 21, then 05, starts at 0x00809C00.
//
// A 0x0F between messages is a further sync byte and is echoed. The image
// lives for the connection; it can be written to a file (WriteDump) so
// tests can compare it with the program loaded.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vk::sim {

struct RamKnobs {
  std::set<int> checksum_fault;  // messages of a session (1 = first) whose reply goes out one too high
  std::string dump_path;         // where the image is written when a session ends; empty = nowhere
};

class RamLoader {
 public:
  static constexpr uint8_t kSync = 0x0F;
  static constexpr uint8_t kData = 0x00;
  static constexpr uint8_t kStart = 0x05;
  static constexpr uint8_t kClosing = 0x05;
  static constexpr uint8_t kBlockData = 0x01;

  explicit RamLoader(const RamKnobs& knobs) : knobs_(knobs) {}
  // Writes the dump when the connection ends in the middle of a session.
  ~RamLoader();
  RamLoader(const RamLoader&) = delete;
  RamLoader& operator=(const RamLoader&) = delete;

  // A session opened with the sync byte.
  void Begin();
  // One byte from the host. Bytes for the host go to `reply`, trace events
  // to `events`. True once the session is over (the closing byte came).
  bool Receive(uint8_t byte, std::vector<uint8_t>& reply, std::vector<std::string>& events);

  // Word address -> word, everything written in this connection.
  const std::map<uint32_t, uint32_t>& image() const { return image_; }
  // The entry address of the start message, once the program was started.
  std::optional<uint32_t> started_at() const { return started_at_; }

  // The dump file: "# ..." comment lines, "entry AAAAAAAA" (or "entry
  // none"), then "AAAAAAAA WWWWWWWW" per word in address order, hexadecimal.
  std::string DumpText() const;

 private:
  enum class Stage { Idle, DataLength, DataBody, StartAddress, Closing, Over };

  void FinishMessage(std::vector<uint8_t>& reply, std::vector<std::string>& events);
  void WriteDump();

  const RamKnobs& knobs_;
  Stage stage_ = Stage::Over;
  std::vector<uint8_t> message_;  // the message being received
  size_t expected_ = 0;           // its length, once known
  int messages_ = 0;              // messages of this session
  uint32_t entry_ = 0;            // address of the start message
  std::optional<uint32_t> started_at_;
  std::map<uint32_t, uint32_t> image_;
  bool dump_pending_ = false;
};

}  // namespace vk::sim
