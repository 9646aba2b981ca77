// The machine's serial devices, found through sysfs and /dev, and the
// processes holding them, found through /proc (Linux). vkports lists them;
// the diagnostics after a failed open name them.
//
// Nothing here opens a device: only stat, lstat, readlink, access and reads
// of sysfs and proc text files. Every path is taken below one root that
// stands in for "/" ("" is the real root; the tests pass a fake tree), and
// every path shown is the one a user would type (starting at "/").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vk::ports {

// The path `logical` ("/dev/serial/by-id/X") with every symbolic link on
// it followed inside `root`; absolute link targets start again at `root`.
// Empty when a part of it does not exist or the links loop.
std::optional<std::string> Resolve(const std::string& root, const std::string& logical);

struct Holder {
  int pid = 0;
  std::string comm;
};

struct SerialDevice {
  std::string tty;                  // ttyUSB0
  std::string path;                 // /dev/ttyUSB0
  bool exists = false;              // the /dev node is there
  std::vector<std::string> by_id;   // /dev/serial/by-id/... names linking to it
  std::string driver;               // ftdi_sio
  std::string usb_id;               // 0403:6001 for USB adapters
  std::string usb_serial;
  bool no_uart = false;             // sysfs type 0: a legacy port without hardware
  bool accessible = false;          // access(R_OK | W_OK) for this user
  std::string mode;                 // crw-rw----
  std::string owner, group;
  std::vector<Holder> holders;      // filled in by FindHolders only
  std::string latency_file;         // latency_timer of a USB serial adapter
  int latency_ms = -1;
};

// Every tty of the machine with a device link in sysfs, sorted by name.
// Nothing here walks /proc: who holds a device is FindHolders' question.
std::vector<SerialDevice> SerialDevices(const std::string& root);

// The processes holding each device open, in one walk over /proc/*/fd.
void FindHolders(const std::string& root, std::vector<SerialDevice>& devices);

// The processes holding `path` open (a device path as /proc shows it).
std::vector<Holder> HoldersOf(const std::string& root, const std::string& path);

// Owner, group and mode of a file, as ls -l shows them.
struct Ownership {
  std::string owner, group, mode;
};
std::optional<Ownership> OwnershipOf(const std::string& path);

}  // namespace vk::ports
