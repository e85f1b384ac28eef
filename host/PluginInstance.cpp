// dlopen, the `main` entry point and the dispatcher calls of a host.
#include "PluginInstance.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "ChannelBuffers.h"
#include "Defaults.h"
#include "HostError.h"
#include "opcodes.h"
#include "seedExtension.h"

namespace korvane {

namespace {
// Text buffers handed to the plug-in: far more than any text it should
// write, so that an overlong one still lands inside the buffer. What it
// wrote is cut to kMaxTextLength characters.
constexpr std::size_t kTextBufferBytes = 64 * 1024;
constexpr std::size_t kMaxTextLength = 63;

// Counts beyond these are a broken record, not a plug-in to allocate for.
constexpr int32_t kMaxParameters = 1024;
constexpr int32_t kMaxChannels = 64;

// Why the record's counts or entry points cannot be driven; empty when they
// can.
std::string recordFault(const AEffect& effect) {
  const auto outside = [](int32_t count, int32_t most) {
    return count < 0 || count > most;
  };
  if (outside(effect.numParams, kMaxParameters)) {
    return "reports " + std::to_string(effect.numParams) +
           " parameters (at most " + std::to_string(kMaxParameters) +
           " are accepted)";
  }
  if (outside(effect.numInputs, kMaxChannels) ||
      outside(effect.numOutputs, kMaxChannels)) {
    return "reports " + std::to_string(effect.numInputs) + " inputs and " +
           std::to_string(effect.numOutputs) + " outputs (at most " +
           std::to_string(kMaxChannels) + " each are accepted)";
  }
  if (effect.numParams > 0 &&
      (effect.getParameter == nullptr || effect.setParameter == nullptr)) {
    return "reports " + std::to_string(effect.numParams) +
           " parameters but has no " +
           (effect.getParameter == nullptr ? "getParameter" : "setParameter") +
           " routine";
  }
  return "";
}
// True when `record` may be read as a record: outside the first page
// (where no object lives; small numbers are not addresses), aligned for
// the record, and readable throughout. Readability is asked of the kernel
// by writing the bytes into a pipe, which fails with EFAULT instead of
// faulting the tool.
bool couldBeRecord(const AEffect* record) {
  const auto address = reinterpret_cast<std::uintptr_t>(record);
  const long page = sysconf(_SC_PAGESIZE);
  if (address < static_cast<std::uintptr_t>(page > 0 ? page : 4096) ||
      address % alignof(AEffect) != 0) {
    return false;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return true;  // cannot ask; trust it
  const ssize_t wrote = write(ends[1], record, sizeof(AEffect));
  close(ends[0]);
  close(ends[1]);
  return wrote == static_cast<ssize_t>(sizeof(AEffect));
}

std::string addressText(const void* address) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", address);
  return text;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  struct stat status = {};
  if (stat(path.c_str(), &status) != 0) {
    throw failure("cannot load plug-in library " + path + ": " +
                  std::strerror(errno));
  }
  // A path without a slash would make dlopen search the library path.
  std::string loadPath =
      path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw failure("cannot load plug-in library " + path + ": " +
                  (reason != nullptr ? reason : "unknown reason"));
  }
  void* symbol = dlsym(handle_, "main");
  if (symbol == nullptr) {
    dlclose(handle_);
    throw failure("plug-in library " + path + " has no entry point `main`");
  }
  entry_ = reinterpret_cast<EntryPoint>(symbol);
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

AEffect* PluginLibrary::callMain() const { return entry_(&hostCallback); }

PluginInstance::PluginInstance(const PluginLibrary& library,
                               HostContext& context)
    : context_(context), library_(library.path()) {
  AEffect* const answer = library.callMain();
  if (answer == nullptr) {
    throw failure("plug-in " + library.path() +
                  " declined to create an effect (`main` answered null)");
  }
  if (!couldBeRecord(answer)) {
    throw failure("plug-in " + library.path() +
                  " answered an address that cannot hold an effect record (" +
                  addressText(answer) + ")");
  }
  effect_ = answer;
  if (effect_->magic != kEffectMagic || effect_->dispatcher == nullptr) {
    // Not a record we can drive, and not one we may safely close either.
    throw failure("plug-in " + library.path() +
                  " answered something that is not an effect record");
  }
  effect_->user = &context_;
  std::string fault = recordFault(*effect_);
  if (fault.empty()) {
    dispatch(EffectOpcode::kOpen);
    fault = recordFault(*effect_);  // open may change the counts
  }
  if (!fault.empty()) {
    dispatch(EffectOpcode::kClose);
    throw failure("plug-in " + library.path() + " " + fault);
  }
  textBuffer_.resize(kTextBufferBytes);
}

void PluginInstance::checkRecord() const {
  const std::string fault = recordFault(*effect_);
  if (!fault.empty()) throw failure("plug-in " + library_ + " " + fault);
}

PluginInstance::~PluginInstance() {
  if (resumed_) suspend();
  // The plug-in destroys the effect on close; the record is gone after it.
  dispatch(EffectOpcode::kClose);
}

intptr_t PluginInstance::dispatch(int32_t opcode, int32_t index, intptr_t value,
                                  void* ptr, float opt) const {
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginInstance::text(int32_t opcode, int32_t index) const {
  std::fill(textBuffer_.begin(), textBuffer_.end(), '\0');
  dispatch(opcode, index, 0, textBuffer_.data());
  return std::string(textBuffer_.data(),
                     strnlen(textBuffer_.data(), kMaxTextLength));
}

std::string PluginInstance::parameterName(int32_t index) const {
  return text(EffectOpcode::kGetParameterName, index);
}

void PluginInstance::setStream(double sampleRate, int32_t blockSize) {
  context_.setStream(sampleRate, blockSize);
  dispatch(EffectOpcode::kSetSampleRate, 0, 0, nullptr,
           static_cast<float>(sampleRate));
  dispatch(EffectOpcode::kSetBlockSize, 0, blockSize);
}

bool PluginInstance::sendSeed(uint32_t seed) const {
  return dispatch(seedExtension::kOpcode, seedExtension::kIndex,
                  static_cast<intptr_t>(seed)) == seedExtension::kTaken;
}

void PluginInstance::resume() {
  dispatch(EffectOpcode::kSuspendResume, 0, 1);
  resumed_ = true;
}

void PluginInstance::suspend() {
  dispatch(EffectOpcode::kSuspendResume, 0, 0);
  resumed_ = false;
}

void PluginInstance::processFirstSample() {
  constexpr int32_t kFrames = 1;
  constexpr int kStereo = 2;
  ChannelBuffers silence(kStereo, effect_->numInputs, effect_->numOutputs,
                         kFrames);  // cleared on construction
  resume();
  if (offersReplacing()) {
    effect_->processReplacing(effect_, silence.inputs(), silence.outputs(),
                              kFrames);
  } else if (effect_->process != nullptr) {
    effect_->process(effect_, silence.inputs(), silence.outputs(), kFrames);
  }
  suspend();
}

std::string defaultPluginPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path tool = fs::read_symlink("/proc/self/exe", ec);
  if (ec)
    throw failure("cannot find the tool's own directory: " + ec.message());
  const fs::path dir = tool.parent_path();
  // Beside the tool in the build tree; under lib/vst once installed.
  for (const fs::path& candidate :
       {dir / defaults::kPluginFile,
        dir / ".." / "lib" / "vst" / defaults::kPluginFile}) {
    if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
  }
  throw failure(std::string("no ") + defaults::kPluginFile +
                " beside the tool in " + dir.string() +
                "; build it or pass --plugin");
}

}  // namespace korvane
