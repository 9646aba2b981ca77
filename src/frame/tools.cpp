#include "frame/tools.h"

#include <array>

#include "link/connect.h"

namespace vk::frame {
namespace {

using link::kRamSyncByte;
using link::kSyncByte;

constexpr std::array<ToolTraits, 8> kTools{{
    {Tool::Vkburn, "VKBURN", "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 ", true, true, true,
     NameRule::Last, true, PreCheck::SourceFiles, true, UsageKind::FlashLoader,
     "Usage: VKBURN <Source> [-C<n>] [-M<n>]\n\n", kSyncByte},
    {Tool::Vkram, "VKRAM", "\nVeskar C4x DSP Family Speed RAM-Loader For WIN-NT/2000 ", true, false, true,
     NameRule::Last, true, PreCheck::SourceFiles, true, UsageKind::RamLoader,
     "Usage: VKRAM <Source> [-C<n>]\n\n", kRamSyncByte},
    {Tool::Vklist, "VKLIST", "\nVeskar DSP Family Directory Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Ignored, false, PreCheck::None, false, UsageKind::Utility,
     "Usage: VKLIST [-C<n>]\n\n", kSyncByte},
    {Tool::Vkcheck, "VKCHECK", "\nVeskar DSP Family Checkdisk Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Ignored, false, PreCheck::None, false, UsageKind::Utility,
     "Usage: VKCHECK [-C<n>]\n\n", kSyncByte},
    {Tool::Vkerase, "VKERASE", "\nVeskar DSP Family Delete Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Last, false, PreCheck::None, false, UsageKind::Utility,
     "Usage: VKERASE <Name> [-C<n>]\n\n", kSyncByte},
    {Tool::Vkname, "VKNAME", "\nVeskar DSP Family Rename Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Positional, false, PreCheck::NewNameLength, false, UsageKind::Utility,
     "Usage: VKNAME <Oldname Newname> [-C<n>]\n\n", kSyncByte},
    {Tool::Vkwipe, "VKWIPE", "\nVeskar DSP Family Format Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Ignored, false, PreCheck::Confirm, false, UsageKind::Utility,
     "Usage: VKWIPE [-C<n>]\n\n", kSyncByte},
    {Tool::Vkstart, "VKSTART", "\nVeskar DSP Family Run Utility For WIN-NT/WIN2000 ", false, false, false,
     NameRule::Last, false, PreCheck::None, false, UsageKind::Utility,
     "Usage: VKSTART <Name> [-C<n>]\n\n", kSyncByte},
}};

}  // namespace

const ToolTraits& Traits(Tool tool) { return kTools[static_cast<size_t>(tool)]; }

}  // namespace vk::frame
