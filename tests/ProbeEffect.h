// Test-only effects for the interface layer: they record which overridable
// operations the dispatcher and the entry points reach, and with what.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AudioEffect.h"
#include "audioeffectx.h"

// What a probe saw; it outlives the probe so that tests can look after close.
struct ProbeLog {
  std::vector<std::string> calls;
  int32_t lastIndex = 0;
  intptr_t lastValue = 0;
  float lastFloat = 0.0f;
  const void* lastPointer = nullptr;
  const void* secondPointer = nullptr;
  bool lastFlag = false;
  bool destroyed = false;

  int count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : calls) n += call == name;
    return n;
  }
};

// An editor that records the key codes and answers fixed values.
struct ProbeEditor : EffectEditor {
  explicit ProbeEditor(ProbeLog& log) : log(log) {}
  ~ProbeEditor() override { log.calls.push_back("~editor"); }
  int32_t getRect(void* rect) override {
    log.lastPointer = rect;
    log.calls.push_back("getRect");
    return 11;
  }
  int32_t open(void* window) override {
    log.lastPointer = window;
    log.calls.push_back("editorOpen");
    return 12;
  }
  void close() override { log.calls.push_back("editorClose"); }
  void idle() override { log.calls.push_back("editorIdle"); }
  int32_t keyDown(EditorKeyCode& key) override {
    lastKey = key;
    log.calls.push_back("keyDown");
    return 21;
  }
  int32_t keyUp(EditorKeyCode& key) override {
    lastKey = key;
    log.calls.push_back("keyUp");
    return 22;
  }
  int32_t knobMode(int32_t mode) override {
    log.lastValue = mode;
    log.calls.push_back("knobMode");
    return 23;
  }

  ProbeLog& log;
  EditorKeyCode lastKey{};
};

// A plain effect on the base class alone.
class PlainEffect : public AudioEffect {
 public:
  PlainEffect(HostCallback callback, int32_t programs, int32_t params)
      : AudioEffect(callback, programs, params) {}
  void process(float**, float**, int32_t) override {}
};

// An extended effect that overrides nothing but the one pure operation.
class DefaultEffectX : public AudioEffectX {
 public:
  explicit DefaultEffectX(HostCallback callback)
      : AudioEffectX(callback, 1, 1) {}
  void process(float**, float**, int32_t) override {}
};

// An extended effect whose overrides record their calls in a log.
class ProbeEffect : public AudioEffectX {
 public:
  ProbeEffect(HostCallback callback, ProbeLog& log, int32_t programs = 1,
              int32_t params = 11)
      : AudioEffectX(callback, programs, params), log(log) {}
  ~ProbeEffect() override { log.destroyed = true; }

  // Built on the heap as a host-facing effect must be; opcode 1 frees it.
  static AEffect* create(HostCallback callback, ProbeLog& log,
                         int32_t programs = 1) {
    return (new ProbeEffect(callback, log, programs))->getAeffect();
  }
  static ProbeEffect& of(AEffect* effect) {
    return *static_cast<ProbeEffect*>(
        static_cast<AudioEffect*>(effect->object));
  }

  void attachEditor(EffectEditor* attached) { editor = attached; }
  int32_t storedBlockSize() const { return blockSize.load(); }
  float storedSampleRate() const { return sampleRate.load(); }

  float vu = 0.0f;

  void process(float** inputs, float** outputs, int32_t frames) override {
    recordProcess("process", inputs, outputs, frames);
  }
  void processReplacing(float** inputs, float** outputs,
                        int32_t frames) override {
    recordProcess("processReplacing", inputs, outputs, frames);
  }
  void setParameter(int32_t index, float value) override {
    note("setParameter", index, 0, value);
  }
  float getParameter(int32_t index) override {
    note("getParameter", index);
    return 0.125f * static_cast<float>(index);
  }
  void open() override { note("open"); }
  void close() override { note("close"); }
  void setProgram(int32_t program) override {
    note("setProgram", program);
    AudioEffectX::setProgram(program);
  }
  void suspend() override { note("suspend"); }
  void resume() override { note("resume"); }
  void setSampleRate(float rate) override {
    note("setSampleRate", 0, 0, rate);
    AudioEffectX::setSampleRate(rate);
  }
  void setBlockSize(int32_t size) override {
    note("setBlockSize", 0, size);
    AudioEffectX::setBlockSize(size);
  }
  float getVu() override { return vu; }
  int32_t setChunk(void* data, int32_t size, bool isPreset) override {
    note("setChunk", 0, size, 0.0f, data);
    log.lastFlag = isPreset;
    return 77;
  }
  int32_t processEvents(VstEvents* events) override {
    note("processEvents", 0, 0, 0.0f, events);
    return 5;
  }
  bool getProgramNameIndexed(int32_t category, int32_t index,
                             char* text) override {
    note("getProgramNameIndexed", index, category, 0.0f, text);
    return true;
  }
  bool offlineNotify(VstAudioFile* files, int32_t count, bool start) override {
    note("offlineNotify", 0, count, 0.0f, files);
    log.lastFlag = start;
    return true;
  }
  bool setSpeakerArrangement(VstSpeakerArrangement* inputs,
                             VstSpeakerArrangement* outputs) override {
    note("setSpeakerArrangement", 0, 0, 0.0f, inputs);
    log.secondPointer = outputs;
    return true;
  }
  bool setViewPosition(int32_t x, int32_t y) override {
    note("setViewPosition", x, y);
    return true;
  }
  bool setPanLaw(int32_t type, float value) override {
    note("setPanLaw", 0, type, value);
    return true;
  }
  bool keysRequired() override { return true; }
  int32_t beginLoadProgram(VstPatchChunkInfo* info) override {
    note("beginLoadProgram", 0, 0, 0.0f, info);
    return 9;
  }

 private:
  void note(const char* name, int32_t index = 0, intptr_t value = 0,
            float number = 0.0f, const void* pointer = nullptr) {
    log.calls.push_back(name);
    log.lastIndex = index;
    log.lastValue = value;
    log.lastFloat = number;
    log.lastPointer = pointer;
  }
  void recordProcess(const char* name, float** inputs, float** outputs,
                     int32_t frames) {
    note(name, 0, frames, 0.0f, inputs);
    log.secondPointer = outputs;
  }

  ProbeLog& log;
};
