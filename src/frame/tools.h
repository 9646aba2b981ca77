// What differs between the eight programs, as one table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/connect.h"

namespace vk::frame {

enum class Tool { Vkburn, Vkram, Vklist, Vkcheck, Vkerase, Vkname, Vkwipe, Vkstart };

// How non-option arguments are taken.
enum class NameRule {
  Ignored,     // the program takes no name
  Last,        // the last one, upper-cased, is the name
  Positional,  // argument 1 is the old name, argument 2 the new name
};

// The check a program makes before the port is opened.
enum class PreCheck {
  None,
  SourceFiles,    // the loaders: source prompt and input files (their own code)
  NewNameLength,  // the new name has at most 15 characters
  Confirm,        // the operator confirms on standard input
};

enum class UsageKind { FlashLoader, RamLoader, Utility };

// One row per program; the defaults are the flash utilities'.
struct ToolTraits {
  Tool tool;
  std::string_view name;                 // upper case, as in messages
  std::string_view banner_title;
  std::string_view usage_line;
  UsageKind usage = UsageKind::Utility;
  NameRule names = NameRule::Ignored;
  PreCheck pre_check = PreCheck::None;
  bool banner_at_start = false;          // the loaders print it first in every run
  bool has_mode = false;                 // MODE key and -M option
  bool reading_results_checked = false;  // an unmatched settings line sets the flag
  bool port_line = false;                // "Using Port  : COM%d\n" before the checks
  bool connected_line = false;           // "\nConnected To Target\n" after connecting
  uint8_t sync_byte = link::kSyncByte;
};

const ToolTraits& Traits(Tool tool);

// The program's name as its file is called ("vkburn"), for messages on
// standard error.
std::string ProgramName(const ToolTraits& traits);

constexpr std::string_view kVersion = "V 3.0";
constexpr int kMaxTargetName = 15;  // longest name the flash file system holds

}  // namespace vk::frame
