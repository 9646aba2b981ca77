#include "download.h"

#include <cstdio>
#include <vector>

#include "fourlane/message.h"
#include "fourlane/source.h"
#include "frame/exchange.h"
#include "wire/bytes.h"
#include "link/ending.h"

namespace vk::vkburn {
namespace {

using frame::Exchange;
using frame::ExchangeRules;
using frame::ReceiveByte;
using link::kExitFailure;
using link::Leave;

constexpr uint8_t kAccepted = 0x01;

// The descriptor and the closing exchange.
constexpr ExchangeRules kRules{.sum = frame::SumOf::Sent,
                               .wrong_echo = frame::WrongEcho::EndRun,
                               .echo_error = {.before = "\n", .after = "\n\n"},
                               .checksum_line_end = ""};
// The data and start-address messages.
constexpr ExchangeRules kMessageRules{.sum = frame::SumOf::Sent,
                                      .wrong_echo = frame::WrongEcho::EndRun,
                                      .echo_error = {.before = "\n\n", .after = "\n\n"},
                                      .checksum_line_end = ""};

[[noreturn]] void Fail() { link::EndRun(kExitFailure, Leave::EndSession); }

[[noreturn]] void Fail(const char* message) {
  std::printf("%s", message);
  Fail();
}

// Reads the checksum byte; a different one prints the checksum error
// between `before` and `after` and fails.
void ExpectChecksum(link::Link& link, uint8_t expected, const char* before, const char* after) {
  if (ReceiveByte(link) == expected) return;
  frame::PrintTargetChecksumError(before, after);
  Fail();
}

// Reads the result of a data or start-address message.
void ExpectAccepted(link::Link& link, const char* full_message) {
  const uint8_t result = ReceiveByte(link);
  if (result == kAccepted) return;
  if (result == 0) Fail(full_message);
  frame::PrintUnknownResult("\n\n", "\n\n");
  Fail();
}

// Sends a message byte by byte, each followed by its echo.
void SendEchoed(link::Link& link, const std::vector<uint8_t>& message) {
  Exchange exchange(link, kMessageRules);
  exchange.Command(message[0]);
  for (size_t i = 1; i < message.size(); ++i) exchange.Parameter(message[i]);
}

// Fast mode: the whole message out as one block, then its echoes as one
// block, compared position by position.
void SendBlock(link::Link& link, const std::vector<uint8_t>& message, std::vector<uint8_t>& echo) {
  const int length = static_cast<int>(message.size());
  // A place whose echo never arrives keeps what is put here, which differs
  // from the byte sent, so a missing echo is always reported.
  echo.resize(message.size());
  for (size_t i = 0; i < message.size(); ++i) echo[i] = static_cast<uint8_t>(~message[i]);
  link.TransmitBlock(message.data(), length);
  link.ReceiveBlock(echo.data(), length);
  for (size_t i = 0; i < message.size(); ++i) {
    if (echo[i] != message[i]) {
      frame::PrintEchoError({.before = "\n\n", .after = "\n\n", .break_after_colon = true}, message[i], echo[i]);
      Fail("Please Try Again With Security Option: \"VKBURN <NAME> -Ms\"\n\n");
    }
  }
}

void LoadData(link::Link& link, const fourlane::LoadRecord& record, Mode mode, std::vector<uint8_t>& message,
              std::vector<uint8_t>& echo) {
  fourlane::BuildDataMessage(kCmdLoadData, record, message);
  fourlane::ShowProgress(record.address);
  if (mode == Mode::Save) SendEchoed(link, message);
  else SendBlock(link, message, echo);
  ExpectChecksum(link, wire::Sum8(message), "\n\n", "\n\n");
  ExpectAccepted(link, "\nTarget Flash Memory Full\n");
}

void LoadStartAddress(link::Link& link, uint32_t address, std::vector<uint8_t>& message) {
  fourlane::BuildAddressMessage(kCmdLoadStartAddress, address, message);
  SendEchoed(link, message);
  ExpectChecksum(link, wire::Sum8(message), "\n\n", "\n\n");
  ExpectAccepted(link, "\n\nERROR: PROGRAM START ADDRESS WAS NOT CORRECTLY\n\n");
}

}  // namespace

void StartDownload(link::Link& link, const std::string& name, const fourlane::FileDate& date) {
  Exchange exchange(link, kRules);
  exchange.Command(kCmdStartDownload);
  exchange.Text(name);
  for (int value : {date.day, date.month, date.year, date.hour, date.minute, date.second})
    exchange.Parameter(static_cast<uint8_t>(value));
  exchange.Parameter(kFileTypeProgram);
  ExpectChecksum(link, exchange.sum(), "\n", "");
  const uint8_t result = ReceiveByte(link);
  if (result == kAccepted) return;
  if (result == 0) {
    std::printf("Filename %s Already Exists On Target\n", name.c_str());
    Fail();
  }
  frame::PrintUnknownResult("\n", "\n\n");
  Fail();
}

uint32_t DownloadRecords(link::Link& link, fourlane::LaneFiles& files, Mode mode) {
  unsigned long total = 0;
  uint32_t address = 0;
  fourlane::LoadRecord record;
  std::vector<uint8_t> message;
  std::vector<uint8_t> echo;
  for (;;) {
    const fourlane::ReadStatus status = fourlane::ReadLoadRecord(files, record);
    if (status == fourlane::ReadStatus::Error) Fail();
    if (status == fourlane::ReadStatus::End) break;
    address = record.address;
    if (record.kind == fourlane::LoadRecord::Kind::Termination) {
      LoadStartAddress(link, record.address, message);
      break;
    }
    LoadData(link, record, mode, message, echo);
    total += message.size();
  }
  fourlane::PrintBytesLoaded(total);
  return address;
}

void EndDownload(link::Link& link) {
  Exchange exchange(link, kRules);
  exchange.Command(kCmdEndDownload);
  ExpectChecksum(link, kCmdEndDownload, "\n", "\n\n");
  const uint8_t result = exchange.Result(true);
  switch (result) {
    case 4:
      return;
    case 0:
      Fail("\nERROR: PREVIOUS START DOWNLOAD PROTOCOL WAS NOT CORRECTLY\n\n");
    case 1:
      Fail("\nERROR: PREVIOUS LOAD START ADDRESS PROTOCOL WAS NOT CORRECTLY\n\n");
    case 2:
      Fail("\nERROR: LOAD DATA PROTOCOL WAS NOT CORRECTLY\n\n");
    case 3:
      Fail("More Than 63 Programs Present In Flash\n");
    default:
      frame::PrintUnknownResultCode("\n", result, "\n\n");
      Fail();
  }
}

}  // namespace vk::vkburn
