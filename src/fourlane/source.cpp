#include "fourlane/source.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "link/clock.h"
#include "link/port.h"

namespace vk::fourlane {
namespace {

constexpr int kExitRefused = 2;

std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void SettleSourceName(SourceName& name) {
  if (name.upper.empty()) {
    std::printf("File To Load : ");
    std::fflush(stdout);
    std::string word;
    // One word up to the first white space; end of input leaves it empty.
    if (!(std::cin >> word)) word.clear();
    name.typed = word;
    name.upper = Upper(word);
    std::printf("\n");
  }
  if (name.upper.find('.') != std::string::npos) {
    std::printf("\nFilename Extension Is Not Allowed");
    std::exit(kExitRefused);
  }
  if (name.upper.size() > kMaxSourceName) {
    std::printf("\nSource Name Longer Than %zu Characters Is Not Allowed\n", kMaxSourceName);
    std::exit(kExitRefused);
  }
}

std::string LaneFileName(const SourceName& name, int lane) {
  const std::string extension = ".X" + std::to_string(lane);
  const std::string typed = name.typed + extension;
  if (!name.typed.empty() && IsFile(typed)) return typed;
  return name.upper + extension;
}

void OpenLaneFiles(const SourceName& name, LaneFiles& files) {
  for (int lane = 0; lane < kLanes; ++lane) {
    const std::string file_name = LaneFileName(name, lane);
    FILE* file = IsFile(file_name) ? std::fopen(file_name.c_str(), "rb") : nullptr;
    if (!file) {
      std::printf("\nCan't Open File %s\n", file_name.c_str());
      std::exit(kExitRefused);
    }
    std::printf("Loading File: %s\n", file_name.c_str());
    files.files[static_cast<size_t>(lane)] = file;
  }
}

void CloseLaneFiles(LaneFiles& files) {
  for (FILE*& file : files.files) {
    if (file) std::fclose(file);
    file = nullptr;
  }
}

void FinishLoad(const SourceName& name, uint32_t start, LaneFiles& files, long download_start_ms) {
  std::printf("\n%s Started At Address %08lX(HEX)\n", name.upper.c_str(), static_cast<unsigned long>(start));
  CloseLaneFiles(files);
  std::printf("\nDownload Time = %3.1f Seconds\n",
              static_cast<double>(link::MsClock() - download_start_ms) / 1000.0);
  link::ExitTool(0);
}

}  // namespace vk::fourlane
