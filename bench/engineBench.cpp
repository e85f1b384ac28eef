// Cost of one second of 44.1 kHz stereo audio through the grain engine, and
// the real-time factor, for three workloads at three block sizes; and the
// tiled engine's speed-up over the per-sample engine and the cost of
// denormal input, each measured as a ratio within one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "AEffect.h"
#include "AllocationCounter.h"
#include "mixKernels.h"
#include "myfx.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"
#include "seedExtension.h"

// The registrations, too, stay inside this namespace, where `engine` names
// the benchmark below and not the effect's namespace.
namespace {
// Counted outside the timed loop: how many grain slots are sounding.
int soundingGrains(const myfx& effect) {
  return __builtin_popcount(myfxProbe::soundingSlots(effect));
}

using Clock = std::chrono::steady_clock;

constexpr int32_t kSampleRate = 44100;  // one iteration is one second
constexpr int32_t kMaxBlock = 4096;
constexpr int kWarmUpSeconds = 1;  // long enough to fill all 32 slots
constexpr uint32_t kSeed = 1;      // the same random draws on every run

// The host: interface version 2400 and a time record at 120 beats per minute.
constexpr intptr_t kHostVersion = 2400;
constexpr double kHostTempo = 120.0;

VstTimeInfo timeInfoAt(double tempo) {
  VstTimeInfo info = {};
  info.tempo = tempo;
  return info;
}
const VstTimeInfo timeInfo = timeInfoAt(kHostTempo);

int64_t tempoQueries = 0;  // counted so that the report shows how often

intptr_t benchHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  if (opcode == HostOpcode::kVersion) return kHostVersion;
  if (opcode == HostOpcode::kGetTime) {
    ++tempoQueries;
    return reinterpret_cast<intptr_t>(&timeInfo);
  }
  return 0;
}

// One second of stereo input, replayed on every iteration.
struct Signal {
  std::vector<float> left = std::vector<float>(kSampleRate, 0.0f);
  std::vector<float> right = std::vector<float>(kSampleRate, 0.0f);
};

// The bursts' peak of 0.5 scaled to 1e-39: every sample denormal or zero,
// as in the fading tail of a reverb.
constexpr double kDenormalScale = 2e-39;

// Four 50 ms bursts of decaying tones per second, silence between them: the
// first change of each burst starts a capture whenever none is running, and
// every sample of a burst asks the host for the tempo.
Signal bursts() {
  constexpr int32_t kBurstsPerSecond = 4;
  constexpr int32_t kBurstFrames = kSampleRate / 20;
  constexpr double kLeftHz = 220.0;
  constexpr double kRightHz = 330.0;
  constexpr double kAmplitude = 0.5;
  const double twoPi = 2.0 * std::acos(-1.0);
  Signal signal;
  for (int32_t burst = 0; burst < kBurstsPerSecond; ++burst) {
    const int32_t first = burst * (kSampleRate / kBurstsPerSecond);
    for (int32_t i = 0; i < kBurstFrames; ++i) {
      const double t = static_cast<double>(i) / kSampleRate;
      const double level =
          kAmplitude * (1.0 - static_cast<double>(i) / kBurstFrames);
      signal.left[first + i] =
          static_cast<float>(level * std::sin(twoPi * kLeftHz * t));
      signal.right[first + i] =
          static_cast<float>(level * std::sin(twoPi * kRightHz * t));
    }
  }
  return signal;
}

struct Workload {
  bool silentInput;
  std::vector<std::pair<int32_t, float>> parameters;  // index, normalised
  double inputScale = 1.0;
};

Signal inputOf(const Workload& workload) {
  if (workload.silentInput) return Signal();
  Signal signal = bursts();
  for (std::vector<float>* channel : {&signal.left, &signal.right}) {
    for (float& x : *channel) {
      x = static_cast<float>(x * workload.inputScale);
    }
  }
  return signal;
}

// Which engine an instance runs: the per-sample engine alone, or the tiled
// engine with the given kernels.
enum class Path { kPerSample, kSse2, kAvx2 };

// An effect instance created and closed as a host does, with its input and
// output buffers; it processes one second in blocks of a fixed size.
class Session {
 public:
  Session(const Workload& workload, int32_t blockSize)
      : effect_(createEffectInstance(&benchHost)),
        input_(inputOf(workload)),
        output_(2, std::vector<float>(kMaxBlock)),
        blockSize_(blockSize) {
    if (effect_ == nullptr) return;
    effect_->dispatcher(effect_, seedExtension::kOpcode, seedExtension::kIndex,
                        kSeed, nullptr, 0.0f);
    for (const auto& [index, value] : workload.parameters) {
      effect_->setParameter(effect_, index, value);
    }
  }
  ~Session() {
    if (effect_ != nullptr) {
      effect_->dispatcher(effect_, EffectOpcode::kClose, 0, 0, nullptr, 0.0f);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ready() const { return effect_ != nullptr; }

  // False when this build or processor lacks the kernels.
  bool use(Path path) {
    perSample_ = path == Path::kPerSample;
    if (path == Path::kPerSample) return true;
    return myfxProbe::tiled(engine()).useKernels(
        path == Path::kAvx2 ? tiles::KernelFamily::kAvx2
                            : tiles::KernelFamily::kSse2);
  }

  void processSecond() { processSecond(blockSize_); }

  // Runs one second one sample at a time and answers how many grains sounded
  // on average. Blocks of one give the same output as any other size.
  double meanSoundingGrains() {
    double sum = 0.0;
    for (int32_t start = 0; start < kSampleRate; ++start) {
      processBlock(start, 1);
      sum += soundingGrains(engine());
    }
    return sum / kSampleRate;
  }

  const float* output() const { return output_[0].data(); }

 private:
  void processSecond(int32_t blockSize) {
    for (int32_t start = 0; start < kSampleRate; start += blockSize) {
      processBlock(start, std::min(blockSize, kSampleRate - start));
    }
  }
  void processBlock(int32_t start, int32_t frames) {
    float* inputs[2] = {input_.left.data() + start,
                        input_.right.data() + start};
    float* outputs[2] = {output_[0].data(), output_[1].data()};
    if (perSample_) {
      myfxProbe::runPerSample(engine(), inputs, outputs, frames);
    } else {
      effect_->processReplacing(effect_, inputs, outputs, frames);
    }
  }
  myfx& engine() const {
    return *static_cast<myfx*>(static_cast<AudioEffect*>(effect_->object));
  }

  AEffect* effect_;
  Signal input_;
  std::vector<std::vector<float>> output_;
  int32_t blockSize_;
  bool perSample_ = false;  // otherwise the engine a host gets
};

// Seconds of processor time this thread has used: on a shared machine the
// wall clock also counts the time other processes held the core.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Seconds of audio per second of time, and nanoseconds per stereo sample.
void reportSpeed(benchmark::State& state, const char* suffix, double seconds) {
  const double audioSeconds = static_cast<double>(state.iterations());
  state.counters[std::string("x_realtime") + suffix] = audioSeconds / seconds;
  state.counters[std::string("ns_per_sample") + suffix] =
      seconds * 1e9 / (audioSeconds * kSampleRate);
}

// One iteration is one second of audio (the last block of each second is
// shorter when the block size does not divide 44100).
void engine(benchmark::State& state, const Workload& workload) {
  Session session(workload, static_cast<int32_t>(state.range(0)));
  if (!session.ready()) {
    state.SkipWithError("the effect declined to load");
    return;
  }
  for (int second = 0; second < kWarmUpSeconds; ++second)
    session.processSecond();
  const double grains = session.meanSoundingGrains();

  tempoQueries = 0;
  startCountingAllocations();
  const Clock::time_point wallStart = Clock::now();
  const double cpuStart = threadCpuSeconds();
  for (auto _ : state) {
    session.processSecond();
    benchmark::DoNotOptimize(session.output());
    benchmark::ClobberMemory();
  }
  const double cpuSeconds = threadCpuSeconds() - cpuStart;
  const std::chrono::duration<double> wallSeconds = Clock::now() - wallStart;
  const int allocations = stopCountingAllocations();
  if (allocations != 0) state.SkipWithError("processing allocated memory");

  reportSpeed(state, "", wallSeconds.count());
  reportSpeed(state, "_cpu", cpuSeconds);
  state.counters["grains"] = grains;
  state.counters["tempo_queries_per_sample"] =
      static_cast<double>(tempoQueries) /
      (static_cast<double>(state.iterations()) * kSampleRate);
}

const Workload kAfterConstruction{false, {}};
// A start decision every 63 samples ("st rate" 0: interval 42, re-armed to
// -21) and grains of 11067 cells ("len" 0.5 of the 88200-sample loop that
// the first tempo query derives), spread over a quarter loop and in rate:
// the slots refill faster than grains end, so all 32 stay busy.
const Workload kAllGrains{false,
                          {{Param::kStartInterval, 0.0f},
                           {Param::kLengthBase, 0.5f},
                           {Param::kPositionJitter, 1.0f},
                           {Param::kPitchJitter, 0.25f}}};
const Workload kIdle{true, {}};

// Two instances, processed a second each in turn, timed apart: `second`
// against `first` as a ratio of processor time, measured side by side so
// that the load of a shared machine weighs on both alike.
void sideBySide(benchmark::State& state, const Workload& firstWorkload,
                Path firstPath, const Workload& secondWorkload, Path secondPath,
                const char* ratioName) {
  constexpr int32_t kBlock = 512;
  Session first(firstWorkload, kBlock);
  Session second(secondWorkload, kBlock);
  if (!first.ready() || !second.ready()) {
    state.SkipWithError("the effect declined to load");
    return;
  }
  if (!first.use(firstPath) || !second.use(secondPath)) {
    state.SkipWithError("no AVX2 kernels in this build or processor");
    return;
  }
  for (int s = 0; s < kWarmUpSeconds; ++s) {
    first.processSecond();
    second.processSecond();
  }
  double firstSeconds = 0.0;
  double secondSeconds = 0.0;
  startCountingAllocations();
  for (auto _ : state) {
    double t0 = threadCpuSeconds();
    first.processSecond();
    benchmark::DoNotOptimize(first.output());
    const double t1 = threadCpuSeconds();
    second.processSecond();
    benchmark::DoNotOptimize(second.output());
    benchmark::ClobberMemory();
    firstSeconds += t1 - t0;
    secondSeconds += threadCpuSeconds() - t1;
  }
  if (stopCountingAllocations() != 0) {
    state.SkipWithError("processing allocated memory");
  }
  const double samples = static_cast<double>(state.iterations()) * kSampleRate;
  state.counters["ns_per_sample_first"] = firstSeconds * 1e9 / samples;
  state.counters["ns_per_sample_second"] = secondSeconds * 1e9 / samples;
  state.counters[ratioName] = firstSeconds / secondSeconds;
}

// How many times faster the tiled engine runs than the per-sample engine.
void speedUp(benchmark::State& state, const Workload& workload, Path path) {
  sideBySide(state, workload, Path::kPerSample, workload, path, "speed_up");
}

// The cost of denormal input over the same input at a normal level, on one
// path (1.0: no penalty).
void denormalCost(benchmark::State& state, const Workload& workload,
                  Path path) {
  Workload denormal = workload;
  denormal.inputScale = kDenormalScale;
  sideBySide(state, denormal, path, workload, path, "denormal_cost");
}

#define KORVANE_ENGINE_BENCH(name, workload) \
  BENCHMARK_CAPTURE(engine, name, workload)  \
      ->Arg(64)                              \
      ->Arg(512)                             \
      ->Arg(kMaxBlock)                       \
      ->UseRealTime()                        \
      ->Unit(benchmark::kMillisecond)

KORVANE_ENGINE_BENCH(afterConstruction_retriggering, kAfterConstruction);
KORVANE_ENGINE_BENCH(all32Grains, kAllGrains);
KORVANE_ENGINE_BENCH(idle_silentInput, kIdle);

#define KORVANE_RATIO_BENCH(function, name, workload, path) \
  BENCHMARK_CAPTURE(function, name, workload, path)         \
      ->UseRealTime()                                       \
      ->Unit(benchmark::kMillisecond)

KORVANE_RATIO_BENCH(speedUp, all32Grains_sse2, kAllGrains, Path::kSse2);
KORVANE_RATIO_BENCH(speedUp, all32Grains_avx2, kAllGrains, Path::kAvx2);
KORVANE_RATIO_BENCH(speedUp, defaults_sse2, kAfterConstruction, Path::kSse2);
KORVANE_RATIO_BENCH(speedUp, defaults_avx2, kAfterConstruction, Path::kAvx2);
KORVANE_RATIO_BENCH(speedUp, idle_sse2, kIdle, Path::kSse2);
KORVANE_RATIO_BENCH(speedUp, idle_avx2, kIdle, Path::kAvx2);
KORVANE_RATIO_BENCH(denormalCost, all32Grains_perSample, kAllGrains,
                    Path::kPerSample);
KORVANE_RATIO_BENCH(denormalCost, all32Grains_sse2, kAllGrains, Path::kSse2);
KORVANE_RATIO_BENCH(denormalCost, all32Grains_avx2, kAllGrains, Path::kAvx2);
KORVANE_RATIO_BENCH(denormalCost, defaults_perSample, kAfterConstruction,
                    Path::kPerSample);
KORVANE_RATIO_BENCH(denormalCost, defaults_sse2, kAfterConstruction,
                    Path::kSse2);
KORVANE_RATIO_BENCH(denormalCost, defaults_avx2, kAfterConstruction,
                    Path::kAvx2);
}  // namespace
