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

struct Case {
  const char* title;
  std::vector<std::string> sim;
  std::string out;
  int exit_code;
  // The host sends nothing between the command byte and EndSession.
  std::vector<int> sent{0x0A, 0x04, 0x0C};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.title; }

class CheckCases : public ::testing::TestWithParam<Case> {};

TEST_P(CheckCases, OutputExitCodeAndWire) {
  const Case& c = GetParam();
  CheckToolCase("vkcheck", kTwoFiles, {.sim = c.sim, .out = c.out, .exit_code = c.exit_code, .sent = c.sent});
}

INSTANTIATE_TEST_SUITE_P(
    Reports, CheckCases,
    ::testing::Values(
        Case{"no_errors_autostart_sound", {}, kNoErrors + kNumbers, 0},
        Case{"no_errors_autostart_checksum_error", {"--autostart-status", "1"},
             kNoErrors + kAutostartError + kNumbers, 0},
        Case{"no_errors_autostart_unknown", {"--autostart-status", "7"}, kNoErrors + kAutostartUnknown + kNumbers,
             0},
        Case{"errors_autostart_sound", kCorrupt, kTwoErrors + kNumbers, 254},
        Case{"errors_autostart_checksum_error", With(kCorrupt, {"--autostart-status", "1"}),
             kTwoErrors + kNumbers + kAutostartError, 254},
        Case{"errors_autostart_unknown", With(kCorrupt, {"--autostart-status", "200"}),
             kTwoErrors + kNumbers + kAutostartUnknown, 254},
        // Fillers before each name and before the closing 0: skipped and not
        // summed, or the checksum would not match.
        Case{"errors_with_fillers", With(kCorrupt, {"--fillers-ff", "25"}), kTwoErrors + kNumbers, 254},
        // A report whose checksum is wrong is shown, but is no result: 2.
        Case{"checksum_wrong_after_report", {"--reply-checksum-fault", "10"},
             kNoErrors + kNumbers + "\nCHECKSUM ERROR: Checksum: f1   ReceivedChecksum: f2 \n\n", 2},
        Case{"checksum_wrong_with_file_errors", With(kCorrupt, {"--reply-checksum-fault", "10"}),
             kTwoErrors + kNumbers + "\nCHECKSUM ERROR: Checksum: ec   ReceivedChecksum: ed \n\n", 2},
        // Past 1024 bytes names are counted, not kept; every byte is still
        // summed, so no checksum error.
        Case{"error_list_longer_than_store_cut", LongErrorList(), LongErrorReport(), 254},
        Case{"command_echo_wrong_is_fatal", With(kCorrupt, {"--echo-fault", "1"}),
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x0a RECEIVED DATA:0x8a\n\n", 2}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
