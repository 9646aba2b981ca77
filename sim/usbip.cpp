// USB/IP device side of one connection: the import handshake, then URBs
// to and from the emulated device.
#include "sim/usbip.h"

#include <algorithm>
#include <cstring>

namespace vk::sim {
namespace {

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift & 0xFF);
}
void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
}
void PutText(std::string& out, const std::string& text, size_t size) {
  std::string field = text.substr(0, size - 1);
  field.resize(size, '\0');
  out += field;
}

// The setup packet as the host sends it: little-endian words.
Setup ParseSetup(const uint8_t* p) {
  return {p[0], p[1], Le16(p + 2), Le16(p + 4), Le16(p + 6)};
}

}  // namespace

UsbipFront::UsbipFront(std::unique_ptr<UsbDevice> device) : device_(std::move(device)) {}

void UsbipFront::FromNetwork(const uint8_t* data, size_t n, Nanos now) {
  device_->Advance(now);
  in_.insert(in_.end(), data, data + n);
  while (!broken_ && (imported_ ? TakeUrb(now) : TakeOp())) {
  }
  ServePending(now);
}

void UsbipFront::Advance(Nanos now) {
  device_->Advance(now);
  ServePending(now);
}

std::string UsbipFront::TakeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

// path, bus id, bus and device number, speed, then the device descriptor's
// fields (usbip_usb_device); the device list adds the interfaces.
void UsbipFront::DeviceRecord(std::string& out, bool with_interfaces) const {
  const DeviceSummary d = device_->Summary();
  PutText(out, "/sys/devices/platform/vksim/usb1/1-1", usbip::kPathSize);
  PutText(out, usbip::kBusId, usbip::kBusIdSize);
  Put32(out, 1);  // bus number
  Put32(out, 2);  // device number
  Put32(out, usbip::kSpeedFull);
  Put16(out, d.vendor);
  Put16(out, d.product);
  Put16(out, d.bcd_device);
  out += static_cast<char>(d.device_class);
  out += static_cast<char>(d.device_subclass);
  out += static_cast<char>(d.device_protocol);
  out += static_cast<char>(d.configuration);
  out += static_cast<char>(1);  // configurations
  out += static_cast<char>(1);  // interfaces
  if (!with_interfaces) return;
  for (uint8_t b : d.interface_class) out += static_cast<char>(b);
  out += '\0';
}

bool UsbipFront::TakeOp() {
  constexpr size_t kOpHeader = 8;
  if (in_.size() < kOpHeader) return false;
  const uint16_t code = Be16(in_.data() + 2);
  if (code == usbip::kOpReqDevlist) {
    in_.erase(in_.begin(), in_.begin() + kOpHeader);
    Put16(out_, usbip::kVersion);
    Put16(out_, usbip::kOpRepDevlist);
    Put32(out_, 0);
    Put32(out_, 1);  // one device
    DeviceRecord(out_, true);
    return true;
  }
  if (code != usbip::kOpReqImport) {
    broken_ = true;
    return false;
  }
  if (in_.size() < kOpHeader + usbip::kBusIdSize) return false;
  const std::string busid(reinterpret_cast<const char*>(in_.data() + kOpHeader),
                          strnlen(reinterpret_cast<const char*>(in_.data() + kOpHeader), usbip::kBusIdSize));
  in_.erase(in_.begin(), in_.begin() + kOpHeader + usbip::kBusIdSize);
  Put16(out_, usbip::kVersion);
  Put16(out_, usbip::kOpRepImport);
  if (busid != usbip::kBusId) {
    Put32(out_, 1);  // no such device
    return true;
  }
  Put32(out_, 0);
  DeviceRecord(out_, false);
  imported_ = true;
  device_->Start();
  return true;
}

bool UsbipFront::TakeUrb(Nanos now) {
  if (in_.size() < usbip::kHeaderSize) return false;
  const uint8_t* h = in_.data();
  const uint32_t command = Be32(h);
  const uint32_t seqnum = Be32(h + 4);
  const bool in = Be32(h + 12) == usbip::kDirIn;
  const auto endpoint = static_cast<uint8_t>(Be32(h + 16) & 0x0F);
  if (command == usbip::kCmdUnlink) {
    const uint32_t victim = Be32(h + 20);
    in_.erase(in_.begin(), in_.begin() + usbip::kHeaderSize);
    Unlink(seqnum, victim);
    return true;
  }
  if (command != usbip::kCmdSubmit) {
    broken_ = true;
    return false;
  }
  const uint32_t length = Be32(h + 24);
  const uint32_t packets = Be32(h + 32);
  // No isochronous endpoints here; a transfer longer than any the drivers
  // make is a broken stream.
  constexpr uint32_t kMaxTransfer = 1 << 20;
  if ((packets != 0 && packets != 0xFFFFFFFF) || length > kMaxTransfer) {
    broken_ = true;
    return false;
  }
  const size_t out_bytes = in ? 0 : length;
  if (in_.size() < usbip::kHeaderSize + out_bytes) return false;
  Request r{seqnum, endpoint, in, length, {}};
  const Setup setup = ParseSetup(h + 40);
  r.data.assign(in_.begin() + usbip::kHeaderSize, in_.begin() + usbip::kHeaderSize + out_bytes);
  in_.erase(in_.begin(), in_.begin() + usbip::kHeaderSize + out_bytes);
  Submit(r, setup, now);
  return true;
}

void UsbipFront::Submit(const Request& r, const Setup& setup, Nanos now) {
  if (r.endpoint == 0) {
    const ControlReply reply = device_->Control(setup, r.data, now);
    if (reply.stall) {
      RetSubmit(r.seqnum, usbip::kEpipe, {}, 0);
      return;
    }
    std::vector<uint8_t> data = reply.data;
    if (data.size() > r.length) data.resize(r.length);
    RetSubmit(r.seqnum, 0, setup.in() ? data : std::vector<uint8_t>{}, setup.in() ? 0 : r.length);
    return;
  }
  pending_.push_back(r);
}

void UsbipFront::Unlink(uint32_t seqnum, uint32_t victim) {
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [victim](const Request& r) { return r.seqnum == victim; });
  int32_t status = 0;  // answered already
  if (it != pending_.end()) {
    if (it->in) device_->Unlinked(it->endpoint);
    pending_.erase(it);
    status = usbip::kEconnreset;
  }
  Put32(out_, usbip::kRetUnlink);
  Put32(out_, seqnum);
  Put32(out_, 0);
  Put32(out_, 0);
  Put32(out_, 0);
  Put32(out_, static_cast<uint32_t>(status));
  out_.append(24, '\0');
}

void UsbipFront::ServePending(Nanos now) {
  uint32_t blocked = 0;  // endpoints (bit per number and direction) with an earlier request waiting
  for (auto it = pending_.begin(); it != pending_.end();) {
    const uint32_t bit = 1u << (it->endpoint + (it->in ? 16 : 0));
    if ((blocked & bit) != 0) {
      ++it;
      continue;
    }
    if (it->in) {
      if (auto data = device_->In(it->endpoint, it->length, now)) {
        RetSubmit(it->seqnum, 0, *data, 0);
        it = pending_.erase(it);
        continue;
      }
    } else if (device_->Out(it->endpoint, it->data, now)) {
      RetSubmit(it->seqnum, 0, {}, it->data.size());
      it = pending_.erase(it);
      continue;
    }
    blocked |= bit;
    ++it;
  }
}

void UsbipFront::RetSubmit(uint32_t seqnum, int32_t status, const std::vector<uint8_t>& in_data,
                           size_t out_length) {
  Put32(out_, usbip::kRetSubmit);
  Put32(out_, seqnum);
  Put32(out_, 0);  // devid, direction and endpoint are zero in an answer
  Put32(out_, 0);
  Put32(out_, 0);
  Put32(out_, static_cast<uint32_t>(status));
  Put32(out_, static_cast<uint32_t>(in_data.empty() ? out_length : in_data.size()));
  Put32(out_, 0);  // start frame
  Put32(out_, 0);  // packets
  Put32(out_, 0);  // errors
  out_.append(8, '\0');
  out_.append(in_data.begin(), in_data.end());
}

}  // namespace vk::sim
