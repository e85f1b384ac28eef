// One sample of silence through a plug-in, as a render's first sample.
#include "FirstSample.h"

#include "ChannelBuffers.h"
#include "PluginLoader.h"

namespace korvane {

void processFirstSample(PluginInstance& plugin) {
  AEffect& effect = plugin.effect();
  constexpr int32_t kFrames = 1;
  constexpr int kStereo = 2;
  ChannelBuffers silence(kStereo, effect.numInputs, effect.numOutputs,
                         kFrames);  // cleared on construction
  plugin.resume();
  if (plugin.offersReplacing()) {
    effect.processReplacing(&effect, silence.inputs(), silence.outputs(),
                            kFrames);
  } else if (effect.process != nullptr) {
    effect.process(&effect, silence.inputs(), silence.outputs(), kFrames);
  }
  plugin.suspend();
}

}  // namespace korvane
