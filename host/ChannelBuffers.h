// The plug-in's channel arrays for one block, and their mapping to the
// interleaved frames of a mono or stereo file.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

// Maps between interleaved file frames and the plug-in's channel arrays.
class ChannelBuffers {
 public:
  // With `onlyChannel` set, the plug-in works on that file channel alone
  // (one instance per channel): it feeds the inputs, and the first output
  // goes back to it.
  ChannelBuffers(int fileChannels, int32_t pluginInputs, int32_t pluginOutputs,
                 int32_t blockSize, int onlyChannel = -1);
  // The pointer arrays point into the buffers: moving keeps them valid,
  // copying would not.
  ChannelBuffers(ChannelBuffers&&) = default;
  ChannelBuffers& operator=(ChannelBuffers&&) = default;
  ChannelBuffers(const ChannelBuffers&) = delete;
  ChannelBuffers& operator=(const ChannelBuffers&) = delete;

  // Spreads interleaved frames over the plug-in inputs (mono feeds both of
  // the first two). With `dry`, interleaved frames of the same layout, the
  // outputs start as copies of those (the input itself, or the input
  // delayed to line up with a compensated plug-in delay); else they are
  // left as they are.
  void load(const float* interleaved, int32_t frames, const float* dry);
  // Gathers the plug-in outputs into interleaved frames of the file's
  // channel count (mono takes the mean of the first two outputs).
  void store(float* interleaved, int32_t frames) const;

  float** inputs() { return inputPointers_.data(); }
  float** outputs() { return outputPointers_.data(); }
  void clearOutputs(int32_t frames);

 private:
  int fileChannels_;
  int32_t outputs_;
  int onlyChannel_;
  std::vector<std::vector<float>> in_;
  std::vector<std::vector<float>> out_;
  std::vector<float*> inputPointers_;
  std::vector<float*> outputPointers_;
};

}  // namespace korvane
