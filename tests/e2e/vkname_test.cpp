// VKNAME run as a process against the simulator: every result, the names
// by position, and the refusals before the port is opened.
#include <gtest/gtest.h>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

const std::string kOldLine = "OLD 1 1 2 3 4 5 6 00809c00 00000001\n";
const std::string kTakenLine = "TAKEN 1 1 2 3 4 5 6 00809c00 00000002\n";
const std::string kFlash = kOldLine + kTakenLine;

std::vector<int> Name(const std::string& name) {
  std::vector<int> bytes(name.begin(), name.end());
  bytes.push_back(0);
  return bytes;
}
// 06, the old name, the new name, then EndSession.
std::vector<int> Rename(const std::string& from, const std::string& to) {
  std::vector<int> bytes{0x06};
  for (const std::string& n : {from, to})
    for (int b : Name(n)) bytes.push_back(b);
  bytes.insert(bytes.end(), {0x04, 0x0C});
  return bytes;
}

const std::string kWorking = "\nTarget Is Working...";
const std::string kDone = kWorking + "  Done.\n";

using Case = ToolCase;

class NameCases : public ::testing::TestWithParam<Case> {};

TEST_P(NameCases, OutputExitCodeWireAndFlash) {
  CheckToolCase("vkname", kFlash, GetParam());
}

const std::string kRenamed = "NEW 1 1 2 3 4 5 6 00809c00 00000001\n" + kTakenLine;

INSTANTIATE_TEST_SUITE_P(
    Results, NameCases,
    ::testing::Values(
        Case{"renamed", {}, {"old", "new"}, kDone, 254, Rename("OLD", "NEW"), kRenamed},
        Case{"renamed_after_many_fillers", {"--fillers-ff", "3000"}, {"old", "new", "-c1"}, kDone, 254,
             Rename("OLD", "NEW"), kRenamed},
        Case{"new_name_of_15_characters", {}, {"old", "abcdefghijklmno"}, kDone, 254,
             Rename("OLD", "ABCDEFGHIJKLMNO"), "ABCDEFGHIJKLMNO 1 1 2 3 4 5 6 00809c00 00000001\n" + kTakenLine},
        Case{"not_present", {}, {"gone", "new"}, kWorking + "\n\nProgram Name GONE Is Not Present On Target\n", 2,
             Rename("GONE", "NEW"), kFlash},
        // The old name is not measured.
        Case{"long_old_name_sent", {}, {"abcdefghijklmnopqrst", "new"},
             kWorking + "\n\nProgram Name ABCDEFGHIJKLMNOPQRST Is Not Present On Target\n", 2,
             Rename("ABCDEFGHIJKLMNOPQRST", "NEW"), kFlash},
        // Names go by position, options included: OLD stands second, so it
        // is the new name and the old one is empty.
        Case{"option_first_shifts_the_names", {}, {"-C1", "old", "new"},
             kWorking + "\n\nProgram Name  Is Not Present On Target\n", 2, Rename("", "OLD"), kFlash},
        Case{"new_name_exists", {}, {"old", "taken"}, kWorking + "\n\nProgram Name TAKEN Already Exists On Target\n",
             2, Rename("OLD", "TAKEN"), kFlash},
        Case{"7f_where_result_due", {"--result", "6=127", "--fillers-ff", "5"}, {"old", "new"},
             kWorking + "\n\nERROR: UNKNOWN RESULT CODE 0x7f RECEIVED\n\n", 2, Rename("OLD", "NEW"), kRenamed},
        Case{"command_echo_wrong_is_fatal", {"--echo-fault", "1"}, {"old", "new"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x06 RECEIVED DATA:0x86\n\n", 2, {0x06, 0x04, 0x0C}, kFlash},
        Case{"name_echo_wrong_goes_on", {"--echo-fault", "2"}, {"old", "new"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x4f RECEIVED DATA:0xcf\n\n"
             "\nCHECKSUM ERROR: Checksum: 4f   ReceivedChecksum: cf \n\n" +
                 kDone,
             254, Rename("OLD", "NEW"), kRenamed},
        Case{"checksum_wrong_goes_on", {"--checksum-fault", "6"}, {"old", "new"},
             "\nCHECKSUM ERROR: Checksum: cf   ReceivedChecksum: d0 \n\n" + kDone, 254, Rename("OLD", "NEW"),
             kRenamed}),
    [](const auto& info) { return std::string(info.param.title); });

struct Refusal {
  const char* title;
  std::vector<std::string> args;
  std::string out;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.title; }

class NameRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(NameRefusals, BeforeThePortIsOpened) {
  const Refusal& c = GetParam();
  CheckToolCase("vkname", kFlash, {.args = c.args, .out = c.out, .exit_code = 2, .sent = {}, .flash_after = kFlash});
}

INSTANTIATE_TEST_SUITE_P(
    Refused, NameRefusals,
    ::testing::Values(
        Refusal{"new_name_of_16_characters", {"old", "abcdefghijklmnop"},
                "\nName ABCDEFGHIJKLMNOP Is Longer Than 15 Characters\n"},
        Refusal{"single_name", {"old"}, "\nNew Name Missing: Usage Is VKNAME <Oldname Newname>\n"},
        Refusal{"no_name", {"-C1"}, "\nNew Name Missing: Usage Is VKNAME <Oldname Newname>\n"}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
