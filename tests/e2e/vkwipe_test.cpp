// VKWIPE run as a process against the simulator: the confirmation, the
// three confirmation bytes and their messages, the fatal checksum, every
// result, exit codes, wire and flash.
#include <gtest/gtest.h>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

const std::string kFlash =
    "PROG 1 1 2 3 4 5 6 00809c00 00000001\n"
    "DATA 2 1 2 3 4 5 6 00000000 00000002\n";
const std::string kFormatted = "";

const std::string kAsk = "\nAre You Sure ? (y/n) ";
const std::string kYes = kAsk + "y\n";
const std::string kWorking = "\nTarget Is Working...";
const std::vector<int> kFormat{0x09, 0x00, 0xFF, 0x55, 0x04, 0x0C};

struct Case {
  const char* title;
  std::vector<std::string> sim;
  std::string input;
  std::string out;
  int exit_code;
  std::vector<int> sent;
  std::string flash_after;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.title; }

class WipeCases : public ::testing::TestWithParam<Case> {};

TEST_P(WipeCases, OutputExitCodeWireAndFlash) {
  const Case& c = GetParam();
  CheckToolCase("vkwipe", kFlash,
                {.sim = c.sim, .out = c.out, .exit_code = c.exit_code, .sent = c.sent, .flash_after = c.flash_after,
                 .input = c.input});
}

INSTANTIATE_TEST_SUITE_P(
    Results, WipeCases,
    ::testing::Values(
        Case{"formatted", {}, "y\n", kYes + kWorking + "  Done.\n", 254, kFormat, kFormatted},
        Case{"upper_case_yes", {}, "Yes\n", kAsk + "Y\n" + kWorking + "  Done.\n", 254, kFormat, kFormatted},
        Case{"formatted_after_many_fillers", {"--fillers-ff", "3000"}, "y\n", kYes + kWorking + "  Done.\n", 254,
             kFormat, kFormatted},
        Case{"format_failed_on_target", {"--fail", "9"}, "y\n",
             kYes + kWorking + "\n\nERROR DURING FORMATTING ON TARGET\n\n", 2, kFormat, kFlash},
        Case{"7f_where_result_due", {"--result", "9=127", "--fillers-ff", "2"}, "y\n",
             kYes + kWorking + "\n\nERROR: UNKNOWN RESULT CODE 0x7f RECEIVED\n\n", 2, kFormat, kFormatted},
        Case{"command_echo_wrong_is_fatal", {"--echo-fault", "1"}, "y\n",
             kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x09 RECEIVED DATA:0x89\n\n", 2,
             {0x09, 0x04, 0x0C}, kFlash},
        // The board drops the format at the byte that is not the next
        // confirmation byte (EndSession's 04) and serves it.
        Case{"echo_of_00_wrong_is_fatal", {"--echo-fault", "2"}, "y\n",
             kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x00 RECEIVED DATA:0x80\n\n", 2,
             {0x09, 0x00, 0x04, 0x0C}, kFlash},
        // 0xFF garbled is 0x7F: read at once, not skipped.
        Case{"echo_of_ff_wrong_is_fatal", {"--echo-fault", "3"}, "y\n",
             kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0xFF RECEIVED DATA:0x7f\n\n", 2,
             {0x09, 0x00, 0xFF, 0x04, 0x0C}, kFlash},
        // The board had all three bytes and went to work: its checksum
        // stands where EndSession's echo is awaited.
        Case{"echo_of_55_wrong_is_fatal", {"--echo-fault", "4"}, "y\n",
             kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x55 RECEIVED DATA:0xd5\n\n"
                    "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x5d\n",
             2, {0x09, 0x00, 0xFF, 0x55, 0x04}, kFormatted},
        // Fatal here, unlike the other utilities; the board's busy fillers
        // stand where EndSession's echo is awaited.
        Case{"checksum_wrong_is_fatal", {"--checksum-fault", "9"}, "y\n",
             kYes + "\nCHECKSUM ERROR: Checksum: 5d   ReceivedChecksum: 5e \n\n"
                    "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0xff\n",
             2, {0x09, 0x00, 0xFF, 0x55, 0x04}, kFormatted}),
    [](const auto& info) { return std::string(info.param.title); });

struct Refusal {
  const char* title;
  std::string input;
  std::string out;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.title; }

class WipeRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(WipeRefusals, NothingReachesTheBoard) {
  const Refusal& c = GetParam();
  CheckToolCase("vkwipe", kFlash, {.out = c.out, .exit_code = 2, .sent = {}, .flash_after = kFlash, .input = c.input});
}

INSTANTIATE_TEST_SUITE_P(
    Refused, WipeRefusals,
    ::testing::Values(Refusal{"no", "n\n", kAsk + "n\n"},
                      Refusal{"other_letter", "x\n", kAsk + "x\n"},
                      Refusal{"empty_line", "\n", kAsk + "\n\n"},
                      // End of input: no character to echo, just the line end.
                      Refusal{"end_of_input", "", kAsk + "\n"}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
