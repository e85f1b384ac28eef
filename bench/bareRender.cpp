// The bare render loop that `korvane render` is measured against: the same
// file input and output through libsndfile (chunks of 65536 frames, the
// effect in blocks of 512), with nothing else: no checks, no levels, no
// read-back. With --make-input it writes the benchmark's input instead:
// four 50 ms tone bursts per second, 44.1 kHz stereo 16-bit.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "AEffect.h"
#include "myfx.h"
#include "opcodes.h"
#include "parameterIndex.h"
#include "seedExtension.h"
#include "timeRecord.h"

namespace {

constexpr int32_t kBlock = 512;
constexpr int64_t kChunkFrames = 65536;
constexpr int kRate = 44100;
constexpr uint32_t kSeed = 1;
constexpr intptr_t kHostVersion = 2400;

VstTimeInfo timeInfo = {};

intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  if (opcode == HostOpcode::kVersion) return kHostVersion;
  if (opcode == HostOpcode::kGetTime) {
    return reinterpret_cast<intptr_t>(&timeInfo);
  }
  return 0;
}

// The dense workload of the engine benchmarks: all 32 grains sounding.
const std::vector<std::pair<int32_t, float>> kDense = {
    {Param::kStartInterval, 0.0f},
    {Param::kLengthBase, 0.5f},
    {Param::kPositionJitter, 1.0f},
    {Param::kPitchJitter, 0.25f}};

int makeInput(const char* path, int seconds) {
  SF_INFO info = {};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path, SFM_WRITE, &info);
  if (file == nullptr) return 1;
  const double twoPi = 2.0 * std::acos(-1.0);
  const int burst = kRate / 20;
  std::vector<float> second(static_cast<std::size_t>(2 * kRate), 0.0f);
  for (int b = 0; b < 4; ++b) {
    for (int i = 0; i < burst; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double level = 0.5 * (1.0 - static_cast<double>(i) / burst);
      const std::size_t at = 2 * static_cast<std::size_t>(b * kRate / 4 + i);
      second[at] = static_cast<float>(level * std::sin(twoPi * 220.0 * t));
      second[at + 1] = static_cast<float>(level * std::sin(twoPi * 330.0 * t));
    }
  }
  for (int s = 0; s < seconds; ++s) sf_writef_float(file, second.data(), kRate);
  return sf_close(file) == 0 ? 0 : 1;
}

int render(const char* inPath, const char* outPath, bool dense) {
  SF_INFO info = {};
  SNDFILE* in = sf_open(inPath, SFM_READ, &info);
  if (in == nullptr || info.channels != 2) return 1;
  SF_INFO outInfo = info;
  SNDFILE* out = sf_open(outPath, SFM_WRITE, &outInfo);
  if (out == nullptr) return 1;
  sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  timeInfo.sampleRate = info.samplerate;
  timeInfo.tempo = 120.0;
  timeInfo.flags = TimeFlag::kTransportPlaying | TimeFlag::kTempoValid;

  AEffect* effect = createEffectInstance(&host);
  if (effect == nullptr) return 1;
  effect->dispatcher(effect, EffectOpcode::kOpen, 0, 0, nullptr, 0.0f);
  effect->dispatcher(effect, seedExtension::kOpcode, seedExtension::kIndex,
                     kSeed, nullptr, 0.0f);
  effect->dispatcher(effect, EffectOpcode::kSetSampleRate, 0, 0, nullptr,
                     static_cast<float>(info.samplerate));
  effect->dispatcher(effect, EffectOpcode::kSetBlockSize, 0, kBlock, nullptr,
                     0.0f);
  if (dense) {
    for (const auto& [index, value] : kDense) {
      effect->setParameter(effect, index, value);
    }
  }
  effect->dispatcher(effect, EffectOpcode::kSuspendResume, 0, 1, nullptr, 0.0f);

  std::vector<float> frames(static_cast<std::size_t>(2 * kChunkFrames));
  std::vector<float> channels[4];
  for (auto& channel : channels) channel.resize(kBlock);
  float* inputs[2] = {channels[0].data(), channels[1].data()};
  float* outputs[2] = {channels[2].data(), channels[3].data()};
  double position = 0.0;
  for (sf_count_t n = 0;
       (n = sf_readf_float(in, frames.data(), kChunkFrames)) > 0;) {
    for (sf_count_t offset = 0; offset < n; offset += kBlock) {
      const auto count =
          static_cast<int32_t>(std::min<sf_count_t>(kBlock, n - offset));
      float* block = frames.data() + 2 * offset;
      for (int32_t i = 0; i < count; ++i) {
        inputs[0][i] = block[2 * i];
        inputs[1][i] = block[2 * i + 1];
      }
      timeInfo.samplePosition = position;
      effect->processReplacing(effect, inputs, outputs, count);
      for (int32_t i = 0; i < count; ++i) {
        block[2 * i] = outputs[0][i];
        block[2 * i + 1] = outputs[1][i];
      }
      position += count;
    }
    sf_writef_float(out, frames.data(), n);
  }
  effect->dispatcher(effect, EffectOpcode::kSuspendResume, 0, 0, nullptr, 0.0f);
  effect->dispatcher(effect, EffectOpcode::kClose, 0, 0, nullptr, 0.0f);
  sf_close(in);
  return sf_close(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make-input") == 0) {
    return makeInput(argv[2], std::atoi(argv[3]));
  }
  if (argc == 3 || (argc == 4 && std::strcmp(argv[3], "--dense") == 0)) {
    return render(argv[1], argv[2], argc == 4);
  }
  std::fprintf(stderr,
               "usage: korvane_bare_render IN OUT [--dense]\n"
               "       korvane_bare_render --make-input OUT SECONDS\n");
  return 2;
}
