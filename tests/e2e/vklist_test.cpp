// VKLIST run as a process against the simulator: exact output, exit code
// and the bytes on the wire.
#include <gtest/gtest.h>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

// 12 bytes, 32 bytes: 524244 bytes of the 512 KiB flash stay free.
const std::string kTwoFiles =
    "TEST 1 12 6 1 19 56 3 00809c00 1 2 3\n"
    "TABLES 2 31 12 99 23 59 59 00000000 1 2 3 4 5 6 7 8\n";
const std::vector<std::string> kSixteen{"--odd-entry", "SIXTEENCHARSNAME:1:4096"};

const std::string kListing =
    "\nTEST            PRG   12.06.01   19:56:03   12\n"
    "TABLES          DAT   31.12.99   23:59:59   32\n"
    "SIXTEENCHARSNAMEPRG   00.00.00   00:00:00   4096\n"
    "\nAuto Booting Program: \n"
    "\n524244 Bytes Free On Target Flash Memory\n";

const std::vector<int> kListAndEnd{0x08, 0x04, 0x0C};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Ten entries of 200-character names: a reply of 2127 bytes, summing to 0x73.
std::vector<std::string> OverlongDirectory() {
  std::vector<std::string> options;
  for (int i = 0; i < 10; ++i)
    options.insert(options.end(), {"--odd-entry", std::string(199, 'N') + std::to_string(i)});
  return options;
}

struct Case {
  const char* title;
  std::string flash;
  std::vector<std::string> sim;
  std::string out;
  int exit_code;
  std::vector<int> sent = kListAndEnd;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.title; }

class ListCases : public ::testing::TestWithParam<Case> {};

TEST_P(ListCases, OutputExitCodeAndWire) {
  const Case& c = GetParam();
  CheckToolCase("vklist", c.flash,
                {.sim = c.sim, .args = {"ignored-name"}, .out = c.out, .exit_code = c.exit_code, .sent = c.sent});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ListCases,
    ::testing::Values(
        Case{"listing_of_several_files", kTwoFiles, kSixteen, kListing, 254},
        Case{"command_checksum_wrong_goes_on", kTwoFiles, With(kSixteen, {"--checksum-fault", "8"}),
             "\nCHECKSUM ERROR: Checksum: 08   ReceivedChecksum: 09 \n\n" + kListing, 254},
        // Listed all the same, but a listing that may be garbled is no success.
        Case{"reply_checksum_wrong_listed_all_the_same", kTwoFiles,
             With(kSixteen, {"--reply-checksum-fault", "8"}),
             "\nCHECKSUM ERROR: Checksum: 43   ReceivedChecksum: 44 \n" + kListing, 2},
        Case{"empty_flash", "", {}, "\nNo Files Present On Target Flash\n", 0},
        Case{"command_echo_wrong_is_fatal", kTwoFiles, {"--echo-fault", "1"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x08 RECEIVED DATA:0x88\n\n", 2},
        Case{"end_session_failure_after_listing", kTwoFiles, With(kSixteen, {"--result", "4=0"}),
             kListing + "\nERROR: TARGET PROGRAM NOT STARTED\n", 2, {0x08, 0x04}},
        // Beyond the 2048-byte store: read to its end and summed (the
        // checksum is still compared), then refused.
        Case{"reply_longer_than_store_refused", "", OverlongDirectory(),
             "\nERROR: DIRECTORY REPLY LONGER THAN 2048 BYTES, NOT LISTED\n", 2},
        Case{"reply_longer_than_store_still_summed", "",
             With(OverlongDirectory(), {"--reply-checksum-fault", "8"}),
             "\nCHECKSUM ERROR: Checksum: 73   ReceivedChecksum: 74 \n"
             "\nERROR: DIRECTORY REPLY LONGER THAN 2048 BYTES, NOT LISTED\n",
             2}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(ListWire, EmptyFlashReadsNothingAfterTheFirstByte) {
  ToolRig rig("vklist", {});
  const RunResult r = rig.Run({});
  EXPECT_EQ(r.exit_code, 0);
  // Echo, command checksum, the one reply byte, then EndSession's answer.
  EXPECT_EQ(rig.Received(), std::vector<int>({0x08, 0x08, 0x00, 0x04, 0x04, 0x01}));
}

}  // namespace
