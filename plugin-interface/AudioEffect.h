// The base effect class: embeds the plug-in record, turns the host's calls
// into virtual operations, wraps the host callback and formats value texts.
#pragma once

#include <cstdint>

#include "AEffect.h"
#include "EffectEditor.h"

class AudioEffect {
 public:
  // The sample rate every effect starts with, until the host sets its own.
  static constexpr float kInitialSampleRate = 44100.0f;

  // host's main thread during open/close (in `main`); fills the record and
  // does not call the host
  AudioEffect(HostCallback callback, int32_t programCount,
              int32_t parameterCount);
  // host's main thread during open/close (opcode 1 destroys the effect)
  virtual ~AudioEffect();

  AudioEffect(const AudioEffect&) = delete;
  AudioEffect& operator=(const AudioEffect&) = delete;

  // any thread; writes one field of the effect
  virtual void setParameter(int32_t index, float value);
  // any thread
  virtual float getParameter(int32_t index);
  // any thread; sets the parameter, then tells the host (host opcode 0)
  virtual void setParameterAutomated(int32_t index, float value);

  // audio thread
  virtual void process(float** inputs, float** outputs,
                       int32_t sampleFrames) = 0;
  // audio thread
  virtual void processReplacing(float** inputs, float** outputs,
                                int32_t sampleFrames);

  // any thread; opcodes 0 to 24, and 0 for every other opcode
  virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt);

  // host's main thread during open/close (opcode 0)
  virtual void open();
  // host's main thread during open/close (opcode 1)
  virtual void close();
  // any thread
  virtual int32_t getProgram();
  // any thread
  virtual void setProgram(int32_t program);
  // any thread
  virtual void setProgramName(char* name);
  // any thread
  virtual void getProgramName(char* name);
  // any thread
  virtual void getParameterLabel(int32_t index, char* label);
  // any thread
  virtual void getParameterDisplay(int32_t index, char* text);
  // any thread
  virtual void getParameterName(int32_t index, char* text);
  // any thread
  virtual float getVu();
  // any thread
  virtual int32_t getChunk(void** data, bool isPreset);
  // any thread
  virtual int32_t setChunk(void* data, int32_t byteSize, bool isPreset);
  // any thread
  virtual void setSampleRate(float rate);
  // any thread
  virtual void setBlockSize(int32_t size);
  // any thread
  virtual void suspend();
  // any thread
  virtual void resume();

  // Setters of the record's fields and flag bits.
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setUniqueID(int32_t id);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setNumInputs(int32_t count);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setNumOutputs(int32_t count);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void hasVu(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void hasClip(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void canMono(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void canProcessReplacing(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void programsAreChunks(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setRealtimeQualities(int32_t qualities);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setOfflineQualities(int32_t qualities);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void setInitialDelay(int32_t samples);

  // any thread
  virtual float getSampleRate();
  // any thread
  virtual int32_t getBlockSize();

  // Host callback wrappers; each falls back to a fixed answer without a
  // callback.
  // host's main thread during open/close; `main` asks it before building the
  // effect
  virtual int32_t getMasterVersion();
  // any thread
  virtual int32_t getCurrentUniqueId();
  // any thread
  virtual void masterIdle();
  // any thread
  virtual bool isInputConnected(int32_t input);
  // any thread
  virtual bool isOutputConnected(int32_t output);

  // Formatters: each writes at most 8 characters and a terminator.
  // any thread
  virtual void dB2string(float value, char* text);
  // any thread
  virtual void Hz2string(float samples, char* text);
  // any thread
  virtual void ms2string(float samples, char* text);
  // any thread
  virtual void float2string(float value, char* text);
  // any thread
  virtual void long2string(int32_t value, char* text);

  // any thread; the record's address never changes
  AEffect* getAeffect() { return &effectRecord; }

 protected:
  // Calls the host once with this effect's record; answers `fallback` when
  // there is no callback.
  intptr_t callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt, intptr_t fallback);
  // Sets or clears one bit of the record's flags word.
  void setFlag(int32_t bit, bool state);

  float sampleRate;
  EffectEditor* editor;
  HostCallback hostCallback;
  int32_t numPrograms;
  int32_t numParams;
  int32_t currentProgram;
  int32_t blockSize;
  AEffect effectRecord;
};
