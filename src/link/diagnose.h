// Plain words for a person, on standard error: after the link has failed,
// what the system said and what is likely to help; while a connection is
// sought on a terminal, what the tool is waiting for. Standard output, which
// scripts read, is never touched.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"

namespace vk::link {

void PrintDiagnosis(const std::string& program, const LinkFailure& failure);

void PrintWaitHint(const std::string& program, const std::string& device, bool cts, uint8_t sync_byte);

}  // namespace vk::link
