// The render loop: read a chunk, process it block by block, check it, write
// it.
#include "Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "ChannelBuffers.h"
#include "HostError.h"
#include "PluginInstance.h"
#include "Progress.h"

namespace korvane {

namespace {

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

// The frame of the first sample that is not a finite number.
int64_t frameOfFirstNonFinite(const float* samples, std::size_t count,
                              int64_t firstFrame, int channels) {
  const float* bad = std::find_if(samples, samples + count,
                                  [](float s) { return !std::isfinite(s); });
  return firstFrame + (bad - samples) / channels;
}

// A sample's magnitude as the bits of an IEEE single: ordered as the
// magnitudes are, with infinity and NaN above every finite number. The
// scans below reduce these integers and sum in locals, loops that the
// compiler vectorises (the simd pragma allows the sums in any order: the
// levels are for display).
static_assert(std::numeric_limits<float>::is_iec559, "IEEE singles");
constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kInfinityBits = 0x7f800000u;
constexpr uint32_t kFullScaleBits = 0x3f800000u;  // 1.0f

inline uint32_t magnitudeBits(float sample) {
  uint32_t bits = 0;
  std::memcpy(&bits, &sample, sizeof bits);
  return bits & ~kSignBit;
}

// IN's samples must be numbers before a plug-in (or --dry) passes them on.
void checkInput(const float* samples, std::size_t count, int64_t firstFrame,
                int channels, const std::string& path) {
  uint32_t largest = 0;
#pragma omp simd reduction(max : largest)
  for (std::size_t i = 0; i < count; ++i) {
    const uint32_t bits = magnitudeBits(samples[i]);
    largest = bits > largest ? bits : largest;
  }
  if (largest >= kInfinityBits) {
    throw failure("IN " + path +
                  " holds a sample that is not a finite number at frame " +
                  std::to_string(frameOfFirstNonFinite(samples, count,
                                                       firstFrame, channels)) +
                  "; nothing was written");
  }
}

// The levels of the frames written so far.
struct Levels {
  float peak = 0.0f;
  double energy = 0.0;
  int64_t clipped = 0;  // samples beyond full scale
};

// Scans processed frames: a plug-in fault must not reach the file as noise
// or silence, and the summary wants the peak, energy and clipping. The
// sample that is not a finite number is looked for only when the chunk
// holds one.
void inspect(const float* samples, std::size_t count, int64_t firstFrame,
             int channels, const std::string& plugin, Levels& levels) {
  uint32_t largest = 0;
  uint32_t clipped = 0;  // a chunk holds far fewer samples
  double energy = 0.0;
#pragma omp simd reduction(max : largest) reduction(+ : clipped, energy)
  for (std::size_t i = 0; i < count; ++i) {
    const float s = samples[i];
    const uint32_t bits = magnitudeBits(s);
    largest = bits > largest ? bits : largest;
    clipped += bits > kFullScaleBits ? 1 : 0;
    energy += static_cast<double>(s) * s;
  }
  if (largest >= kInfinityBits) {
    throw failure("plug-in " + plugin +
                  " produced a sample that is not a number at frame " +
                  std::to_string(frameOfFirstNonFinite(samples, count,
                                                       firstFrame, channels)) +
                  "; nothing was written");
  }
  float peak = 0.0f;
  std::memcpy(&peak, &largest, sizeof peak);
  levels.peak = std::max(levels.peak, peak);
  levels.energy += energy;
  levels.clipped += clipped;
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

// Scales the plug-in's output in `frames` by `gain`, and adds `dry` when
// there is one.
void applyGain(float* frames, std::size_t count, float gain, const float* dry) {
  if (dry == nullptr) {
    for (std::size_t i = 0; i < count; ++i) frames[i] *= gain;
    return;
  }
  for (std::size_t i = 0; i < count; ++i) frames[i] = frames[i] * gain + dry[i];
}

}  // namespace

RenderSummary render(const std::vector<PluginInstance*>& plugins, InputFile& in,
                     OutputFile& out, const RenderOptions& options,
                     int64_t tailFrames, bool integerOutput,
                     Progress& progress) {
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
  HostContext& context = plugins.front()->context();

  for (PluginInstance* plugin : plugins) plugin->resume();
  RenderSummary summary;
  summary.delay = options.compensateDelay
                      ? reportedDelay(*plugins.front(), in.sampleRate())
                      : 0;
  Levels levels;
  int64_t tailLeft = tailFrames + summary.delay;
  int64_t skipLeft = summary.delay;
  // With --dry and a compensated delay the outputs start from the input
  // delayed as much as the plug-in's own output, so that once the delay is
  // dropped the dry signal lines up with IN and with the grains: the
  // delay's frames of the input carried over from the chunk before,
  // followed by this chunk's. With --gain the outputs start from silence
  // and the dry signal is added once the plug-in's output is scaled.
  const auto gain = static_cast<float>(options.gain);
  const bool scaled = gain != 1.0f;
  const int64_t dryDelay = options.dry ? summary.delay : 0;
  const bool keepDry = options.dry && (dryDelay > 0 || scaled);
  std::vector<float> delayedDry(
      keepDry ? static_cast<std::size_t>((dryDelay + chunk) * channels) : 0,
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
    if (keepDry) {
      std::copy(frames.begin(), frames.begin() + n * channels,
                delayedDry.begin() + dryDelay * channels);
      dry = delayedDry.data();
    }
    const float* startFrom = scaled ? nullptr : dry;

    for (int64_t offset = 0; offset < n; offset += block) {
      const auto frameCount =
          static_cast<int32_t>(std::min<int64_t>(block, n - offset));
      context.setPosition(position);
      for (Lane& lane : lanes) {
        processBlock(
            lane, frames.data() + offset * channels, frameCount,
            startFrom != nullptr ? startFrom + offset * channels : nullptr);
      }
      position += frameCount;
    }
    if (scaled) {
      applyGain(frames.data(), static_cast<std::size_t>(n * channels), gain,
                dry);
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
            summary.frames, channels, plugins.front()->libraryPath(), levels);
    out.write(kept, n - skip);
    summary.frames += n - skip;
    progress.update(summary.frames);
  }
  for (PluginInstance* plugin : plugins) plugin->suspend();

  summary.peak = levels.peak;
  summary.clipped = integerOutput ? levels.clipped : 0;
  const double samples = static_cast<double>(summary.frames) * channels;
  summary.rms = samples > 0 ? std::sqrt(levels.energy / samples) : 0.0;
  return summary;
}

}  // namespace korvane
