// vkports' pure part against a fake tree standing in for /sys, /dev, /proc.
#include "link/devices.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/process.h"

using namespace vk::ports;
namespace fs = std::filesystem;

namespace {

// A USB adapter ttyUSB0 (linked as real sysfs links it), a legacy port
// ttyS0, a ttyS1 without a UART and tty0 without a device.
class VkportsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string usb = "sys/devices/pci0/usb1/1-1";
    const std::string port = usb + "/1-1:1.0/ttyUSB0";
    Dir(port + "/tty/ttyUSB0");
    Dir("sys/bus/usb-serial/drivers/ftdi_sio");
    Dir("sys/bus/usb-serial/devices");
    Dir("sys/class/tty/tty0");
    Dir("sys/devices/platform/serial8250/tty/ttyS0");
    Dir("sys/devices/platform/serial8250/tty/ttyS1");
    Dir("sys/bus/platform/drivers/serial8250");
    Dir("dev/serial/by-id");
    Dir("proc/123/fd");
    Dir("proc/456");
    File(usb + "/idVendor", "0403\n");
    File(usb + "/idProduct", "6001\n");
    File(usb + "/serial", "A1B2C3\n");
    File(port + "/latency_timer", "16\n");
    Link("../../../../../bus/usb-serial/drivers/ftdi_sio", port + "/driver");
    Link("../../../ttyUSB0", port + "/tty/ttyUSB0/device");
    Link("../../devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", "sys/class/tty/ttyUSB0");
    Link("../../../devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0", "sys/bus/usb-serial/devices/ttyUSB0");
    for (const char* tty : {"ttyS0", "ttyS1"}) {
      const std::string dir = std::string("sys/devices/platform/serial8250/tty/") + tty;
      Link("../../../serial8250", dir + "/device");
      Link(std::string("../../devices/platform/serial8250/tty/") + tty, std::string("sys/class/tty/") + tty);
    }
    Link("../../../bus/platform/drivers/serial8250", "sys/devices/platform/serial8250/driver");
    File("sys/devices/platform/serial8250/tty/ttyS0/type", "4\n");
    File("sys/devices/platform/serial8250/tty/ttyS1/type", "0\n");
    File("dev/ttyUSB0", "");
    File("dev/ttyS0", "");
    Link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
    Link("/dev/ttyUSB0", "proc/123/fd/4");
    Link("/dev/ttyUSB0", "proc/123/fd/5");
    Link("/dev/null", "proc/123/fd/0");
    File("proc/123/comm", "minicom\n");
    File("proc/456/comm", "other\n");  // no fd directory: skipped
  }

  void Dir(const std::string& path) { fs::create_directories(root_.File(path)); }
  void File(const std::string& path, const std::string& text) { vktest::WriteFile(root_.File(path), text); }
  void Link(const std::string& target, const std::string& path) { fs::create_symlink(target, root_.File(path)); }
  const std::string& Root() const { return root_.path(); }

  vktest::TempDir root_;
};

TEST_F(VkportsTree, ResolvesLinksInsideTheRoot) {
  EXPECT_EQ(Resolve(Root(), "/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0"), "/dev/ttyUSB0");
  EXPECT_EQ(Resolve(Root(), "/sys/class/tty/ttyUSB0/device"), "/sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0");
  EXPECT_EQ(Resolve(Root(), "/proc/123/fd/4"), "/dev/ttyUSB0");  // absolute target: inside the root
  EXPECT_EQ(Resolve(Root(), "/dev/ttyUSB9"), std::nullopt);
}

TEST_F(VkportsTree, FindsTheSerialDevices) {
  const std::vector<SerialDevice> devices = SerialDevices(Root());
  ASSERT_EQ(devices.size(), 3u);  // tty0 has no device link
  const SerialDevice& s0 = devices[0];
  EXPECT_EQ(s0.path, "/dev/ttyS0");
  EXPECT_EQ(s0.driver, "serial8250");
  EXPECT_TRUE(s0.usb_id.empty());
  EXPECT_EQ(s0.latency_ms, -1);
  EXPECT_FALSE(s0.no_uart);
  EXPECT_TRUE(devices[1].no_uart);
  EXPECT_FALSE(devices[1].exists);

  const SerialDevice& usb = devices[2];
  EXPECT_EQ(usb.tty, "ttyUSB0");
  EXPECT_TRUE(usb.exists);
  EXPECT_TRUE(usb.accessible);
  EXPECT_EQ(usb.mode.substr(0, 1), "-");
  EXPECT_EQ(usb.by_id, std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0"});
  EXPECT_EQ(usb.driver, "ftdi_sio");
  EXPECT_EQ(usb.usb_id, "0403:6001");
  EXPECT_EQ(usb.usb_serial, "A1B2C3");
  ASSERT_EQ(usb.holders.size(), 1u);  // two descriptors, one process
  EXPECT_EQ(usb.holders[0].pid, 123);
  EXPECT_EQ(usb.holders[0].comm, "minicom");
  EXPECT_EQ(usb.latency_ms, 16);
  EXPECT_EQ(usb.latency_file, "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
}

TEST_F(VkportsTree, MapsTheComPorts) {
  const std::vector<ComPort> ports = ComPorts(
      Root(), {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", "rfc2217://host:2217", nullptr, ""});
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_TRUE(ports[0].mapped);
  EXPECT_TRUE(ports[0].exists);
  EXPECT_EQ(ports[0].real, "/dev/ttyUSB0");
  EXPECT_TRUE(ports[1].url);
  EXPECT_EQ(ports[2].name, "/dev/ttyS2");
  EXPECT_FALSE(ports[2].mapped);
  EXPECT_FALSE(ports[2].exists);
  EXPECT_EQ(ports[3].name, "/dev/ttyS3");  // empty is unset
}

TEST_F(VkportsTree, ReportsInAlignedLines) {
  const std::string text =
      Report(ComPorts(Root(), {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", "rfc2217://host:2217",
                               nullptr, nullptr}),
             SerialDevices(Root()));
  EXPECT_NE(text.find("  COM1  /dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0  VK_COM1, exists: /dev/ttyUSB0\n"),
            std::string::npos)
      << text;
  // The third column starts at one place on every line.
  const auto column = [&text](const std::string& line_start, const std::string& word) {
    const size_t line = text.find(line_start);
    return line == std::string::npos ? line : text.find(word, line) - line;
  };
  EXPECT_EQ(column("  COM2  rfc2217://host:2217 ", "VK_COM2, RFC 2217 server (not contacted)\n"),
            column("  COM1", "VK_COM1"));
  EXPECT_EQ(column("  COM3  /dev/ttyS2 ", "default, does not exist\n"), column("  COM1", "VK_COM1"));
  EXPECT_NE(text.find("  /dev/ttyUSB0\n"
                      "    by-id    /dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0\n"
                      "    driver   ftdi_sio\n"
                      "    usb      0403:6001, serial A1B2C3\n"
                      "    access   yes: -rw"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("    in use   by pid 123 (minicom)\n"
                      "    latency  16 ms; save mode wants 1 ms: "
                      "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Without a UART (sysfs type 0): ttyS1\n"), std::string::npos) << text;
}

TEST(VkportsReport, HintsAtTheGroupWhenADeviceIsClosedToTheUser) {
  SerialDevice d;
  d.tty = "ttyACM0";
  d.path = "/dev/ttyACM0";
  d.exists = true;
  d.mode = "crw-rw----";
  d.owner = "root";
  d.group = "dialout";
  const std::string text = Report({}, {d});
  EXPECT_NE(text.find("    access   no: crw-rw---- root dialout; join the group: sudo usermod -aG dialout $USER"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("    in use   no process found\n"), std::string::npos) << text;
}

}  // namespace
