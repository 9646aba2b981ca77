// VKCHECK run as a process against the simulator: both report layouts,
// the autostart line, the checksum after the report, exit codes and wire.
#include <gtest/gtest.h>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

// Two files of 12 and 32 bytes in the 512 KiB flash.
const std::string kTwoFiles =
    "TEST 1 12 6 1 19 56 3 00809c00 1 2 3\n"
    "TABLES 2 31 12 99 23 59 59 00000000 1 2 3 4 5 6 7 8\n";

const std::string kNumbers =
    "Number Of Present Files On Target:  2"
    "\nCommon Flash Memory Size On Target: 524288 Bytes"
    "\nFree Flash Memory Size On Target:   524244 Bytes"
    "\nFile Software Version On Target:    V 2.1\n";
const std::string kNoErrors = "\nNo File Errors On Target\n\n";
const std::string kTwoErrors = "\nChecksum Error At File TEST\nChecksum Error At File TABLES\n\n";
const std::string kAutostartError = "\nAutostart Descriptor Checksum Error On Target\n\n";
const std::string kAutostartUnknown = "\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n";
const std::vector<std::string> kCorrupt{"--corrupt", "TEST", "--corrupt", "TABLES"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Five names of 250 characters: 1255 bytes, more than the 1024 kept.
std::vector<std::string> LongErrorList() {
  std::vector<std::string> options;
  for (char c = 'A'; c <= 'E'; ++c) options.insert(options.end(), {"--corrupt", std::string(250, c)});
  return options;
}
std::string LongErrorReport() {
  std::string out;
  for (char c = 'A'; c <= 'D'; ++c) out += "\nChecksum Error At File " + std::string(250, c);
  return out + "\nFile Error List Longer Than 1024 Bytes: 1 More File(s) Not Shown\n\n" + kNumbers;
}

// The host sends nothing between the command byte and EndSession.
const std::vector<int> kCheckAndEnd{0x0A, 0x04, 0x0C};

class CheckCases : public ToolCases {};
TEST_P(CheckCases, OutputExitCodeAndWire) { CheckToolCase("vkcheck", kTwoFiles, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Reports, CheckCases,
    ::testing::Values(
        ToolCase{"no_errors_autostart_sound", {}, {}, kNoErrors + kNumbers, 0, kCheckAndEnd},
        ToolCase{"no_errors_autostart_checksum_error", {"--autostart-status", "1"}, {},
                 kNoErrors + kAutostartError + kNumbers, 0, kCheckAndEnd},
        ToolCase{"no_errors_autostart_unknown", {"--autostart-status", "7"}, {},
                 kNoErrors + kAutostartUnknown + kNumbers, 0, kCheckAndEnd},
        ToolCase{"errors_autostart_sound", kCorrupt, {}, kTwoErrors + kNumbers, 254, kCheckAndEnd},
        ToolCase{"errors_autostart_checksum_error", With(kCorrupt, {"--autostart-status", "1"}), {},
                 kTwoErrors + kNumbers + kAutostartError, 254, kCheckAndEnd},
        ToolCase{"errors_autostart_unknown", With(kCorrupt, {"--autostart-status", "200"}), {},
                 kTwoErrors + kNumbers + kAutostartUnknown, 254, kCheckAndEnd},
        // Fillers before each name and before the closing 0: skipped and not
        // summed, or the checksum would not match.
        ToolCase{"errors_with_fillers", With(kCorrupt, {"--fillers-ff", "25"}), {}, kTwoErrors + kNumbers, 254,
                 kCheckAndEnd},
        // A report whose checksum is wrong is shown, but is no result: 2.
        ToolCase{"checksum_wrong_after_report", {"--reply-checksum-fault", "10"}, {},
                 kNoErrors + kNumbers + "\nCHECKSUM ERROR: Checksum: f1   ReceivedChecksum: f2 \n\n", 2, kCheckAndEnd},
        ToolCase{"checksum_wrong_with_file_errors", With(kCorrupt, {"--reply-checksum-fault", "10"}), {},
                 kTwoErrors + kNumbers + "\nCHECKSUM ERROR: Checksum: ec   ReceivedChecksum: ed \n\n", 2,
                 kCheckAndEnd},
        // Past 1024 bytes names are counted, not kept; every byte is still
        // summed, so no checksum error.
        ToolCase{"error_list_longer_than_store_cut", LongErrorList(), {}, LongErrorReport(), 254, kCheckAndEnd},
        ToolCase{"command_echo_wrong_is_fatal", With(kCorrupt, {"--echo-fault", "1"}), {},
                 "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x0a RECEIVED DATA:0x8a\n\n", 2, kCheckAndEnd}),
    CaseTitle());

}  // namespace
