#pragma once
// Directory texts travel with exactly one trailing separator. Settings values
// may end in "\" (written on Windows) or "/"; both count as the separator.
#include <string>
#include <string_view>

namespace hostenv {

// Trims blanks and control characters; appends the platform separator when
// the result is empty or does not already end in one. "" gives "/".
std::string AddBackslash(std::string_view text);

// Trims blanks and control characters; removes one trailing separator when
// the result is longer than one character. "/" stays "/".
std::string DelBackslash(std::string_view text);

// Removes leading and trailing blanks and control characters (bytes <= 0x20).
std::string TrimText(std::string_view text);

}  // namespace hostenv
