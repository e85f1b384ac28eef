// `korvane info`: identity, record and the parameter table, settings applied.
#include "CliRun.h"

namespace {

using Info = CliTest;

// The table row of a parameter: its line of the output.
std::string row(const std::string& out, const std::string& name) {
  const std::size_t at = out.find("  " + name + "  ");
  if (at == std::string::npos) return "";
  const std::size_t start = out.rfind('\n', at) + 1;
  return out.substr(start, out.find('\n', at) - start);
}

TEST_F(Info, ShowsKorvanesIdentityAndParameters) {
  const CliResult r = run({"info"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* expected :
       {"effect name:    korvane\n", "vendor:         zvk\n",
        "vendor version: 1000\n", "unique id:      GmSt (1198347124)\n",
        "inputs:         2\n", "outputs:        2\n",
        "programs:       1, current 0 \"Default\"\n",
        "flags:          0x18 canMono canProcessReplacing\n",
        "category:       1 (effect)\n", "  receiveVstTimeInfo  yes\n",
        "parameters:     11\n"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << r.out;
  }
  EXPECT_NE(row(r.out, "st rate").find("samples"), std::string::npos);
  EXPECT_NE(row(r.out, "st rate").find("882"), std::string::npos) << r.out;
}

TEST_F(Info, ShowsTheValuesThatSetGives) {
  const CliResult r = run({"info", "--set", "TP=1", "--set", "rec_thrsh=0.25"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(row(r.out, "tp").find("1.000000    24"), std::string::npos)
      << r.out;
  EXPECT_NE(row(r.out, "rec thrsh").find("0.250000"), std::string::npos)
      << r.out;
}

// "st rate", "pos" and "len" count samples of the loop that the render's
// tempo and "bsize" give, as a render starts with them.
TEST_F(Info, ShowsTheSampleCountsARenderAtTheTempoStartsWith) {
  const std::vector<std::string> settings = {
      "--set", "bsize=0.5", "--set", "pos=0.5", "--set", "st-rate=1"};
  auto info = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "info");
    args.insert(args.end(), settings.begin(), settings.end());
    return run(args);
  };
  // 32 sixteenths: 176400 samples at 120 bpm, 235200 at 90.
  const CliResult standard = info({});
  ASSERT_EQ(standard.exitCode, 0) << standard.err;
  EXPECT_NE(row(standard.out, "pos").find("0.500000    88200"),
            std::string::npos)
      << standard.out;
  EXPECT_NE(row(standard.out, "st rate").find("1.000000    11067"),
            std::string::npos)
      << standard.out;
  const CliResult slower = info({"--tempo", "90"});
  ASSERT_EQ(slower.exitCode, 0) << slower.err;
  EXPECT_NE(row(slower.out, "pos").find("0.500000    117600"),
            std::string::npos)
      << slower.out;
  EXPECT_EQ(info({"--tempo", "none"}).out, standard.out);  // korvane's 120
  // At 48 kHz the same 32 sixteenths last as long: 192000 samples.
  const CliResult at48 = info({"--rate", "48000"});
  ASSERT_EQ(at48.exitCode, 0) << at48.err;
  EXPECT_NE(row(at48.out, "pos").find("0.500000    96000"), std::string::npos)
      << at48.out;
  EXPECT_EQ(info({"--rate", "44100"}).out, standard.out);

  const std::pair<std::vector<std::string>, const char*> bad[] = {
      {{"--tempo", "0"}, "--tempo takes beats per minute from 1 to 1000"},
      {{"--rate", "0"}, "--rate takes a whole number of Hz from 1 to"},
      {{"--rate", "44.1k"}, "--rate takes a whole number of Hz from 1 to"}};
  for (const auto& [args, message] : bad) {
    const CliResult r = info(args);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

TEST_F(Info, LoadsAnotherPluginByPath) {
  const CliResult r =
      run({"info", "--plugin", TINYFX_PATH, "--set", "out level=0.75"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("effect name:    tinyfx\n"), std::string::npos);
  EXPECT_NE(r.out.find("TnFx"), std::string::npos);
  EXPECT_NE(row(r.out, "out level").find("0.750000"), std::string::npos)
      << r.out;
}

}  // namespace

namespace {

TEST_F(Info, ShowsEachRangeInThePluginsUnitsAndTheDelay) {
  const CliResult r = run({"info", "--set", "tp=1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("delay:          0 samples\n"), std::string::npos);
  // The ranges are those of the render's first sample: the loop-relative
  // ones count samples of the loop at 120 bpm and 16 sixteenths.
  const struct {
    const char* name;
    const char* range;
  } rows[] = {{"bsize", "  1 .. 64"},
              {"tp", "  -24 .. 24"},
              {"pos", "  0 .. 88200"},
              {"len", "  42 .. 22092"},
              {"env", "  1.000000 .. 6.000000"}};
  for (const auto& expected : rows) {
    const std::string line = row(r.out, expected.name);
    EXPECT_EQ(line.substr(line.size() - std::string(expected.range).size()),
              expected.range)
        << r.out;
  }
  const CliResult tiny =
      run({"info", "--plugin", TINYFX_PATH}, {{"TINYFX_DELAY", "100"}});
  ASSERT_EQ(tiny.exitCode, 0) << tiny.err;
  EXPECT_NE(tiny.out.find("delay:          100 samples\n"), std::string::npos);
  EXPECT_NE(row(tiny.out, "out level").find("1.0000   0.0000 .. 1.0000"),
            std::string::npos)
      << tiny.out;
}

// A count of samples is found in the loop the render will use, whatever the
// order of the settings that make that loop: 32 sixteenths at 90 bpm are
// 235200 samples, so 58800 samples are a quarter of it.
TEST_F(Info, SampleCountsAreFoundInTheRendersLoop) {
  const CliResult r = run({"info", "--tempo", "90", "--set", "pos=58800samples",
                           "--set", "bsize=0.5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pos = row(r.out, "pos");
  EXPECT_NE(pos.find("0.250000"), std::string::npos) << r.out;
  EXPECT_NE(pos.find("58800"), std::string::npos) << r.out;
  EXPECT_NE(pos.find("0 .. 235200"), std::string::npos) << r.out;
}

TEST_F(Info, SetTakesValuesInThePluginsUnits) {
  const CliResult r =
      run({"info", "--set", "tp=12st", "--set", "bsize=8/16", "--set",
           "pos=2000samples", "--set", "env=3u", "--set", "len=42 SAMPLES",
           "--set", "st rate=-1.5e0u"});
  ASSERT_EQ(r.exitCode, 2) << r.err;  // st rate starts at 42 samples
  EXPECT_EQ(r.err,
            "korvane: --set: no value of \"st rate\" shows -1.5 u; it ranges "
            "from 42 to 2798 samples\n");
  const CliResult ok =
      run({"info", "--set", "tp=12st", "--set", "bsize=8/16", "--set",
           "pos=2000samples", "--set", "env=3u", "--set", "len=42 SAMPLES"});
  ASSERT_EQ(ok.exitCode, 0) << ok.err;
  // Stepped parameters get the middle of their step.
  EXPECT_NE(row(ok.out, "tp").find("0.750000    12 "), std::string::npos)
      << ok.out;
  EXPECT_NE(row(ok.out, "bsize").find("  8 "), std::string::npos) << ok.out;
  EXPECT_NE(row(ok.out, "pos").find("  2000 "), std::string::npos) << ok.out;
  EXPECT_NE(row(ok.out, "env").find("  3.000000 "), std::string::npos)
      << ok.out;
  EXPECT_NE(row(ok.out, "len").find("0.000000    42 "), std::string::npos)
      << ok.out;
}

TEST_F(Info, ValuesNoSettingShowsAreRefusedWithTheRange) {
  const struct {
    const char* set;
    const char* message;
  } cases[] = {
      {"tp=25st",
       "no value of \"tp\" shows 25 st; it ranges from -24 to 24 semitones"},
      {"tp=0.5st", "no value of \"tp\" shows 0.5 st"},
      {"tp=12dB",
       "\"tp\" has no unit \"dB\"; give a normalised value, or a "
       "number followed by \"semitones\" or \"u\""},
      {"env=3st",
       "\"env\" has no unit \"st\"; give a normalised value, or a "
       "number followed by \"u\""},
      {"tp=1.5", "values are normalised, from 0 to 1"},
  };
  for (const auto& c : cases) {
    const CliResult r = run({"info", "--set", c.set});
    EXPECT_EQ(r.exitCode, 2) << c.set;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
