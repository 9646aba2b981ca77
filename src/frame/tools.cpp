#include "frame/tools.h"

#include "wire/letter_case.h"

#include <array>

namespace vk::frame {
namespace {

constexpr std::array<ToolTraits, 8> kTools{{
    {.tool = Tool::Vkburn, .name = "VKBURN",
     .banner_title = "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 ",
     .usage_line = "Usage: VKBURN <Source> [-C<n>] [-M<n>]\n\n",
     .usage = UsageKind::FlashLoader, .names = NameRule::Last, .pre_check = PreCheck::SourceFiles,
     .banner_at_start = true, .has_mode = true, .reading_results_checked = true, .port_line = true,
     .connected_line = true},
    {.tool = Tool::Vkram, .name = "VKRAM",
     .banner_title = "\nVeskar C4x DSP Family Speed RAM-Loader For WIN-NT/2000 ",
     .usage_line = "Usage: VKRAM <Source> [-C<n>]\n\n",
     .usage = UsageKind::RamLoader, .names = NameRule::Last, .pre_check = PreCheck::SourceFiles,
     .banner_at_start = true, .reading_results_checked = true, .port_line = true, .connected_line = true,
     .sync_byte = link::kRamSyncByte},
    {.tool = Tool::Vklist, .name = "VKLIST",
     .banner_title = "\nVeskar DSP Family Directory Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKLIST [-C<n>]\n\n"},
    {.tool = Tool::Vkcheck, .name = "VKCHECK",
     .banner_title = "\nVeskar DSP Family Checkdisk Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKCHECK [-C<n>]\n\n"},
    {.tool = Tool::Vkerase, .name = "VKERASE",
     .banner_title = "\nVeskar DSP Family Delete Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKERASE <Name> [-C<n>]\n\n", .names = NameRule::Last},
    {.tool = Tool::Vkname, .name = "VKNAME",
     .banner_title = "\nVeskar DSP Family Rename Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKNAME <Oldname Newname> [-C<n>]\n\n",
     .names = NameRule::Positional, .pre_check = PreCheck::NewNameLength},
    {.tool = Tool::Vkwipe, .name = "VKWIPE",
     .banner_title = "\nVeskar DSP Family Format Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKWIPE [-C<n>]\n\n", .pre_check = PreCheck::Confirm},
    {.tool = Tool::Vkstart, .name = "VKSTART",
     .banner_title = "\nVeskar DSP Family Run Utility For WIN-NT/WIN2000 ",
     .usage_line = "Usage: VKSTART <Name> [-C<n>]\n\n", .names = NameRule::Last},
}};

// Traits() finds a program's row by its place in the table.
constexpr bool RowsInToolOrder() {
  for (size_t i = 0; i < kTools.size(); ++i)
    if (static_cast<size_t>(kTools[i].tool) != i) return false;
  return kTools.size() == static_cast<size_t>(Tool::Vkstart) + 1;
}
static_assert(RowsInToolOrder(), "one row per program, in the order of enum Tool");

}  // namespace

const ToolTraits& Traits(Tool tool) { return kTools[static_cast<size_t>(tool)]; }

std::string ProgramName(const ToolTraits& traits) {
  return wire::LowerCase(traits.name);
}

}  // namespace vk::frame
