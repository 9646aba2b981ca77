// Trace file writer; see trace.h for the line format.
#include "sim/trace.h"

#include <cerrno>
#include <cstring>

namespace vk::sim {

Trace::~Trace() {
  if (file_ != nullptr) std::fclose(file_);
}

bool Trace::Open(const std::string& path, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (file_ != nullptr) std::fclose(file_);
  file_ = f;
  opened_ = std::chrono::steady_clock::now();
  return true;
}

void Trace::Byte(char direction, uint8_t byte) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%c %02x", direction, byte);
  Write(buf);
}

void Trace::Event(const std::string& text) { Write("# " + text); }

void Trace::Write(const std::string& line) {
  if (capture_ != nullptr) capture_->push_back(line);
  if (file_ != nullptr) {
    if (stamp_) {
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - opened_);
      std::fprintf(file_, "%lld ", static_cast<long long>(us.count()));
    }
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
  }
}

}  // namespace vk::sim
