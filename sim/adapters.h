// USB serial adapters in front of the simulated board: the chip a user
// plugs in between the PC and the board's serial port, emulated as a USB
// device for USB/IP (sim/usbip.h). Four chips, each written against the
// Linux 6.1 driver that serves it, since how a chip behaves beyond its
// data sheet is what its driver relies on:
//   ft232r  drivers/usb/serial/ftdi_sio.c
//   cp2102  drivers/usb/serial/cp210x.c
//   ch340   drivers/usb/serial/ch341.c
//   pl2303  drivers/usb/serial/pl2303.c (an HX)
// What the chips share (descriptors, the transmit buffer in front of the
// paced line, RTS/CTS, the cable) is one piece of code driven by a table of
// each chip's data; vendor requests, rate encodings and how modem status
// and received bytes reach the host are code per chip.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/line.h"
#include "sim/monitor.h"
#include "sim/trace.h"
#include "sim/usbip.h"

namespace vk::sim {

enum class AdapterKind { Ft232r, Cp2102, Ch340, Pl2303 };

struct AdapterConfig {
  AdapterKind kind = AdapterKind::Ft232r;
  // The cable is pulled (the USB/IP connection dropped) once the adapter
  // has taken this many bytes from the host.
  std::optional<uint64_t> unplug_after;
};

// "ft232r", "cp2102", "ch340", "pl2303".
std::optional<AdapterKind> AdapterByName(std::string_view name);
std::vector<std::string> AdapterNames();

std::unique_ptr<UsbDevice> MakeAdapter(const AdapterConfig& adapter, const LineConfig& line,
                                       std::unique_ptr<Board> board, Trace& trace);

}  // namespace vk::sim
