// The serial routines over whichever backend the port's name selects.
//
// Ways out (code 2 in every case):
//   Direct      OpenPort's steps, EnableAuto_RTS_CTS, SetRtsSignal
//   ExitTool    SetBaudRate, CTSSignalSet, Transmit, TransmitBlock,
//               ReceiveWait, ReceiveBlock
// The two line routines that ExitTool itself uses end the run directly, so
// a failure while restoring the lines never loops back into ExitTool.
#include "link/link.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "link/ending.h"
#include "link/interrupt.h"
#include "link/port_names.h"

namespace vk::link {
namespace {

// "Communiction" is misspelt on purpose: scripts match these messages as
// they have always been printed.
constexpr const char* kTransmitError = "\nTransmit(): Communiction Error: %d\n";
constexpr const char* kTransmitBlockError = "\nTransmitBlock(): Communiction Error: %d\n";
constexpr const char* kReceiveWaitError = "\nReceiveWait(): Communiction Error: %d\n";
constexpr const char* kReceiveBlockError = "\nReceiveBlock(): Communiction Error: %d\n";

const char* PrepareMessage(PrepareStep step) {
  switch (step) {
    case PrepareStep::QueueSizes:
      return "\nSetupComm() Failed: %d\n";
    case PrepareStep::Purge:
      return "\nPurgeComm() Failed: %d\n";
    case PrepareStep::Timeouts:
      return "\nSetCommTimeouts() Failed: %d\n";
  }
  return "\nPurgeComm() Failed: %d\n";
}

}  // namespace

Link::Link(BackendOpener open) : open_(std::move(open)) {}
Link::~Link() = default;

void Link::CheckInterruption() const {
  if (const int sig = Interruption(); sig != 0 && !ending_) EndRunInterrupted(sig, port_ != nullptr);
}

void Link::Fail(const char* format, int error, Leave leave, bool opening, OpenError why) {
  // A wait cut short by an interrupt is no failure of the line.
  CheckInterruption();
  if (format) std::printf(format, error);
  failure_ = LinkFailure{device_, port_number_, error, opening, why.reason, std::move(why.server_text)};
  EndRun(kExitFailure, leave);
}

PortBackend& Link::Port() {
  // Every caller runs after OpenPort; reaching here without a port is a
  // programming error that must not turn into a null dereference.
  if (!port_) {
    std::printf("\nSerial Port Not Open\n");
    EndRun(kExitFailure, Leave::Direct);
  }
  CheckInterruption();
  return *port_;
}

bool Link::RecordTo(const std::string& path, const std::string& header) {
  trace_ = std::make_unique<WireTrace>(path, header);
  if (!trace_->ok()) trace_.reset();
  return trace_ != nullptr;
}

void Link::OpenPort(int port, int baud) {
  CheckInterruption();
  port_number_ = NormalisePortNumber(port);
  device_ = PortDeviceName(port);
  if (trace_) trace_->Event("open " + device_);
  OpenError error;
  std::unique_ptr<PortBackend> opened = open_(device_, error);
  if (opened && trace_) opened = TracedBackend(std::move(opened), *trace_);
  if (!opened) {
    CheckInterruption();
    std::printf("\nOpen Of %s Failed: %d\n", device_.c_str(), error.code);
    Fail(nullptr, error.code, Leave::Direct, true, std::move(error));
  }
  PrepareStep step = PrepareStep::QueueSizes;
  if (int e = opened->Prepare(step)) Fail(PrepareMessage(step), e, Leave::Direct, true);
  if (int e = opened->ReadSettings(state_)) Fail("\nGetCommState() Failed: %d\n", e, Leave::Direct);
  state_.handshake = false;
  state_.baud = baud;
  if (int e = opened->WriteSettings(state_)) Fail("\nSetCommState() Failed: %d\n", e, Leave::Direct);
  port_ = std::move(opened);
  first_command_ = true;
}

void Link::SetBaudRate(int baud) {
  PortBackend& port = Port();
  if (int e = port.ReadSettings(state_)) Fail("\nGetCommState() Failed: %d\n", e, Leave::ExitTool);
  state_.baud = baud;
  if (int e = port.WriteSettings(state_)) Fail("\nSetCommState() Failed: %d\n", e, Leave::ExitTool);
  if (int e = port.Purge()) Fail("\nPurgeComm() Failed: %d\n", e, Leave::ExitTool);
}

void Link::EnableAuto_RTS_CTS(int on) {
  state_.handshake = on != 0;
  if (int e = Port().WriteSettings(state_)) Fail("\nEnableAuto_RTS_CTS() Failed: %d\n", e, Leave::Direct);
}

void Link::SetRtsSignal(int level) {
  if (int e = Port().SetRts(level == 1)) Fail("\nSetRtsSignal() Failed: %d \n", e, Leave::Direct);
}

int Link::CTSSignalSet() {
  bool cts = false;
  if (int e = Port().ReadCts(cts)) Fail("\nCTSSignalSet() Failed: %d\n", e, Leave::ExitTool);
  return cts ? 1 : 0;
}

void Link::Transmit(int byte) {
  const uint8_t b = static_cast<uint8_t>(byte & 0xFF);
  if (int e = Port().Write(&b, 1)) Fail(kTransmitError, e, Leave::ExitTool);
}

void Link::TransmitBytes(const uint8_t* data, int length) {
  if (length <= 0) return;
  if (int e = Port().Write(data, static_cast<size_t>(length))) Fail(kTransmitError, e, Leave::ExitTool);
}

void Link::TransmitBlock(const uint8_t* data, int length) {
  if (length <= 0) return;
  if (int e = Port().Write(data, static_cast<size_t>(length))) Fail(kTransmitBlockError, e, Leave::ExitTool);
}

char Link::ReceiveWait() {
  uint8_t byte = 0;
  size_t got = 0;
  if (int e = Port().Read(&byte, 1, kReadTimeoutMs, got)) Fail(kReceiveWaitError, e, Leave::ExitTool);
  if (got == 0) {
    // Nothing came within the read time-out: the target is not answering,
    // so there is no byte to hand back.
    std::printf("\nReceiveWait(): Time-Out, Target Did Not Answer Within %d ms\n", kReadTimeoutMs);
    Fail(nullptr, 0, Leave::ExitTool);
  }
  return static_cast<char>(byte);
}

bool Link::ReceiveWithin(int timeout_ms, uint8_t& byte) {
  size_t got = 0;
  if (int e = Port().Read(&byte, 1, timeout_ms, got)) Fail(kReceiveWaitError, e, Leave::ExitTool);
  return got == 1;
}

void Link::ReceiveBlock(uint8_t* buffer, int length) {
  PortBackend& port = Port();
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  size_t i = 0;
  while (i < n) {
    size_t got = 0;
    if (int e = port.Read(buffer + i, n - i, kReadTimeoutMs, got)) Fail(kReceiveBlockError, e, Leave::ExitTool);
    i += got;
    // A place whose byte did not come in time keeps its old content, and so
    // do the places after it: the line has gone silent, and a time-out for
    // each of them would only delay the caller's report.
    if (i < n) break;
  }
}

int Link::RxPending() { return Port().InputPending() ? 1 : 0; }

int Link::ExitTool(int code) noexcept {
  if (!port_) return code;
  ending_ = true;  // the lines go to rest, interrupted or not
  int result = code;
  try {
    EnableAuto_RTS_CTS(0);
    SetRtsSignal(0);
  } catch (const RunEnd& end) {
    result = end.code;
  }
  ending_ = false;
  return result;
}

void Link::Close() {
  port_.reset();
  trace_.reset();
}

bool Link::TakeFirstCommand() {
  const bool first = first_command_;
  first_command_ = false;
  return first;
}

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::unique_ptr<PortBackend> OpenBackend(const std::string& name, OpenError& error) {
  if (IsRfc2217Url(name)) return OpenRfc2217Port(name, error);
  error.reason = OpenFailure::System;
  return OpenLocalPort(name, error.code);
}

}  // namespace vk::link
