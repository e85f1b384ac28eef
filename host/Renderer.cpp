// The render loop: read a block, process it, check it, write it.
#include "Renderer.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "ChannelBuffers.h"
#include "HostError.h"
#include "PluginLoader.h"
#include "Progress.h"

namespace korvane {

namespace {

// Renders shorter than this much audio finish too soon to need a bar.
constexpr double kProgressMinSeconds = 5.0;

// Scans a processed block: a plug-in fault must not reach the file as noise
// or silence, and the summary wants the peak and energy.
void inspect(const float* samples, std::size_t count, int64_t firstFrame,
             int channels, RenderSummary& summary, double& energy) {
  for (std::size_t i = 0; i < count; ++i) {
    const float s = samples[i];
    if (!std::isfinite(s)) {
      throw failure(
          "the plug-in produced a sample that is not a number at "
          "frame " +
          std::to_string(firstFrame + static_cast<int64_t>(i) / channels) +
          "; nothing was written");
    }
    summary.peak = std::max(summary.peak, std::fabs(s));
    energy += static_cast<double>(s) * s;
  }
}

}  // namespace

RenderSummary render(PluginInstance& plugin, InputFile& in, OutputFile& out,
                     const RenderOptions& options) {
  AEffect& effect = plugin.effect();
  if (effect.numOutputs < 1) throw failure("the plug-in has no outputs");
  const bool replacing = !options.dry && effect.processReplacing != nullptr &&
                         (effect.flags & EffectFlag::kCanReplacing) != 0;
  if (!replacing && effect.process == nullptr) {
    throw failure("the plug-in offers no processing routine");
  }

  const int channels = in.channels();
  const int32_t block = options.blockSize;
  ChannelBuffers buffers(channels, effect.numInputs, effect.numOutputs, block);
  std::vector<float> frames(static_cast<std::size_t>(block) *
                            static_cast<std::size_t>(channels));
  const int64_t total = in.frames() > 0 ? in.frames() + options.tailFrames : 0;
  Progress progress(
      total, static_cast<int64_t>(kProgressMinSeconds * in.sampleRate()));

  plugin.resume();
  RenderSummary summary;
  double energy = 0.0;
  int64_t tailLeft = options.tailFrames;
  bool inputDone = false;
  for (;;) {
    int64_t count = 0;
    if (!inputDone) {
      count = in.read(frames.data(), block);
      inputDone = count < block;
    }
    // The rest of the block, and the blocks after the input, are silence.
    const int64_t silence = std::min<int64_t>(block - count, tailLeft);
    std::fill(frames.begin() + count * channels,
              frames.begin() + (count + silence) * channels, 0.0f);
    tailLeft -= silence;
    const auto n = static_cast<int32_t>(count + silence);
    if (n == 0) break;

    buffers.load(frames.data(), n, options.dry);
    if (replacing) {
      effect.processReplacing(&effect, buffers.inputs(), buffers.outputs(), n);
    } else {
      if (!options.dry) buffers.clearOutputs(n);
      effect.process(&effect, buffers.inputs(), buffers.outputs(), n);
    }
    buffers.store(frames.data(), n);
    inspect(frames.data(), static_cast<std::size_t>(n) * channels,
            summary.frames, channels, summary, energy);
    out.write(frames.data(), n);
    summary.frames += n;
    progress.update(summary.frames);
  }
  plugin.suspend();

  const double samples = static_cast<double>(summary.frames) * channels;
  summary.rms = samples > 0 ? std::sqrt(energy / samples) : 0.0;
  return summary;
}

}  // namespace korvane
