// VKBURN <Source> [-C<n>] [-M<n>]: writes a four-lane program into the
// board's flash under its name, with the date and time of its .X0 file.
#include <cstdio>
#include <ctime>

#include "download.h"
#include "fourlane/filedate.h"
#include "fourlane/source.h"
#include "frame/exchange.h"
#include "frame/files.h"
#include "frame/frame.h"
#include "frame/messages.h"
#include "frame/settings.h"

namespace vk::vkburn {
namespace {

[[noreturn]] void Refuse() { link::EndRun(link::kExitFailure, link::Leave::Direct); }

// The .X0 file's modification time in local time.
fourlane::FileDate X0FileDate(const std::string& program, const std::string& x0_name) {
  FILE* file = frame::OpenRegularFile(x0_name, "rb");
  if (!file) fourlane::RefuseFile(program, x0_name);
  std::tm local{};
  const bool stated = frame::ModifiedLocalTime(file, local);
  std::fclose(file);
  if (!stated) {
    std::printf("\nInvalid Handle At File %s\n", x0_name.c_str());
    Refuse();
  }
  fourlane::FileDate date;
  if (const char* error = fourlane::ParseTimeText(fourlane::TimeText(local), date)) {
    std::printf("%s", error);
    Refuse();
  }
  return date;
}

link::RunEnd Burn(frame::Frame& frame) {
  fourlane::SourceName source{frame.name_typed, frame.name};
  fourlane::SettleSourceName(source);
  // The board is sent the name as given, a directory part included; it
  // keeps no longer names.
  if (source.upper.size() > static_cast<size_t>(frame::kMaxTargetName)) {
    frame::PrintNameTooLong(source.upper.c_str());
    Refuse();
  }
  const fourlane::FileDate date = X0FileDate(frame.program, fourlane::LaneFileName(source, 0));
  fourlane::LaneFiles files;
  fourlane::OpenLaneFiles(frame.program, source, files);

  link::Link& link = frame::ConnectFrame(frame);
  const Mode mode = frame.settings.mode == 'f' ? Mode::Fast : Mode::Save;
  StartDownload(link, source.upper, date);
  const uint32_t start = DownloadRecords(link, files, mode);
  EndDownload(link);
  frame::EndSession(link);
  return fourlane::FinishLoad(source, start, files, frame.download_start_ms);
}

}  // namespace
}  // namespace vk::vkburn

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkburn, argc, argv, vk::vkburn::Burn); }
