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

  const CliResult bad = info({"--tempo", "0"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("--tempo takes beats per minute from 1 to 1000"),
            std::string::npos)
      << bad.err;
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
