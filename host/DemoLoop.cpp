// Synthesis of the demo loop: four voices written into a stereo buffer.
#include "DemoLoop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korvane {

namespace {

constexpr int kStepsPerBar = 16;  // sixteenth notes
constexpr double kStepSeconds = 60.0 / kDemoTempo / 4.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr float kPeak = 0.89f;  // the loop is scaled to this peak

// The patterns, one character per sixteenth of a bar; 'x' plays.
constexpr const char* kKick[kDemoBars] = {
    "x.........x.....", "x.........x.....", "x.........x.....",
    "x.........x..x.."};
constexpr const char* kSnare[kDemoBars] = {
    "....x.......x...", "....x.......x...", "....x.......x...",
    "....x.......x.xx"};
constexpr const char* kHats[kDemoBars] = {
    "..x...x...x...x.", "..x...x...x.x.x.", "..x...x...x...x.",
    "xxxxxxxxxxxxxxxx"};
// Bass notes as MIDI numbers per sixteenth; 0 is a rest, -1 holds on.
constexpr int kBass[kDemoBars][kStepsPerBar] = {
    {28, -1, -1, -1, 0, 0, 28, -1, 0, 0, 31, -1, -1, 0, 26, -1},
    {28, -1, -1, -1, 0, 0, 28, -1, 0, 0, 33, -1, -1, 0, 31, -1},
    {24, -1, -1, -1, 0, 0, 24, -1, 0, 0, 26, -1, -1, 0, 28, -1},
    {26, -1, -1, -1, 0, 0, 26, -1, 0, 0, 31, -1, 33, -1, 35, -1}};

// A fixed-seed xorshift generator: the noise of the drums.
class Noise {
 public:
  float next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(state_) / 2147483648.0f - 1.0f;
  }

 private:
  uint32_t state_ = 0x6B6F7276u;
};

struct Stereo {
  std::vector<float>& samples;
  // Adds `value` at frame `frame` with the given left and right gains.
  void add(int64_t frame, double value, double left, double right) {
    const auto i = static_cast<std::size_t>(2 * frame);
    if (i + 1 >= samples.size()) return;
    samples[i] += static_cast<float>(value * left);
    samples[i + 1] += static_cast<float>(value * right);
  }
};

int64_t stepFrame(int step) {
  return std::llround(step * kStepSeconds * kDemoSampleRate);
}

// A sine falling from 150 Hz to 45 Hz, with a short noise click on top.
void kick(Stereo& out, int64_t start, Noise& noise) {
  const int length = kDemoSampleRate * 2 / 5;
  double phase = 0.0;
  for (int k = 0; k < length; ++k) {
    const double t = static_cast<double>(k) / kDemoSampleRate;
    const double frequency = 45.0 + 105.0 * std::exp(-t / 0.03);
    phase += kTwoPi * frequency / kDemoSampleRate;
    double value = 0.8 * std::sin(phase) * std::exp(-t / 0.15);
    if (t < 0.003) value += 0.35 * noise.next();
    out.add(start + k, value, 1.0, 1.0);
  }
}

// Noise and a 185 Hz body, both decaying fast.
void snare(Stereo& out, int64_t start, Noise& noise) {
  const int length = kDemoSampleRate / 4;
  for (int k = 0; k < length; ++k) {
    const double t = static_cast<double>(k) / kDemoSampleRate;
    const double value =
        0.45 * noise.next() * std::exp(-t / 0.06) +
        0.25 * std::sin(kTwoPi * 185.0 * t) * std::exp(-t / 0.04);
    out.add(start + k, value, 0.95, 1.0);
  }
}

// Differentiated noise (bright), very short; alternately left and right.
void hat(Stereo& out, int64_t start, Noise& noise, bool left) {
  const int length = kDemoSampleRate / 20;
  float previous = 0.0f;
  for (int k = 0; k < length; ++k) {
    const double t = static_cast<double>(k) / kDemoSampleRate;
    const float white = noise.next();
    const double value = 0.12 * (white - previous) * std::exp(-t / 0.012);
    previous = white;
    out.add(start + k, value, left ? 1.0 : 0.6, left ? 0.6 : 1.0);
  }
}

// A saturated sine, `steps` sixteenths long, with soft edges.
void bass(Stereo& out, int64_t start, int note, int steps) {
  const double frequency = 440.0 * std::pow(2.0, (note - 69) / 12.0);
  const int64_t length = stepFrame(steps) - 200;
  const double fade = 0.005 * kDemoSampleRate;
  for (int64_t k = 0; k < length; ++k) {
    const double t = static_cast<double>(k) / kDemoSampleRate;
    const double edge = std::min({1.0, k / fade, (length - k) / fade});
    const double value =
        0.3 * std::tanh(2.5 * std::sin(kTwoPi * frequency * t));
    out.add(start + k, value * edge, 1.0, 1.0);
  }
}

}  // namespace

std::vector<float> synthesiseDemoLoop() {
  const int steps = kDemoBars * kStepsPerBar;
  std::vector<float> samples(static_cast<std::size_t>(2 * stepFrame(steps)),
                             0.0f);
  Stereo out{samples};
  Noise noise;
  for (int bar = 0; bar < kDemoBars; ++bar) {
    for (int s = 0; s < kStepsPerBar; ++s) {
      const int step = bar * kStepsPerBar + s;
      const int64_t start = stepFrame(step);
      if (kKick[bar][s] == 'x') kick(out, start, noise);
      if (kSnare[bar][s] == 'x') snare(out, start, noise);
      if (kHats[bar][s] == 'x') hat(out, start, noise, s % 4 == 2);
      const int note = kBass[bar][s];
      if (note > 0) {
        int length = 1;
        while (s + length < kStepsPerBar && kBass[bar][s + length] < 0) {
          ++length;
        }
        bass(out, start, note, length);
      }
    }
  }
  float peak = 0.0f;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  if (peak > 0.0f) {
    for (float& s : samples) s *= kPeak / peak;
  }
  return samples;
}

}  // namespace korvane
