#include "tools/vklist/listing.h"

#include "wire/bytes.h"

namespace vk::vklist {
namespace {

constexpr uint8_t kProgramType = 1;
constexpr size_t kNameWidth = 16;

void PrintName(std::FILE* out, const std::string& name) {
  for (char c : name) std::fprintf(out, "%c", c);
}

}  // namespace

// Counts a reply byte against the store; past it the reply is only read.
void DirectoryReply::Keep(uint8_t byte) {
  sum_ = static_cast<uint8_t>(sum_ + byte);
  if (overflow_) return;
  if (++stored_ > kStoreBytes) {
    overflow_ = true;
    directory_ = {};
    entry_ = {};
  }
}

void DirectoryReply::Add(uint8_t byte) {
  switch (step_) {
    case Step::NameOrEnd:
      Keep(byte);
      if (byte == 0) {
        if (first_) {
          no_files_ = true;
          step_ = Step::Done;
        } else {
          step_ = Step::Autoboot;
        }
      } else {
        entry_ = {};
        if (!overflow_) entry_.name.push_back(static_cast<char>(byte));
        step_ = Step::Name;
      }
      first_ = false;
      return;
    case Step::Name:
      Keep(byte);
      if (byte == 0) {
        field_ = 0;
        step_ = Step::Fields;
      } else if (!overflow_) {
        entry_.name.push_back(static_cast<char>(byte));
      }
      return;
    case Step::Fields:
      Keep(byte);
      fields_[field_++] = byte;
      if (field_ == fields_.size()) {
        if (!overflow_) {
          entry_.type = fields_[0];
          entry_.date = {fields_[1], fields_[2], fields_[3]};
          entry_.time = {fields_[4], fields_[5], fields_[6]};
          entry_.size = wire::Get32(&fields_[7]);
          directory_.entries.push_back(std::move(entry_));
        }
        entry_ = {};
        step_ = Step::NameOrEnd;
      }
      return;
    case Step::Autoboot:
      Keep(byte);
      if (byte == 0) {
        field_ = 0;
        step_ = Step::Free;
      } else if (!overflow_) {
        directory_.autoboot.push_back(static_cast<char>(byte));
      }
      return;
    case Step::Free:
      Keep(byte);
      fields_[field_++] = byte;
      if (field_ == 4) {
        if (!overflow_) directory_.free_bytes = wire::Get32(fields_.data());
        step_ = Step::Trailing;
      }
      return;
    case Step::Trailing:
      sum_ = static_cast<uint8_t>(sum_ + byte);
      step_ = Step::Checksum;
      return;
    case Step::Checksum:
      received_checksum_ = byte;
      step_ = Step::Done;
      return;
    case Step::Done:
      return;
  }
}

void PrintListing(std::FILE* out, const Directory& directory) {
  std::fprintf(out, "\n");
  for (const Entry& e : directory.entries) {
    PrintName(out, e.name);
    for (size_t i = e.name.size(); i < kNameWidth; ++i) std::fprintf(out, " ");
    std::fprintf(out, "%s", e.type == kProgramType ? "PRG   " : "DAT   ");
    std::fprintf(out, "%02u.", static_cast<unsigned>(e.date[0]));
    std::fprintf(out, "%02u.", static_cast<unsigned>(e.date[1]));
    std::fprintf(out, "%02u", static_cast<unsigned>(e.date[2]));
    std::fprintf(out, "   ");
    std::fprintf(out, "%02u:", static_cast<unsigned>(e.time[0]));
    std::fprintf(out, "%02u:", static_cast<unsigned>(e.time[1]));
    std::fprintf(out, "%02u", static_cast<unsigned>(e.time[2]));
    std::fprintf(out, "   ");
    std::fprintf(out, "%lu\n", static_cast<unsigned long>(e.size));
  }
  std::fprintf(out, "\nAuto Booting Program: ");
  PrintName(out, directory.autoboot);
  std::fprintf(out, "\n\n%lu Bytes Free On Target Flash Memory\n",
               static_cast<unsigned long>(directory.free_bytes));
}

}  // namespace vk::vklist
