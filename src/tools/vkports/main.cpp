// vkports: lists what the tools could talk to, without opening any device.
#include <cstdio>
#include <string>
#include <string_view>

#include "link/console.h"
#include "link/ending.h"
#include "tools/vkports/report.h"

int main(int argc, char** argv) {
  vk::link::ConsoleShowsOurText();
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::fputs(vk::vkports::kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("vkports " VK_VERSION);
      return 0;
    }
    std::fprintf(stderr, "vkports: unknown argument %s (see vkports --help)\n", argv[i]);
    return vk::link::kExitFailure;
  }
  std::fputs(vk::vkports::Listing().c_str(), stdout);
  return 0;
}
