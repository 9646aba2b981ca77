// libFuzzer target for the four-lane reader: whatever the four files hold,
// reading them must end without a crash, an overrun or a hang, and every
// record delivered must fit in one line.
//
// The input is split at 0xFF bytes into the .X0 .. .X3 file contents; when
// it has fewer than four parts the last one is repeated, so a single valid
// line gives four agreeing lanes and the fuzzer reaches the deep checks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fourlane/reader.h"

namespace {

using vk::fourlane::kLanes;
using vk::fourlane::LaneFiles;
using vk::fourlane::LoadRecord;

// Longest data record a line of at most 98 characters can carry: '%',
// 6 fixed characters, a 4-digit address and two characters per word.
constexpr size_t kMaxWords = (vk::fourlane::kMaxLineChars - 1 - 6 - 4) / 2;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && parts.size() < static_cast<size_t>(kLanes)) parts.emplace_back();
    else parts.back().push_back(static_cast<char>(data[i]));
  }
  while (parts.size() < static_cast<size_t>(kLanes)) parts.push_back(parts.back());

  LaneFiles files;
  bool opened = true;
  for (size_t lane = 0; lane < parts.size(); ++lane) {
    // fmemopen refuses an empty buffer: an empty file is a temporary file.
    files.files[lane] = parts[lane].empty() ? std::tmpfile()
                                            : fmemopen(parts[lane].data(), parts[lane].size(), "rb");
    if (!files.files[lane]) opened = false;
  }

  if (opened) {
    // Every call consumes at least one character of each file, so the
    // input bounds the number of calls; the guard makes a hang visible.
    const size_t guard = size + 2;
    size_t calls = 0;
    LoadRecord record;
    while (vk::fourlane::ReadLoadRecord(files, record) == vk::fourlane::ReadStatus::Record) {
      if (++calls > guard) std::abort();
      if (record.kind == LoadRecord::Kind::Termination) {
        if (!record.words.empty()) std::abort();
      } else if (record.words.size() > kMaxWords) {
        std::abort();
      }
    }
  }
  return 0;
}
