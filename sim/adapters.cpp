// The four USB serial adapter chips. The Adapter class holds what they
// share; each chip's vendor requests are a function of its own below the
// table, written against its Linux 6.1 driver (named at each).
#include "sim/adapters.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>

#include "sim/board_line.h"

namespace vk::sim {
namespace {

constexpr uint8_t kBulk = 2;
constexpr uint8_t kInterrupt = 3;

// Standard requests (USB 2.0, chapter 9).
constexpr uint8_t kGetStatus = 0;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kGetConfiguration = 8;
constexpr uint8_t kSetConfiguration = 9;
constexpr uint8_t kGetInterface = 10;
constexpr uint8_t kDescDevice = 1;
constexpr uint8_t kDescConfig = 2;
constexpr uint8_t kDescString = 3;
constexpr uint16_t kLangEnglish = 0x0409;
constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeStandard = 0x00;

class Adapter;
using VendorHandler = ControlReply (*)(Adapter&, const Setup&, const std::vector<uint8_t>&, Nanos);

// How the chip tells the host CTS and hands over received bytes.
enum class StatusPath {
  InPackets,  // two status bytes lead every 64-byte packet on bulk IN; held for the latency timer
  Request,    // read with a vendor request; received bytes go out at once
  Interrupt,  // sent on the interrupt endpoint when it changes; received bytes go out at once
};

struct Endpoint {
  uint8_t address;
  uint8_t attributes;
  uint16_t max_packet;
  uint8_t interval;
};

struct Chip {
  AdapterKind kind;
  const char* name;
  uint16_t vendor, product, bcd_usb, bcd_device;
  uint8_t device_class, device_subclass, device_protocol, ep0_max_packet;
  const char* manufacturer;  // nullptr: no string
  const char* product_name;
  const char* serial;
  std::array<uint8_t, 3> interface_class;
  uint8_t interface_string;  // string index naming the interface, 0 for none
  uint8_t config_attributes, max_power_2ma;
  std::array<Endpoint, 3> endpoints;  // address 0 ends the list
  uint8_t bulk_in, bulk_out, interrupt_in;
  size_t tx_buffer;  // bytes the chip holds for the line before it refuses more
  StatusPath status;
  uint32_t power_up_baud;
  VendorHandler vendor_request;
};

ControlReply Ft232rRequest(Adapter&, const Setup&, const std::vector<uint8_t>&, Nanos);
ControlReply Cp2102Request(Adapter&, const Setup&, const std::vector<uint8_t>&, Nanos);
ControlReply Ch340Request(Adapter&, const Setup&, const std::vector<uint8_t>&, Nanos);
ControlReply Pl2303Request(Adapter&, const Setup&, const std::vector<uint8_t>&, Nanos);

// The chips as they enumerate. ftdi_sio takes bcdDevice 6.00 for an
// FT232R; pl2303 takes bcdUSB 1.10 with bcdDevice 3.00 and a 64-byte
// endpoint 0 for an HX. Each answers with a serial number of its own, so
// that two adapters on one host are told apart by it.
constexpr std::array kChips{
    Chip{AdapterKind::Ft232r, "ft232r", 0x0403, 0x6001, 0x0200, 0x0600, 0, 0, 0, 8,
         "FTDI", "FT232R USB UART", "VK232R01", {0xFF, 0xFF, 0xFF}, 2, 0xA0, 45,
         {Endpoint{0x81, kBulk, 64, 0}, Endpoint{0x02, kBulk, 64, 0}, Endpoint{}},
         0x81, 0x02, 0, 128, StatusPath::InPackets, 9600, &Ft232rRequest},
    Chip{AdapterKind::Cp2102, "cp2102", 0x10C4, 0xEA60, 0x0110, 0x0100, 0, 0, 0, 64,
         "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001", {0xFF, 0x00, 0x00}, 2, 0x80, 50,
         {Endpoint{0x81, kBulk, 64, 0}, Endpoint{0x01, kBulk, 64, 0}, Endpoint{}},
         0x81, 0x01, 0, 640, StatusPath::Request, 9600, &Cp2102Request},
    Chip{AdapterKind::Ch340, "ch340", 0x1A86, 0x7523, 0x0110, 0x0264, 0xFF, 0, 0, 8,
         nullptr, "USB Serial", "VK340001", {0xFF, 0x01, 0x02}, 0, 0x80, 49,
         {Endpoint{0x82, kBulk, 32, 0}, Endpoint{0x02, kBulk, 32, 0}, Endpoint{0x81, kInterrupt, 8, 1}},
         0x82, 0x02, 0x81, 32, StatusPath::Interrupt, 9600, &Ch340Request},
    Chip{AdapterKind::Pl2303, "pl2303", 0x067B, 0x2303, 0x0110, 0x0300, 0, 0, 0, 64,
         "Prolific Technology Inc.", "USB-Serial Controller", "VK230301", {0xFF, 0x00, 0x00}, 0, 0x80, 50,
         {Endpoint{0x81, kInterrupt, 10, 1}, Endpoint{0x02, kBulk, 64, 0}, Endpoint{0x83, kBulk, 64, 0}},
         0x83, 0x02, 0x81, 256, StatusPath::Interrupt, 9600, &Pl2303Request},
};

const Chip& ChipOf(AdapterKind kind) {
  return *std::find_if(kChips.begin(), kChips.end(), [kind](const Chip& c) { return c.kind == kind; });
}

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i) & 0xFF));
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && at + i < b.size(); ++i) v |= uint32_t{b[at + i]} << (8 * i);
  return v;
}

std::vector<uint8_t> DeviceDescriptor(const Chip& c) {
  std::vector<uint8_t> d{18, kDescDevice};
  PutLe16(d, c.bcd_usb);
  d.insert(d.end(), {c.device_class, c.device_subclass, c.device_protocol, c.ep0_max_packet});
  PutLe16(d, c.vendor);
  PutLe16(d, c.product);
  PutLe16(d, c.bcd_device);
  d.push_back(c.manufacturer != nullptr ? 1 : 0);
  d.push_back(c.product_name != nullptr ? 2 : 0);
  d.push_back(c.serial != nullptr ? 3 : 0);
  d.push_back(1);  // configurations
  return d;
}

std::vector<uint8_t> ConfigDescriptor(const Chip& c) {
  std::vector<uint8_t> eps;
  uint8_t count = 0;
  for (const Endpoint& e : c.endpoints) {
    if (e.address == 0) break;
    eps.insert(eps.end(), {7, 5, e.address, e.attributes});
    PutLe16(eps, e.max_packet);
    eps.push_back(e.interval);
    ++count;
  }
  std::vector<uint8_t> d{9, kDescConfig};
  PutLe16(d, static_cast<uint16_t>(9 + 9 + eps.size()));
  d.insert(d.end(), {1, 1, 0, c.config_attributes, c.max_power_2ma});
  d.insert(d.end(), {9, 4, 0, 0, count, c.interface_class[0], c.interface_class[1], c.interface_class[2],
                     c.interface_string});
  d.insert(d.end(), eps.begin(), eps.end());
  return d;
}

std::optional<std::vector<uint8_t>> StringDescriptor(const Chip& c, uint8_t index) {
  if (index == 0) {
    std::vector<uint8_t> d{4, kDescString};
    PutLe16(d, kLangEnglish);
    return d;
  }
  const char* text = index == 1 ? c.manufacturer : index == 2 ? c.product_name : index == 3 ? c.serial : nullptr;
  if (text == nullptr) return std::nullopt;
  std::vector<uint8_t> d{0, kDescString};
  for (const char* p = text; *p != '\0'; ++p) PutLe16(d, static_cast<uint8_t>(*p));
  d[0] = static_cast<uint8_t>(d.size());
  return d;
}

class Adapter final : public UsbDevice {
 public:
  Adapter(const Chip& chip, const AdapterConfig& config, const LineConfig& line, std::unique_ptr<Board> board,
          Trace& trace)
      : chip_(chip), config_(config), wire_(line, std::move(board), trace) {
    wire_.line().SetHostBaud(chip.power_up_baud);
  }

  DeviceSummary Summary() const override {
    return {chip_.vendor,          chip_.product,         chip_.bcd_device,     chip_.device_class,
            chip_.device_subclass, chip_.device_protocol, configuration_ == 0 ? uint8_t{1} : configuration_,
            chip_.interface_class};
  }

  void Start() override {
    wire_.trace().Event(std::string("adapter ") + chip_.name);
    wire_.Start();
  }

  ControlReply Control(const Setup& s, const std::vector<uint8_t>& out, Nanos now) override {
    if ((s.request_type & kTypeMask) != kTypeStandard) return chip_.vendor_request(*this, s, out, now);
    switch (s.request) {
      case kGetDescriptor:
        return Descriptor(s);
      case kSetConfiguration:
        configuration_ = static_cast<uint8_t>(s.value);
        return {};
      case kGetConfiguration:
        return {false, {configuration_}};
      case kGetStatus:
        return {false, {0, 0}};
      case kGetInterface:
        return {false, {0}};
      default:  // SET_INTERFACE, CLEAR_FEATURE (a halt), SET_FEATURE: nothing to do
        return {};
    }
  }

  bool Out(uint8_t endpoint, const std::vector<uint8_t>& data, Nanos now) override {
    if (endpoint != (chip_.bulk_out & 0x0F)) return true;
    const size_t held = TxPending();
    if (held > 0 && held + data.size() > chip_.tx_buffer) return false;  // no room: the host retries
    for (uint8_t b : data) {
      if (unplugged_) break;
      ++taken_;
      if (config_.unplug_after && taken_ >= *config_.unplug_after) {
        unplugged_ = true;
        wire_.trace().Event("unplug");
      }
      tx_hold_.push_back(b);
    }
    Transmit(now);
    return true;
  }

  std::optional<std::vector<uint8_t>> In(uint8_t endpoint, size_t max, Nanos now) override {
    if (endpoint == (chip_.interrupt_in & 0x0F)) return InterruptReport();
    if (endpoint != (chip_.bulk_in & 0x0F) || max == 0) return std::nullopt;
    if (chip_.status == StatusPath::InPackets) return Ft232rPackets(max, now);
    if (rx_.empty()) return std::nullopt;
    std::vector<uint8_t> data;
    while (!rx_.empty() && data.size() < max) {
      const uint8_t b = rx_.front();
      // cp210x's event mode: the escape character itself goes out doubled
      // as ESC 0x00.
      if (escape_char_ != 0 && b == escape_char_) {
        if (data.size() + 2 > max) break;
        data.push_back(b);
        data.push_back(0);
      } else {
        data.push_back(b);
      }
      rx_.pop_front();
    }
    return data;
  }

  void Unlinked(uint8_t endpoint) override {
    // The driver's close kills its interrupt request; the next open hears
    // the state afresh.
    if (endpoint == (chip_.interrupt_in & 0x0F)) reported_.reset();
  }

  void Advance(Nanos now) override {
    wire_.UpdateCts(now);
    Transmit(now);
    const bool was_empty = rx_.empty();
    std::vector<uint8_t> got;
    wire_.Advance(now, got);
    rx_.insert(rx_.end(), got.begin(), got.end());
    if (was_empty && !rx_.empty()) {
      rx_since_ = now;
      latency_expired_ = false;
    }
    // Once the timer has run out the bytes wait only for the host to ask.
    if (HoldsForLatency() && !rx_.empty() && now >= rx_since_ + latency_ms_ * kMillisecond)
      latency_expired_ = true;
    Transmit(now);
  }

  std::optional<Nanos> NextDeadline() const override {
    std::optional<Nanos> next = wire_.line().NextDeadline();
    if (HoldsForLatency() && !rx_.empty()) {
      const Nanos due = rx_since_ + latency_ms_ * kMillisecond;
      if (!latency_expired_ && (!next || due < *next)) next = due;
    }
    return next;
  }

  std::vector<std::string> TakeStarted() override { return wire_.TakeStarted(); }
  Board& board() override { return wire_.board(); }
  bool Unplugged() const override { return unplugged_; }

  // What the chips' request handlers work on.
  Trace& trace() { return wire_.trace(); }
  bool Cts() const { return wire_.line().cts(); }
  bool Dtr() const { return dtr_; }
  bool Rts() const { return rts_; }
  size_t TxPending() const { return tx_hold_.size() + wire_.line().PendingToBoard(); }
  void SetRate(uint32_t baud) {
    if (baud != 0) wire_.SetHostBaud(baud);
  }
  uint32_t Rate() const { return wire_.line().host_baud(); }
  // Eight data bits, no parity, one stop bit, no break: what the board
  // reads. Other framing garbles every byte.
  void SetFraming(bool board_reads_it) { framing_ok_ = board_reads_it; }
  void SetDtr(bool on) {
    if (on == dtr_) return;
    dtr_ = on;
    trace().Event(on ? "dtr 1" : "dtr 0");
  }
  void SetRts(bool on, Nanos now) {
    if (on == rts_) return;
    rts_ = on;
    wire_.SetRts(on, now);
  }
  // With the RTS/CTS handshake on, the chip sends nothing while CTS is low.
  void SetHandshake(bool on, Nanos now) {
    if (on == handshake_) return;
    handshake_ = on;
    trace().Event(on ? "flow hw" : "flow none");
    Transmit(now);
  }
  void Purge(bool received, bool to_send) {
    if (received) {
      rx_.clear();
      wire_.line().PurgeToHost();
    }
    if (to_send) {
      tx_hold_.clear();
      wire_.line().PurgeToBoard();
    }
    if (received || to_send) trace().Event(std::string("purge ") + (received && to_send ? "3" : received ? "1" : "2"));
  }
  void SetTransmitterEnabled(bool on, Nanos now) {
    enabled_ = on;
    Transmit(now);
  }
  int latency_ms() const { return latency_ms_; }
  void SetLatency(int ms) { latency_ms_ = std::clamp(ms, 1, 255); }
  void SetEscapeChar(uint8_t c) { escape_char_ = c; }
  uint8_t& Register(uint16_t r) { return registers_[r]; }

 private:
  ControlReply Descriptor(const Setup& s) const {
    const auto type = static_cast<uint8_t>(s.value >> 8);
    if (type == kDescDevice) return {false, DeviceDescriptor(chip_)};
    if (type == kDescConfig) return {false, ConfigDescriptor(chip_)};
    if (type == kDescString) {
      if (auto d = StringDescriptor(chip_, static_cast<uint8_t>(s.value & 0xFF))) return {false, *d};
    }
    // Among others the device qualifier, which a full-speed device
    // claiming USB 2.0 is asked for and has none of.
    return ControlReply::Stall();
  }

  // Bytes held in the chip go onto the line while it may send them.
  void Transmit(Nanos now) {
    if (handshake_ && !Cts()) return;
    while (!tx_hold_.empty()) {
      const uint8_t b = tx_hold_.front();
      tx_hold_.pop_front();
      if (!enabled_ || !framing_ok_) {
        trace().Byte('x', b);
        continue;
      }
      wire_.FromHost(b, now);
    }
  }

  bool HoldsForLatency() const { return chip_.status == StatusPath::InPackets; }

  // ftdi_sio's view of an FT232R (ftdi_process_read_urb): every 64-byte
  // packet starts with the modem status (CTS 0x10, low nibble 1) and the
  // line status (0x60, transmitter empty, when nothing waits to be sent; the
  // driver's close waits for that bit). Received bytes are held until 62
  // fill a packet or the latency timer has run since the first of them; a
  // modem status change goes out at once as a packet of status alone.
  std::optional<std::vector<uint8_t>> Ft232rPackets(size_t max, Nanos now) {
    constexpr size_t kPacket = 64;
    constexpr size_t kStatusBytes = 2;
    const std::array<uint8_t, 2> status{static_cast<uint8_t>(0x01 | (Cts() ? 0x10 : 0)),
                                        static_cast<uint8_t>(TxPending() == 0 ? 0x60 : 0x00)};
    const bool status_changed = status[0] != sent_modem_status_;
    const bool due = rx_.size() >= kPacket - kStatusBytes ||
                     (!rx_.empty() && now >= rx_since_ + latency_ms_ * kMillisecond);
    if (!due && !status_changed) return std::nullopt;
    if (max < kStatusBytes) return std::nullopt;
    std::vector<uint8_t> data;
    do {
      data.insert(data.end(), status.begin(), status.end());
      const size_t room = std::min(kPacket, max - (data.size() - kStatusBytes)) - kStatusBytes;
      const size_t n = due ? std::min(room, rx_.size()) : 0;
      data.insert(data.end(), rx_.begin(), rx_.begin() + static_cast<long>(n));
      rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(n));
    } while (due && !rx_.empty() && max - data.size() > kStatusBytes);
    sent_modem_status_ = status[0];
    rx_since_ = now;
    latency_expired_ = false;
    return data;
  }

  // The modem status on the interrupt endpoint, when it differs from what
  // the host heard last: ch341's (4 bytes, status inverted in byte 2, CTS
  // bit 0) or pl2303's (a 10-byte serial state notice, status in byte 8,
  // CTS 0x80).
  std::optional<std::vector<uint8_t>> InterruptReport() {
    const uint8_t state = Cts() ? 1 : 0;
    if (reported_ == state) return std::nullopt;
    reported_ = state;
    if (chip_.kind == AdapterKind::Ch340)
      return std::vector<uint8_t>{0x20, 0x00, static_cast<uint8_t>(~(Cts() ? 0x01 : 0x00)), 0x00};
    return std::vector<uint8_t>{0xA1, 0x20, 0, 0, 0, 0, 2, 0, static_cast<uint8_t>(Cts() ? 0x80 : 0x00), 0};
  }

  const Chip& chip_;
  AdapterConfig config_;
  BoardLine wire_;
  uint8_t configuration_ = 0;
  bool dtr_ = false;
  bool rts_ = false;
  bool handshake_ = false;
  bool framing_ok_ = true;
  bool enabled_ = true;
  std::deque<uint8_t> tx_hold_;  // taken from the host, not yet on the line
  std::deque<uint8_t> rx_;       // from the board, not yet sent to the host
  Nanos rx_since_ = 0;           // when the bytes in rx_ began to wait
  bool latency_expired_ = false;
  int latency_ms_ = 16;
  uint8_t sent_modem_status_ = 0x01;
  std::optional<uint8_t> reported_;
  uint8_t escape_char_ = 0;
  std::map<uint16_t, uint8_t> registers_;
  uint64_t taken_ = 0;
  bool unplugged_ = false;
};

// ---- FT232R, against drivers/usb/serial/ftdi_sio.c ----
//
// Vendor requests to the device (0x40 out, 0xC0 in), interface in wIndex's
// low byte (0 for the single-port FT232R). The rate is a divisor of 3 MHz
// with a fraction in eighths: wValue bits 0-13 the whole part, bits 14-15
// and wIndex bit 0 the fraction's code (ftdi_232bm_baud_base_to_divisor).
uint32_t Ft232rRate(uint16_t value, uint16_t index) {
  static constexpr std::array<uint32_t, 8> kEighths{0, 4, 2, 1, 3, 5, 6, 7};
  const uint32_t whole = value & 0x3FFF;
  const uint32_t code = (value >> 14) | (uint32_t{index} & 1) << 2;
  uint32_t eighths = whole * 8 + kEighths[code];
  if (whole == 0 && code == 0) eighths = 8;  // 3 MBd
  if (whole == 1 && code == 0) eighths = 12;  // 2 MBd (1.5)
  return static_cast<uint32_t>(3'000'000ull * 8 / eighths);
}

ControlReply Ft232rRequest(Adapter& a, const Setup& s, const std::vector<uint8_t>&, Nanos now) {
  enum : uint8_t {
    kReset = 0, kModemCtrl = 1, kSetFlowCtrl = 2, kSetBaudRate = 3, kSetData = 4, kGetModemStatus = 5,
    kSetEventChar = 6, kSetErrorChar = 7, kSetLatencyTimer = 9, kGetLatencyTimer = 0x0A, kSetBitmode = 0x0B,
    kReadPins = 0x0C, kReadEeprom = 0x90,
  };
  switch (s.request) {
    case kReset:  // 0 the whole chip, 1 purge receive, 2 purge transmit
      a.Purge(s.value != 2, s.value != 1);
      return {};
    case kModemCtrl:  // high byte: which lines; low byte: their levels
      if (s.value & 0x0100) a.SetDtr((s.value & 0x01) != 0);
      if (s.value & 0x0200) a.SetRts((s.value & 0x02) != 0, now);
      return {};
    case kSetFlowCtrl:  // wIndex high byte: 1 RTS/CTS, 2 DTR/DSR, 4 XON/XOFF
      a.SetHandshake((s.index & 0x0100) != 0, now);
      return {};
    case kSetBaudRate:
      a.SetRate(Ft232rRate(s.value, s.index));
      return {};
    case kSetData:  // bits 0-7 data bits, 8-10 parity, 11-13 stop bits, 14 break
      a.SetFraming((s.value & 0x7FFF) == 8);
      return {};
    case kGetModemStatus:
      return {false, {static_cast<uint8_t>(0x01 | (a.Cts() ? 0x10 : 0)),
                      static_cast<uint8_t>(a.TxPending() == 0 ? 0x60 : 0x00)}};
    case kSetLatencyTimer:
      a.SetLatency(s.value & 0xFF);
      a.trace().Event("latency timer " + std::to_string(a.latency_ms()));
      return {};
    case kGetLatencyTimer:
      return {false, {static_cast<uint8_t>(a.latency_ms())}};
    case kReadPins:
      return {false, {0}};
    case kReadEeprom: {
      // Word 0x0A holds the CBUS pin functions, which the driver reads at
      // probe to find GPIO pins: TXLED, RXLED, TXDEN, PWREN (none a GPIO).
      const uint16_t word = s.index == 0x0A ? 0x1023 : s.index == 1 ? 0x0403 : s.index == 2 ? 0x6001 : 0;
      return {false, {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8)}};
    }
    case kSetEventChar:
    case kSetErrorChar:
    case kSetBitmode:
      return {};
    default:
      return ControlReply::Stall();
  }
}

// ---- CP2102, against drivers/usb/serial/cp210x.c ----
//
// Requests to the interface (0x41 out, 0xC1 in); the part number is a
// vendor-specific request to the device (0xC0). The rate is set as a
// 32-bit rate (SET_BAUDRATE) or as a divisor of 3.6864 MHz (SET_BAUDDIV).
ControlReply Cp2102Request(Adapter& a, const Setup& s, const std::vector<uint8_t>& out, Nanos now) {
  enum : uint8_t {
    kIfcEnable = 0x00, kSetBauddiv = 0x01, kGetBauddiv = 0x02, kSetLineCtl = 0x03, kGetLineCtl = 0x04,
    kSetBreak = 0x05, kSetMhs = 0x07, kGetMdmsts = 0x08, kGetCommStatus = 0x10, kPurge = 0x12,
    kSetFlow = 0x13, kGetFlow = 0x14, kEmbedEvents = 0x15, kGetBaudrate = 0x1D, kSetBaudrate = 0x1E,
    kVendorSpecific = 0xFF,
  };
  constexpr uint16_t kGetPartnum = 0x370B;
  constexpr uint8_t kPartCp2102 = 0x02;
  constexpr uint32_t kBaudGen = 0x384000;
  constexpr uint16_t kFlowRegister = 0x100;  // the 16 bytes of SET_FLOW, kept from here on
  switch (s.request) {
    case kIfcEnable:
      a.SetTransmitterEnabled(s.value != 0, now);
      return {};
    case kSetBauddiv:
      if (s.value != 0) a.SetRate(kBaudGen / s.value);
      return {};
    case kGetBauddiv: {
      std::vector<uint8_t> d;
      PutLe16(d, static_cast<uint16_t>(kBaudGen / std::max<uint32_t>(a.Rate(), 1)));
      return {false, d};
    }
    case kSetBaudrate:
      if (out.size() >= 4) a.SetRate(Le32(out, 0));
      return {};
    case kGetBaudrate: {
      std::vector<uint8_t> d;
      PutLe32(d, a.Rate());
      return {false, d};
    }
    case kSetLineCtl:  // bits 8-11 data bits, 4-7 parity, 0-3 stop bits
      a.Register(kSetLineCtl) = static_cast<uint8_t>(s.value >> 8);
      a.Register(kSetLineCtl + 1) = static_cast<uint8_t>(s.value & 0xFF);
      a.SetFraming(s.value == 0x0800);
      return {};
    case kGetLineCtl:
      return {false, {a.Register(kSetLineCtl + 1), a.Register(kSetLineCtl)}};
    case kSetBreak:
      a.SetFraming(s.value == 0 && a.Register(kSetLineCtl) == 0x08 && a.Register(kSetLineCtl + 1) == 0);
      return {};
    case kSetMhs:  // bit 0 DTR, 1 RTS; bits 8 and 9 say which to write
      if (s.value & 0x0100) a.SetDtr((s.value & 0x01) != 0);
      if (s.value & 0x0200) a.SetRts((s.value & 0x02) != 0, now);
      return {};
    case kGetMdmsts:
      return {false, {static_cast<uint8_t>((a.Dtr() ? 0x01 : 0) | (a.Rts() ? 0x02 : 0) | (a.Cts() ? 0x10 : 0))}};
    case kGetCommStatus: {  // errors, hold reasons, bytes in, bytes out, three flags
      std::vector<uint8_t> d;
      PutLe32(d, 0);
      PutLe32(d, 0);
      PutLe32(d, 0);
      PutLe32(d, static_cast<uint32_t>(a.TxPending()));
      d.insert(d.end(), {0, 0, 0});
      return {false, d};
    }
    case kPurge:  // bits 0 and 2 the transmit queue, 1 and 3 the receive queue
      a.Purge((s.value & 0x0A) != 0, (s.value & 0x05) != 0);
      return {};
    case kSetFlow: {
      // ulControlHandshake: bits 0-1 DTR (1 on), bit 3 CTS handshake;
      // ulFlowReplace: bits 6-7 RTS (0 off, 1 on, 2 the chip's flow control,
      // which keeps it on while the chip can take bytes).
      if (out.size() < 16) return ControlReply::Stall();
      for (size_t i = 0; i < 16; ++i) a.Register(static_cast<uint16_t>(kFlowRegister + i)) = out[i];
      const uint32_t control = Le32(out, 0);
      const uint32_t replace = Le32(out, 4);
      a.SetDtr((control & 0x03) == 1);
      a.SetRts(((replace >> 6) & 0x03) != 0, now);
      a.SetHandshake((control & 0x08) != 0, now);
      return {};
    }
    case kGetFlow: {
      std::vector<uint8_t> d;
      for (uint16_t i = 0; i < 16; ++i) d.push_back(a.Register(static_cast<uint16_t>(kFlowRegister + i)));
      return {false, d};
    }
    case kEmbedEvents:
      a.SetEscapeChar(static_cast<uint8_t>(s.value & 0xFF));
      return {};
    case kVendorSpecific:
      // A genuine CP2102 answers a two-byte part number request with two
      // bytes; the driver takes one byte for a part that lacks event mode.
      if (s.value == kGetPartnum) return {false, {kPartCp2102, 0x00}};
      return ControlReply::Stall();
    default:  // SET_EVENTMASK, SET_CHARS and the like: taken
      return s.in() ? ControlReply::Stall() : ControlReply{};
  }
}

// ---- CH340, against drivers/usb/serial/ch341.c ----
//
// Vendor requests to the device. Registers are written and read in pairs:
// wValue names two registers (second << 8 | first), wIndex carries their
// values alike. The rate is register 0x12 (prescaler: bits 0-1 ps, bit 2
// fact, bit 7 "send at once") with 0x13 (0x100 minus the divisor):
// rate = 48 MHz / (2^(12 - 3 ps - fact) * divisor). Register 0x18 is the
// line control (0xC3 for 8N1 with receiver and transmitter on). The modem
// lines are set with MODEM_CTRL, inverted (RTS 0x40, DTR 0x20); the status
// reads back inverted from register 0x06 (CTS bit 0). The driver sets no
// flow control on this chip.
uint32_t Ch340Rate(uint8_t prescaler, uint8_t divisor_reg) {
  const uint32_t ps = prescaler & 0x03;
  const uint32_t fact = (prescaler >> 2) & 0x01;
  const uint32_t divisor = 0x100 - divisor_reg;
  return static_cast<uint32_t>(48'000'000u / ((1u << (12 - 3 * ps - fact)) * divisor));
}

ControlReply Ch340Request(Adapter& a, const Setup& s, const std::vector<uint8_t>&, Nanos now) {
  enum : uint8_t { kReadVersion = 0x5F, kWriteReg = 0x9A, kReadReg = 0x95, kSerialInit = 0xA1, kModemCtrl = 0xA4 };
  enum : uint8_t { kRegBreak = 0x05, kRegStatus = 0x06, kRegPrescaler = 0x12, kRegDivisor = 0x13, kRegLcr = 0x18 };
  constexpr uint8_t kVersion = 0x31;  // writes the line control with the rate
  const auto first = static_cast<uint8_t>(s.value & 0xFF);
  const auto second = static_cast<uint8_t>(s.value >> 8);
  auto reg = [&a](uint8_t r) -> uint8_t {
    if (r == kRegStatus) return static_cast<uint8_t>(~(a.Cts() ? 0x01 : 0x00));
    return a.Register(r);
  };
  switch (s.request) {
    case kReadVersion:
      return {false, {kVersion, 0x00}};
    case kSerialInit:
      a.Register(kRegBreak) = 0x01;  // no break
      return {};
    case kWriteReg: {
      a.Register(first) = static_cast<uint8_t>(s.index & 0xFF);
      a.Register(second) = static_cast<uint8_t>(s.index >> 8);
      const auto wrote = [first, second](uint8_t r) { return first == r || second == r; };
      if (wrote(kRegPrescaler) || wrote(kRegDivisor))
        a.SetRate(Ch340Rate(a.Register(kRegPrescaler), a.Register(kRegDivisor)));
      if (wrote(kRegLcr) || wrote(kRegBreak))
        a.SetFraming(a.Register(kRegLcr) == 0xC3 && (a.Register(kRegBreak) & 0x01) != 0);
      return {};
    }
    case kReadReg:
      return {false, {reg(first), reg(second)}};
    case kModemCtrl:
      a.SetDtr((s.value & 0x20) == 0);
      a.SetRts((s.value & 0x40) == 0, now);
      return {};
    default:
      return ControlReply::Stall();
  }
}

// ---- PL2303 (HX), against drivers/usb/serial/pl2303.c ----
//
// Class requests to the interface (0x21 out, 0xA1 in) set the line and the
// modem lines; vendor requests read (0xC0) and write (0x40) registers, a
// read of register R being wValue R | 0x80. Register 0's high nibble is the
// flow control (0x60 RTS/CTS, 0x40 on the oldest parts). The line is seven
// bytes: the rate (a 32-bit rate, or with bit 31 set a divisor: 12 MHz * 32
// / (mantissa * 4^exponent), mantissa bits 0-8, exponent bits 9-11), stop
// bits, parity, data bits.
uint32_t Pl2303Rate(const std::vector<uint8_t>& line) {
  const uint32_t raw = Le32(line, 0);
  if ((raw & 0x80000000u) == 0) return raw;
  const uint32_t mantissa = std::max<uint32_t>(raw & 0x1FF, 1);
  const uint32_t exponent = (raw >> 9) & 0x07;
  return (12'000'000u * 32 / mantissa) >> (2 * exponent);
}

ControlReply Pl2303Request(Adapter& a, const Setup& s, const std::vector<uint8_t>& out, Nanos now) {
  enum : uint8_t { kSetLine = 0x20, kGetLine = 0x21, kSetControl = 0x22, kBreak = 0x23, kVendor = 0x01 };
  constexpr uint16_t kLineRegister = 0x200;  // the seven bytes of SET_LINE, kept from here on
  const bool vendor = (s.request_type & kTypeMask) == 0x40;
  if (vendor) {
    if (s.request != kVendor) return ControlReply::Stall();
    if (s.in()) {
      const bool reg_read = s.value >= 0x80 && s.value < 0x100;
      return {false, {reg_read ? a.Register(s.value & 0x7F) : uint8_t{0}}};
    }
    a.Register(s.value) = static_cast<uint8_t>(s.index & 0xFF);
    if (s.value == 0) {
      const uint8_t flow = a.Register(0) & 0xF0;
      a.SetHandshake(flow == 0x60 || flow == 0x40, now);
    }
    if (s.value == 8) a.Purge(true, false);  // the upstream and downstream pipes at open
    if (s.value == 9) a.Purge(false, true);
    return {};
  }
  switch (s.request) {
    case kSetLine:
      if (out.size() < 7) return ControlReply::Stall();
      for (uint16_t i = 0; i < 7; ++i) a.Register(static_cast<uint16_t>(kLineRegister + i)) = out[i];
      a.SetRate(Pl2303Rate(out));
      a.SetFraming(out[4] == 0 && out[5] == 0 && out[6] == 8);
      return {};
    case kGetLine: {
      std::vector<uint8_t> d;
      for (uint16_t i = 0; i < 7; ++i) d.push_back(a.Register(static_cast<uint16_t>(kLineRegister + i)));
      return {false, d};
    }
    case kSetControl:  // bit 0 DTR, bit 1 RTS
      a.SetDtr((s.value & 0x01) != 0);
      a.SetRts((s.value & 0x02) != 0, now);
      return {};
    case kBreak:
      return {};
    default:
      return ControlReply::Stall();
  }
}

}  // namespace

std::optional<AdapterKind> AdapterByName(std::string_view name) {
  for (const Chip& c : kChips) {
    if (name == c.name) return c.kind;
  }
  return std::nullopt;
}

std::vector<std::string> AdapterNames() {
  std::vector<std::string> names;
  for (const Chip& c : kChips) names.emplace_back(c.name);
  return names;
}

std::unique_ptr<UsbDevice> MakeAdapter(const AdapterConfig& adapter, const LineConfig& line,
                                       std::unique_ptr<Board> board, Trace& trace) {
  return std::make_unique<Adapter>(ChipOf(adapter.kind), adapter, line, std::move(board), trace);
}

}  // namespace vk::sim
