// Puts files, plug-in and settings together for one render.
#include "RenderCommand.h"

#include <cmath>

#include "AudioFiles.h"
#include "HostCallback.h"
#include "HostError.h"
#include "PluginLoader.h"

namespace korvane {

RenderSummary renderFile(const RenderRequest& request) {
  if (sameFile(request.input, request.output)) {
    throw usageError("OUT is the same file as IN (" + request.output +
                     "); the input would be lost");
  }
  InputFile in(request.input);
  const std::string pluginPath =
      request.plugin.empty() ? defaultPluginPath() : request.plugin;
  PluginLibrary library(pluginPath);
  HostContext context(request.tempo);
  PluginInstance plugin(library, context);
  const std::vector<ParameterValue> values =
      resolveSettings(request.settings, plugin);
  const int format =
      outputFormat(request.output, in.format(), in.channels(), in.sampleRate());
  OutputFile out(request.output, format, in.channels(), in.sampleRate());

  // A host sets the stream up before it hands over the settings.
  plugin.setStream(in.sampleRate(), request.blockSize);
  applySettings(values, plugin);
  RenderOptions options;
  options.blockSize = request.blockSize;
  options.dry = request.dry;
  options.tailFrames =
      static_cast<int64_t>(std::llround(request.tailSeconds * in.sampleRate()));
  const RenderSummary summary = render(plugin, in, out, options);
  out.commit();
  return summary;
}

}  // namespace korvane
