// Small text helpers shared by the commands.
#pragma once

#include <string>

namespace korvane {

// The text without leading and trailing blanks.
inline std::string trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace korvane
