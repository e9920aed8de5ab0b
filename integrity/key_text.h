// How keys and signatures are written: standard base64 with padding, read
// strictly (no other characters, no stray bits), so one text means one key.
#pragma once

#include <cstddef>
#include <string>

namespace launcher::integrity {

std::string ToBase64(const unsigned char* bytes, std::size_t size);
// Exactly `size` bytes decoded from `text` (blanks around it ignored), or false.
bool FromBase64(const std::string& text, unsigned char* bytes, std::size_t size);

}  // namespace launcher::integrity
