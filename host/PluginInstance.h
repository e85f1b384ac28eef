// A plug-in library, loaded, and one instance of its effect, driven as a
// host drives it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AEffect.h"
#include "HostContext.h"

namespace korvane {

// The plug-in library: open while the object lives.
class PluginLibrary {
 public:
  // Throws HostError (exit 1) when the file cannot be loaded or has no
  // `main`.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& path() const { return path_; }
  // Calls `main` with the host callback; null when the plug-in declines.
  AEffect* callMain() const;

 private:
  using EntryPoint = AEffect* (*)(HostCallback);
  std::string path_;
  void* handle_ = nullptr;
  EntryPoint entry_ = nullptr;
};

// One effect instance, closed (and so destroyed by the plug-in) when the
// object goes. The library must outlive it.
class PluginInstance {
 public:
  // Throws HostError (exit 1) when `main` answers null, the record is not
  // a plug-in record, or its counts are absurd (over 1024 parameters, over
  // 64 inputs or outputs) or its parameter routines missing; a record with
  // a dispatcher is closed again before the error.
  PluginInstance(const PluginLibrary& library, HostContext& context);
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  AEffect& effect() const { return *effect_; }
  HostContext& context() const { return context_; }
  // The library's path as the user gave it, for messages.
  const std::string& libraryPath() const { return library_; }
  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0,
                    void* ptr = nullptr, float opt = 0.0f) const;

  // Dispatcher texts, read into a zero-filled buffer with room to spare
  // and cut to 63 characters.
  std::string text(int32_t opcode, int32_t index = 0) const;
  std::string parameterName(int32_t index) const;

  // Checks the record's counts again, for a plug-in that changes them
  // after open; throws as the constructor does.
  void checkRecord() const;
  // True when the plug-in offers the replacing processing routine: it has
  // the entry and sets the flag that says so.
  bool offersReplacing() const {
    return effect_->processReplacing != nullptr &&
           (effect_->flags & EffectFlag::kCanReplacing) != 0;
  }
  // The processing delay the record reports, in samples.
  int32_t initialDelay() const { return effect_->initialDelay; }
  // Sends korvane's seed call; true when the plug-in took the seed.
  bool sendSeed(uint32_t seed) const;

  // The lifecycle a host drives: open at construction, then these.
  void setStream(double sampleRate, int32_t blockSize);
  void resume();
  void suspend();
  // The first sample of a render, in silence: resumes the plug-in,
  // processes one sample at the tempo of its host context and suspends it
  // again. A plug-in that counts its settings in samples of a tempo-synced
  // loop then shows the counts that a render at that tempo starts with.
  void processFirstSample();

 private:
  AEffect* effect_ = nullptr;
  HostContext& context_;
  std::string library_;
  mutable std::vector<char> textBuffer_;
  bool resumed_ = false;
};

// The korvane library built beside the running tool (or installed next to
// it); throws HostError (exit 1) when it is in neither place.
std::string defaultPluginPath();

}  // namespace korvane
