// VKRAM <Source> [-C<n>]: loads a four-lane program into the board's RAM,
// one checksum reply per record, and starts it at its entry address.
#include <cstdio>

#include "download.h"
#include "fourlane/source.h"
#include "frame/exchange.h"
#include "frame/frame.h"
#include "link/port.h"

namespace {

constexpr int kFailure = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkram, argc, argv);

  vk::fourlane::SourceName source{frame.name_typed, frame.name};
  vk::fourlane::SettleSourceName(source);
  vk::fourlane::LaneFiles files;
  vk::fourlane::OpenLaneFiles(source, files);

  ConnectFrame(frame);
  DrainInput();
  vkram::Download download;
  vkram::DownloadProgram(files, download);

  if (!download.started) {
    // The input ended without a termination record: the words are in RAM
    // but nothing told the board where to start.
    std::printf("\nERROR: No Start Address Found In %s.X0...X3, Program Not Started\n", source.upper.c_str());
    vk::fourlane::CloseLaneFiles(files);
    vk::link::ExitTool(kFailure);
  }
  vk::fourlane::FinishLoad(source, download.address, files, frame.download_start_ms);
}
