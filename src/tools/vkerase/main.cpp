// VKERASE <Name> [-C<n>]: deletes a program from the target's flash. The
// answer comes in two stages: whether the deletion has begun, and after
// the target's work (0xFF fillers meanwhile) whether it succeeded.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace vk::vkerase {
namespace {

constexpr uint8_t kCmdDeleteProgram = 0x07;

enum Begun : uint8_t { kNotPresent = 0, kDeleting = 1 };
enum Deleted : uint8_t { kFailed = 0, kDeleted = 1 };

link::RunEnd Erase(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, frame::kUtilityRules);
  exchange.Command(kCmdDeleteProgram);
  exchange.Text(frame.name);
  exchange.Checksum();

  const uint8_t begun = exchange.Result(false);
  if (begun == kNotPresent) {
    frame::PrintNotPresent("\n", frame.name.c_str());
  } else if (begun != kDeleting) {
    std::printf("\n\nERROR: UNKNOWN RESULT 1 CODE 0x%02x RECEIVED\n\n", begun);
  } else {
    frame::PrintTargetWorking();
    const uint8_t deleted = exchange.Result(true);
    if (deleted == kDeleted)
      frame::PrintDone();
    else if (deleted == kFailed)
      std::printf("\n\nERROR OCCURED DURING DELETE PROCESS ON TARGET\n\n");  // "OCCURED": kept as scripts know it
    else
      std::printf("\n\nERROR: UNKNOWN RESULT 2 CODE 0x%02x RECEIVED\n\n", deleted);
  }
  // Every outcome of the exchange, success included, ends with 2.
  return {link::kExitFailure, link::Leave::EndSession};
}

}  // namespace
}  // namespace vk::vkerase

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkerase, argc, argv, vk::vkerase::Erase); }
