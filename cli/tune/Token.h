// The secret every request to the tune server must carry.
#pragma once

#include <string>

namespace kcli {

// 128 bits from the kernel's random source, as 32 hex digits. Throws
// Failure(EXIT_INTERNAL) when no randomness can be had.
std::string newToken();

// Compares in time that depends on the lengths only, never on where the
// texts first differ, so the token cannot be guessed a digit at a time.
bool sameToken(const std::string& given, const std::string& expected);

}  // namespace kcli
