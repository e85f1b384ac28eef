// The demo: write the loop and its settings, render them, say where they are.
#include "Demo.h"

#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <system_error>

#include "AudioFiles.h"
#include "DemoLoop.h"
#include "FileReplacement.h"
#include "HostError.h"
#include "OutputPath.h"
#include "RenderCommand.h"

namespace korvane {

namespace {

namespace fs = std::filesystem;

// The demo's settings, as a parameter file the user can copy. The loop is 8
// sixteenths (one second at 120 bpm) and the capture two loops; the drums
// trigger it, the bass alone does not. "st rate", "pos" and "len" are
// fractions of that one-second loop, the one the render uses.
constexpr const char* kDemoParams =
    "# korvane demo settings: NAME = VALUE, values normalised 0..1\n"
    "bsize      = 0.112  # 8 sixteenths: a one-second loop at 120 bpm\n"
    "rec thrsh  = 0.3    # drum hits start a capture, the bass does not\n"
    "st rate    = 0.5    # 1420 samples: a grain every 2130 (before jitter)\n"
    "st jitter  = 0.4\n"
    "pos        = 0.25   # grains start an eighth note into the capture\n"
    "pos jitter = 0.5\n"
    "len        = 0.4    # grains of about 4450 samples\n"
    "len jitter = 0.3\n"
    "tp         = 0.75   # one octave up\n"
    "p jitter   = 0.05\n"
    "env        = 0.4    # flat-topped grains\n";

constexpr double kDemoTailSeconds = 2.0;

// The demo's files go where OUT would: links followed, a write-protected
// file kept unless `force`, and written through a replacement file.
void writeText(const fs::path& path, const std::string& text, bool force) {
  const OutputTarget target = resolveOutput(path.string(), force);
  if (!target.discard) writeTextFile(target.path, text);
}

void writeLoop(const fs::path& path, bool force) {
  const std::vector<float> loop = synthesiseDemoLoop();
  OutputFile file(resolveOutput(path.string(), force),
                  SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, kDemoSampleRate, 0.0);
  file.write(loop.data(), static_cast<int64_t>(loop.size() / 2));
  file.commit();
}

std::string describe(const RenderSummary& summary) {
  char text[96];
  std::snprintf(text, sizeof text, "%.1f s, peak %.2f, RMS %.3f",
                static_cast<double>(summary.frames) / kDemoSampleRate,
                static_cast<double>(summary.peak), summary.rms);
  return text;
}

// A word for a POSIX shell: as it is when it holds nothing the shell reads
// specially, else in single quotes.
std::string shellWord(const std::string& word) {
  constexpr const char* kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
      "_./-+=:,@%";
  if (!word.empty() && word.find_first_not_of(kPlain) == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The running tool's own path, so that the printed commands run as shown.
std::string toolPath() {
  std::error_code ec;
  const fs::path tool = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("korvane") : tool.string();
}

// The command line that repeats a render of the demo exactly.
std::string commandFor(const RenderOptions& options, const RenderResult& result,
                       const fs::path& params) {
  std::ostringstream command;
  command << shellWord(toolPath()) << " render " << shellWord(options.input)
          << " " << shellWord(options.output) << " --params "
          << shellWord(params.string()) << " --tail " << kDemoTailSeconds
          << " --seed " << result.seed;
  if (!options.plugin.empty())
    command << " --plugin " << shellWord(options.plugin);
  if (options.dry) command << " --dry";
  return command.str();
}

}  // namespace

void runDemo(const std::string& dir, const std::string& plugin, bool force,
             std::ostream& out) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw failure("cannot create directory " + dir + ": " + ec.message());
  const fs::path base(dir);
  const fs::path loop = base / "drum-loop.wav";
  const fs::path params = base / "demo.params";
  const fs::path wet = base / "drum-loop-korvane.wav";
  const fs::path mixed = base / "drum-loop-korvane-dry.wav";

  writeLoop(loop, force);
  // Settings the user has edited stay, unless asked otherwise.
  const bool keptParams = fs::exists(params, ec) && !force;
  if (!keptParams) writeText(params, kDemoParams, force);
  std::vector<Setting> settings = readParamsFile(params.string());

  RenderOptions options;
  options.input = loop.string();
  options.plugin = plugin;
  options.settings = settings;
  options.tailSeconds = kDemoTailSeconds;
  options.force = force;
  options.output = wet.string();
  const RenderResult wetResult = renderFile(options);
  const std::string wetCommand = commandFor(options, wetResult, params);
  options.output = mixed.string();
  options.dry = true;
  const RenderResult mixedResult = renderFile(options);
  const std::string mixedCommand = commandFor(options, mixedResult, params);

  out << "Synthesised a " << kDemoBars << "-bar drum-and-bass loop at "
      << kDemoTempo << " bpm (" << kDemoSampleRate << " Hz stereo) and "
      << "rendered it through korvane with a " << kDemoTailSeconds
      << " s tail.\n"
      << "  input:          " << loop.string() << "\n"
      << "  settings:       " << params.string()
      << (keptParams ? " (yours, kept; --force writes the demo's)" : "") << "\n"
      << "  grains alone:   " << wet.string() << " ("
      << describe(wetResult.summary) << ")\n"
      << "  grains + loop:  " << mixed.string() << " ("
      << describe(mixedResult.summary) << ")\n"
      << "The same renders by hand:\n"
      << "  " << wetCommand << "\n"
      << "  " << mixedCommand << "\n";
}

Command addDemoCommand(CLI::App& app) {
  struct DemoOptions {
    std::string dir = "demo";
    std::string plugin;
    bool force = false;
  };
  auto options = std::make_shared<DemoOptions>();
  CLI::App* demo = app.add_subcommand(
      "demo", "Synthesise a loop, render it through korvane, write both");
  demo->add_option("DIR", options->dir,
                   "Where the files go (default " + options->dir + "/)");
  addPluginOption(*demo, options->plugin);
  demo->add_flag("--force", options->force,
                 "Write demo.params even when it exists (the settings you "
                 "edited are replaced)");
  return {demo, [options] {
            runDemo(options->dir, options->plugin, options->force, std::cout);
          }};
}

}  // namespace korvane
