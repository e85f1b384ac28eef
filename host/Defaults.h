// The tool's defaults and limits, written once: the commands use them and
// their help texts and messages name them.
#pragma once

#include <cstdint>

namespace korvane {
namespace defaults {

// The plug-in loaded without --plugin, beside the tool or under ../lib/vst.
constexpr const char* kPluginFile = "korvane.so";
// Samples per processing call (--block).
constexpr int32_t kBlockSize = 512;
constexpr int32_t kMinBlockSize = 1;
constexpr int32_t kMaxBlockSize = 8192;
// The tempo the host reports (--tempo), and its range.
constexpr double kTempo = 120.0;
constexpr double kMinTempo = 1.0;
constexpr double kMaxTempo = 1000.0;
// Seconds of silence rendered after IN (--tail), at most.
constexpr double kMaxTailSeconds = 3600.0;
// The sample rate whose render `info` shows (--rate) and that a plug-in is
// told before any stream is set up, and the highest --rate.
constexpr int32_t kInfoRate = 44100;
constexpr int32_t kMaxRate = 10000000;

}  // namespace defaults
}  // namespace korvane
