// Streams an audio file through a plug-in instance block by block.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

class PluginInstance;
class InputFile;
class OutputFile;

struct RenderOptions {
  int32_t blockSize = 512;
  // Accumulating `process` over outputs pre-filled with the input, so the
  // dry signal stays under the effect's.
  bool dry = false;
  int64_t tailFrames = 0;  // silence fed after the input ends
  // Drop as many leading output frames as the plug-in reports as its delay,
  // and render as many more at the end, so that OUT lines up with IN.
  bool compensateDelay = true;
  bool integerOutput = false;  // OUT clips at full scale: count what clips
};

struct RenderSummary {
  int64_t frames = 0;  // written to OUT
  int64_t inputFrames = 0;
  float peak = 0.0f;
  double rms = 0.0;
  int64_t clipped = 0;  // samples beyond full scale, when OUT clips
  int32_t delay = 0;    // frames dropped for the plug-in's delay
};

// Runs the processing part of a session: resume, every block, suspend. One
// instance takes the whole file; several take one file channel each. The
// caller has announced the stream (PluginInstance::setStream) with the
// file's rate and `options.blockSize`, and set the parameters. The file is
// read and written in chunks of many blocks.
// Throws HostError (exit 1) on a file error, a sample of IN that is not a
// finite number, or when the plug-in produces one.
RenderSummary render(const std::vector<PluginInstance*>& plugins, InputFile& in,
                     OutputFile& out, const RenderOptions& options);

}  // namespace korvane
