// The extended effect class: answers the extended dispatcher opcodes
// (EffectOpcode::kProcessEvents to kBeginLoadProgram), wraps the host
// callback's opcodes from HostOpcode::kWantEvents to
// kGetInputSpeakerArrangement, and gives every further operation an effect
// may override its default answer.
#pragma once

#include <cstdint>

#include "AudioEffect.h"
#include "timeRecord.h"

// Capability words: what an effect may ask the host (`canHostDo`) and what a
// host may ask the effect (EffectOpcode::kCanDo).
constexpr int kHostCanDoCount = 17;
constexpr int kPlugCanDoCount = 26;
extern const char* const hostCanDos[kHostCanDoCount];
extern const char* const plugCanDos[kPlugCanDoCount];

// Declarations stand under the thread that calls them, as in AudioEffect.
class AudioEffectX : public AudioEffect {
 public:
  // ---- host's main thread during open/close
  // In `main`.
  AudioEffectX(HostCallback callback, int32_t programCount,
               int32_t parameterCount);
  // kClose destroys the effect.
  ~AudioEffectX() override;

  // Setters of the record's fields and flag bits: the effect's constructor
  // calls them.
  virtual void wantAsyncOperation(bool state);
  virtual void hasExternalBuffer(bool state);
  virtual void isSynth(bool state = true);
  virtual void noTail(bool state = true);

  // ---- audio thread
  // While processing; the host's time record or null.
  virtual VstTimeInfo* getTimeInfo(int32_t filter);
  // EffectOpcode::kProcessEvents, before the block it belongs to.
  virtual int32_t processEvents(VstEvents* events);
  // A host reads it while processing.
  virtual int32_t reportCurrentPosition();
  // A host reads it while processing.
  virtual float* reportDestinationBuffer();
  // kProcessVariableIo.
  virtual bool processVariableIo(VstVariableIo* variableIo);

  // ---- any thread
  // The extended opcodes, EffectOpcode::kProcessEvents to kBeginLoadProgram;
  // the rest through the base class.
  intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) override;
  virtual EffectEditor* getEditor();
  virtual void wantEvents(int32_t filter = 1);
  virtual int32_t tempoAt(int32_t position);
  virtual int32_t getNumAutomatableParameters();
  virtual int32_t getParameterQuantization();
  virtual bool canParameterBeAutomated(int32_t index);
  virtual bool string2parameter(int32_t index, char* text);
  virtual float getChannelParameter(int32_t channel, int32_t index);
  virtual int32_t getNumCategories();
  virtual bool getProgramNameIndexed(int32_t category, int32_t index,
                                     char* text);
  virtual bool copyProgram(int32_t destination);
  virtual bool ioChanged();
  virtual bool needIdle();
  virtual bool sizeWindow(int32_t width, int32_t height);
  virtual float updateSampleRate();
  virtual int32_t updateBlockSize();
  virtual int32_t getInputLatency();
  virtual int32_t getOutputLatency();
  virtual AEffect* getPreviousPlug(int32_t input);
  virtual AEffect* getNextPlug(int32_t output);
  virtual void inputConnected(int32_t index, bool state);
  virtual void outputConnected(int32_t index, bool state);
  virtual bool getInputProperties(int32_t index, VstPinProperties* properties);
  virtual bool getOutputProperties(int32_t index, VstPinProperties* properties);
  virtual int32_t getPlugCategory();
  virtual int32_t willProcessReplacing();
  // Asks the host which thread this is.
  virtual int32_t getCurrentProcessLevel();
  virtual int32_t getAutomationState();
  virtual bool offlineRead(VstOfflineTask* offline, VstOfflineOption option,
                           bool readSource = true);
  virtual bool offlineWrite(VstOfflineTask* offline, VstOfflineOption option);
  virtual bool offlineStart(VstAudioFile* audioFiles, int32_t numAudioFiles,
                            int32_t numNewAudioFiles);
  virtual int32_t offlineGetCurrentPass();
  virtual int32_t offlineGetCurrentMetaPass();
  virtual bool offlineNotify(VstAudioFile* audioFiles, int32_t numAudioFiles,
                             bool start);
  virtual bool offlinePrepare(VstOfflineTask* offline, int32_t count);
  virtual bool offlineRun(VstOfflineTask* offline, int32_t count);
  virtual int32_t offlineGetNumPasses();
  virtual int32_t offlineGetNumMetaPasses();
  virtual void setOutputSamplerate(float rate);
  virtual VstSpeakerArrangement* getInputSpeakerArrangement();
  virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
  virtual bool getHostVendorString(char* text);
  virtual bool getHostProductString(char* text);
  virtual int32_t getHostVendorVersion();
  virtual intptr_t hostVendorSpecific(int32_t index, intptr_t value, void* ptr,
                                      float opt);
  virtual bool canHostDo(char* text);
  virtual int32_t getHostLanguage();
  virtual void* openWindow(VstWindow* window);
  virtual bool closeWindow(VstWindow* window);
  virtual void* getDirectory();
  virtual bool updateDisplay();
  virtual bool setSpeakerArrangement(VstSpeakerArrangement* inputs,
                                     VstSpeakerArrangement* outputs);
  virtual bool getSpeakerArrangement(VstSpeakerArrangement** inputs,
                                     VstSpeakerArrangement** outputs);
  virtual void setBlockSizeAndSampleRate(int32_t size, float rate);
  virtual bool setBypass(bool state);
  virtual bool getEffectName(char* name);
  virtual bool getErrorText(char* text);
  virtual bool getVendorString(char* text);
  virtual bool getProductString(char* text);
  virtual int32_t getVendorVersion();
  virtual intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr,
                                  float opt);
  virtual int32_t canDo(char* text);
  virtual void* getIcon();
  virtual bool setViewPosition(int32_t x, int32_t y);
  virtual int32_t getGetTailSize();
  virtual int32_t fxIdle();
  virtual bool getParameterProperties(int32_t index,
                                      VstParameterProperties* properties);
  virtual bool keysRequired();
  virtual int32_t getVstVersion();
  virtual int32_t getMidiProgramName(int32_t channel,
                                     MidiProgramName* programName);
  virtual int32_t getCurrentMidiProgram(int32_t channel,
                                        MidiProgramName* currentProgram);
  virtual int32_t getMidiProgramCategory(int32_t channel,
                                         MidiProgramCategory* category);
  virtual bool hasMidiProgramsChanged(int32_t channel);
  virtual bool getMidiKeyName(int32_t channel, MidiKeyName* keyName);
  virtual bool beginSetProgram();
  virtual bool endSetProgram();
  virtual bool beginEdit(int32_t index);
  virtual bool endEdit(int32_t index);
  virtual bool openFileSelector(VstFileSelect* selector);
  virtual int32_t setTotalSampleToProcess(int32_t value);
  virtual int32_t getNextShellPlugin(char* name);
  // kStartProcess, before processing starts; the audio thread too.
  virtual int32_t startProcess();
  // kStopProcess, after processing stops; the audio thread too.
  virtual int32_t stopProcess();
  virtual bool setPanLaw(int32_t type, float value);
  virtual int32_t beginLoadBank(VstPatchChunkInfo* info);
  virtual int32_t beginLoadProgram(VstPatchChunkInfo* info);
  virtual bool allocateArrangement(VstSpeakerArrangement** arrangement,
                                   int32_t channels);
  virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
  virtual bool copySpeaker(VstSpeakerProperties* to,
                           VstSpeakerProperties* from);
  virtual bool matchArrangement(VstSpeakerArrangement** to,
                                VstSpeakerArrangement* from);
  // Plain host wrappers.
  bool sendVstEventsToHost(VstEvents* events);
  bool closeFileSelector(VstFileSelect* selector);
  bool getChunkFile(void* nativePath);

 private:
  // Most host calls carry nothing but the opcode and, for the text and
  // record queries, a pointer; no callback answers 0.
  intptr_t askHost(int32_t opcode, void* ptr = nullptr) {
    return callHost(opcode, 0, 0, ptr, 0.0f, 0);
  }
};
