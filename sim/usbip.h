// The simulator as a USB device over USB/IP, the protocol of the Linux
// kernel's vhci-hcd (its Documentation/usb/usbip_protocol.rst; version
// 1.1.1, every field big-endian). One connection either asks for the list
// of exported devices (OP_REQ_DEVLIST) and is closed by the client, or
// imports the one device, bus id "1-1" (OP_REQ_IMPORT), and then carries
// its URBs: USBIP_CMD_SUBMIT answered by USBIP_RET_SUBMIT, USBIP_CMD_UNLINK
// by USBIP_RET_UNLINK.
//
// What vhci-hcd expects of the device side, beyond the document:
//   - A RET_SUBMIT for a request that was unlinked makes vhci-hcd drop the
//     device, so an unlinked request is never answered; the RET_UNLINK
//     carries the unlink's own sequence number, with status -ECONNRESET
//     while the request was pending and 0 when it had been answered.
//   - Requests to one endpoint are answered in the order they came.
// The device behind it (sim/adapters.h) sees setup packets and endpoint
// transfers only. Pure like the RFC 2217 session.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/front.h"
#include "sim/line.h"

namespace vk::sim {

namespace usbip {

constexpr uint16_t kVersion = 0x0111;
constexpr uint16_t kOpReqDevlist = 0x8005;
constexpr uint16_t kOpRepDevlist = 0x0005;
constexpr uint16_t kOpReqImport = 0x8003;
constexpr uint16_t kOpRepImport = 0x0003;
constexpr uint32_t kCmdSubmit = 1;
constexpr uint32_t kCmdUnlink = 2;
constexpr uint32_t kRetSubmit = 3;
constexpr uint32_t kRetUnlink = 4;
constexpr uint32_t kDirIn = 1;
constexpr size_t kHeaderSize = 48;
constexpr size_t kBusIdSize = 32;
constexpr size_t kPathSize = 256;
constexpr int32_t kEpipe = -32;        // a stall
constexpr int32_t kEconnreset = -104;  // unlinked
constexpr uint32_t kSpeedFull = 2;     // enum usb_device_speed
constexpr const char* kBusId = "1-1";

}  // namespace usbip

// A USB control request's setup packet.
struct Setup {
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
  bool in() const { return (request_type & 0x80) != 0; }
};

// The answer to a control request: a stall, or the data stage (IN).
struct ControlReply {
  bool stall = false;
  std::vector<uint8_t> data;
  static ControlReply Stall() { return {true, {}}; }
};

// What the device list and the import reply tell about the device.
struct DeviceSummary {
  uint16_t vendor = 0, product = 0, bcd_device = 0;
  uint8_t device_class = 0, device_subclass = 0, device_protocol = 0;
  uint8_t configuration = 1;
  std::array<uint8_t, 3> interface_class{};  // class, subclass, protocol of its one interface
};

// The USB device as USB/IP reaches it.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  virtual DeviceSummary Summary() const = 0;
  // Traces the line as the device comes up; called once the device is imported.
  virtual void Start() = 0;
  virtual ControlReply Control(const Setup& setup, const std::vector<uint8_t>& out, Nanos now) = 0;
  // A bulk or interrupt OUT transfer: true once the device has taken all of
  // `data`; false when it has no room yet (asked again later).
  virtual bool Out(uint8_t endpoint, const std::vector<uint8_t>& data, Nanos now) = 0;
  // An IN transfer of at most `max` bytes: the data once the device sends it.
  virtual std::optional<std::vector<uint8_t>> In(uint8_t endpoint, size_t max, Nanos now) = 0;
  // The host gave up a pending IN transfer on `endpoint`.
  virtual void Unlinked(uint8_t endpoint) = 0;
  virtual void Advance(Nanos now) = 0;
  virtual std::optional<Nanos> NextDeadline() const = 0;
  virtual std::vector<std::string> TakeStarted() = 0;
  virtual Board& board() = 0;
  // The cable is pulled: the connection ends at once.
  virtual bool Unplugged() const = 0;
};

class UsbipFront final : public Front {
 public:
  explicit UsbipFront(std::unique_ptr<UsbDevice> device);

  void Start() override {}
  void FromNetwork(const uint8_t* data, size_t n, Nanos now) override;
  void Advance(Nanos now) override;
  std::string TakeOutput() override;
  std::vector<std::string> TakeStarted() override { return device_->TakeStarted(); }
  std::optional<Nanos> NextDeadline() const override { return device_->NextDeadline(); }
  Board& board() override { return device_->board(); }
  // The device was unplugged, or the client broke the protocol.
  bool Cut() const override { return device_->Unplugged() || broken_; }

 private:
  struct Request {
    uint32_t seqnum;
    uint8_t endpoint;
    bool in;
    size_t length;
    std::vector<uint8_t> data;  // OUT
  };

  // One whole message from the front of `in_`, if there is one; false
  // when more bytes are needed.
  bool TakeOp();
  bool TakeUrb(Nanos now);
  void Submit(const Request& r, const Setup& setup, Nanos now);
  void Unlink(uint32_t seqnum, uint32_t victim);
  void ServePending(Nanos now);
  void RetSubmit(uint32_t seqnum, int32_t status, const std::vector<uint8_t>& in_data, size_t out_length);
  void DeviceRecord(std::string& out, bool with_interfaces) const;

  std::unique_ptr<UsbDevice> device_;
  std::vector<uint8_t> in_;
  std::string out_;
  bool imported_ = false;
  bool broken_ = false;
  std::deque<Request> pending_;  // transfers not yet answered, in order
};

}  // namespace vk::sim
