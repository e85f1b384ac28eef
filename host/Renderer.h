// Streams an audio file through a plug-in instance block by block.
#pragma once

#include <cstdint>
#include <vector>

#include "RenderOptions.h"

namespace korvane {

class PluginInstance;
class InputFile;
class OutputFile;
class Progress;

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
// read and written in chunks of many blocks; `tailFrames` of silence follow
// it (options.tailSeconds at IN's rate), and clipped samples are counted
// when OUT stores integers (`integerOutput`), which clip at full scale.
// The plug-in's output is scaled by options.gain before options.dry adds
// IN. `progress` hears the frames written. Throws HostError (exit 1) on a
// file error, a sample of IN that is not a finite number, or when the
// plug-in produces one.
RenderSummary render(const std::vector<PluginInstance*>& plugins, InputFile& in,
                     OutputFile& out, const RenderOptions& options,
                     int64_t tailFrames, bool integerOutput,
                     Progress& progress);

}  // namespace korvane
