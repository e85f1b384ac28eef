// The effect object: construction, destruction, program name and identity.
#include "myfx.h"

#include <cstring>
#include <ctime>
#include <new>

#include "identity.h"
#include "seedExtension.h"

namespace {
// Copies a text into a buffer of `size` bytes, cutting it to fit; reads no
// further into `from` than fits, in case the host's text is unterminated.
void copyText(char* to, const char* from, std::size_t size) {
  const std::size_t length = strnlen(from, size - 1);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

// Copies an identity text whole, terminator included; ignores a null buffer.
bool putText(char* to, const char* from) {
  if (to == nullptr) return false;
  std::strcpy(to, from);
  return true;
}
}  // namespace

myfx::myfx(HostCallback callback)
    : AudioEffectX(callback, kNumPrograms, kNumParams) {
  setNumInputs(2);
  setNumOutputs(2);
  setUniqueID(identity::kUniqueId);
  canMono(true);
  canProcessReplacing(true);
  copyText(programName, identity::kDefaultProgramName, sizeof programName);

  const int32_t rate = static_cast<int32_t>(getSampleRate());
  rateInUse = rate;
  bufferCapacity = kCaptureSeconds * rate;
  loopLength = rate;
  tempoQueried = false;
  storeParameterDefaults();

  // Cleared, so that cells no capture has written yet play silence.
  recordBufferLeft = new (std::nothrow) float[bufferCapacity]();
  recordBufferRight = new (std::nothrow) float[bufferCapacity]();

  tempo = kFallbackTempo;
  resetRunningState();

  random.seed(static_cast<uint32_t>(std::time(nullptr)));
}

myfx::~myfx() {
  delete[] recordBufferLeft;
  delete[] recordBufferRight;
}

// Keeps at most 31 characters: the name field holds 32 bytes.
void myfx::setProgramName(char* name) {
  if (name != nullptr) copyText(programName, name, sizeof programName);
}

void myfx::getProgramName(char* name) { putText(name, programName); }

int32_t myfx::getPlugCategory() { return identity::kCategoryEffect; }

bool myfx::getEffectName(char* name) {
  return putText(name, identity::kEffectName);
}

bool myfx::getVendorString(char* text) {
  return putText(text, identity::kVendorString);
}

bool myfx::getProductString(char* text) {
  return putText(text, identity::kProductString);
}

int32_t myfx::getVendorVersion() { return identity::kVendorVersion; }

// Byte-wise, case-sensitive; never answers 0.
int32_t myfx::canDo(char* text) {
  if (text != nullptr && std::strcmp(text, identity::kOnlyCapability) == 0) {
    return identity::kCanDoYes;
  }
  return identity::kCanDoNo;
}

intptr_t myfx::vendorSpecific(int32_t index, intptr_t value, void* ptr,
                              float opt) {
  if (index != seedExtension::kIndex) {
    return AudioEffectX::vendorSpecific(index, value, ptr, opt);
  }
  // The seed is the value's low 32 bits, whatever the pointer width.
  random.seed(static_cast<uint32_t>(value));
  return seedExtension::kTaken;
}
