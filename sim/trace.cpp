// Trace file writer; see trace.h for the line format.
#include "sim/trace.h"

#include <cerrno>
#include <cstring>

namespace vk::sim {

bool Trace::Open(const std::string& path, std::string& error) {
  if (!file_.Open(path)) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Trace::Byte(char direction, uint8_t byte) { Write(wire::ByteLine(direction, byte)); }

void Trace::Event(const std::string& text) { Write(wire::EventLine(text)); }

void Trace::Write(const std::string& line) {
  if (capture_ != nullptr) capture_->push_back(line);
  file_.Write(line);
}

}  // namespace vk::sim
