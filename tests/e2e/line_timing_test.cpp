// The loaders against the simulator pacing the line at its real rate: the
// time-stamped trace is in order, and a download takes about the line time
// its bytes need. A simulator that wakes late for its line deadlines, or a
// host that waits on something besides the line, stretches every byte and
// shows here as a multiple of that time.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

struct Line {
  long us;
  char kind;  // '>' host to board, '<' board to host, '#' event
  int byte;   // the byte of a '>' or '<' line
};

// Parses "MICROSECONDS KIND VALUE" lines; false on any other shape.
bool ParseStamped(const std::string& trace, std::vector<Line>& out) {
  std::istringstream in(trace);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream fields(text);
    Line line{};
    std::string kind;
    std::string value;
    if (!(fields >> line.us >> kind >> value) || kind.size() != 1) return false;
    line.kind = kind[0];
    line.byte = line.kind == '#' ? -1 : std::stoi(value, nullptr, 16);
    out.push_back(line);
  }
  return !out.empty();
}

struct PacedCase {
  const char* name;
  const char* tool;
  const char* mode;  // vkburn's -M option, or "" for vkram
  int sync;          // the connection's sync byte, left out of the count
};

void PrintTo(const PacedCase& c, std::ostream* os) { *os << c.name; }

class PacedDownload : public ::testing::TestWithParam<PacedCase> {};

TEST_P(PacedDownload, TakesAboutTheLineTimeOfItsBytes) {
  const PacedCase& c = GetParam();
  ToolRig rig(c.tool, {"--pace", "--trace-times"});
  const std::string sample = std::string(VK_SOURCE_DIR) + "/samples/blink/";
  for (int lane = 0; lane < 4; ++lane) {
    const std::string name = "BLINK.X" + std::to_string(lane);
    WriteFile(rig.dir().File(name), ReadFile(sample + name));
  }
  std::vector<std::string> args{"BLINK"};
  if (*c.mode) args.push_back(c.mode);
  const RunResult r = rig.Run(args);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  std::vector<Line> lines;
  ASSERT_TRUE(ParseStamped(rig.Trace(), lines)) << rig.Trace().substr(0, 500);
  for (size_t i = 1; i < lines.size(); ++i) ASSERT_LE(lines[i - 1].us, lines[i].us) << "line " << i;

  // The download: from the first host byte after the sync bytes to the
  // board's last byte.
  size_t first = 0;
  while (first < lines.size() && !(lines[first].kind == '>' && lines[first].byte != c.sync)) ++first;
  ASSERT_LT(first, lines.size());
  long host = 0;
  long board = 0;
  long last = 0;
  for (size_t i = first; i < lines.size(); ++i) {
    if (lines[i].kind == '>') ++host;
    if (lines[i].kind == '<') {
      ++board;
      last = lines[i].us;
    }
  }
  const long byte_us = 10'000'000 / 115200;
  const long measured_us = last - lines[first].us + byte_us;
  // Both exchanges wait for the board's answer before the host sends on
  // (save mode after every byte, the RAM loader after every message), so
  // the two directions never overlap: every byte costs its own byte time.
  const long minimum_us = (host + board) * byte_us;
  // Never faster than the line. The bound above leaves a busy machine or a
  // sanitizer build 350 us per byte of its own, and is still half of what a
  // millisecond timer in the simulator makes of a byte-by-byte exchange.
  EXPECT_GE(measured_us, minimum_us * 98 / 100);
  EXPECT_LE(measured_us, minimum_us * 3) << "minimum " << minimum_us << " us";
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, PacedDownload,
    ::testing::Values(PacedCase{"vkburn_save", "vkburn", "-Ms", 0x7F},
                      PacedCase{"vkram", "vkram", "", 0x0F}),
    [](const ::testing::TestParamInfo<PacedCase>& info) { return std::string(info.param.name); });

}  // namespace
