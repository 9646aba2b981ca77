#include "download.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "fourlane/message.h"
#include "frame/exchange.h"
#include "link/port.h"

namespace vkburn {
namespace {

using vk::frame::EchoRule;
using vk::frame::EndSessionAndExit;
using vk::frame::Exchange;
using vk::frame::ExchangeTexts;
using vk::frame::ReceiveByte;

constexpr int kFailure = 2;
constexpr uint8_t kAccepted = 0x01;

const char* const kEchoError = "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x%02x RECEIVED DATA:0x%02x\n\n";
const char* const kEchoErrorData = "\n\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x%02x RECEIVED DATA:0x%02x\n\n";
const char* const kUnknownResult = "\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n";
const char* const kUnknownResultData = "\n\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n";
const char* const kChecksumErrorData = "\n\nTARGET COMMUNICATION CHECKSUM ERROR\n\n";

[[noreturn]] void Fail(const char* message) {
  std::printf("%s", message);
  EndSessionAndExit(kFailure);
}

// Reads the checksum byte and fails with `message` when it differs.
void ExpectChecksum(uint8_t expected, const char* message) {
  if (ReceiveByte() != expected) Fail(message);
}

// Sends a message byte by byte, each followed by its echo.
void SendEchoed(const std::vector<uint8_t>& message) {
  Exchange exchange(EchoRule::Fatal, ExchangeTexts{kEchoErrorData, ""});
  exchange.Command(message[0]);
  for (size_t i = 1; i < message.size(); ++i) exchange.Parameter(message[i]);
}

// Fast mode: the whole message out as one block, then its echoes as one
// block, compared position by position.
void SendBlock(const std::vector<uint8_t>& message, std::vector<uint8_t>& echo) {
  const int length = static_cast<int>(message.size());
  // A place whose echo never arrives keeps what is put here, which differs
  // from the byte sent, so a missing echo is always reported.
  echo.resize(message.size());
  for (size_t i = 0; i < message.size(); ++i) echo[i] = static_cast<uint8_t>(~message[i]);
  vk::link::TransmitBlock(message.data(), length);
  vk::link::ReceiveBlock(echo.data(), length);
  for (size_t i = 0; i < message.size(); ++i) {
    if (echo[i] != message[i]) {
      std::printf("\n\nERROR AT RECEIVED ECHO: \nTRANSMITTED DATA:0x%02x RECEIVED DATA:0x%02x\n\n", message[i],
                  echo[i]);
      Fail("Please Try Again With Security Option: \"VKBURN <NAME> -Ms\"\n\n");
    }
  }
}

void ShowProgress(uint32_t address) {
  std::printf("\rWriting Target Address: %08lX(HEX)", static_cast<unsigned long>(address));
  // On a terminal the line is a live progress display; into a pipe or a
  // file it needs no flush of its own.
  static const bool interactive = isatty(STDOUT_FILENO) != 0;
  if (interactive) std::fflush(stdout);
}

void LoadData(const vk::fourlane::LoadRecord& record, Mode mode, std::vector<uint8_t>& message,
              std::vector<uint8_t>& echo) {
  vk::fourlane::BuildDataMessage(kCmdLoadData, record, message);
  ShowProgress(record.address);
  if (mode == Mode::Save) SendEchoed(message);
  else SendBlock(message, echo);
  ExpectChecksum(vk::fourlane::Checksum(message), kChecksumErrorData);
  const uint8_t result = ReceiveByte();
  if (result == kAccepted) return;
  Fail(result == 0 ? "\nTarget Flash Memory Full\n" : kUnknownResultData);
}

void LoadStartAddress(uint32_t address, std::vector<uint8_t>& message) {
  vk::fourlane::BuildAddressMessage(kCmdLoadStartAddress, address, message);
  SendEchoed(message);
  ExpectChecksum(vk::fourlane::Checksum(message), kChecksumErrorData);
  const uint8_t result = ReceiveByte();
  if (result == kAccepted) return;
  Fail(result == 0 ? "\n\nERROR: PROGRAM START ADDRESS WAS NOT CORRECTLY\n\n" : kUnknownResultData);
}

void AbortOnReaderError() { EndSessionAndExit(kFailure); }

}  // namespace

void StartDownload(const std::string& name, const vk::fourlane::FileDate& date) {
  Exchange exchange(EchoRule::Fatal, ExchangeTexts{kEchoError, ""});
  exchange.Command(kCmdStartDownload);
  exchange.Text(name);
  for (int value : {date.day, date.month, date.year, date.hour, date.minute, date.second})
    exchange.Parameter(static_cast<uint8_t>(value));
  exchange.Parameter(kFileTypeProgram);
  ExpectChecksum(exchange.sum(), "\nTARGET COMMUNICATION CHECKSUM ERROR");
  const uint8_t result = ReceiveByte();
  if (result == kAccepted) return;
  if (result == 0) {
    std::printf("Filename %s Already Exists On Target\n", name.c_str());
    EndSessionAndExit(kFailure);
  }
  Fail(kUnknownResult);
}

uint32_t DownloadRecords(vk::fourlane::LaneFiles& files, Mode mode) {
  unsigned long total = 0;
  uint32_t address = 0;
  vk::fourlane::LoadRecord record;
  std::vector<uint8_t> message;
  std::vector<uint8_t> echo;
  while (vk::fourlane::ReadLoadRecord(files, record, AbortOnReaderError)) {
    address = record.address;
    if (record.kind == vk::fourlane::LoadRecord::Kind::Termination) {
      LoadStartAddress(record.address, message);
      break;
    }
    LoadData(record, mode, message, echo);
    total += message.size();
  }
  std::printf("\n%lu   %lX(HEX) Bytes Loaded\n", total + 4, total + 4);
  return address;
}

void EndDownload() {
  Exchange exchange(EchoRule::Fatal, ExchangeTexts{kEchoError, ""});
  exchange.Command(kCmdEndDownload);
  ExpectChecksum(kCmdEndDownload, "\nTARGET COMMUNICATION CHECKSUM ERROR\n\n");
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
      std::printf("\nERROR: UNKNOWN RESULT CODE 0x%02x RECEIVED\n\n", result);
      EndSessionAndExit(kFailure);
  }
}

}  // namespace vkburn
