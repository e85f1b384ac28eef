// Deinterleaving into and interleaving out of the plug-in's channel arrays.
#include "ChannelBuffers.h"

#include <algorithm>

namespace korvane {

namespace {
// Plug-ins are handed at least this many channel arrays, silent beyond
// their own counts, so that one reading a stereo pair always finds it.
constexpr int32_t kMinChannelArrays = 2;
}  // namespace

ChannelBuffers::ChannelBuffers(int fileChannels, int32_t pluginInputs,
                               int32_t pluginOutputs, int32_t blockSize,
                               int onlyChannel)
    : fileChannels_(fileChannels),
      outputs_(pluginOutputs),
      onlyChannel_(onlyChannel) {
  const auto size = static_cast<std::size_t>(blockSize);
  in_.assign(
      static_cast<std::size_t>(std::max(pluginInputs, kMinChannelArrays)),
      std::vector<float>(size, 0.0f));
  out_.assign(
      static_cast<std::size_t>(std::max(pluginOutputs, kMinChannelArrays)),
      std::vector<float>(size, 0.0f));
  for (auto& channel : in_) inputPointers_.push_back(channel.data());
  for (auto& channel : out_) outputPointers_.push_back(channel.data());
}

void ChannelBuffers::load(const float* interleaved, int32_t frames,
                          const float* dry) {
  if (dry != nullptr) clearOutputs(frames);
  // Only the first two plug-in channels carry the file; the rest stay
  // silent.
  for (int c = 0; c < kMinChannelArrays; ++c) {
    const int source =
        onlyChannel_ >= 0 ? onlyChannel_ : std::min(c, fileChannels_ - 1);
    float* in = in_[static_cast<std::size_t>(c)].data();
    float* out = out_[static_cast<std::size_t>(c)].data();
    for (int32_t k = 0; k < frames; ++k) {
      in[k] = interleaved[k * fileChannels_ + source];
      if (dry != nullptr) out[k] = dry[k * fileChannels_ + source];
    }
  }
}

void ChannelBuffers::clearOutputs(int32_t frames) {
  for (auto& channel : out_)
    std::fill(channel.begin(), channel.begin() + frames, 0.0f);
}

void ChannelBuffers::store(float* interleaved, int32_t frames) const {
  const float* left = out_[0].data();
  const float* right = out_[outputs_ > 1 ? 1 : 0].data();
  if (onlyChannel_ >= 0) {
    for (int32_t k = 0; k < frames; ++k) {
      interleaved[k * fileChannels_ + onlyChannel_] = left[k];
    }
    return;
  }
  if (fileChannels_ == 1) {
    for (int32_t k = 0; k < frames; ++k) {
      interleaved[k] = 0.5f * (left[k] + right[k]);
    }
    return;
  }
  for (int32_t k = 0; k < frames; ++k) {
    interleaved[2 * k] = left[k];
    interleaved[2 * k + 1] = right[k];
  }
}

}  // namespace korvane
