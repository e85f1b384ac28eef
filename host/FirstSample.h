// The first sample of a render, in silence: what a plug-in derives from the
// host's tempo as soon as audio starts, shown before any file is rendered.
#pragma once

namespace korvane {

class PluginInstance;

// Resumes the plug-in, processes one sample of silence at the tempo of its
// host context and suspends it again. A plug-in that counts its settings in
// samples of a tempo-synced loop then shows the counts that a render at that
// tempo starts with.
void processFirstSample(PluginInstance& plugin);

}  // namespace korvane
