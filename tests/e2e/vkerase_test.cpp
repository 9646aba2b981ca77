// VKERASE run as a process against the simulator: both result stages with
// the fillers between them, exact output, exit codes, wire and flash.
#include <gtest/gtest.h>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

const std::string kProgLine = "PROG 1 1 2 3 4 5 6 00809c00 00000001 00000002\n";
const std::string kOtherLine = "OTHER 2 1 2 3 4 5 6 00000000 00000001\n";
const std::string kFlash = kProgLine + kOtherLine;

// 07 "PROG" 00, then EndSession.
const std::vector<int> kDeleteProg{0x07, 0x50, 0x52, 0x4F, 0x47, 0x00, 0x04, 0x0C};
const std::string kWorking = "\nTarget Is Working...";

struct Case {
  const char* title;
  std::vector<std::string> sim;
  std::vector<std::string> args;
  std::string out;
  std::vector<int> sent;
  std::string flash_after;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.title; }

class EraseCases : public ::testing::TestWithParam<Case> {};

TEST_P(EraseCases, OutputExitCodeWireAndFlash) {
  const Case& c = GetParam();
  CheckToolCase("vkerase", kFlash,
                {.sim = c.sim, .args = c.args, .out = c.out, .exit_code = 2, .sent = c.sent, .flash_after = c.flash_after});
}

INSTANTIATE_TEST_SUITE_P(
    Results, EraseCases,
    ::testing::Values(
        Case{"deleted", {}, {"prog"}, kWorking + "  Done.\n", kDeleteProg, kOtherLine},
        Case{"not_present", {}, {"other", "gone"}, "\nProgram Name GONE Is Not Present On Target\n",
             {0x07, 0x47, 0x4F, 0x4E, 0x45, 0x00, 0x04, 0x0C}, kFlash},
        Case{"no_name_sends_single_zero", {}, {"-C1"}, "\nProgram Name  Is Not Present On Target\n",
             {0x07, 0x00, 0x04, 0x0C}, kFlash},
        Case{"delete_failed_on_target", {"--fail", "7", "--fillers-ff", "4"}, {"prog"},
             kWorking + "\n\nERROR OCCURED DURING DELETE PROCESS ON TARGET\n\n", kDeleteProg, kFlash},
        // The first result is read at once: neither 0xFF nor 0x7F is skipped.
        Case{"first_result_ff_not_skipped", {"--result", "7=255", "--fillers-ff", "4"}, {"gone"},
             "\n\nERROR: UNKNOWN RESULT 1 CODE 0xff RECEIVED\n\n", {0x07, 0x47, 0x4F, 0x4E, 0x45, 0x00, 0x04, 0x0C},
             kFlash},
        Case{"first_result_7f", {"--result", "7=127"}, {"gone"},
             "\n\nERROR: UNKNOWN RESULT 1 CODE 0x7f RECEIVED\n\n", {0x07, 0x47, 0x4F, 0x4E, 0x45, 0x00, 0x04, 0x0C},
             kFlash},
        Case{"second_result_7f_after_fillers", {"--late-result", "7=127", "--fillers-ff", "6"}, {"prog"},
             kWorking + "\n\nERROR: UNKNOWN RESULT 2 CODE 0x7f RECEIVED\n\n", kDeleteProg, kOtherLine},
        Case{"command_echo_wrong_is_fatal", {"--echo-fault", "1"}, {"prog"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x07 RECEIVED DATA:0x87\n\n", {0x07, 0x04, 0x0C}, kFlash},
        // The board kept the byte it received; only the echo was garbled.
        Case{"name_echo_wrong_goes_on", {"--echo-fault", "2"}, {"prog"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x50 RECEIVED DATA:0xd0\n\n"
             "\nCHECKSUM ERROR: Checksum: bf   ReceivedChecksum: 3f \n\n" +
                 kWorking + "  Done.\n",
             kDeleteProg, kOtherLine},
        Case{"checksum_wrong_goes_on", {"--checksum-fault", "7"}, {"prog"},
             "\nCHECKSUM ERROR: Checksum: 3f   ReceivedChecksum: 40 \n\n" + kWorking + "  Done.\n", kDeleteProg,
             kOtherLine}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
