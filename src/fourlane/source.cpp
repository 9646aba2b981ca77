#include "fourlane/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "frame/cmdline.h"
#include "wire/letter_case.h"
#include "frame/messages.h"
#include "frame/settings.h"
#include "link/clock.h"
#include "link/interrupt.h"

namespace vk::fourlane {

using link::EndRun;
using link::kExitFailure;
using link::Leave;

void SettleSourceName(SourceName& name) {
  if (name.upper.empty()) {
    std::printf("File To Load : ");
    std::fflush(stdout);
    link::SetProgressLineOpen(true);
    std::string word;
    // One word up to the first white space; end of input leaves it empty.
    if (!(std::cin >> word)) word.clear();
    if (const int sig = link::Interruption()) link::EndRunInterrupted(sig, false);
    link::SetProgressLineOpen(false);
    name.typed = word;
    name.upper = wire::UpperCase(word);
    std::printf("\n");
  }
  if (name.upper.find('.') != std::string::npos) {
    std::printf("\nFilename Extension Is Not Allowed");
    EndRun(kExitFailure, Leave::Direct);
  }
  if (name.upper.size() > kMaxSourceName) {
    std::printf("\nSource Name Longer Than %zu Characters Is Not Allowed\n", kMaxSourceName);
    EndRun(kExitFailure, Leave::Direct);
  }
}

std::string LaneFileName(const SourceName& name, int lane) {
  const std::string extension = ".X" + std::to_string(lane);
  const std::string typed = name.typed + extension;
  if (!name.typed.empty() && frame::IsRegularFile(typed)) return typed;
  return name.upper + extension;
}

std::string CannotOpenReason(const std::string& path) {
  // stat, as the names pass to the system as they are (std::filesystem
  // would convert them on Windows, and lose names outside ASCII).
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? "there is no such file" : std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file (a FIFO, socket or device)";
  errno = 0;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
    return "it could not be opened";
  }
  return errno == EACCES ? "you may not read it (permission denied)" : std::strerror(errno);
}

void RefuseFile(const std::string& program, const std::string& path) {
  frame::PrintCantOpenFile(path.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), path.c_str(), CannotOpenReason(path).c_str());
  EndRun(kExitFailure, Leave::Direct);
}

void OpenLaneFiles(const std::string& program, const SourceName& name, LaneFiles& files) {
  for (int lane = 0; lane < kLanes; ++lane) {
    const std::string file_name = LaneFileName(name, lane);
    FILE* file = frame::OpenRegularFile(file_name, "rb");
    if (!file) RefuseFile(program, file_name);
    std::printf("Loading File: %s\n", file_name.c_str());
    files.files[static_cast<size_t>(lane)] = file;
  }
}

void ShowProgress(uint32_t address) {
  std::printf("\rWriting Target Address: %08lX(HEX)", static_cast<unsigned long>(address));
  link::SetProgressLineOpen(true);
  // On a terminal the line is a live progress display; into a pipe or a
  // file it needs no flush of its own.
  static const bool interactive = isatty(STDOUT_FILENO) != 0;
  if (interactive) std::fflush(stdout);
}

void PrintBytesLoaded(unsigned long message_bytes) {
  std::printf("\n%lu   %lX(HEX) Bytes Loaded\n", message_bytes + 4, message_bytes + 4);
  link::SetProgressLineOpen(false);
}

link::RunEnd FinishLoad(const SourceName& name, uint32_t start, LaneFiles& files, long download_start_ms) {
  std::printf("\n%s Started At Address %08lX(HEX)\n", name.upper.c_str(), static_cast<unsigned long>(start));
  files.Close();
  std::printf("\nDownload Time = %3.1f Seconds\n",
              static_cast<double>(link::MsClock() - download_start_ms) / 1000.0);
  return {0, Leave::ExitTool};
}

}  // namespace vk::fourlane
