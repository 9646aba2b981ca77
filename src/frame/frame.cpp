#include "frame/frame.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "frame/cmdline.h"
#include "frame/exchange.h"
#include "frame/files.h"
#include "frame/messages.h"
#include "link/clock.h"
#include "link/connect.h"
#include "link/console.h"
#include "link/diagnose.h"
#include "link/interrupt.h"
#include "link/port_names.h"

namespace vk::frame {
namespace {

using link::EndRun;
using link::kExitFailure;
using link::Leave;

constexpr int kExitUsage = 0;

void PrintBanner(const ToolTraits& traits) {
  std::printf("%.*s", static_cast<int>(traits.banner_title.size()), traits.banner_title.data());
  std::printf("%s", kVersion.data());
  std::printf("\n\n");
}

void PrintText(std::string_view text) {
  std::printf("%.*s", static_cast<int>(text.size()), text.data());
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size())) return buffer.data();
  return ".";
}

void ReadSettings(Frame& frame) {
  const ToolTraits& traits = *frame.traits;
  std::string text;
  if (!ReadSettingsText(frame.settings_path, text)) {
    frame.settings_changed = true;
    return;
  }
  const ParsedSettings parsed = ParseSettings(text, traits.has_mode);
  frame.settings = parsed.values;
  if (traits.reading_results_checked) {
    const size_t keys = traits.has_mode ? 3 : 2;
    for (size_t i = 0; i < keys; ++i)
      if (parsed.results[i] == ScanResult::NoMatch) frame.settings_changed = true;
  }
  if (ValidateSettings(frame.settings, traits.has_mode)) frame.settings_changed = true;
}

// VK_CONNECT_TIMEOUT: whole seconds for the whole connection attempt, 0 for
// no limit. Anything else is ignored, with a word on standard error.
std::optional<int> ConnectLimit(const Frame& frame) {
  const char* value = std::getenv("VK_CONNECT_TIMEOUT");
  if (!value || !*value) return std::nullopt;
  const std::string_view text(value);
  if (text.size() <= 9 && text.find_first_not_of("0123456789") == std::string_view::npos) return std::atoi(value);
  std::fprintf(stderr, "%s: VK_CONNECT_TIMEOUT=%s is not a number of seconds; ignored\n", frame.program.c_str(),
               value);
  return std::nullopt;
}

void ConfirmOrEnd() {
  std::printf("\nAre You Sure ? (y/n) ");
  std::fflush(stdout);
  link::SetProgressLineOpen(true);
  const int answer = std::getchar();
  if (const int sig = link::Interruption()) link::EndRunInterrupted(sig, false);
  link::SetProgressLineOpen(false);
  if (answer == EOF) {
    // No answer at all (input closed) is no confirmation.
    std::printf("\n");
    EndRun(kExitFailure, Leave::Direct);
  }
  std::printf("%c\n", answer);
  if (answer != 'y' && answer != 'Y') EndRun(kExitFailure, Leave::Direct);
}

void CheckBeforePort(const Frame& frame) {
  switch (frame.traits->pre_check) {
    case PreCheck::NewNameLength:
      if (frame.new_name.empty()) {
        // One name only: refuse rather than ask the board to give a
        // program its own name.
        std::printf("\nNew Name Missing: Usage Is VKNAME <Oldname Newname>\n");
        EndRun(kExitFailure, Leave::Direct);
      }
      if (frame.new_name.size() > static_cast<size_t>(kMaxTargetName)) {
        PrintNameTooLong(frame.new_name.c_str());
        EndRun(kExitFailure, Leave::Direct);
      }
      break;
    case PreCheck::Confirm:
      ConfirmOrEnd();
      break;
    case PreCheck::SourceFiles:  // the loaders' own code
    case PreCheck::None:
      break;
  }
}

// An exception that is no run's end (a fault of this program, or memory
// running out): named on standard error, and the run ends as a failure does
// once the port may be open, with the lines put back to rest.
link::RunEnd InternalError(const std::string& program) {
  try {
    throw;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: internal error: %s\n", program.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: internal error\n", program.c_str());
  }
  return {kExitFailure, Leave::ExitTool};
}

// The last steps of an interrupted run, once its lines are at rest: the
// port let go, an open progress line ended, what was printed handed over,
// and the process ended by the signal.
[[noreturn]] void EndInterrupted(Frame& frame, int sig) {
  frame.link.Close();
  if (link::ProgressLineOpen()) std::printf("\n");
  std::fflush(stdout);
  link::EndBySignal(sig);
}

}  // namespace

void PrintUsage(const Frame& frame) {
  const ToolTraits& traits = *frame.traits;
  const Settings& s = frame.settings;
  if (traits.usage == UsageKind::Utility) PrintBanner(traits);
  else std::printf("Extended Tektronix Hex Object Format\n\n");
  PrintText(traits.usage_line);
  if (traits.usage != UsageKind::Utility) {
    std::printf("Source  - Filename Without Extension\n");
    std::printf("         (Default Extension Is .X0...X3)\n");
  }
  std::printf("-C<n>   - Desired COM Port (1..4, Default = 1)\n\n");
  if (traits.usage == UsageKind::FlashLoader) {
    std::printf("-M<n>   - Download Mode (s = Save, f = Fast; Default = s)\n\n");
    std::printf("Parameters -C<n> And -M<n> Are Saved On Disk\n\n");
  }
  std::printf("Autodetect Baudrate Is %d Or %d Baud\n\n", link::kBaudLow, link::kBaudHigh);
  if (traits.usage == UsageKind::FlashLoader)
    std::printf("Current Settings: PORT = COM%d, BAUD = %d, MODE = %c\n\n", s.port, s.baud, s.mode);
  else if (traits.usage == UsageKind::RamLoader)
    std::printf("Current Settings: PORT = COM%d, BAUD = %d\n\n", s.port, s.baud);
  // What a port number opens, beside the text scripts know.
  std::fflush(stdout);
  std::fprintf(stderr,
               "%s: -C<n> opens the device or URL in VK_COM<n> when it is set, such as VK_COM1=%s or "
               "VK_COM1=rfc2217://HOST:PORT, else %s .. %s; vkports lists the serial ports\n",
               frame.program.c_str(), link::ExampleDeviceName().c_str(), link::DefaultDeviceName(1).c_str(),
               link::DefaultDeviceName(4).c_str());
  EndRun(kExitUsage, Leave::Direct);
}

void RewriteSettings(const Frame& frame) {
  if (!frame.settings_changed) return;
  std::string why;
  if (WriteSettingsFile(frame.settings_path, frame.settings, frame.traits->has_mode, &why)) return;
  std::printf("\nSettings File %s Could Not Be Written\n", frame.settings_path.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "%s: settings file %s cannot be written: %s\n", frame.program.c_str(),
               frame.settings_path.c_str(), why.c_str());
}

void StartFrame(Frame& frame, int argc, char** argv) {
  const ToolTraits& traits = *frame.traits;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--version") {
      std::printf("%s %s\n", frame.program.c_str(), VK_VERSION);
      EndRun(0, Leave::Direct);
    }
  }
  if (traits.banner_at_start) PrintBanner(traits);

  const char* path_env = std::getenv("PATH");
  frame.settings_path =
      ChooseSettingsPath(SettingsPath(OwnProgramPath(argc > 0 ? argv[0] : traits.name), path_env ? path_env : "",
                                      CurrentDirectory(), ExeSuffix()),
                         std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  ReadSettings(frame);

  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  ScanOutcome scan = ScanArguments(traits, args, frame.settings);
  if (scan.settings_changed) frame.settings_changed = true;
  frame.info = scan.info;
  frame.name = std::move(scan.name);
  frame.name_typed = std::move(scan.name_typed);
  frame.new_name = std::move(scan.new_name);
  if (scan.usage) PrintUsage(frame);
  // The programs take "/?" for a name, as they always have; a Windows user
  // who meant the usage is told what asks for it.
  if (std::find(args.begin(), args.end(), "/?") != args.end())
    std::fprintf(stderr, "%s: /? is taken as a name; -H or ? prints the usage\n", frame.program.c_str());
  if (frame.info) std::fprintf(stderr, "%s: settings file %s\n", frame.program.c_str(), frame.settings_path.c_str());

  if (traits.port_line) std::printf("Using Port  : COM%d\n", frame.settings.port);
  RewriteSettings(frame);
  CheckBeforePort(frame);
}

link::Link& ConnectFrame(Frame& frame) {
  const ToolTraits& traits = *frame.traits;
  if (const char* path = std::getenv("VK_TRACE"); path && *path) {
    if (!frame.link.RecordTo(path, "vktrace tool " + frame.program + " " + VK_VERSION))
      std::fprintf(stderr, "%s: VK_TRACE: %s cannot be written (%s); the run goes on unrecorded\n",
                   frame.program.c_str(), path, std::strerror(errno));
  }
  link::PrintEmptyPortVariable(frame.program, frame.settings.port);
  frame.link.OpenPort(frame.settings.port, frame.settings.baud);

  link::Connection connection;
  connection.baud = frame.settings.baud;
  connection.info = frame.info;
  connection.sync_byte = traits.sync_byte;
  connection.limit_s = ConnectLimit(frame);
  connection.program = frame.program;
  const long before = link::MsClock();
  const int attempts = link::ConnectTarget(frame.link, connection);
  const long after = link::MsClock();
  frame.settings.baud = connection.baud;
  if (connection.settings_changed) frame.settings_changed = true;

  if (frame.info) {
    std::printf("\nTarget Connected In %3.0f Milliseconds, %d Attempt(s) Required\n",
                static_cast<double>(after - before), attempts);
    link::SetProgressLineOpen(false);
    std::fflush(stdout);
    if (connection.echo_ms >= 0)
      link::PrintEchoTiming(connection.program, frame.link.device(), connection.baud, connection.echo_ms);
  }
  if (traits.connected_line) {
    std::printf("\nConnected To Target\n");
    link::SetProgressLineOpen(false);
    frame.download_start_ms = link::MsClock();
  }
  RewriteSettings(frame);
  DrainInput(frame.link);
  return frame.link;
}

int FinishRun(link::Link& link, link::RunEnd end) {
  if (end.leave == Leave::EndSession) {
    end.leave = Leave::ExitTool;
    try {
      EndSession(link);
    } catch (const link::RunEnd& failed) {
      end = failed;  // the session end's own failure decides the way out
    }
  }
  if (end.leave == Leave::ExitTool) return link.ExitTool(end.code);
  return end.code;
}

int RunTool(Tool tool, int argc, char** argv, ToolBody body) {
  Frame frame(Traits(tool));
  return RunTool(frame, argc, argv, body);
}

int RunTool(Frame& frame, int argc, char** argv, ToolBody body) {
  link::ConsoleShowsOurText();
  link::WatchInterrupts();
  link::RunEnd end;
  try {
    StartFrame(frame, argc, argv);
    end = body(frame);
  } catch (const link::RunEnd& failed) {
    end = failed;
  } catch (...) {
    end = InternalError(frame.program);
  }
  const int code = FinishRun(frame.link, end);
  if (frame.link.failure()) link::PrintDiagnosis(frame.program, *frame.link.failure());
  if (const int sig = link::Interruption()) EndInterrupted(frame, sig);
  return code;
}

}  // namespace vk::frame
