#include "wire/trace_file.h"

#include <array>

namespace vk::wire {

std::string ByteLine(char direction, uint8_t byte) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%c %02x", direction, byte);
  return text.data();
}

std::string EventLine(std::string_view text) { return "# " + std::string(text); }

TraceFile::~TraceFile() { Close(); }

bool TraceFile::Open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  Close();
  file_ = file;
  opened_ = std::chrono::steady_clock::now();
  return true;
}

void TraceFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void TraceFile::Write(std::string_view line) {
  if (file_ == nullptr) return;
  if (stamp_) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - opened_).count();
    std::fprintf(file_, "%lld ", static_cast<long long>(us));
  }
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  if (flush_) std::fflush(file_);
}

}  // namespace vk::wire
