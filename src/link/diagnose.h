// Plain words for a person, on standard error: after the link has failed,
// what the system said and what is likely to help; while a connection is
// sought on a terminal, what the tool is waiting for. Standard output, which
// scripts read, is never touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/link.h"

namespace vk::link {

// A sync echo later than the line needs by this much has a cause worth naming.
constexpr double kSlowEchoMs = 4.0;

void PrintDiagnosis(const std::string& program, const LinkFailure& failure);

// With -I: how long the sync echo took to come back, and when that is much
// longer than the line needs, the likely cause.
void PrintEchoTiming(const std::string& program, const std::string& device, int baud, double echo_ms);

// A USB serial adapter's latency timer: its value and the sysfs file that sets it.
struct LatencyTimer {
  int ms = 0;
  std::string file;
};

// What PrintEchoTiming says about a sync echo that took `echo_ms` where the
// line needs `line_ms`; empty when there is nothing to say. The latency
// timer is named as the cause only when it is one: above 1 ms and the echo
// later than 1 ms would make it. A timer already at 1 ms, its lowest, is
// said to be so, and the delay to lie elsewhere.
std::string EchoDelayHint(bool network, const std::optional<LatencyTimer>& timer, double line_ms, double echo_ms);

// On a terminal, while the connection is sought: what the tool waits for
// (`cts`: CTS after the RTS pulse, else the sync echo); after a key press,
// that it ended the wait. Each on a line of its own when the wait's stars
// are open on standard output.
void PrintWaitHint(const std::string& program, const std::string& device, bool cts, uint8_t sync_byte,
                   bool stars_open);
void PrintKeyPressEnded(const std::string& program, bool stars_open);

// When the connection attempt ran out of time: the device or URL, the port
// it stands for (and whether its VK_COMn was set), and what never came.
void PrintNeverCame(const std::string& program, const std::string& device, int port, bool cts, uint8_t sync_byte);

// An empty VK_COMn: taken as not set, and which device that means.
void PrintEmptyPortVariable(const std::string& program, int port);

// Each platform's part (diagnose_posix.cpp, diagnose_win32.cpp):
// the system's words for one of its error codes;
std::string SystemText(int code);
// what is likely to help after a local serial device failed ("" if nothing);
std::string LocalDeviceHint(const LinkFailure& failure);
// the latency timer of the USB adapter behind `device`, when it has one.
std::optional<LatencyTimer> AdapterLatencyTimer(const std::string& device);

}  // namespace vk::link
