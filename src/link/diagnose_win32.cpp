// The diagnostics' Windows part: error codes by number, and no hints yet
// for a local communications device.
#include <string>

#include "link/diagnose.h"

namespace vk::link {

std::string SystemText(int code) { return "system error " + std::to_string(code); }

std::string LocalDeviceHint(const LinkFailure&) { return ""; }

std::string AdapterLatencyHint(const std::string&) { return ""; }

}  // namespace vk::link
