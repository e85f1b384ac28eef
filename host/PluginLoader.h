// Loading a plug-in library and driving one instance of its effect.
#pragma once

#include <cstdint>
#include <string>

#include "AEffect.h"
#include "HostCallback.h"

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
  // Throws HostError (exit 1) when `main` answers null or the record is not
  // a plug-in record.
  PluginInstance(const PluginLibrary& library, HostContext& context);
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  AEffect& effect() const { return *effect_; }
  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0,
                    void* ptr = nullptr, float opt = 0.0f) const;

  // Dispatcher texts, read into a buffer with room to spare and always
  // terminated.
  std::string text(int32_t opcode, int32_t index = 0) const;
  std::string parameterName(int32_t index) const;

  // The lifecycle a host drives: open at construction, then these.
  void setStream(double sampleRate, int32_t blockSize);
  void resume();
  void suspend();

 private:
  AEffect* effect_ = nullptr;
  HostContext& context_;
  bool resumed_ = false;
};

// The korvane library built beside the running tool (or installed next to
// it); throws HostError (exit 1) when it is in neither place.
std::string defaultPluginPath();

}  // namespace korvane
