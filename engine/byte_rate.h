// Bandwidth caps as players write them: "500K", "2M", "1G" (bytes per second,
// powers of 1024) or a plain number of bytes per second.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// False for anything else (empty, a fraction, an unknown suffix, zero, overflow).
bool ParseByteRate(const std::string& text, std::uint64_t& bytesPerSecond);

}  // namespace launcher
