// Puts files, plug-in and settings together for one render.
#include "RenderCommand.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>

#include "AudioFiles.h"
#include "HostContext.h"
#include "HostError.h"
#include "OutputFormat.h"
#include "OutputPath.h"
#include "PluginInstance.h"
#include "Progress.h"
#include "ReadBack.h"
#include "Warnings.h"

namespace korvane {

namespace {

// Renders shorter than this much audio finish too soon to need a bar.
constexpr double kProgressMinSeconds = 5.0;
// A frame read back takes about this many times less than one rendered.
constexpr int64_t kReadBackShare = 8;
// Decibels of amplitude per factor of ten.
constexpr double kDecibelsPerDecade = 20.0;

// How many instances the plug-in's layout needs for a file of `channels`:
// one for the file, or one per channel for a plug-in of one input and one
// output. Throws where a file channel would be lost.
std::size_t instancesFor(const PluginInstance& plugin, int channels) {
  const AEffect& effect = plugin.effect();
  if (effect.numInputs == 1 && effect.numOutputs == 1) {
    return static_cast<std::size_t>(channels);
  }
  if (effect.numInputs == 1 && channels > 1) {
    throw failure("plug-in " + plugin.libraryPath() +
                  " takes one input and gives " +
                  std::to_string(effect.numOutputs) +
                  " outputs; it can render a mono file, not a stereo one");
  }
  return 1;
}

uint32_t pickSeed() {
  std::random_device device;
  return static_cast<uint32_t>(device());
}

// What was odd about IN, once it has been read: one warning at most.
void warnOfInput(const InputFile& in, const RenderResult& result,
                 const std::string& inWord) {
  const int64_t read = result.summary.inputFrames;
  if (in.undeclaredBytes() > 0) {
    warn("IN " + in.name() + " declares no audio in its header, though " +
         std::to_string(in.undeclaredBytes()) +
         " bytes follow it (a recording cut off before its header was "
         "finished?); repair it, for example with `sox --ignore-length " +
         inWord + " repaired.wav`, and render that");
  } else if (!in.damage().empty()) {
    warn("IN " + in.name() + " is damaged: it stops decoding after " +
         std::to_string(read) + " frames (" + in.damage() +
         "); rendered the frames read");
  } else if (read == 0) {
    warn("IN " + in.name() + " holds no audio (0 frames), so OUT " +
         result.output +
         (result.summary.frames > 0 ? " holds only the silence of --tail"
                                    : " is empty"));
  } else if (in.truncated(read)) {
    warn("IN " + in.name() +
         " is shorter than its header says (truncated?); read " +
         std::to_string(read) + " frames");
  }
}

}  // namespace

RenderResult renderFile(const RenderOptions& options) {
  const OutputTarget target = resolveOutput(options.output, options.force);
  if (options.input != kStandardStream && !target.stream &&
      sameFile(options.input, target.path)) {
    throw usageError("OUT is the same file as IN (" + options.output +
                     "); the input would be lost");
  }
  InputFile in(options.input);
  const std::string pluginPath =
      options.plugin.empty() ? defaultPluginPath() : options.plugin;
  PluginLibrary library(pluginPath);
  HostContext context(options.tempo);
  std::vector<std::unique_ptr<PluginInstance>> instances;
  instances.push_back(std::make_unique<PluginInstance>(library, context));
  const std::size_t count = instancesFor(*instances.front(), in.channels());
  while (instances.size() < count) {
    instances.push_back(std::make_unique<PluginInstance>(library, context));
  }

  RenderResult result;
  result.output = target.stream ? target.path : options.output;
  result.sampleRate = in.sampleRate();
  result.seed = options.seed ? *options.seed : pickSeed();
  result.seedRequested = options.seed.has_value();
  result.seedTaken = true;
  std::vector<PluginInstance*> plugins;
  for (const auto& instance : instances) {
    // Right after open, as construction seeds it.
    result.seedTaken = instance->sendSeed(result.seed) && result.seedTaken;
    // A host sets the stream up before it hands over the settings.
    instance->setStream(in.sampleRate(), options.blockSize);
    plugins.push_back(instance.get());
  }

  std::unique_ptr<PluginInstance> scratch;
  if (needsScratch(options.settings)) {
    scratch = std::make_unique<PluginInstance>(library, context);
    scratch->setStream(in.sampleRate(), options.blockSize);
  }
  const std::vector<ParameterValue> values =
      resolveSettings(options.settings, *plugins.front(), scratch.get());
  scratch.reset();

  const int64_t tailFrames =
      static_cast<int64_t>(std::llround(options.tailSeconds * in.sampleRate()));
  FormatRequest format;
  format.outPath = result.output;
  format.stream = target.stream;
  format.inputFormat = in.format();
  format.channels = in.channels();
  format.sampleRate = in.sampleRate();
  format.frames = in.lengthKnown() ? in.frames() + tailFrames : -1;
  format.subtype = options.subtype;
  const int outFormat = outputFormat(format);
  if (options.quality && !isLossy(outFormat)) {
    throw usageError(
        "--quality applies to the lossy formats (.mp3, .ogg, "
        ".opus), not to " +
        result.output);
  }
  OutputFile out(target, outFormat, in.channels(), in.sampleRate(),
                 options.quality.value_or(defaultQuality(outFormat)));

  for (PluginInstance* plugin : plugins) applySettings(values, *plugin);
  {
    // The read-back of a file that is decoded whole is part of the work.
    const int64_t frames = in.lengthKnown() ? in.frames() + tailFrames : 0;
    const int64_t readBack =
        decodesWhole(outFormat) ? frames / kReadBackShare : 0;
    Progress progress(
        frames + readBack,
        static_cast<int64_t>(kProgressMinSeconds * in.sampleRate()),
        options.quiet);
    result.summary = render(plugins, in, out, options, tailFrames,
                            storesIntegers(outFormat), progress);
    const int64_t rendered = result.summary.frames;
    out.commit([&progress, rendered](int64_t decoded) {
      progress.update(rendered + decoded / kReadBackShare);
    });
  }
  warnOfInput(in, result, options.input);
  return result;
}

void reportRender(const RenderResult& result, bool quiet) {
  const RenderSummary& summary = result.summary;
  // An empty IN is warned of as such.
  if (summary.inputFrames > 0 && summary.peak == 0.0f) {
    warn("OUT " + result.output + " is entirely silent");
  }
  if (summary.clipped > 0) {
    warn(std::to_string(summary.clipped) +
         " samples beyond full scale were clipped in " + result.output);
  }
  if (result.seedRequested && !result.seedTaken) {
    warn("the plug-in did not take seed " + std::to_string(result.seed) +
         "; another render may differ");
  }
  if (quiet) return;
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "%.3f s, peak %.4f, RMS %.4f",
                static_cast<double>(summary.frames) / result.sampleRate,
                static_cast<double>(summary.peak), summary.rms);
  std::cerr << "korvane: rendered " << numbers << ", seed " << result.seed
            << (result.seedTaken ? "" : " (not taken by the plug-in)") << " -> "
            << result.output << "\n";
}

namespace {
// The words of `render` that are read as text and converted after the
// command line is checked; the rest go straight into `options`.
struct RenderWords {
  RenderOptions options;
  std::string tempo =
      std::to_string(static_cast<int>(defaults::kTempo.byDefault));
  std::string seed;
  std::string bits;
  double gainDb = defaults::kGain.byDefault;
  double quality = 0.0;
  CLI::Option* qualityOption = nullptr;
  bool noDelayCompensation = false;
  SettingOptions settings;
  CLI::Option* seedOption = nullptr;
};
}  // namespace

Command addRenderCommand(CLI::App& app) {
  auto words = std::make_shared<RenderWords>();
  RenderOptions& options = words->options;
  CLI::App* render = app.add_subcommand(
      "render", "Stream IN through the plug-in block by block into OUT");
  render
      ->add_option("IN", options.input,
                   "Input audio file, or - for standard input")
      ->required();
  render
      ->add_option("OUT", options.output,
                   "Output file; IN's format unless its extension says "
                   "otherwise (wav, aif, aiff, flac, ogg, oga, opus, mp3)")
      ->required();
  addPluginOption(*render, options.plugin);
  addNumericOption(*render, defaults::kTempo, words->tempo,
                   "Tempo the host reports");
  addNumericOption(*render, defaults::kBlock, options.blockSize);
  words->settings.addTo(*render);
  render->add_flag("--dry", options.dry,
                   "Accumulate over the input, keeping the dry signal under "
                   "the effect");
  addNumericOption(*render, defaults::kTail, options.tailSeconds);
  words->seedOption = addNumericOption(*render, defaults::kSeed, words->seed);
  render
      ->add_option("--bits", words->bits,
                   "Samples of OUT: 16, 24, 32 or float (default: IN's when "
                   "OUT's container holds them, else 24)")
      ->type_name("BITS");
  addNumericOption(*render, defaults::kGain, words->gainDb);
  words->qualityOption =
      addNumericOption(*render, defaults::kQuality, words->quality);
  render->add_flag("--quiet,-q", options.quiet,
                   "No progress bar and no summary line; warnings and errors "
                   "still show");
  render->add_flag("--no-delay-compensation", words->noDelayCompensation,
                   "Keep the plug-in's reported delay in OUT instead of "
                   "lining OUT up with IN");
  render->add_flag("--force", options.force,
                   "Replace OUT even when it is write-protected (it keeps "
                   "its mode)");
  return {render, [words] {
            RenderOptions& options = words->options;
            checkRange(defaults::kBlock, options.blockSize);
            checkRange(defaults::kTail, options.tailSeconds);
            checkRange(defaults::kGain, words->gainDb);
            options.gain = std::pow(10.0, words->gainDb / kDecibelsPerDecade);
            if (words->qualityOption->count() > 0) {
              checkRange(defaults::kQuality, words->quality);
              options.quality = words->quality;
            }
            options.tempo = parseTempo(words->tempo);
            if (words->seedOption->count() > 0) {
              options.seed = parseSeed(words->seed);
            }
            if (!words->bits.empty()) {
              options.subtype = subtypeForBits(words->bits);
            }
            options.compensateDelay = !words->noDelayCompensation;
            if (options.input == kStandardStream &&
                words->settings.paramsFile == kStandardStream) {
              throw usageError(
                  "IN and --params cannot both be standard input (-); name "
                  "a file for one of them");
            }
            options.settings = words->settings.collect();
            reportRender(renderFile(options), options.quiet);
          }};
}

}  // namespace korvane
