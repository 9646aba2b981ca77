// The tool frame every program runs around its one job.
//
//   StartFrame    banner (loaders), settings file, option scan, usage,
//                 port line (loaders), first settings rewrite, and the
//                 checks made before the port is opened (new-name length,
//                 confirmation; the loaders check their own input files)
//   ConnectFrame  OpenPort, ConnectTarget timed with the millisecond clock,
//                 the connect-time line (-i), the connected line (loaders),
//                 second settings rewrite with the rate found
// Before ConnectFrame the process ends directly; after it every end goes
// through ExitTool (and EndSession once a command byte has gone out).
#pragma once

#include <string>

#include "frame/settings.h"
#include "frame/tools.h"
#include "link/connect.h"

namespace vk::frame {

struct Frame {
  const ToolTraits* traits = nullptr;
  Settings settings;
  std::string settings_path;
  bool settings_changed = false;
  bool info = false;
  std::string name;      // source name, program name, or old name (rename)
  std::string name_typed;  // the name as typed (loaders find files by it)
  std::string new_name;  // rename only
  long download_start_ms = 0;  // loaders: the clock when the download began
};

Frame StartFrame(Tool tool, int argc, char** argv);
void ConnectFrame(Frame& frame);

// Prints the usage text and ends the process with exit code 0.
[[noreturn]] void PrintUsage(const Frame& frame);

// Writes the settings file when the settings-changed flag is set.
void RewriteSettings(const Frame& frame);

}  // namespace vk::frame
