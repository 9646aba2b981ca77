// The device discovery vkports and the diagnostics use, against a fake tree
// standing in for /sys, /dev and /proc: a USB adapter ttyVKU0 (linked as
// sysfs links it), a platform port ttyVKP0, one without a UART (ttyVKP1) and
// a tty without a device.
#include "link/diagnose.h"
#include "ports/devices.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "link/port_names.h"
#include "tools/vkports/report.h"
#include "support/process.h"

using namespace vk::ports;
using namespace vk::vkports;
namespace fs = std::filesystem;

namespace {

const std::string kById = "/dev/serial/by-id/usb-VK_Adapter_A1B2C3-if00-port0";

struct Tree {
  vktest::TempDir root;
  void Dir(const std::string& path) { fs::create_directories(root.File(path)); }
  void File(const std::string& path, const std::string& text) { vktest::WriteFile(root.File(path), text); }
  void Link(const std::string& target, const std::string& path) { fs::create_symlink(target, root.File(path)); }
  Tree() {
    const std::string usb = "sys/devices/pci0/usb1/1-1", port = usb + "/1-1:1.0/ttyVKU0";
    const std::string platform = "sys/devices/platform/uart";
    for (const std::string& d : {port + "/tty/ttyVKU0", std::string("sys/bus/usb-serial/drivers/vkusb"),
                                 std::string("sys/bus/usb-serial/devices"), std::string("sys/class/tty/tty0"),
                                 platform + "/tty/ttyVKP0", platform + "/tty/ttyVKP1",
                                 std::string("sys/bus/platform/drivers/uart"), std::string("dev/serial/by-id"),
                                 std::string("proc/123/fd"), std::string("proc/456")})
      Dir(d);
    File(usb + "/idVendor", "0403\n");
    File(usb + "/idProduct", "6001\n");
    File(usb + "/serial", "A1B2C3\n");
    File(port + "/latency_timer", "16\n");
    Link("../../../../../bus/usb-serial/drivers/vkusb", port + "/driver");
    Link("../../../ttyVKU0", port + "/tty/ttyVKU0/device");
    Link("../../devices/pci0/usb1/1-1/1-1:1.0/ttyVKU0/tty/ttyVKU0", "sys/class/tty/ttyVKU0");
    Link("../../../devices/pci0/usb1/1-1/1-1:1.0/ttyVKU0", "sys/bus/usb-serial/devices/ttyVKU0");
    for (const char* tty : {"ttyVKP0", "ttyVKP1"}) {
      Link("../../../uart", platform + "/tty/" + tty + "/device");
      Link(std::string("../../devices/platform/uart/tty/") + tty, std::string("sys/class/tty/") + tty);
    }
    Link("../../../bus/platform/drivers/uart", platform + "/driver");
    File(platform + "/tty/ttyVKP0/type", "4\n");
    File(platform + "/tty/ttyVKP1/type", "0\n");
    File("dev/ttyVKU0", "");
    File("dev/ttyVKP0", "");
    Link("../../ttyVKU0", "dev/serial/by-id/usb-VK_Adapter_A1B2C3-if00-port0");
    for (const char* fd : {"4", "5"}) Link("/dev/ttyVKU0", std::string("proc/123/fd/") + fd);  // one process, twice
    File("proc/123/comm", "term\n");
    File("proc/456/comm", "other\n");  // no fd directory: skipped
  }
};

TEST(Devices, FindsTheSerialDevicesAndWhatHoldsThem) {
  Tree t;
  EXPECT_EQ(Resolve(t.root.path(), "/proc/123/fd/4"), "/dev/ttyVKU0");  // absolute target: inside the root
  EXPECT_EQ(Resolve(t.root.path(), "/dev/ttyVKU9"), std::nullopt);
  std::vector<SerialDevice> devices = SerialDevices(t.root.path());
  ASSERT_EQ(devices.size(), 3u);  // tty0 has no device link
  EXPECT_TRUE(devices[2].holders.empty());  // /proc is walked only when asked
  FindHolders(t.root.path(), devices);
  EXPECT_EQ(devices[0].driver, "uart");
  EXPECT_TRUE(devices[0].usb_id.empty());
  EXPECT_TRUE(devices[1].no_uart);
  EXPECT_FALSE(devices[1].exists);
  const SerialDevice& usb = devices[2];
  EXPECT_EQ(usb.path, "/dev/ttyVKU0");
  EXPECT_TRUE(usb.accessible);
  EXPECT_EQ(usb.by_id, std::vector<std::string>{kById});
  EXPECT_EQ(usb.driver, "vkusb");
  EXPECT_EQ(usb.usb_id, "0403:6001");
  EXPECT_EQ(usb.usb_serial, "A1B2C3");
  ASSERT_EQ(usb.holders.size(), 1u);
  EXPECT_EQ(usb.holders[0].pid, 123);
  EXPECT_EQ(usb.holders[0].comm, "term");
  EXPECT_EQ(usb.latency_file, "/sys/bus/usb-serial/devices/ttyVKU0/latency_timer");
  EXPECT_EQ(usb.latency_ms, 16);

  const std::vector<ComPort> ports = ComPorts(t.root.path(), {kById.c_str(), "rfc2217://host:2217", nullptr, ""});
  EXPECT_EQ(ports[0].real, "/dev/ttyVKU0");
  EXPECT_TRUE(ports[1].url);
  EXPECT_FALSE(ports[2].mapped);
  EXPECT_EQ(ports[3].name, vk::link::DefaultDeviceName(4));  // empty is unset

  const std::string text = Report(ports, devices);
  for (const std::string& line :
       {"  COM1  " + kById + "  VK_COM1, exists: /dev/ttyVKU0\n", "    by-id    " + kById + "\n",
        std::string("    usb      0403:6001, serial A1B2C3\n"), std::string("    in use   by pid 123 (term)\n"),
        std::string("    latency  16 ms; save mode wants 1 ms: echo 1 | sudo tee "
                    "/sys/bus/usb-serial/devices/ttyVKU0/latency_timer\n"),
        std::string("Without a UART (sysfs type 0): ttyVKP1\n")})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST(Devices, ReportHintsAtTheGroupWhenADeviceIsClosedToTheUser) {
  SerialDevice d;
  d.tty = "ttyVKU1";
  d.path = "/dev/ttyVKU1";
  d.exists = true;
  d.mode = "crw-rw----";
  d.owner = "root";
  d.group = "dialout";
  EXPECT_NE(Report({}, {d}).find("    access   no: crw-rw---- root dialout; join the group: sudo usermod -aG "
                                 "dialout $USER"),
            std::string::npos);
}

// Windows: the ids the device manager gives, and the report of the ports it
// and the registry list (built from ports as the system would list them).
TEST(WindowsPorts, ReadsTheIdsAndReportsWhatTheSystemLists) {
  const std::vector<std::array<std::string, 3>> ids = {
      // instance id, USB id, serial ("" where the system made one up)
      {"USB\\VID_10C4&PID_EA60\\0001", "10c4:ea60", "0001"}, {"ACPI\\PNP0501\\1", "", ""},
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001", "A50285BIA"},
      {"usb\\vid_067b&pid_23a3", "067b:23a3", ""}, {"USB\\VID_1A86&PID_7523\\5&2A4B3C&0&2", "1a86:7523", ""}};
  for (const auto& [instance, usb, serial] : ids) {
    EXPECT_EQ(UsbIdFrom(instance), usb) << instance;
    EXPECT_EQ(UsbIdFrom(instance).empty() ? "" : UsbSerialFrom(instance), serial) << instance;
  }
  EXPECT_TRUE(PortNameBefore("COM2", "COM10"));
  EXPECT_FALSE(PortNameBefore("COM10", "COM9"));
  const std::vector<MachinePort> machine{
      {"COM1", "\\Device\\Serial0", "", "", "", "", false, false, ""},
      {"COM3", "", "Communications Port (COM3)", "ACPI\\PNP0501", "", "", true, false, "disabled"},
      {"COM12", "\\Device\\VCP0", "USB Serial Port (COM12)", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "0403:6001",
       "A50285BIA", true, true, "ready"}};
  const auto coms = MappedPorts({"\\\\.\\com12", "COM3", "rfc2217://host:2217", "COM7"}, machine);
  const std::string text = PortsReport(coms, machine);
  for (const char* line :
       {"  COM1  \\\\.\\com12            VK_COM1, COM12 ready: its driver is started",
        "  COM2  COM3                 VK_COM2, COM3 disabled in the device manager: it does not open\n",
        "  COM4  COM7                 VK_COM4, not a COM port of this machine\n",
        "  COM1\n    driver   \\Device\\Serial0\n    state    listed by the system",
        "    usb      0403:6001, serial A50285BIA\n", "    map      VK_COM1=\\\\.\\COM12\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// The -I check names the latency timer only when it costs time, with the
// command that sets it to 1 ms; a timer already at 1 ms is not the cause.
TEST(EchoHint, NamesTheCauseOnlyWhenItIsOne) {
  using vk::link::LatencyTimer;
  const std::vector<std::tuple<std::optional<LatencyTimer>, double, std::string>> cases = {
      // the timer, the echo's time in ms, a part of the hint ("" for none)
      {LatencyTimer{4, "f"}, 3.5, "latency timer is 4 ms (f); set it to 1 ms: echo 1 | sudo tee f"},  // costs 3 ms
      {LatencyTimer{1, "f"}, 8.9, "already 1 ms"}, {LatencyTimer{1, "f"}, 1.1, ""}, {std::nullopt, 1.0, ""},
      {std::nullopt, 8.9, "holds received bytes back"}};
  for (const auto& [timer, echo_ms, says] : cases) {
    const std::string hint = vk::link::EchoDelayHint(false, timer, 0.2, echo_ms);
    if (says.empty()) EXPECT_EQ(hint, "") << echo_ms;
    else EXPECT_NE(hint.find(says), std::string::npos) << hint;
  }
}

}  // namespace
