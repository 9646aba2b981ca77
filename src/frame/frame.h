// The tool frame every program runs around its one job.
//
//   RunTool       every program's main: the frame, the program's body, and
//                 the documented ending (ending.h) however the run ends; an
//                 exception that is no RunEnd ends it through ExitTool
//                 with 2, named on standard error
//   StartFrame    banner (loaders), settings file, option scan, usage,
//                 port line (loaders), first settings rewrite, and the
//                 checks made before the port is opened (new-name length,
//                 confirmation; the loaders check their own input files)
//   ConnectFrame  OpenPort, ConnectTarget timed with the millisecond clock,
//                 the connect-time line (-i), the connected line (loaders),
//                 second settings rewrite with the rate found, and the
//                 stale input drained
// Before ConnectFrame a failure ends the run directly; after it every end
// goes through ExitTool (and EndSession once a command byte has gone out).
#pragma once

#include <string>
#include <utility>

#include "frame/settings.h"
#include "frame/tools.h"
#include "link/ending.h"
#include "link/link.h"

namespace vk::frame {

struct Frame {
  explicit Frame(const ToolTraits& tool_traits, link::BackendOpener open = link::OpenBackend)
      : traits(&tool_traits), program(ProgramName(tool_traits)), link(std::move(open)) {}

  const ToolTraits* traits;
  std::string program;  // as its file is called, for standard error
  Settings settings;
  std::string settings_path;
  bool settings_changed = false;
  bool info = false;
  std::string name;      // source name, program name, or old name (rename)
  std::string name_typed;  // the name as typed (loaders find files by it)
  std::string new_name;  // rename only
  long download_start_ms = 0;  // loaders: the clock when the download began
  link::Link link;
};

// A program's own part: runs after StartFrame, returns its normal end and
// throws link::RunEnd for a failure.
using ToolBody = link::RunEnd (*)(Frame& frame);

// Runs the program and returns the code the process ends with.
int RunTool(Tool tool, int argc, char** argv, ToolBody body);
// The same in a frame made by the caller.
int RunTool(Frame& frame, int argc, char** argv, ToolBody body);

// Takes the way out that `end` names and returns the exit code.
int FinishRun(link::Link& link, link::RunEnd end);

void StartFrame(Frame& frame, int argc, char** argv);
// Returns the link, connected and drained, for the program's exchanges.
link::Link& ConnectFrame(Frame& frame);

// Prints the usage text and ends the run with exit code 0.
[[noreturn]] void PrintUsage(const Frame& frame);

// Writes the settings file when the settings-changed flag is set.
void RewriteSettings(const Frame& frame);

}  // namespace vk::frame
