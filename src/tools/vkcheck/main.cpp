// VKCHECK [-C<n>]: has the target check its flash file system and prints
// the report.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"
#include "tools/vkcheck/report.h"

namespace vk::vkcheck {
namespace {

constexpr uint8_t kCmdCheckFlash = 0x0A;

link::RunEnd Check(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, frame::kUtilityRules);
  exchange.Command(kCmdCheckFlash);

  ReportReader reader(exchange.sum());
  frame::ReplyBudget budget;
  while (!reader.Complete()) {
    if (!budget.Spend()) {
      std::printf("\nERROR: FLASH REPORT DID NOT END, NOT SHOWN\n");
      return {link::kExitFailure, link::Leave::EndSession};
    }
    reader.Add(frame::ReceiveByte(link));
  }
  PrintReport(stdout, reader.report());
  // A report whose checksum is wrong may be garbled: shown, but not a result.
  if (!frame::CompareChecksum(reader.sum(), reader.received_checksum(), "\n\n"))
    return {link::kExitFailure, link::Leave::EndSession};
  return {reader.report().HasFileErrors() ? link::kExitAltOutcome : 0, link::Leave::EndSession};
}

}  // namespace
}  // namespace vk::vkcheck

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkcheck, argc, argv, vk::vkcheck::Check); }
