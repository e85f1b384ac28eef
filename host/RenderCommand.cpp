// Puts files, plug-in and settings together for one render.
#include "RenderCommand.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>

#include "AudioFiles.h"
#include "HostCallback.h"
#include "HostError.h"
#include "OutputFormat.h"
#include "OutputPath.h"
#include "PluginLoader.h"
#include "Warnings.h"

namespace korvane {

namespace {

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

}  // namespace

RenderResult renderFile(const RenderRequest& request) {
  if (request.output == kStandardStream) {
    throw usageError(
        "OUT - would be standard output, and korvane writes files only (a "
        "WAV's header is completed once the audio is known); name a file, "
        "or ./- for a file called -");
  }
  const OutputTarget target = resolveOutput(request.output, request.force);
  if (request.input != kStandardStream &&
      sameFile(request.input, target.path)) {
    throw usageError("OUT is the same file as IN (" + request.output +
                     "); the input would be lost");
  }
  InputFile in(request.input);
  const std::string pluginPath =
      request.plugin.empty() ? defaultPluginPath() : request.plugin;
  PluginLibrary library(pluginPath);
  HostContext context(request.tempo);
  std::vector<std::unique_ptr<PluginInstance>> instances;
  instances.push_back(std::make_unique<PluginInstance>(library, context));
  const std::size_t count = instancesFor(*instances.front(), in.channels());
  while (instances.size() < count) {
    instances.push_back(std::make_unique<PluginInstance>(library, context));
  }

  RenderResult result;
  result.output = request.output;
  result.sampleRate = in.sampleRate();
  result.seed = request.seed ? *request.seed : pickSeed();
  result.seedRequested = request.seed.has_value();
  result.seedTaken = true;
  std::vector<PluginInstance*> plugins;
  for (const auto& instance : instances) {
    // Right after open, as construction seeds it.
    result.seedTaken = instance->sendSeed(result.seed) && result.seedTaken;
    // A host sets the stream up before it hands over the settings.
    instance->setStream(in.sampleRate(), request.blockSize);
    plugins.push_back(instance.get());
  }

  std::unique_ptr<PluginInstance> scratch;
  if (needsScratch(request.settings)) {
    scratch = std::make_unique<PluginInstance>(library, context);
    scratch->setStream(in.sampleRate(), request.blockSize);
  }
  const std::vector<ParameterValue> values =
      resolveSettings(request.settings, *plugins.front(), scratch.get());
  scratch.reset();

  const int64_t tailFrames =
      static_cast<int64_t>(std::llround(request.tailSeconds * in.sampleRate()));
  FormatRequest format;
  format.outPath = request.output;
  format.inputFormat = in.format();
  format.channels = in.channels();
  format.sampleRate = in.sampleRate();
  format.frames = in.lengthKnown() ? in.frames() + tailFrames : -1;
  format.subtype = request.subtype;
  const int outFormat = outputFormat(format);
  OutputFile out(target, outFormat, in.channels(), in.sampleRate());

  for (PluginInstance* plugin : plugins) applySettings(values, *plugin);
  RenderOptions options;
  options.blockSize = request.blockSize;
  options.dry = request.dry;
  options.tailFrames = tailFrames;
  options.compensateDelay = request.compensateDelay;
  options.integerOutput = storesIntegers(outFormat);
  result.summary = render(plugins, in, out, options);
  out.commit();
  if (in.truncated(result.summary.inputFrames)) {
    warn("IN " + in.name() +
         " is shorter than its header says (truncated?); read " +
         std::to_string(result.summary.inputFrames) + " frames");
  }
  if (in.undeclaredBytes() > 0) {
    warn("IN " + in.name() + " declares no audio in its header, though " +
         std::to_string(in.undeclaredBytes()) +
         " bytes follow it (a recording cut off before its header was "
         "finished?); repair it, for example with `sox --ignore-length " +
         request.input + " repaired.wav`, and render that");
  }
  return result;
}

void reportRender(const RenderResult& result, bool quiet) {
  const RenderSummary& summary = result.summary;
  if (summary.frames > 0 && summary.peak == 0.0f) {
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

}  // namespace korvane
