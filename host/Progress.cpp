// Draws and clears the progress bar.
#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "Interruption.h"

namespace korvane {

namespace {
constexpr int kBarWidth = 40;
}

Progress::Progress(int64_t total, int64_t threshold)
    : total_(total), shown_(total > threshold && isatty(STDERR_FILENO)) {}

Progress::~Progress() {
  // Clears the bar so that whatever is printed next starts on a clean line.
  if (shown_ && lastPercent_ >= 0) {
    std::fprintf(stderr, "\r%*s\r", kBarWidth + 20, "");
    std::fflush(stderr);
    noteOpenLine(false);
  }
}

void Progress::update(int64_t done) {
  if (!shown_) return;
  const int percent =
      static_cast<int>(100 * (done < total_ ? done : total_) / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const int filled = percent * kBarWidth / 100;
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(kBarWidth - filled, '.');
  noteOpenLine(true);
  std::fprintf(stderr, "\rrendering [%s] %3d%%", bar.c_str(), percent);
  std::fflush(stderr);
}

}  // namespace korvane
