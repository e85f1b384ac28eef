// A short drum-and-bass loop synthesised from code, the demo's input.
#pragma once

#include <vector>

namespace korvane {

constexpr int kDemoSampleRate = 44100;
constexpr double kDemoTempo = 120.0;
constexpr int kDemoBars = 4;

// Interleaved stereo at kDemoSampleRate: kick, snare, hats and bass over
// kDemoBars bars of 4/4 at kDemoTempo. The same samples on every run of a
// build.
std::vector<float> synthesiseDemoLoop();

}  // namespace korvane
