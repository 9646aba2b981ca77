#include "tools/vkcheck/report.h"

#include "frame/exchange.h"
#include "frame/messages.h"
#include "wire/bytes.h"

namespace vk::vkcheck {
namespace {

constexpr uint8_t kAutostartSound = 0;
constexpr uint8_t kAutostartChecksumError = 1;

void PrintAutostart(std::FILE* out, uint8_t status) {
  if (status == kAutostartChecksumError)
    std::fprintf(out, "\nAutostart Descriptor Checksum Error On Target\n\n");
  else if (status != kAutostartSound)
    frame::PrintUnknownResult("\n", "\n\n", out);
}

void PrintNumbers(std::FILE* out, const Report& r) {
  std::fprintf(out, "Number Of Present Files On Target:  %u", static_cast<unsigned>(r.file_count));
  std::fprintf(out, "\nCommon Flash Memory Size On Target: %lu Bytes",
               static_cast<unsigned long>(r.common_size));
  std::fprintf(out, "\nFree Flash Memory Size On Target:   %lu Bytes",
               static_cast<unsigned long>(r.free_size));
  std::fprintf(out, "\nFile Software Version On Target:    V %d.%d\n", r.version_major, r.version_minor);
}

}  // namespace

// A name is kept when it fits, with its 00, into what is left of the list's
// store; after the first one that does not, none is kept.
void ReportReader::EndName() {
  if (!list_cut_ && !name_too_long_ && list_used_ + name_.size() + 1 <= kListBytes) {
    list_used_ += name_.size() + 1;
    report_.bad_files.push_back(std::move(name_));
  } else {
    list_cut_ = true;
    ++report_.files_not_kept;
  }
  name_.clear();
  name_too_long_ = false;
}

void ReportReader::Add(uint8_t byte) {
  switch (step_) {
    case Step::Header:
      Sum(byte);
      header_[field_++] = byte;
      if (field_ == header_.size()) {
        report_.file_count = header_[0];
        report_.common_size = wire::Get32(&header_[1]);
        report_.free_size = wire::Get32(&header_[5]);
        step_ = Step::NameOrEnd;
      }
      return;
    case Step::NameOrEnd:
      if (byte == frame::kBusyFiller) return;
      Sum(byte);
      if (byte == 0) {
        field_ = 0;
        step_ = Step::Tail;
      } else {
        name_.assign(1, static_cast<char>(byte));
        step_ = Step::Name;
      }
      return;
    case Step::Name:
      Sum(byte);
      if (byte == 0) {
        EndName();
        step_ = Step::NameOrEnd;
      } else if (name_.size() < kListBytes) {
        name_.push_back(static_cast<char>(byte));
      } else {
        name_too_long_ = true;
      }
      return;
    case Step::Tail:
      Sum(byte);
      tail_[field_++] = byte;
      if (field_ == tail_.size()) {
        report_.autostart = tail_[0];
        report_.version_major = tail_[1];
        report_.version_minor = tail_[2];
        step_ = Step::Checksum;
      }
      return;
    case Step::Checksum:
      received_checksum_ = byte;
      step_ = Step::Done;
      return;
    case Step::Done:
      return;
  }
}

void PrintReport(std::FILE* out, const Report& r) {
  if (!r.HasFileErrors()) {
    std::fprintf(out, "\nNo File Errors On Target\n\n");
    PrintAutostart(out, r.autostart);
    PrintNumbers(out, r);
    return;
  }
  for (const std::string& name : r.bad_files) {
    std::fprintf(out, "\nChecksum Error At File ");
    for (char c : name) std::fprintf(out, "%c", c);
  }
  if (r.files_not_kept > 0)
    std::fprintf(out, "\nFile Error List Longer Than %zu Bytes: %d More File(s) Not Shown", kListBytes,
                 r.files_not_kept);
  std::fprintf(out, "\n\n");
  PrintNumbers(out, r);
  PrintAutostart(out, r.autostart);
}

}  // namespace vk::vkcheck
