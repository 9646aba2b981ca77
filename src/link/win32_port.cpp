// The Win32 backend: a communications device used through KERNEL32 only.
//
// The device is opened for exclusive, unbuffered, synchronous read and write
// and every transfer is one byte per call. Nothing here waits on its own:
// the device's time-outs bound every ReadFile (one byte, or none after the
// read time-out a caller asked for) and every WriteFile (a byte that cannot
// leave within the write time-out is given up). Errors are GetLastError
// codes.
//
// The backend keeps the one copy of the device control block. ReadSettings
// refills it from the driver; WriteSettings changes only the fields the serial
// routines own and writes the block back whole, so everything else keeps the
// value the driver reported.
#include <windows.h>

#include <memory>
#include <string>

#include "link/backend.h"
#include "link/link.h"
#include "link/port_names.h"

namespace vk::link {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeAll == 15);

// The code of the call that just failed. A failing call must never read as
// success, so one that left no code is reported as a general failure.
int LastErrorCode() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : static_cast<int>(ERROR_GEN_FAILURE);
}

class Win32Port final : public PortBackend {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) { dcb_.DCBlength = sizeof dcb_; }
  ~Win32Port() override { CloseHandle(handle_); }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  int Prepare(PrepareStep& failed) override {
    failed = PrepareStep::QueueSizes;
    if (!SetupComm(handle_, kQueueSize, kQueueSize)) return LastErrorCode();
    failed = PrepareStep::Purge;
    if (int e = Purge()) return e;
    failed = PrepareStep::Timeouts;
    return InstallReadTimeout(kReadTimeoutMs);
  }

  int Purge() override { return PurgeComm(handle_, kPurgeAll) ? 0 : LastErrorCode(); }

  int ReadSettings(LineState& state) override {
    dcb_.DCBlength = sizeof dcb_;
    if (!GetCommState(handle_, &dcb_)) return LastErrorCode();
    state.baud = static_cast<int>(dcb_.BaudRate);
    state.handshake = dcb_.fOutxCtsFlow != 0 && dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE;
    return 0;
  }

  int WriteSettings(const LineState& state) override {
    // The flow-control and line fields, cleared in this order; the
    // handshake pair is then set from the state.
    dcb_.fOutxCtsFlow = 0;
    dcb_.fOutxDsrFlow = 0;
    dcb_.fDtrControl = DTR_CONTROL_DISABLE;
    dcb_.fDsrSensitivity = 0;
    dcb_.fOutX = 0;
    dcb_.fInX = 0;
    dcb_.fRtsControl = RTS_CONTROL_DISABLE;
    if (state.handshake) {
      // The driver raises and drops RTS by the fill of its input queue and
      // holds output back while CTS is off.
      dcb_.fOutxCtsFlow = 1;
      dcb_.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    dcb_.BaudRate = static_cast<DWORD>(state.baud);
    dcb_.ByteSize = 8;
    dcb_.Parity = NOPARITY;
    dcb_.StopBits = ONESTOPBIT;
    return SetCommState(handle_, &dcb_) ? 0 : LastErrorCode();
  }

  int SetRts(bool on) override {
    return EscapeCommFunction(handle_, on ? SETRTS : CLRRTS) ? 0 : LastErrorCode();
  }

  int ReadCts(bool& on) override {
    DWORD status = 0;
    if (!GetCommModemStatus(handle_, &status)) return LastErrorCode();
    on = (status & MS_CTS_ON) != 0;
    return 0;
  }

  int Write(const uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n; ++i) {
      // The count written is not looked at: a byte held back past the
      // write time-out is dropped without an error.
      DWORD written = 0;
      if (!WriteFile(handle_, &data[i], 1, &written, nullptr)) return LastErrorCode();
    }
    return 0;
  }

  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    // One byte per call; each waits for the device's read time-out, which
    // is installed anew only when a caller asks for another one.
    got = 0;
    if (timeout_ms != installed_timeout_ms_) {
      if (int e = InstallReadTimeout(timeout_ms)) return e;
    }
    while (got < n) {
      uint8_t received = 0;
      DWORD count = 0;
      if (!ReadFile(handle_, &received, 1, &count, nullptr)) return LastErrorCode();
      if (count != 1) return 0;  // data[got] did not come in time
      data[got++] = received;
    }
    return 0;
  }

  bool InputPending() override {
    // Also clears any line error the driver recorded; the call's own
    // result is not needed.
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(handle_, &errors, &status);
    return status.cbInQue != 0;
  }

 private:
  // With one byte asked per read, a read returns as soon as that byte is
  // there, or after the read time-out with none; a write that cannot leave
  // within the write time-out is given up.
  int InstallReadTimeout(int timeout_ms) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = static_cast<DWORD>(timeout_ms);
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout_ms);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!SetCommTimeouts(handle_, &timeouts)) return LastErrorCode();
    installed_timeout_ms_ = timeout_ms;
    return 0;
  }

  HANDLE handle_;
  DCB dcb_{};
  int installed_timeout_ms_ = -1;
};

}  // namespace

std::unique_ptr<PortBackend> OpenWin32Port(const std::string& name, int& error) {
  // Exclusive (share mode 0), no security attributes, unbuffered and
  // synchronous (no overlapped I/O), no template.
  const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastErrorCode();
    return nullptr;
  }
  error = 0;
  return std::make_unique<Win32Port>(handle);
}

std::unique_ptr<PortBackend> OpenLocalPort(const std::string& name, int& error) { return OpenWin32Port(name, error); }

std::string DefaultDeviceName(int n) { return "COM" + std::to_string(n); }

// Ports above COM9 open only under their device name.
std::string ExampleDeviceName() { return "\\\\.\\COM12"; }

}  // namespace vk::link
