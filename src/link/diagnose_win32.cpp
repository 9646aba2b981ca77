// The diagnostics' Windows part: error codes by number, and no hints yet
// for a local communications device.
#include <string>

#include "link/diagnose.h"

namespace vk::link {

std::string SystemText(int code) { return "system error " + std::to_string(code); }

std::string LocalDeviceHint(const LinkFailure&) { return ""; }

std::optional<LatencyTimer> AdapterLatencyTimer(const std::string&) { return std::nullopt; }

}  // namespace vk::link
