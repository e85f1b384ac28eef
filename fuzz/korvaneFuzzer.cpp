// The fuzz target: a host whose every answer and call the fuzzer chooses
// drives one korvane instance through its record, from creation to close,
// and checks what comes back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AEffect.h"
#include "hostileValues.h"
#include "myfx.h"
#include "opcodes.h"
#include "seedExtension.h"

namespace {

constexpr int kMaxSteps = 64;
constexpr int32_t kMaxFrames = 4096;
constexpr int64_t kMaxFramesPerRun = 1 << 16;
constexpr int32_t kParameters = myfx::kNumParams;
constexpr std::size_t kTextBytes = 512;
constexpr std::size_t kValueTextBytes = 9;  // 8 characters and a terminator
constexpr std::size_t kNameBytes = 32;
constexpr int kMaxSpeakers = 8;
constexpr char kUntouched = 0x5A;
constexpr float kUntouchedSample = 1234.5f;

[[noreturn]] void fail(const char* what, long long detail = 0) {
  std::fprintf(stderr, "korvane fuzz invariant broken: %s (%lld)\n", what,
               detail);
  std::abort();
}

void require(bool holds, const char* what, long long detail = 0) {
  if (!holds) fail(what, detail);
}

bool isParameter(int32_t index) { return index >= 0 && index < kParameters; }

// What the host answers; the callback has no context argument, and the
// target runs one input at a time.
struct Host {
  intptr_t version = 2400;
  bool hasTimeInfo = true;
  double tempo = 120.0;
  AEffect* effect = nullptr;
  long calls = 0;
  VstTimeInfo timeInfo = {};
};
Host* host = nullptr;

// The effect asks the host two things only: the version while it is being
// built, and the tempo while it processes.
intptr_t callback(AEffect* effect, int32_t opcode, int32_t /*index*/,
                  intptr_t value, void* /*ptr*/, float /*opt*/) {
  ++host->calls;
  if (opcode == HostOpcode::kVersion) {
    require(effect == nullptr, "version query names a record");
    return host->version;
  }
  require(opcode == HostOpcode::kGetTime, "unexpected host opcode", opcode);
  require(effect == host->effect, "time query names another record");
  require(value == TimeFlag::kTempoValid, "time query mask", value);
  if (!host->hasTimeInfo) return 0;
  host->timeInfo.tempo = host->tempo;
  return reinterpret_cast<intptr_t>(&host->timeInfo);
}

void chooseTimeInfo(FuzzedDataProvider& in) {
  host->hasTimeInfo = in.ConsumeIntegralInRange(0, 3) != 0;
  host->tempo = hostile::tempo(in);
}

// A text buffer the effect fills: terminated within `limit` bytes, nothing
// written after the terminator.
void requireText(const std::vector<char>& text, std::size_t limit,
                 const char* what) {
  const void* end = std::memchr(text.data(), '\0', limit);
  require(end != nullptr, what, static_cast<long long>(limit));
  const std::size_t used =
      static_cast<std::size_t>(static_cast<const char*>(end) - text.data()) + 1;
  for (std::size_t i = used; i < text.size(); ++i) {
    require(text[i] == kUntouched, "text written past its terminator",
            static_cast<long long>(i));
  }
}

// A parameter's value text, name or label: terminated within `limit` bytes;
// for an index that names no parameter the host's buffer is left alone.
void requireParameterText(const std::vector<char>& text, int32_t index,
                          std::size_t limit) {
  if (isParameter(index)) {
    requireText(text, limit, "parameter text not terminated");
    return;
  }
  for (char c : text) require(c == kUntouched, "text of no parameter written");
}

// A speaker arrangement as a host builds one: the head, then one entry per
// channel, with whatever the fuzzer puts in them.
std::vector<unsigned char> arrangement(FuzzedDataProvider& in) {
  const int32_t channels = in.ConsumeIntegralInRange(0, kMaxSpeakers);
  std::vector<unsigned char> bytes(speakerArrangementBytes(channels));
  in.ConsumeData(bytes.data(), bytes.size());
  VstSpeakerArrangement head;
  std::memcpy(&head, bytes.data(), sizeof head);
  head.numChannels = channels;
  std::memcpy(bytes.data(), &head, sizeof head);
  return bytes;
}

// One dispatcher call with buffers of adequate size for the opcodes that
// read or write through `ptr` (and, for 42 and 69, through `value`).
void dispatch(FuzzedDataProvider& in, AEffect* effect, int32_t opcode) {
  using namespace EffectOpcode;
  const int32_t index = hostile::index(in);
  intptr_t value = hostile::value(in);
  const float opt = hostile::floatValue(in);
  const bool nullPointers = in.ConsumeIntegralInRange(0, 7) == 0;

  std::vector<char> text(kTextBytes, kUntouched);
  const bool textIn = opcode == kSetProgramName ||
                      opcode == kString2Parameter || opcode == kCanDo ||
                      opcode == kSetChunk;
  if (textIn) {
    const std::string given = in.ConsumeRandomLengthString(kTextBytes - 1);
    std::memcpy(text.data(), given.c_str(), given.size() + 1);
  }
  void* ptr = text.data();
  void* slot = nullptr;
  VstSpeakerArrangement* inputSlot = nullptr;
  VstSpeakerArrangement* outputSlot = nullptr;
  std::vector<unsigned char> inputs, outputs;
  switch (opcode) {
    case kGetChunk:
    case kEditorGetRect:
      ptr = &slot;
      break;
    case kSetChunk:
      value = in.ConsumeIntegralInRange<intptr_t>(0, kTextBytes);
      break;
    case kSetSpeakerArrangement:
      inputs = arrangement(in);
      outputs = arrangement(in);
      value = reinterpret_cast<intptr_t>(inputs.data());
      ptr = outputs.data();
      break;
    case kGetSpeakerArrangement:
      value = reinterpret_cast<intptr_t>(&inputSlot);
      ptr = &outputSlot;
      break;
    default:
      break;
  }
  if (nullPointers) {
    ptr = nullptr;
    if (opcode == kSetSpeakerArrangement || opcode == kGetSpeakerArrangement) {
      value = 0;
    }
  }

  const intptr_t answer =
      effect->dispatcher(effect, opcode, index, value, ptr, opt);
  // The effect offers no data chunk of its own.
  if (opcode == kGetChunk) require(answer == 0, "chunk offered", answer);

  if (nullPointers || textIn) return;
  switch (opcode) {
    case kGetParameterDisplay:
      requireParameterText(text, index, kValueTextBytes);
      break;
    case kGetParameterName:
    case kGetParameterLabel:
      requireParameterText(text, index, kNameBytes);
      break;
    case kGetProgramName:
    case kGetEffectName:
    case kGetVendorString:
    case kGetProductString:
      requireText(text, kNameBytes, "identity text not terminated");
      break;
    default:
      break;
  }
}

// Inputs repeat a short fuzzer-chosen pattern of any floats, so that the
// change test fires again and again.
void fillInputs(FuzzedDataProvider& in, std::vector<float>& left,
                std::vector<float>& right, int32_t frames) {
  float pattern[2][8];
  const int length = in.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < length; ++i) {
    pattern[0][i] = hostile::floatValue(in);
    pattern[1][i] = in.ConsumeBool() ? pattern[0][i] : hostile::floatValue(in);
  }
  for (int32_t k = 0; k < frames; ++k) {
    left[k] = pattern[0][k % length];
    right[k] = pattern[1][k % length];
  }
}

// One block through processReplacing or process; both leave every sample
// past the block alone, and a block of no frames asks the host nothing.
void processBlock(FuzzedDataProvider& in, AEffect* effect, int64_t& budget) {
  const bool replacing = in.ConsumeBool();
  const bool inPlace = in.ConsumeIntegralInRange(0, 3) == 0;
  const bool zeroedOutputs = in.ConsumeBool();
  const int32_t frames = hostile::frames(in, kMaxFrames);
  const int32_t used = frames > 0 ? frames : 0;
  budget -= used;

  std::vector<float> inL(kMaxFrames + 1, kUntouchedSample);
  std::vector<float> inR(kMaxFrames + 1, kUntouchedSample);
  std::vector<float> outL(kMaxFrames + 1, kUntouchedSample);
  std::vector<float> outR(kMaxFrames + 1, kUntouchedSample);
  fillInputs(in, inL, inR, used);
  if (!replacing) {
    const float start = zeroedOutputs ? 0.0f : hostile::floatValue(in);
    std::fill(outL.begin(), outL.begin() + used, start);
    std::fill(outR.begin(), outR.begin() + used, start);
  }
  float* inputs[] = {inL.data(), inR.data()};
  float* outputs[] = {outL.data(), outR.data()};
  // In place, the inputs are the outputs: accumulating adds to the input.
  float** out = inPlace ? inputs : outputs;

  const long callsBefore = host->calls;
  if (replacing) {
    effect->processReplacing(effect, inputs, out, frames);
  } else {
    effect->process(effect, inputs, out, frames);
  }
  if (frames <= 0) require(host->calls == callsBefore, "empty block asked");

  const bool checkRange = replacing || (zeroedOutputs && !inPlace);
  for (int32_t k = 0; k < used && checkRange; ++k) {
    for (int c = 0; c < 2; ++c) {
      const float s = out[c][k];
      require(std::isfinite(s) && s >= -1.0f && s <= 1.0f,
              "output outside -1..+1", k);
    }
  }
  for (int c = 0; c < 2; ++c) {
    for (int32_t k = used; k <= kMaxFrames; ++k) {
      require(out[c][k] == kUntouchedSample, "wrote past the block", k);
    }
  }
}

void parameterCall(FuzzedDataProvider& in, AEffect* effect) {
  const int32_t index = hostile::index(in);
  if (in.ConsumeBool()) {
    effect->setParameter(effect, index, hostile::floatValue(in));
    return;
  }
  const float value = effect->getParameter(effect, index);
  require(std::isfinite(value), "parameter value not finite", index);
  if (!isParameter(index)) require(value == 0.0f, "value of no parameter");
}

// The five formatters with any value, on the rate the host last set.
void formatterCall(FuzzedDataProvider& in, AEffect* effect) {
  auto* object = static_cast<AudioEffect*>(effect->object);
  std::vector<char> text(kTextBytes, kUntouched);
  const float value = hostile::floatValue(in);
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      object->float2string(value, text.data());
      break;
    case 1:
      object->long2string(in.ConsumeIntegral<int32_t>(), text.data());
      break;
    case 2:
      object->dB2string(value, text.data());
      break;
    case 3:
      object->Hz2string(value, text.data());
      break;
    default:
      object->ms2string(value, text.data());
      break;
  }
  requireText(text, kValueTextBytes, "formatted text not terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Host state;
  host = &state;
  state.version = in.PickValueInArray<intptr_t>(
      {2400, 0, 1, -1, in.ConsumeIntegral<intptr_t>()});
  chooseTimeInfo(in);
  const bool withCallback = in.ConsumeIntegralInRange(0, 7) != 0;

  AEffect* effect = createEffectInstance(withCallback ? callback : nullptr);
  if (withCallback && state.version == 0) {
    require(effect == nullptr, "built for a host of version 0");
    return 0;
  }
  require(effect != nullptr, "no effect built");
  require(effect->magic == kEffectMagic, "record magic");
  state.effect = effect;
  // Repeatable draws, so that every finding reproduces.
  effect->dispatcher(effect, seedExtension::kOpcode, seedExtension::kIndex,
                     static_cast<intptr_t>(in.ConsumeIntegral<uint32_t>()),
                     nullptr, 0.0f);

  int64_t budget = kMaxFramesPerRun;
  for (int step = 0; step < kMaxSteps && in.remaining_bytes() > 0; ++step) {
    const int action = in.ConsumeIntegralInRange(0, 9);
    if (action <= 2) {
      const int32_t opcode = hostile::opcode(in);
      if (opcode == EffectOpcode::kClose) break;  // the close comes last
      dispatch(in, effect, opcode);
    } else if (action <= 5) {
      parameterCall(in, effect);
    } else if (action <= 7) {
      if (budget > 0) processBlock(in, effect, budget);
    } else if (action == 8) {
      chooseTimeInfo(in);
    } else {
      formatterCall(in, effect);
    }
  }

  require(effect->dispatcher(effect, EffectOpcode::kClose, 0, 0, nullptr,
                             0.0f) == 1,
          "close answer");
  host = nullptr;
  return 0;
}
