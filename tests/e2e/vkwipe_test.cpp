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

class WipeCases : public ToolCases {};
TEST_P(WipeCases, OutputExitCodeWireAndFlash) { CheckToolCase("vkwipe", kFlash, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Results, WipeCases,
    ::testing::Values(
        ToolCase{"formatted", {}, {}, kYes + kWorking + "  Done.\n", 254, kFormat, kFormatted, "y\n"},
        ToolCase{"upper_case_yes", {}, {}, kAsk + "Y\n" + kWorking + "  Done.\n", 254, kFormat, kFormatted, "Yes\n"},
        ToolCase{"formatted_after_many_fillers", {"--fillers-ff", "3000"}, {}, kYes + kWorking + "  Done.\n", 254,
                 kFormat, kFormatted, "y\n"},
        ToolCase{"format_failed_on_target", {"--fail", "9"}, {},
                 kYes + kWorking + "\n\nERROR DURING FORMATTING ON TARGET\n\n", 2, kFormat, kFlash, "y\n"},
        ToolCase{"7f_where_result_due", {"--result", "9=127", "--fillers-ff", "2"}, {},
                 kYes + kWorking + "\n\nERROR: UNKNOWN RESULT CODE 0x7f RECEIVED\n\n", 2, kFormat, kFormatted, "y\n"},
        ToolCase{"command_echo_wrong_is_fatal", {"--echo-fault", "1"}, {},
                 kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x09 RECEIVED DATA:0x89\n\n", 2,
                 {0x09, 0x04, 0x0C}, kFlash, "y\n"},
        // The board drops the format at the byte that is not the next
        // confirmation byte (EndSession's 04) and serves it.
        ToolCase{"echo_of_00_wrong_is_fatal", {"--echo-fault", "2"}, {},
                 kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x00 RECEIVED DATA:0x80\n\n", 2,
                 {0x09, 0x00, 0x04, 0x0C}, kFlash, "y\n"},
        // 0xFF garbled is 0x7F: read at once, not skipped.
        ToolCase{"echo_of_ff_wrong_is_fatal", {"--echo-fault", "3"}, {},
                 kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0xFF RECEIVED DATA:0x7f\n\n", 2,
                 {0x09, 0x00, 0xFF, 0x04, 0x0C}, kFlash, "y\n"},
        // The board had all three bytes and went to work: its checksum
        // stands where EndSession's echo is awaited.
        ToolCase{"echo_of_55_wrong_is_fatal", {"--echo-fault", "4"}, {},
                 kYes + "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x55 RECEIVED DATA:0xd5\n\n"
                        "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x5d\n",
                 2, {0x09, 0x00, 0xFF, 0x55, 0x04}, kFormatted, "y\n"},
        // Fatal here, unlike the other utilities; the board's busy fillers
        // stand where EndSession's echo is awaited.
        ToolCase{"checksum_wrong_is_fatal", {"--checksum-fault", "9"}, {},
                 kYes + "\nCHECKSUM ERROR: Checksum: 5d   ReceivedChecksum: 5e \n\n"
                        "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0xff\n",
                 2, {0x09, 0x00, 0xFF, 0x55, 0x04}, kFormatted, "y\n"}),
    CaseTitle());

// Refused: nothing reaches the board.
INSTANTIATE_TEST_SUITE_P(
    Refused, WipeCases,
    ::testing::Values(ToolCase{"no", {}, {}, kAsk + "n\n", 2, {}, kFlash, "n\n"},
                      ToolCase{"other_letter", {}, {}, kAsk + "x\n", 2, {}, kFlash, "x\n"},
                      ToolCase{"empty_line", {}, {}, kAsk + "\n\n", 2, {}, kFlash, "\n"},
                      // End of input: no character to echo, just the line end.
                      ToolCase{"end_of_input", {}, {}, kAsk + "\n", 2, {}, kFlash, ""}),
    CaseTitle());

}  // namespace
