// Draws and clears the progress bar.
#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "Interruption.h"

namespace korvane {

namespace {

constexpr int kBarWidth = 40;
constexpr int64_t kSecondsPerMinute = 60;

// Seconds as m:ss.
std::string clockText(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld",
                static_cast<long long>(seconds / kSecondsPerMinute),
                static_cast<long long>(seconds % kSecondsPerMinute));
  return text;
}

}  // namespace

Progress::Progress(int64_t total, int64_t threshold, bool quiet)
    : total_(total),
      shown_(!quiet && total > threshold && isatty(STDERR_FILENO)) {}

Progress::~Progress() {
  // Clears the bar so that whatever is printed next starts on a clean line.
  if (shown_ && drawn_ > 0) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
    std::fflush(stderr);
    noteOpenLine(false);
  }
}

void Progress::update(int64_t done) {
  if (!shown_) return;
  if (done > total_) done = total_;
  const int percent = static_cast<int>(100 * done / total_);
  const double elapsed =
      std::chrono::duration<double>(Clock::now() - start_).count();
  const auto second = static_cast<int64_t>(elapsed);
  if (percent == lastPercent_ && second == lastSecond_) return;
  lastPercent_ = percent;
  lastSecond_ = second;
  const int filled = percent * kBarWidth / 100;
  // What is left takes as long per unit as what is done took.
  const std::string left =
      done > 0 ? clockText(static_cast<int64_t>(
                     elapsed * static_cast<double>(total_ - done) / done + 0.5))
               : "?";
  char line[160];
  const int length = std::snprintf(
      line, sizeof line, "\rrendering [%s%s] %3d%%  %s elapsed, %s left",
      std::string(static_cast<std::size_t>(filled), '#').c_str(),
      std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(),
      percent, clockText(second).c_str(), left.c_str());
  // A shorter line than the last one clears what the last one had more.
  const std::size_t width = static_cast<std::size_t>(length) - 1;
  const int pad = drawn_ > width ? static_cast<int>(drawn_ - width) : 0;
  drawn_ = width > drawn_ ? width : drawn_;
  noteOpenLine(true);
  std::fprintf(stderr, "%s%*s", line, pad, "");
  std::fflush(stderr);
}

}  // namespace korvane
