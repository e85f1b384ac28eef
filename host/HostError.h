// The one error type of the tool: a message for stderr and the exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace korvane {

// Exit codes: usage errors (bad options, names, values) and everything else
// (files, libraries, rendering).
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

// Thrown inside the tool only, never through a plug-in's frames; main()
// turns it into one line on stderr and the exit code.
class HostError : public std::runtime_error {
 public:
  HostError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int exitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

inline HostError usageError(const std::string& message) {
  return HostError(kExitUsage, message);
}
inline HostError failure(const std::string& message) {
  return HostError(kExitFailure, message);
}

}  // namespace korvane
