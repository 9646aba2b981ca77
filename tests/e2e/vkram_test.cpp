// VKRAM run as a process against the simulator: exact output, exit codes,
// the bytes on the wire and the RAM image the board ends up with.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "support/bytes.h"
#include "support/tool_rig.h"

using namespace vktest;

namespace {

using Bytes = std::vector<int>;
using Words = std::vector<uint32_t>;

// vkram with a simulator of its own, which writes its RAM image.
struct RamRig : ToolRig {
  explicit RamRig(std::vector<std::string> options = {}) : ToolRig("vkram", std::move(options)) {}

  void Program(const std::string& base, const std::vector<Block>& blocks, std::optional<uint32_t> entry) {
    WriteLanes(dir().File(base), blocks, entry);
  }

  // Runs the tool, then waits (bounded) until the simulator has seen the
  // connection end, so its trace and RAM image are complete.
  RunResult Run(std::vector<std::string> args, const std::string& input = "") {
    RunResult r = ToolRig::Run(std::move(args), input);
    AwaitDisconnect();
    return r;
  }

  // The board's RAM image: word address -> word, and the entry line.
  std::map<uint32_t, uint32_t> Image(std::string* entry = nullptr) {
    std::map<uint32_t, uint32_t> image;
    std::istringstream in(ReadFile(dir().File("ram.txt")));
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      if (line.rfind("entry ", 0) == 0) {
        if (entry) *entry = line.substr(6);
        continue;
      }
      image[static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16))] =
          static_cast<uint32_t>(std::stoul(line.substr(9), nullptr, 16));
    }
    return image;
  }
};

std::map<uint32_t, uint32_t> ImageOf(const std::vector<Block>& blocks) {
  std::map<uint32_t, uint32_t> image;
  for (const Block& b : blocks)
    for (size_t k = 0; k < b.words.size(); ++k) image[b.address + static_cast<uint32_t>(k)] = b.words[k];
  return image;
}

const std::string kBanner =
    "\nVeskar C4x DSP Family Speed RAM-Loader For WIN-NT/2000 V 3.0\n\nUsing Port  : COM1\n";

std::string Loading(const std::string& base) {
  std::string out;
  for (int lane = 0; lane < 4; ++lane) out += "Loading File: " + base + ".X" + std::to_string(lane) + "\n";
  return out;
}

const std::string kConnected = "\nConnected To Target\n";

std::string Progress(std::initializer_list<const char*> addresses) {
  std::string out;
  for (const char* a : addresses) out += std::string("\rWriting Target Address: ") + a + "(HEX)";
  return out;
}

// The download time varies; everything else is exact.
std::string Timeless(const std::string& out) {
  return std::regex_replace(out, std::regex("Download Time = [0-9]+\\.[0-9] Seconds"), "Download Time = T Seconds");
}

std::string Completed(const std::string& loaded, const std::string& name, const char* entry) {
  return "\n" + loaded + "(HEX) Bytes Loaded\n\n" + name + " Started At Address " + entry +
         "(HEX)\n\nDownload Time = T Seconds\n";
}

Words Counting(uint32_t first, size_t n) {
  Words w;
  for (size_t k = 0; k < n; ++k) w.push_back(first + static_cast<uint32_t>(k) * 0x01010101u);
  return w;
}

const Block kOneWord{0x800, {0x11223344}};
const Bytes kOneWordMessage{0x00, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x08, 0x00, 0x11, 0x22, 0x33, 0x44};
const Bytes kStartMessage{0x05, 0x00, 0x80, 0x9C, 0x00};
constexpr uint32_t kEntry = 0x00809C00;

// ---------------------------------------------------------------------------
// Successful loads.

TEST(RamLoad, OneWordRecordAndStartAreTheDocumentedBytes) {
  RamRig rig;
  rig.Program("PROG", {kOneWord}, kEntry);
  const RunResult r = rig.Run({"prog"});
  ASSERT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(Timeless(r.out), kBanner + Loading("PROG") + kConnected + Progress({"00000800"}) +
                                 Completed("16   10", "PROG", "00809C00"));
  EXPECT_EQ(r.exit_code, 0);
  // Data message, start message, closing byte; nothing echoed, no session end.
  EXPECT_EQ(rig.Sent(), Cat({kOneWordMessage, kStartMessage, {0x05}}));
  EXPECT_EQ(rig.Received(), Bytes({0xBF, 0x21}));
  std::string entry;
  EXPECT_EQ(rig.Image(&entry), ImageOf({kOneWord}));
  EXPECT_EQ(entry, "00809c00");
  EXPECT_NE(rig.Trace().find("# ram start 00809c00"), std::string::npos);
}

TEST(RamLoad, BytesLoadedCountsEveryMessageHeader) {
  // 32 words: M = 136 (00 00 88 01 ...); 8 words: M = 40; 176 + 4 = 180.
  const std::vector<Block> blocks{{0x00001000, Counting(0x80706050, 32)}, {0x00002000, Counting(0xA1B2C3D4, 8)}};
  RamRig rig;
  rig.Program("PROG", blocks, 0x00001000);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(Timeless(r.out), kBanner + Loading("PROG") + kConnected + Progress({"00001000", "00002000"}) +
                                 Completed("180   B4", "PROG", "00001000"));
  EXPECT_EQ(r.exit_code, 0);
  const Bytes sent = rig.Sent();
  ASSERT_EQ(sent.size(), 136u + 40u + 5u + 1u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), Bytes({0x00, 0x00, 0x88, 0x01, 0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(Bytes(sent.begin() + 136, sent.begin() + 144), Bytes({0x00, 0x00, 0x28, 0x01, 0x00, 0x00, 0x20, 0x00}));
  EXPECT_EQ(rig.Received().size(), 3u);  // one checksum per message
  EXPECT_EQ(rig.Image(), ImageOf(blocks));
}

TEST(RamLoad, TerminationFirstSendsOnlyTheStartMessage) {
  RamRig rig;
  rig.Program("PROG", {}, kEntry);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(Timeless(r.out), kBanner + Loading("PROG") + kConnected + Completed("4   4", "PROG", "00809C00"));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(rig.Sent(), Cat({kStartMessage, {0x05}}));
  EXPECT_EQ(rig.Received(), Bytes({0x21}));
}

TEST(RamLoad, ZeroWordRecordIsAnEightByteMessage) {
  RamRig rig;
  rig.Program("PROG", {{0x12345678, {}}}, kEntry);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(Timeless(r.out), kBanner + Loading("PROG") + kConnected + Progress({"12345678"}) +
                                 Completed("12   C", "PROG", "00809C00"));
  EXPECT_EQ(rig.Sent(), Cat({{0x00, 0x00, 0x08, 0x01, 0x12, 0x34, 0x56, 0x78}, kStartMessage, {0x05}}));
  EXPECT_EQ(rig.Received(), Bytes({0x1D, 0x21}));
}

// A random program of many records: the board's RAM holds exactly its
// words, and the entry address is the termination record's.
TEST(RamLoad, RamImageEqualsTheProgram) {
  std::mt19937 random(4242);
  std::vector<Block> blocks;
  uint32_t address = 0x00809800;
  for (int i = 0; i < 40; ++i) {
    Block b{address, {}};
    const size_t n = random() % 42;  // 0 to 41 words, the most a line holds
    for (size_t k = 0; k < n; ++k) b.words.push_back(static_cast<uint32_t>(random()));
    address += static_cast<uint32_t>(n) + random() % 3;
    blocks.push_back(b);
  }
  RamRig rig;
  rig.Program("PROG", blocks, 0x00809812);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  std::string entry;
  EXPECT_EQ(rig.Image(&entry), ImageOf(blocks));
  EXPECT_EQ(entry, "00809812");
}

// The sample program in the repository, made by srec_cat from blink.bin
// (little-endian 32-bit words from word address 0).
TEST(RamLoad, SampleProgramLandsWordForWord) {
  RamRig rig;
  const std::string sample = std::string(VK_SOURCE_DIR) + "/samples/blink/";
  for (int lane = 0; lane < 4; ++lane) {
    const std::string name = "BLINK.X" + std::to_string(lane);
    WriteFile(rig.dir().File(name), ReadFile(sample + name));
  }
  const std::string bin = ReadFile(sample + "blink.bin");
  ASSERT_FALSE(bin.empty());
  ASSERT_EQ(bin.size() % 4, 0u);
  std::map<uint32_t, uint32_t> expected;
  for (size_t i = 0; i < bin.size(); i += 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(bin.data() + i);
    expected[static_cast<uint32_t>(i / 4)] = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                             static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  const RunResult r = rig.Run({"blink"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  std::string entry;
  EXPECT_EQ(rig.Image(&entry), expected);
  EXPECT_EQ(entry, "00809c00");
}

// ---------------------------------------------------------------------------
// Failures once the port is open: message, exit code 2, and what the wire
// carried (never an end-of-session exchange).

struct FailCase {
  const char* title;
  std::vector<std::string> sim;
  std::vector<Block> blocks;
  std::optional<uint32_t> entry;
  std::string after_connect;  // the output after "Connected To Target"
  Bytes sent;
  Bytes received;
  std::string image_entry;  // the RAM image's entry line
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.title; }

class RamFailures : public ::testing::TestWithParam<FailCase> {};

TEST_P(RamFailures, MessageExitCodeWire) {
  const FailCase& c = GetParam();
  RamRig rig(c.sim);
  rig.Program("PROG", c.blocks, c.entry);
  const RunResult r = rig.Run({"prog"});
  ASSERT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(r.out, kBanner + Loading("PROG") + kConnected + c.after_connect);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(rig.Sent(), c.sent);
  EXPECT_EQ(rig.Received(), c.received);
  std::string entry;
  rig.Image(&entry);
  EXPECT_EQ(entry, c.image_entry);
}

const Block kSecond{0x900, {0xCAFEF00D}};
const Bytes kSecondMessage{0x00, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x09, 0x00, 0xCA, 0xFE, 0xF0, 0x0D};

INSTANTIATE_TEST_SUITE_P(
    Failures, RamFailures,
    ::testing::Values(
        FailCase{"data_checksum_wrong", {"--ram-checksum-fault", "1"}, {kOneWord, kSecond}, kEntry,
                 Progress({"00000800"}) + "\nTARGET COMMUNICATION CHECKSUM ERROR", kOneWordMessage, {0xC0},
                 "none"},
        FailCase{"second_data_checksum_wrong", {"--ram-checksum-fault", "2"}, {kOneWord, kSecond}, kEntry,
                 Progress({"00000800", "00000900"}) + "\nTARGET COMMUNICATION CHECKSUM ERROR",
                 Cat({kOneWordMessage, kSecondMessage}), {0xBF, 0xDC}, "none"},
        // The closing byte goes out before the wrong reply is reported.
        FailCase{"start_checksum_wrong", {"--ram-checksum-fault", "2"}, {kOneWord}, kEntry,
                 Progress({"00000800"}) + "\nTARGET COMMUNICATION CHECKSUM ERROR",
                 Cat({kOneWordMessage, kStartMessage, {0x05}}), {0xBF, 0x22}, "00809c00"},
        // No termination record: loaded, but the board was never told to
        // start, and that is no success.
        FailCase{"no_termination_record", {}, {kOneWord, kSecond}, std::nullopt,
                 Progress({"00000800", "00000900"}) +
                     "\n28   1C(HEX) Bytes Loaded\n"
                     "\nERROR: No Start Address Found In PROG.X0...X3, Program Not Started\n",
                 Cat({kOneWordMessage, kSecondMessage}), {0xBF, 0xDB}, "none"},
        FailCase{"board_silent_after_data", {"--silent-after", "3"}, {kOneWord}, kEntry,
                 Progress({"00000800"}) + "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n",
                 kOneWordMessage, {}, "none"}),
    [](const auto& info) { return std::string(info.param.title); });

// A format error in the middle of the input: the records before it are in
// RAM, the reader's message, exit 2, nothing more on the wire.
TEST(RamReader, FormatErrorMidLoad) {
  RamRig rig;
  rig.Program("PROG", {kOneWord, kSecond}, kEntry);
  std::string x2 = ReadFile(rig.dir().File("PROG.X2"));
  const size_t second_line = x2.find('\n') + 1;
  x2.replace(second_line + 15, 2, "G0");  // the data byte of the second record
  WriteFile(rig.dir().File("PROG.X2"), x2);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.out, kBanner + Loading("PROG") + kConnected + Progress({"00000800"}) +
                       "ERROR: Something Wrong With Data Value In .X2 File\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(rig.Sent(), kOneWordMessage);
  EXPECT_EQ(rig.Received(), Bytes({0xBF}));
  std::string entry;
  EXPECT_EQ(rig.Image(&entry), ImageOf({kOneWord}));
  EXPECT_EQ(entry, "none");
}

// ---------------------------------------------------------------------------
// Refusals before the port is opened: the board never sees a connection.

struct LocalCase {
  const char* title;
  std::vector<std::string> lanes;  // lane files present, named as given
  std::vector<std::string> args;
  std::string input;
  std::string out;
};

void PrintTo(const LocalCase& c, std::ostream* os) { *os << c.title; }

class RamLocal : public ::testing::TestWithParam<LocalCase> {};

TEST_P(RamLocal, RefusedWithoutPortTraffic) {
  const LocalCase& c = GetParam();
  RamRig rig;
  rig.Program("PROG", {kOneWord}, kEntry);
  for (const std::string name : {"PROG.X0", "PROG.X1", "PROG.X2", "PROG.X3"})
    if (std::find(c.lanes.begin(), c.lanes.end(), name) == c.lanes.end()) std::remove(rig.dir().File(name).c_str());
  const RunResult r = rig.Run(c.args, c.input);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.exit_code, 2);
  // Give a connection that might have been made time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(rig.Connected()) << rig.Trace();
}

INSTANTIATE_TEST_SUITE_P(
    Local, RamLocal,
    ::testing::Values(
        LocalCase{"lane_file_missing", {"PROG.X0", "PROG.X1", "PROG.X3"}, {"prog"}, "",
                  kBanner + "Loading File: PROG.X0\nLoading File: PROG.X1\n\nCan't Open File PROG.X2\n"},
        LocalCase{"all_missing", {}, {"prog"}, "", kBanner + "\nCan't Open File PROG.X0\n"},
        LocalCase{"extension", {"PROG.X0", "PROG.X1", "PROG.X2", "PROG.X3"}, {"prog.x0"}, "",
                  kBanner + "\nFilename Extension Is Not Allowed"},
        LocalCase{"dot_in_directory", {}, {"../prog"}, "", kBanner + "\nFilename Extension Is Not Allowed"},
        LocalCase{"name_too_long", {}, {std::string(257, 'p')}, "",
                  kBanner + "\nSource Name Longer Than 256 Characters Is Not Allowed\n"},
        LocalCase{"prompt_without_answer", {}, {}, "", kBanner + "File To Load : \n\nCan't Open File .X0\n"}),
    [](const auto& info) { return std::string(info.param.title); });

// ---------------------------------------------------------------------------
// The source name and the connection.

TEST(RamSource, PromptedNameIsUpperCased) {
  RamRig rig;
  rig.Program("PROG", {kOneWord}, kEntry);
  const RunResult r = rig.Run({}, "prog\n");
  EXPECT_EQ(Timeless(r.out), kBanner + "File To Load : \n" + Loading("PROG") + kConnected +
                                 Progress({"00000800"}) + Completed("16   10", "PROG", "00809C00"));
  EXPECT_EQ(r.exit_code, 0);
}

TEST(RamSource, LaneFilesFoundAsTypedOnACaseSensitiveFileSystem) {
  RamRig rig;
  rig.Program("prog", {kOneWord}, kEntry);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(Timeless(r.out), kBanner + Loading("prog") + kConnected + Progress({"00000800"}) +
                                 Completed("16   10", "PROG", "00809C00"));
  EXPECT_EQ(r.exit_code, 0);
}

// The board listens at 38400 while 115200 is stored: the sync pairs at
// 115200 are lost, the one at 38400 is answered, and the rate is saved.
TEST(RamConnect, BoardAtTheOtherRateAnswersTheRamSync) {
  RamRig rig({"--baud", "38400"});
  rig.Program("PROG", {kOneWord}, kEntry);
  WriteFile(rig.SettingsFile(), "PORT=COM1\nBAUD=115200\n");
  const RunResult r = rig.Run({"prog", "-i"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const std::regex expected(
      "\nSent 0x0F Twice At Timestamp [0-9]+ With 115200 Baud"
      "\nSent 0x0F Twice At Timestamp [0-9]+ With 115200 Baud"
      "\nSent 0x0F Twice At Timestamp [0-9]+ With 38400 Baud"
      "\nTarget Connected In +[0-9]+ Milliseconds, 3 Attempt\\(s\\) Required\n");
  const size_t from = r.out.find("\nSent");
  const size_t to = r.out.find(kConnected);
  ASSERT_NE(from, std::string::npos) << r.out;
  ASSERT_NE(to, std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_match(r.out.substr(from, to - from), expected)) << r.out;
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM1\nBAUD=38400\n");
  EXPECT_EQ(TraceBytes(rig.Trace(), 'x'), Bytes({0x0F, 0x0F, 0x0F, 0x0F}));
  EXPECT_EQ(rig.Sent(), Cat({kOneWordMessage, kStartMessage, {0x05}}));
}

// The RAM loader syncs with 0x0F pairs, and the board echoes 0x0F.
TEST(RamConnect, SyncPairIsZeroF) {
  RamRig rig;
  rig.Program("PROG", {kOneWord}, kEntry);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0);
  const Bytes sent = TraceBytes(rig.Trace(), '>');
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 2), Bytes({0x0F, 0x0F}));
  const Bytes echoed = TraceBytes(rig.Trace(), '<');
  ASSERT_GE(echoed.size(), 2u);
  EXPECT_EQ(Bytes(echoed.begin(), echoed.begin() + 2), Bytes({0x0F, 0x0F}));
}

// Stale bytes after the sync echo are drained before the first message.
TEST(RamConnect, StaleBytesAreDrained) {
  RamRig rig({"--stale", "30"});
  rig.Program("PROG", {kOneWord}, kEntry);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(rig.Sent(), Cat({kOneWordMessage, kStartMessage, {0x05}}));
}

TEST(RamUsage, UsageShowsCurrentSettings) {
  RamRig rig;
  WriteFile(rig.SettingsFile(), "PORT=COM2\nBAUD=38400\n");
  const RunResult r = rig.Run({"-C3", "-h"});
  // The banner comes first in every run, the usage text after it.
  EXPECT_EQ(r.out,
            "\nVeskar C4x DSP Family Speed RAM-Loader For WIN-NT/2000 V 3.0\n\n"
            "Extended Tektronix Hex Object Format\n\n"
            "Usage: VKRAM <Source> [-C<n>]\n\n"
            "Source  - Filename Without Extension\n"
            "         (Default Extension Is .X0...X3)\n"
            "-C<n>   - Desired COM Port (1..4, Default = 1)\n\n"
            "Autodetect Baudrate Is 38400 Or 115200 Baud\n\n"
            "Current Settings: PORT = COM3, BAUD = 38400\n\n");
  EXPECT_EQ(r.exit_code, 0);
}

}  // namespace
