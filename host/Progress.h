// A progress bar on stderr for long renders, shown only on a terminal.
#pragma once

#include <cstdint>

namespace korvane {

class Progress {
 public:
  // Shown when stderr is a terminal and `total` exceeds `threshold` frames;
  // otherwise every call does nothing.
  Progress(int64_t total, int64_t threshold);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(int64_t done);

 private:
  int64_t total_;
  bool shown_;
  int lastPercent_ = -1;
};

}  // namespace korvane
