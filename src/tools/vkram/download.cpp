#include "download.h"

#include <cstdio>

#include "fourlane/message.h"
#include "fourlane/source.h"
#include "frame/exchange.h"
#include "frame/messages.h"
#include "wire/bytes.h"
#include "link/ending.h"

namespace vk::vkram {
namespace {

[[noreturn]] void Fail() { link::EndRun(link::kExitFailure, link::Leave::ExitTool); }

[[noreturn]] void ChecksumError() {
  frame::PrintTargetChecksumError("\n", "");
  Fail();
}

// The message's bytes back to back, as one write: the line carries them
// exactly as byte-by-byte transmits would, without a system call per byte.
void SendAll(link::Link& link, const std::vector<uint8_t>& message) {
  link.TransmitBytes(message.data(), static_cast<int>(message.size()));
}

}  // namespace

bool DownloadRecord(link::Link& link, fourlane::LaneFiles& files, Download& download) {
  fourlane::LoadRecord record;
  const fourlane::ReadStatus status = fourlane::ReadLoadRecord(files, record);
  if (status == fourlane::ReadStatus::Error) Fail();
  if (status == fourlane::ReadStatus::End) return false;
  download.address = record.address;

  if (record.kind == fourlane::LoadRecord::Kind::Termination) {
    fourlane::BuildAddressMessage(kCmdStart, record.address, download.message);
    const uint8_t checksum = wire::Sum8(download.message);
    SendAll(link, download.message);
    const uint8_t reply = frame::ReceiveByte(link);
    link.Transmit(kClosingByte);
    // The program now runs: hand the line back.
    link.EnableAuto_RTS_CTS(0);
    link.SetRtsSignal(0);
    if (reply != checksum) ChecksumError();
    download.started = true;
    return false;
  }

  fourlane::BuildDataMessage(kCmdData, record, download.message);
  fourlane::ShowProgress(record.address);
  SendAll(link, download.message);
  if (frame::ReceiveByte(link) != wire::Sum8(download.message)) ChecksumError();
  download.bytes += download.message.size();
  return true;
}

void DownloadProgram(link::Link& link, fourlane::LaneFiles& files, Download& download) {
  while (DownloadRecord(link, files, download)) {
  }
  fourlane::PrintBytesLoaded(download.bytes);
}

}  // namespace vk::vkram
