// VKRAM <Source> [-C<n>]: loads a four-lane program into the board's RAM,
// one checksum reply per record, and starts it at its entry address.
#include <cstdio>

#include "download.h"
#include "fourlane/source.h"
#include "frame/frame.h"

namespace vk::vkram {
namespace {

link::RunEnd RamLoad(frame::Frame& frame) {
  fourlane::SourceName source{frame.name_typed, frame.name};
  fourlane::SettleSourceName(source);
  fourlane::LaneFiles files;
  fourlane::OpenLaneFiles(frame.program, source, files);

  link::Link& link = frame::ConnectFrame(frame);
  Download download;
  DownloadProgram(link, files, download);
  if (!download.started) {
    // The input ended without a termination record: the words are in RAM
    // but nothing told the board where to start.
    std::printf("\nERROR: No Start Address Found In %s.X0...X3, Program Not Started\n", source.upper.c_str());
    files.Close();
    return {link::kExitFailure, link::Leave::ExitTool};
  }
  return fourlane::FinishLoad(source, download.address, files, frame.download_start_ms);
}

}  // namespace
}  // namespace vk::vkram

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkram, argc, argv, vk::vkram::RamLoad); }
