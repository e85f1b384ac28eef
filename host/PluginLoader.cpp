// dlopen, the `main` entry point and the dispatcher calls of a host.
#include "PluginLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "HostError.h"
#include "opcodes.h"

namespace korvane {

namespace {
// Text buffers handed to the plug-in: far more than any text it should
// write, so that an overlong one still lands inside the buffer.
constexpr std::size_t kTextBufferBytes = 512;
constexpr const char* kPluginFileName = "korvane.so";
}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    throw failure("plug-in library " + path + " does not exist");
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
    : context_(context) {
  effect_ = library.callMain();
  if (effect_ == nullptr) {
    throw failure("plug-in " + library.path() +
                  " declined to create an effect (`main` answered null)");
  }
  if (effect_->magic != kEffectMagic || effect_->dispatcher == nullptr) {
    // Not a record we can drive, and not one we may safely close either.
    throw failure("plug-in " + library.path() +
                  " answered something that is not an effect record");
  }
  effect_->user = &context_;
  dispatch(EffectOpcode::kOpen);
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
  std::vector<char> buffer(kTextBufferBytes, '\0');
  dispatch(opcode, index, 0, buffer.data());
  buffer.back() = '\0';
  return buffer.data();
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

void PluginInstance::resume() {
  dispatch(EffectOpcode::kSuspendResume, 0, 1);
  resumed_ = true;
}

void PluginInstance::suspend() {
  dispatch(EffectOpcode::kSuspendResume, 0, 0);
  resumed_ = false;
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
       {dir / kPluginFileName, dir / ".." / "lib" / "vst" / kPluginFileName}) {
    if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
  }
  throw failure(std::string("no ") + kPluginFileName + " beside the tool in " +
                dir.string() + "; build it or pass --plugin");
}

}  // namespace korvane
