// Warnings: one line each on stderr, whatever --quiet says.
#pragma once

#include <iostream>
#include <string>

namespace korvane {

inline void warn(const std::string& message) {
  std::cerr << "korvane: warning: " << message << "\n";
}

}  // namespace korvane
