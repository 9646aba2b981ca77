// VKBURN <Source> [-C<n>] [-M<n>]: writes a four-lane program into the
// board's flash under its name, with the date and time of its .X0 file.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "download.h"
#include "fourlane/filedate.h"
#include "fourlane/source.h"
#include "frame/exchange.h"
#include "frame/frame.h"
#include "link/port.h"

namespace {

constexpr int kRefused = 2;

// The .X0 file's modification time in local time.
vk::fourlane::FileDate X0FileDate(const std::string& x0_name) {
  FILE* file = std::fopen(x0_name.c_str(), "rb");
  if (!file) {
    std::printf("\nCan't Open File %s\n", x0_name.c_str());
    std::exit(kRefused);
  }
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) {
    std::printf("\nInvalid Handle At File %s\n", x0_name.c_str());
    std::exit(kRefused);
  }
  std::fclose(file);
  std::tm local {};
  const std::time_t modified = st.st_mtime;
#ifdef _WIN32
  localtime_s(&local, &modified);
#else
  localtime_r(&modified, &local);
#endif
  vk::fourlane::FileDate date;
  if (const char* error = vk::fourlane::ParseTimeText(vk::fourlane::TimeText(local), date)) {
    std::printf("%s", error);
    std::exit(kRefused);
  }
  return date;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkburn, argc, argv);

  vk::fourlane::SourceName source{frame.name_typed, frame.name};
  vk::fourlane::SettleSourceName(source);
  const vk::fourlane::FileDate date = X0FileDate(vk::fourlane::LaneFileName(source, 0));
  vk::fourlane::LaneFiles files;
  vk::fourlane::OpenLaneFiles(source, files);

  ConnectFrame(frame);
  DrainInput();
  const vkburn::Mode mode = frame.settings.mode == 'f' ? vkburn::Mode::Fast : vkburn::Mode::Save;
  vkburn::StartDownload(source.upper, date);
  const uint32_t start = vkburn::DownloadRecords(files, mode);
  vkburn::EndDownload();
  EndSession();

  vk::fourlane::FinishLoad(source, start, files, frame.download_start_ms);
}
