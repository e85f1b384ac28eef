// The base effect class: embeds the plug-in record, turns the host's calls
// into virtual operations, wraps the host callback and formats value texts.
#pragma once

#include <cstdint>

#include "AEffect.h"
#include "EffectEditor.h"
#include "RelaxedAtomic.h"

// Which thread calls what: the declarations stand under three headings,
// and a note beside one says only what its heading does not.
class AudioEffect {
 public:
  // The sample rate every effect starts with, until the host sets its own.
  static constexpr float kInitialSampleRate = 44100.0f;

  // ---- host's main thread during open/close
  // In `main`; fills the record and does not call the host.
  AudioEffect(HostCallback callback, int32_t programCount,
              int32_t parameterCount);
  // kClose destroys the effect.
  virtual ~AudioEffect();

  AudioEffect(const AudioEffect&) = delete;
  AudioEffect& operator=(const AudioEffect&) = delete;

  // kOpen.
  virtual void open();
  // kClose.
  virtual void close();
  // `main` asks it before building the effect; a host callback wrapper, like
  // those under "any thread" below.
  virtual int32_t getMasterVersion();

  // Setters of the record's fields and flag bits: the effect's constructor
  // calls them.
  virtual void setUniqueID(int32_t id);
  virtual void setNumInputs(int32_t count);
  virtual void setNumOutputs(int32_t count);
  virtual void hasVu(bool state);
  virtual void hasClip(bool state);
  virtual void canMono(bool state);
  virtual void canProcessReplacing(bool state);
  virtual void programsAreChunks(bool state);
  virtual void setRealtimeQualities(int32_t qualities);
  virtual void setOfflineQualities(int32_t qualities);
  virtual void setInitialDelay(int32_t samples);

  // ---- audio thread
  virtual void process(float** inputs, float** outputs,
                       int32_t sampleFrames) = 0;
  virtual void processReplacing(float** inputs, float** outputs,
                                int32_t sampleFrames);

  // ---- any thread
  // Writes one field of the effect.
  virtual void setParameter(int32_t index, float value);
  virtual float getParameter(int32_t index);
  // Sets the parameter, then tells the host (HostOpcode::kAutomate).
  virtual void setParameterAutomated(int32_t index, float value);

  // The base dispatcher's opcodes, kOpen to kSetChunk; 0 for every other
  // opcode.
  virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt);

  virtual int32_t getProgram();
  virtual void setProgram(int32_t program);
  virtual void setProgramName(char* name);
  virtual void getProgramName(char* name);
  virtual void getParameterLabel(int32_t index, char* label);
  virtual void getParameterDisplay(int32_t index, char* text);
  virtual void getParameterName(int32_t index, char* text);
  virtual float getVu();
  virtual int32_t getChunk(void** data, bool isPreset);
  virtual int32_t setChunk(void* data, int32_t byteSize, bool isPreset);
  virtual void setSampleRate(float rate);
  virtual void setBlockSize(int32_t size);
  virtual void suspend();
  virtual void resume();
  virtual float getSampleRate();
  virtual int32_t getBlockSize();

  // Host callback wrappers; each falls back to a fixed answer without a
  // callback.
  virtual int32_t getCurrentUniqueId();
  virtual void masterIdle();
  virtual bool isInputConnected(int32_t input);
  virtual bool isOutputConnected(int32_t output);

  // Formatters: each writes at most 8 characters and a terminator.
  virtual void dB2string(float value, char* text);
  virtual void Hz2string(float samples, char* text);
  virtual void ms2string(float samples, char* text);
  virtual void float2string(float value, char* text);
  virtual void long2string(int32_t value, char* text);

  // The record's address never changes.
  AEffect* getAeffect() { return &effectRecord; }

 protected:
  // Calls the host once with this effect's record; answers `fallback` when
  // there is no callback.
  intptr_t callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt, intptr_t fallback);
  // Sets or clears one bit of the record's flags word.
  void setFlag(int32_t bit, bool state);

  // Host threads may set these at once (the rate and block size calls).
  RelaxedAtomic<float> sampleRate;
  EffectEditor* editor;
  HostCallback hostCallback;
  int32_t numPrograms;
  int32_t numParams;
  int32_t currentProgram;
  RelaxedAtomic<int32_t> blockSize;
  AEffect effectRecord;
};
