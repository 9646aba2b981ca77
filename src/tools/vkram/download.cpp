#include "download.h"

#include <unistd.h>

#include <cstdio>

#include "fourlane/message.h"
#include "frame/exchange.h"
#include "link/port.h"

namespace vkram {
namespace {

constexpr int kFailure = 2;

[[noreturn]] void ChecksumError() {
  std::printf("\nTARGET COMMUNICATION CHECKSUM ERROR");
  vk::link::ExitTool(kFailure);
}

// The reader's abort: no closing exchange in this program.
void AbortOnReaderError() { vk::link::ExitTool(kFailure); }

void ShowProgress(uint32_t address) {
  std::printf("\rWriting Target Address: %08lX(HEX)", static_cast<unsigned long>(address));
  // A live progress line on a terminal; into a pipe or file it needs no
  // flush of its own.
  static const bool interactive = isatty(STDOUT_FILENO) != 0;
  if (interactive) std::fflush(stdout);
}

// The message's bytes back to back, as one write: the line carries them
// exactly as byte-by-byte transmits would, without a system call per byte.
void SendAll(const std::vector<uint8_t>& message) {
  vk::link::TransmitBytes(message.data(), static_cast<int>(message.size()));
}

}  // namespace

int DownloadRecord(vk::fourlane::LaneFiles& files, Download& download) {
  vk::fourlane::LoadRecord record;
  if (!vk::fourlane::ReadLoadRecord(files, record, AbortOnReaderError)) return kInputEnded;
  download.address = record.address;

  if (record.kind == vk::fourlane::LoadRecord::Kind::Termination) {
    vk::fourlane::BuildAddressMessage(kCmdStart, record.address, download.message);
    const uint8_t checksum = vk::fourlane::Checksum(download.message);
    SendAll(download.message);
    const uint8_t reply = vk::frame::ReceiveByte();
    vk::link::Transmit(kClosingByte);
    // The program now runs: hand the line back.
    vk::link::EnableAuto_RTS_CTS(0);
    vk::link::SetRtsSignal(0);
    if (reply != checksum) ChecksumError();
    download.started = true;
    return kInputEnded;
  }

  vk::fourlane::BuildDataMessage(kCmdData, record, download.message);
  ShowProgress(record.address);
  SendAll(download.message);
  if (vk::frame::ReceiveByte() != vk::fourlane::Checksum(download.message)) ChecksumError();
  return static_cast<int>(download.message.size());
}

void DownloadProgram(vk::fourlane::LaneFiles& files, Download& download) {
  for (;;) {
    const int sent = DownloadRecord(files, download);
    if (sent == kInputEnded) break;
    download.bytes += static_cast<unsigned long>(sent);
  }
  // The count shown includes the four bytes of the start address.
  std::printf("\n%lu   %lX(HEX) Bytes Loaded\n", download.bytes + 4, download.bytes + 4);
}

}  // namespace vkram
