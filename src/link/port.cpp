// The serial routines over whichever backend the port's name selects.
//
// Exit paths (code 2 in every case):
//   fatal, direct   OpenPort's steps, EnableAuto_RTS_CTS, SetRtsSignal
//   via ExitTool    SetBaudRate, CTSSignalSet, Transmit, TransmitBlock,
//                   ReceiveWait, ReceiveBlock
// The two line routines that ExitTool itself uses end the process directly,
// so a failure while restoring the lines never loops back into ExitTool.
#include "link/port.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "link/backend.h"
#include "link/port_names.h"

namespace vk::link {
namespace {

std::unique_ptr<PortBackend> g_port;
// The one process-wide copy of the line settings. OpenPort and SetBaudRate
// refill it from the driver; EnableAuto_RTS_CTS changes it in memory only.
LineState g_state;

[[noreturn]] void FatalDirect(const char* format, int error) {
  std::printf(format, error);
  std::exit(kExitFailure);
}

[[noreturn]] void FatalThroughExitTool(const char* format, int error) {
  std::printf(format, error);
  ExitTool(kExitFailure);
}

PortBackend& Port() {
  // Every caller runs after OpenPort; reaching here without a port is a
  // programming error that must not turn into a null dereference.
  if (!g_port) {
    std::printf("\nSerial Port Not Open\n");
    std::exit(kExitFailure);
  }
  return *g_port;
}

}  // namespace

void OpenPort(int port, int baud) {
  const std::string name = PortDeviceName(port);
  int error = 0;
  g_port = OpenBackend(name, error);
  if (!g_port) {
    std::printf("\nOpen Of %s Failed: %d\n", name.c_str(), error);
    std::exit(kExitFailure);
  }
  if (int e = g_port->SetupQueues()) FatalDirect("\nSetupComm() Failed: %d\n", e);
  if (int e = g_port->Purge()) FatalDirect("\nPurgeComm() Failed: %d\n", e);
  if (int e = g_port->SetTimeouts()) FatalDirect("\nSetCommTimeouts() Failed: %d\n", e);
  if (int e = g_port->GetState(g_state)) FatalDirect("\nGetCommState() Failed: %d\n", e);
  g_state.handshake = false;
  g_state.baud = baud;
  if (int e = g_port->SetState(g_state)) FatalDirect("\nSetCommState() Failed: %d\n", e);
}

void SetBaudRate(int baud) {
  PortBackend& port = Port();
  if (int e = port.GetState(g_state)) FatalThroughExitTool("\nGetCommState() Failed: %d\n", e);
  g_state.baud = baud;
  if (int e = port.SetState(g_state)) FatalThroughExitTool("\nSetCommState() Failed: %d\n", e);
  if (int e = port.Purge()) FatalThroughExitTool("\nPurgeComm() Failed: %d\n", e);
}

void EnableAuto_RTS_CTS(int on) {
  g_state.handshake = on != 0;
  if (int e = Port().SetState(g_state)) FatalDirect("\nEnableAuto_RTS_CTS() Failed: %d\n", e);
}

void SetRtsSignal(int level) {
  if (int e = Port().SetRts(level == 1)) FatalDirect("\nSetRtsSignal() Failed: %d \n", e);
}

int CTSSignalSet() {
  bool cts = false;
  if (int e = Port().GetCts(cts)) FatalThroughExitTool("\nCTSSignalSet() Failed: %d\n", e);
  return cts ? 1 : 0;
}

void Transmit(int byte) {
  const uint8_t b = static_cast<uint8_t>(byte & 0xFF);
  if (int e = Port().Write(&b, 1)) FatalThroughExitTool("\nTransmit(): Communiction Error: %d\n", e);
}

namespace {
// One write of a whole block; a failure is reported under `message`.
void WriteAll(const uint8_t* data, int length, const char* message) {
  if (length <= 0) return;
  if (int e = Port().Write(data, static_cast<size_t>(length))) FatalThroughExitTool(message, e);
}
}  // namespace

void TransmitBytes(const uint8_t* data, int length) {
  WriteAll(data, length, "\nTransmit(): Communiction Error: %d\n");
}

void TransmitBlock(const uint8_t* data, int length) {
  WriteAll(data, length, "\nTransmitBlock(): Communiction Error: %d\n");
}

char ReceiveWait() {
  uint8_t byte = 0;
  ReadResult result = ReadResult::Timeout;
  if (int e = Port().ReadByte(byte, kReadTimeoutMs, result))
    FatalThroughExitTool("\nReceiveWait(): Communiction Error: %d\n", e);
  if (result == ReadResult::Timeout) {
    // Nothing came within the read time-out: the target is not answering,
    // so there is no byte to hand back and no session to close.
    std::printf("\nReceiveWait(): Time-Out, Target Did Not Answer Within %d ms\n", kReadTimeoutMs);
    ExitTool(kExitFailure);
  }
  return static_cast<char>(byte);
}

void ReceiveBlock(uint8_t* buffer, int length) {
  PortBackend& port = Port();
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  size_t i = 0;
  while (i < n) {
    size_t got = 0;
    if (int e = port.ReadBlock(buffer + i, n - i, kReadTimeoutMs, got))
      FatalThroughExitTool("\nReceiveBlock(): Communiction Error: %d\n", e);
    i += got;
    // A place whose byte did not come in time keeps its old content and the
    // next place gets its own time-out; the caller's comparison reports it.
    if (i < n) ++i;
  }
}

int RxPending() { return Port().InputPending() ? 1 : 0; }

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ExitTool(int code) {
  if (g_port) {
    EnableAuto_RTS_CTS(0);
    SetRtsSignal(0);
  }
  std::exit(code);
}

std::unique_ptr<PortBackend> OpenBackend(const std::string& name, int& error) {
  if (IsRfc2217Url(name)) return OpenRfc2217Port(name, error);
#ifdef _WIN32
  return OpenWin32Port(name, error);
#else
  return OpenTermiosPort(name, error);
#endif
}

}  // namespace vk::link
