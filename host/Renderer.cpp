// The render loop: read a chunk, process it block by block, check it, write
// it.
#include "Renderer.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "ChannelBuffers.h"
#include "HostError.h"
#include "PluginInstance.h"
#include "Progress.h"

namespace korvane {

namespace {

// Renders shorter than this much audio finish too soon to need a bar.
constexpr double kProgressMinSeconds = 5.0;
// Frames read and written per file call, whatever the block size.
constexpr int64_t kChunkFrames = 65536;
// A delay longer than this is a broken record, not one to render out.
constexpr double kMaxDelaySeconds = 60.0;

// One plug-in instance and the channel arrays it works on.
struct Lane {
  AEffect* effect;
  bool replacing;
  ChannelBuffers buffers;
};

Lane makeLane(PluginInstance& plugin, int channels, int onlyChannel,
              const RenderOptions& options) {
  plugin.checkRecord();
  AEffect& effect = plugin.effect();
  if (effect.numOutputs < 1) {
    throw failure("plug-in " + plugin.libraryPath() + " has no outputs");
  }
  const bool replacing = !options.dry && plugin.offersReplacing();
  if (!replacing && effect.process == nullptr) {
    throw failure("plug-in " + plugin.libraryPath() +
                  (options.dry ? " offers no accumulating processing routine "
                                 "for --dry"
                               : " offers no processing routine"));
  }
  return {&effect, replacing,
          ChannelBuffers(channels, effect.numInputs, effect.numOutputs,
                         options.blockSize, onlyChannel)};
}

// `dry`: the frames the outputs start from, or null.
void processBlock(Lane& lane, float* frames, int32_t n, const float* dry) {
  AEffect& effect = *lane.effect;
  lane.buffers.load(frames, n, dry);
  if (lane.replacing) {
    effect.processReplacing(&effect, lane.buffers.inputs(),
                            lane.buffers.outputs(), n);
  } else {
    if (dry == nullptr) lane.buffers.clearOutputs(n);
    effect.process(&effect, lane.buffers.inputs(), lane.buffers.outputs(), n);
  }
  lane.buffers.store(frames, n);
}

// IN's samples must be numbers before a plug-in (or --dry) passes them on.
void checkInput(const float* samples, std::size_t count, int64_t firstFrame,
                int channels, const std::string& path) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i])) {
      throw failure(
          "IN " + path +
          " holds a sample that is not a finite number at frame " +
          std::to_string(firstFrame + static_cast<int64_t>(i) / channels) +
          "; nothing was written");
    }
  }
}

// Scans processed frames: a plug-in fault must not reach the file as noise
// or silence, and the summary wants the peak, energy and clipping.
void inspect(const float* samples, std::size_t count, int64_t firstFrame,
             int channels, const std::string& plugin, RenderSummary& summary,
             double& energy) {
  for (std::size_t i = 0; i < count; ++i) {
    const float s = samples[i];
    if (!std::isfinite(s)) {
      throw failure(
          "plug-in " + plugin +
          " produced a sample that is not a number at "
          "frame " +
          std::to_string(firstFrame + static_cast<int64_t>(i) / channels) +
          "; nothing was written");
    }
    const float magnitude = std::fabs(s);
    summary.peak = std::max(summary.peak, magnitude);
    if (magnitude > 1.0f) ++summary.clipped;
    energy += static_cast<double>(s) * s;
  }
}

int32_t reportedDelay(const PluginInstance& plugin, int sampleRate) {
  const int32_t delay = plugin.initialDelay();
  if (delay < 0 || delay > kMaxDelaySeconds * sampleRate) {
    throw failure("plug-in " + plugin.libraryPath() + " reports a delay of " +
                  std::to_string(delay) +
                  " samples; render with --no-delay-compensation to ignore "
                  "it");
  }
  return delay;
}

}  // namespace

RenderSummary render(const std::vector<PluginInstance*>& plugins, InputFile& in,
                     OutputFile& out, const RenderOptions& options) {
  const int channels = in.channels();
  const int32_t block = options.blockSize;
  const bool perChannel = plugins.size() > 1;
  std::vector<Lane> lanes;
  lanes.reserve(plugins.size());
  for (std::size_t i = 0; i < plugins.size(); ++i) {
    lanes.push_back(makeLane(*plugins[i], channels,
                             perChannel ? static_cast<int>(i) : -1, options));
  }
  const int64_t chunk = block * std::max<int64_t>(1, kChunkFrames / block);
  std::vector<float> frames(static_cast<std::size_t>(chunk * channels));
  const int64_t total = in.lengthKnown() && in.frames() > 0
                            ? in.frames() + options.tailFrames
                            : 0;
  Progress progress(
      total, static_cast<int64_t>(kProgressMinSeconds * in.sampleRate()));
  HostContext& context = plugins.front()->context();

  for (PluginInstance* plugin : plugins) plugin->resume();
  RenderSummary summary;
  summary.delay = options.compensateDelay
                      ? reportedDelay(*plugins.front(), in.sampleRate())
                      : 0;
  double energy = 0.0;
  int64_t tailLeft = options.tailFrames + summary.delay;
  int64_t skipLeft = summary.delay;
  // With --dry and a compensated delay the outputs start from the input
  // delayed as much as the plug-in's own output, so that once the delay is
  // dropped the dry signal lines up with IN and with the grains: the
  // delay's frames of the input carried over from the chunk before,
  // followed by this chunk's.
  const int64_t dryDelay = options.dry ? summary.delay : 0;
  std::vector<float> delayedDry(
      dryDelay > 0 ? static_cast<std::size_t>((dryDelay + chunk) * channels)
                   : 0,
      0.0f);
  int64_t position = 0;
  bool inputDone = false;
  for (;;) {
    int64_t count = 0;
    if (!inputDone) {
      count = in.read(frames.data(), chunk);
      inputDone = count < chunk;
      checkInput(frames.data(), static_cast<std::size_t>(count * channels),
                 summary.inputFrames, channels, in.name());
      summary.inputFrames += count;
    }
    // The rest of the chunk, and the chunks after the input, are silence.
    const int64_t silence = std::min<int64_t>(chunk - count, tailLeft);
    std::fill(frames.begin() + count * channels,
              frames.begin() + (count + silence) * channels, 0.0f);
    tailLeft -= silence;
    const int64_t n = count + silence;
    if (n == 0) break;
    const float* dry = options.dry ? frames.data() : nullptr;
    if (dryDelay > 0) {
      std::copy(frames.begin(), frames.begin() + n * channels,
                delayedDry.begin() + dryDelay * channels);
      dry = delayedDry.data();
    }

    for (int64_t offset = 0; offset < n; offset += block) {
      const auto frameCount =
          static_cast<int32_t>(std::min<int64_t>(block, n - offset));
      context.setPosition(position);
      for (Lane& lane : lanes) {
        processBlock(lane, frames.data() + offset * channels, frameCount,
                     dry != nullptr ? dry + offset * channels : nullptr);
      }
      position += frameCount;
    }
    if (dryDelay > 0) {
      // The last `dryDelay` input frames open the next chunk's dry frames.
      std::copy(delayedDry.begin() + n * channels,
                delayedDry.begin() + (n + dryDelay) * channels,
                delayedDry.begin());
    }
    const int64_t skip = std::min(skipLeft, n);
    skipLeft -= skip;
    const float* kept = frames.data() + skip * channels;
    inspect(kept, static_cast<std::size_t>((n - skip) * channels),
            summary.frames, channels, plugins.front()->libraryPath(), summary,
            energy);
    out.write(kept, n - skip);
    summary.frames += n - skip;
    progress.update(summary.frames);
  }
  for (PluginInstance* plugin : plugins) plugin->suspend();

  if (!options.integerOutput) summary.clipped = 0;
  const double samples = static_cast<double>(summary.frames) * channels;
  summary.rms = samples > 0 ? std::sqrt(energy / samples) : 0.0;
  return summary;
}

}  // namespace korvane
