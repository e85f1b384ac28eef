// A real LV2 host: lv2apply renders a file through korvane.lv2 equal, sample
// for sample, to `korvane render` with the same settings at 120 bpm, each
// port with a value of its own so that two mixed up show. The jitters stay
// at 0, so that no seed is needed.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "TestAudio.h"
#include "portLayout.h"

namespace {
class Lv2apply : public CliTest, public ::testing::WithParamInterface<int> {};

TEST_P(Lv2apply, EqualsKorvaneRender) {
  const int rate = GetParam();
  // Each setting as (symbol, lv2apply's -c value, korvane render's --set).
  const std::vector<std::vector<std::array<const char*, 3>>> cases = {
      {},  // every port at its default
      {{"bsize", "5", "bsize=5/16"},
       {"tp", "-12", "tp=-12st"},
       {"pos", "0.4", "pos=0.4"},
       {"len", "0.2", "len=0.2"},
       {"st_rate", "0.3", "st-rate=0.3"},
       {"env", "2.5", "env=0.3"},
       {"rec_thrsh", "0.05", "rec-thrsh=0.05"}}};
  // LV2_PATH names the test's folder alone. Under AddressSanitizer lv2apply
  // loads its runtime first; lv2apply's own leaks are not ours.
  std::vector<std::pair<std::string, std::string>> environment = {
      {"LV2_PATH", path("lv2")}};
#ifdef __SANITIZE_ADDRESS__
  Dl_info runtime{};
  ASSERT_NE(dladdr(dlsym(RTLD_DEFAULT, "__asan_init"), &runtime), 0);
  environment.push_back({"LD_PRELOAD", runtime.dli_fname});
  environment.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
#endif
  writeAudio(path("in.wav"), testSignal(2, rate, 3 * rate));
  std::filesystem::create_directory(path("lv2"));
  std::filesystem::create_directory_symlink(KORVANE_LV2_BUNDLE,
                                            path("lv2/korvane.lv2"));
  for (const auto& settings : cases) {
    std::vector<std::string> lv2 = {"-i", "in.wav", "-o", "lv2.wav"};
    std::vector<std::string> tool = {"render", "in.wav", "tool.wav", "-q"};
    for (const auto& [symbol, port, set] : settings) {
      lv2.insert(lv2.end(), {"-c", symbol, port});
      tool.insert(tool.end(), {"--set", set});
    }
    lv2.push_back(lv2face::kPluginUri);
    tool_ = "lv2apply";
    const CliResult applied = run(lv2, environment);
    ASSERT_EQ(applied.exitCode, 0) << applied.err;
    tool_ = KORVANE_TOOL;
    const CliResult rendered = run(tool);
    ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
    const Audio a = readAudio(path("lv2.wav")), b = readAudio(path("tool.wav"));
    EXPECT_EQ(a.sampleRate, rate);
    EXPECT_EQ(a.samples, b.samples) << settings.size() << " settings";
    EXPECT_TRUE(std::any_of(a.samples.begin(), a.samples.end(),
                            [](float v) { return v != 0.0f; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, Lv2apply, ::testing::Values(44100, 48000));
}  // namespace
