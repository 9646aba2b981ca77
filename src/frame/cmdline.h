// The command-line scan shared by the eight programs.
//
// Arguments are taken in order. "-x" options by their letter in either case:
//   -C<n>  port (1..4, else 1); sets the settings-changed flag even when no
//          number follows (the port then keeps its value)
//   -M<c>  download mode (flash loader only); sets the flag
//   -H     usage (and --help, and /? as on Windows); -I info flag (not saved). Any other letter
//          and "-" alone are ignored. (--version is answered before the
//          scan.)
// "?..." asks for the usage. Anything else is a name, taken by the
// program's name rule. The scan stops at a request for the usage, so the
// usage shows the settings as changed by the options before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/settings.h"
#include "frame/tools.h"

namespace vk::frame {

struct ScanOutcome {
  bool usage = false;
  bool info = false;
  bool settings_changed = false;
  std::string name;      // Last rule: the name; Positional rule: the old name
  std::string name_typed;  // Last rule: the name as it was typed
  std::string new_name;  // Positional rule only
};

// Scans args (the program path excluded) and updates `settings`.
ScanOutcome ScanArguments(const ToolTraits& traits, const std::vector<std::string_view>& args,
                          Settings& settings);

}  // namespace vk::frame
