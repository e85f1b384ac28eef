// The extended effect class: answers dispatcher opcodes 25 to 76, wraps the
// host callback's opcodes 6 to 49, and gives every further operation an
// effect may override its default answer.
#pragma once

#include <cstdint>

#include "AudioEffect.h"
#include "timeRecord.h"

// Capability words: what an effect may ask the host (`canHostDo`) and what a
// host may ask the effect (dispatcher opcode 51).
constexpr int kHostCanDoCount = 17;
constexpr int kPlugCanDoCount = 26;
extern const char* const hostCanDos[kHostCanDoCount];
extern const char* const plugCanDos[kPlugCanDoCount];

class AudioEffectX : public AudioEffect {
 public:
  // host's main thread during open/close (in `main`)
  AudioEffectX(HostCallback callback, int32_t programCount,
               int32_t parameterCount);
  // host's main thread during open/close (opcode 1 destroys the effect)
  ~AudioEffectX() override;

  // any thread; opcodes 25 to 76, the rest through the base class
  intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) override;

  // any thread
  virtual EffectEditor* getEditor();
  // any thread
  virtual void wantEvents(int32_t filter = 1);
  // audio thread, while processing; the host's time record or null
  virtual VstTimeInfo* getTimeInfo(int32_t filter);
  // any thread
  virtual int32_t tempoAt(int32_t position);
  // audio thread (opcode 25, before the block it belongs to)
  virtual int32_t processEvents(VstEvents* events);
  // any thread
  virtual int32_t getNumAutomatableParameters();
  // any thread
  virtual int32_t getParameterQuantization();
  // any thread
  virtual bool canParameterBeAutomated(int32_t index);
  // any thread
  virtual bool string2parameter(int32_t index, char* text);
  // any thread
  virtual float getChannelParameter(int32_t channel, int32_t index);
  // any thread
  virtual int32_t getNumCategories();
  // any thread
  virtual bool getProgramNameIndexed(int32_t category, int32_t index,
                                     char* text);
  // any thread
  virtual bool copyProgram(int32_t destination);
  // any thread
  virtual bool ioChanged();
  // any thread
  virtual bool needIdle();
  // any thread
  virtual bool sizeWindow(int32_t width, int32_t height);
  // any thread
  virtual float updateSampleRate();
  // any thread
  virtual int32_t updateBlockSize();
  // any thread
  virtual int32_t getInputLatency();
  // any thread
  virtual int32_t getOutputLatency();
  // any thread
  virtual AEffect* getPreviousPlug(int32_t input);
  // any thread
  virtual AEffect* getNextPlug(int32_t output);
  // any thread
  virtual void inputConnected(int32_t index, bool state);
  // any thread
  virtual void outputConnected(int32_t index, bool state);
  // any thread
  virtual bool getInputProperties(int32_t index, VstPinProperties* properties);
  // any thread
  virtual bool getOutputProperties(int32_t index, VstPinProperties* properties);
  // any thread
  virtual int32_t getPlugCategory();
  // any thread
  virtual int32_t willProcessReplacing();
  // any thread; asks the host which thread this is
  virtual int32_t getCurrentProcessLevel();
  // any thread
  virtual int32_t getAutomationState();
  // host's main thread during open/close; the effect's constructor sets it
  virtual void wantAsyncOperation(bool state);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void hasExternalBuffer(bool state);
  // audio thread; a host reads it while processing
  virtual int32_t reportCurrentPosition();
  // audio thread; a host reads it while processing
  virtual float* reportDestinationBuffer();
  // any thread
  virtual bool offlineRead(VstOfflineTask* offline, VstOfflineOption option,
                           bool readSource = true);
  // any thread
  virtual bool offlineWrite(VstOfflineTask* offline, VstOfflineOption option);
  // any thread
  virtual bool offlineStart(VstAudioFile* audioFiles, int32_t numAudioFiles,
                            int32_t numNewAudioFiles);
  // any thread
  virtual int32_t offlineGetCurrentPass();
  // any thread
  virtual int32_t offlineGetCurrentMetaPass();
  // any thread
  virtual bool offlineNotify(VstAudioFile* audioFiles, int32_t numAudioFiles,
                             bool start);
  // any thread
  virtual bool offlinePrepare(VstOfflineTask* offline, int32_t count);
  // any thread
  virtual bool offlineRun(VstOfflineTask* offline, int32_t count);
  // any thread
  virtual int32_t offlineGetNumPasses();
  // any thread
  virtual int32_t offlineGetNumMetaPasses();
  // any thread
  virtual void setOutputSamplerate(float rate);
  // any thread
  virtual VstSpeakerArrangement* getInputSpeakerArrangement();
  // any thread
  virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
  // any thread
  virtual bool getHostVendorString(char* text);
  // any thread
  virtual bool getHostProductString(char* text);
  // any thread
  virtual int32_t getHostVendorVersion();
  // any thread
  virtual intptr_t hostVendorSpecific(int32_t index, intptr_t value, void* ptr,
                                      float opt);
  // any thread
  virtual bool canHostDo(char* text);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void isSynth(bool state = true);
  // host's main thread during open/close; the effect's constructor sets it
  virtual void noTail(bool state = true);
  // any thread
  virtual int32_t getHostLanguage();
  // any thread
  virtual void* openWindow(VstWindow* window);
  // any thread
  virtual bool closeWindow(VstWindow* window);
  // any thread
  virtual void* getDirectory();
  // any thread
  virtual bool updateDisplay();
  // audio thread (opcode 41)
  virtual bool processVariableIo(VstVariableIo* variableIo);
  // any thread
  virtual bool setSpeakerArrangement(VstSpeakerArrangement* inputs,
                                     VstSpeakerArrangement* outputs);
  // any thread
  virtual bool getSpeakerArrangement(VstSpeakerArrangement** inputs,
                                     VstSpeakerArrangement** outputs);
  // any thread
  virtual void setBlockSizeAndSampleRate(int32_t size, float rate);
  // any thread
  virtual bool setBypass(bool state);
  // any thread
  virtual bool getEffectName(char* name);
  // any thread
  virtual bool getErrorText(char* text);
  // any thread
  virtual bool getVendorString(char* text);
  // any thread
  virtual bool getProductString(char* text);
  // any thread
  virtual int32_t getVendorVersion();
  // any thread
  virtual intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr,
                                  float opt);
  // any thread
  virtual int32_t canDo(char* text);
  // any thread
  virtual void* getIcon();
  // any thread
  virtual bool setViewPosition(int32_t x, int32_t y);
  // any thread
  virtual int32_t getGetTailSize();
  // any thread
  virtual int32_t fxIdle();
  // any thread
  virtual bool getParameterProperties(int32_t index,
                                      VstParameterProperties* properties);
  // any thread
  virtual bool keysRequired();
  // any thread
  virtual int32_t getVstVersion();
  // any thread
  virtual int32_t getMidiProgramName(int32_t channel,
                                     MidiProgramName* programName);
  // any thread
  virtual int32_t getCurrentMidiProgram(int32_t channel,
                                        MidiProgramName* currentProgram);
  // any thread
  virtual int32_t getMidiProgramCategory(int32_t channel,
                                         MidiProgramCategory* category);
  // any thread
  virtual bool hasMidiProgramsChanged(int32_t channel);
  // any thread
  virtual bool getMidiKeyName(int32_t channel, MidiKeyName* keyName);
  // any thread
  virtual bool beginSetProgram();
  // any thread
  virtual bool endSetProgram();
  // any thread
  virtual bool beginEdit(int32_t index);
  // any thread
  virtual bool endEdit(int32_t index);
  // any thread
  virtual bool openFileSelector(VstFileSelect* selector);
  // any thread
  virtual int32_t setTotalSampleToProcess(int32_t value);
  // any thread
  virtual int32_t getNextShellPlugin(char* name);
  // audio thread or any thread, before processing starts (opcode 71)
  virtual int32_t startProcess();
  // audio thread or any thread, after processing stops (opcode 72)
  virtual int32_t stopProcess();
  // any thread
  virtual bool setPanLaw(int32_t type, float value);
  // any thread
  virtual int32_t beginLoadBank(VstPatchChunkInfo* info);
  // any thread
  virtual int32_t beginLoadProgram(VstPatchChunkInfo* info);
  // any thread
  virtual bool allocateArrangement(VstSpeakerArrangement** arrangement,
                                   int32_t channels);
  // any thread
  virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
  // any thread
  virtual bool copySpeaker(VstSpeakerProperties* to,
                           VstSpeakerProperties* from);
  // any thread
  virtual bool matchArrangement(VstSpeakerArrangement** to,
                                VstSpeakerArrangement* from);

  // Plain host wrappers.
  // any thread
  bool sendVstEventsToHost(VstEvents* events);
  // any thread
  bool closeFileSelector(VstFileSelect* selector);
  // any thread
  bool getChunkFile(void* nativePath);

 private:
  // Most host calls carry nothing but the opcode and, for the text and
  // record queries, a pointer; no callback answers 0.
  intptr_t askHost(int32_t opcode, void* ptr = nullptr) {
    return callHost(opcode, 0, 0, ptr, 0.0f, 0);
  }
};
