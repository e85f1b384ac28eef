// Streams an audio file through a plug-in instance block by block.
#pragma once

#include <cstdint>

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
};

struct RenderSummary {
  int64_t frames = 0;
  float peak = 0.0f;
  double rms = 0.0;
};

// Runs the processing part of a session: resume, every block, suspend. The
// caller has announced the stream (PluginInstance::setStream) with the
// file's rate and `options.blockSize`, and set the parameters.
// Throws HostError (exit 1) on a file error or when the plug-in produces a
// sample that is not a finite number.
RenderSummary render(PluginInstance& plugin, InputFile& in, OutputFile& out,
                     const RenderOptions& options);

}  // namespace korvane
