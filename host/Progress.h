// A progress bar on stderr for long renders, shown only on a terminal: the
// share done, the time elapsed and the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace korvane {

class Progress {
 public:
  // Shown when stderr is a terminal, `quiet` is false and `total` exceeds
  // `threshold` units of work; otherwise every call does nothing.
  Progress(int64_t total, int64_t threshold, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` of the total units; redrawn when the percentage or the second
  // changes.
  void update(int64_t done);

 private:
  using Clock = std::chrono::steady_clock;
  int64_t total_;
  bool shown_;
  Clock::time_point start_ = Clock::now();
  int lastPercent_ = -1;
  int64_t lastSecond_ = -1;
  std::size_t drawn_ = 0;  // characters of the line drawn last
};

}  // namespace korvane
