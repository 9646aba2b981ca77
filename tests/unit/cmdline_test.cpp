#include "frame/cmdline.h"

#include <gtest/gtest.h>

using namespace vk::frame;

namespace {

struct ScanCase {
  const char* title;
  Tool tool;
  std::vector<std::string_view> args;
  Settings before;
  Settings after;
  bool usage;
  bool info;
  bool changed;
  std::string name;
  std::string new_name;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.title; }

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, Scan) {
  const ScanCase& c = GetParam();
  Settings s = c.before;
  const ScanOutcome o = ScanArguments(Traits(c.tool), c.args, s);
  EXPECT_EQ(s.port, c.after.port);
  EXPECT_EQ(s.baud, c.after.baud);
  EXPECT_EQ(s.mode, c.after.mode);
  EXPECT_EQ(o.usage, c.usage);
  EXPECT_EQ(o.info, c.info);
  EXPECT_EQ(o.settings_changed, c.changed);
  EXPECT_EQ(o.name, c.name);
  EXPECT_EQ(o.new_name, c.new_name);
}

const Settings kDefault{};

INSTANTIATE_TEST_SUITE_P(
    Arguments, ScanTest,
    ::testing::Values(
        ScanCase{"port", Tool::Vkstart, {"-C3"}, kDefault, {3, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"port_lower_case", Tool::Vklist, {"-c2"}, kDefault, {2, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"port_out_of_range", Tool::Vkstart, {"-C9"}, {3, 115200, 's'}, {1, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"port_zero", Tool::Vkstart, {"-C0"}, {3, 115200, 's'}, {1, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"port_without_number", Tool::Vkstart, {"-C"}, {3, 115200, 's'}, {3, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"port_with_space_is_name", Tool::Vkstart, {"-C", "2"}, {3, 115200, 's'}, {3, 115200, 's'}, false, false, true, "2", ""},
        ScanCase{"info", Tool::Vkstart, {"-i", "-I"}, kDefault, kDefault, false, true, false, "", ""},
        ScanCase{"ignored_options", Tool::Vkstart, {"-X", "-", "-Mf"}, kDefault, kDefault, false, false, false, "", ""},
        ScanCase{"mode_fast", Tool::Vkburn, {"-MF"}, kDefault, {1, 115200, 'f'}, false, false, true, "", ""},
        ScanCase{"mode_bad_is_save", Tool::Vkburn, {"-Mx"}, {1, 115200, 'f'}, {1, 115200, 's'}, false, false, true, "", ""},
        ScanCase{"mode_alone_keeps", Tool::Vkburn, {"-m"}, {1, 115200, 'f'}, {1, 115200, 'f'}, false, false, true, "", ""},
        ScanCase{"usage_stops_scan", Tool::Vkburn, {"-C2", "-H", "-C3"}, kDefault, {2, 115200, 's'}, true, false, true, "", ""},
        ScanCase{"question_mark_usage", Tool::Vkstart, {"prog", "?"}, kDefault, kDefault, true, false, false, "PROG", ""},
        ScanCase{"slash_question_is_name", Tool::Vkerase, {"/?"}, kDefault, kDefault, false, false, false, "/?", ""},
        ScanCase{"last_name_upper", Tool::Vkerase, {"a", "b"}, kDefault, kDefault, false, false, false, "B", ""},
        ScanCase{"upper_only_ascii_letters", Tool::Vkstart, {"my-prog_1.x\xe4"}, kDefault, kDefault, false, false, false, "MY-PROG_1.X\xe4", ""},
        ScanCase{"names_ignored", Tool::Vklist, {"a", "b"}, kDefault, kDefault, false, false, false, "", ""},
        ScanCase{"rename_positions", Tool::Vkname, {"old", "new", "x", "-C2"}, kDefault, {2, 115200, 's'}, false, false, true, "OLD", "NEW"},
        ScanCase{"rename_option_first", Tool::Vkname, {"-C2", "OLD", "NEW"}, kDefault, {2, 115200, 's'}, false, false, true, "", "OLD"},
        ScanCase{"long_name_kept_whole", Tool::Vkstart, {"abcdefghijklmnopqrstuvwxyz0123456789"}, kDefault, kDefault, false, false, false, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", ""}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
