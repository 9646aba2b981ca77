#include "frame/cmdline.h"

#include "wire/letter_case.h"
#include "link/port_names.h"

namespace vk::frame {

ScanOutcome ScanArguments(const ToolTraits& traits, const std::vector<std::string_view>& args,
                          Settings& settings) {
  ScanOutcome out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const int position = static_cast<int>(i) + 1;
    if (arg == "--help") {
      out.usage = true;
      return out;
    }
    if (!arg.empty() && arg[0] == '-') {
      const char letter =
          arg.size() > 1 ? wire::ToLower(arg[1]) : '\0';
      const std::string_view rest = arg.size() > 2 ? arg.substr(2) : std::string_view{};
      switch (letter) {
        case 'c': {
          int port = settings.port;
          size_t pos = 0;
          if (ScanDecimal(rest, pos, port) == ScanResult::Matched) settings.port = link::NormalisePortNumber(port);
          out.settings_changed = true;
          break;
        }
        case 'h':
          out.usage = true;
          return out;
        case 'i':
          out.info = true;
          break;
        case 'm':
          if (traits.has_mode) {
            if (!rest.empty()) settings.mode = rest[0];
            settings.mode = CorrectMode(settings.mode);
            out.settings_changed = true;
          }
          break;
        default:
          break;
      }
    } else if (!arg.empty() && arg[0] == '?') {
      out.usage = true;
      return out;
    } else {
      switch (traits.names) {
        case NameRule::Last:
          out.name = wire::UpperCase(arg);
          out.name_typed = std::string(arg);
          break;
        case NameRule::Positional:
          if (position == 1) out.name = wire::UpperCase(arg);
          if (position == 2) out.new_name = wire::UpperCase(arg);
          break;
        case NameRule::Ignored:
          break;
      }
    }
  }
  return out;
}

}  // namespace vk::frame
