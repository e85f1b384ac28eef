// Runs the built korvane tool in a scratch directory and captures its output.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// Environment variables, as NAME and VALUE.
using Environment = std::vector<std::pair<std::string, std::string>>;

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A test fixture with its own scratch directory, removed afterwards.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A path inside the scratch directory.
  std::string path(const std::string& name) const;
  // The names of the files in the scratch directory, sorted.
  std::vector<std::string> files() const;

  // Runs the tool with `args`, from the scratch directory, with the given
  // environment variables in place of inherited ones of the same names.
  CliResult run(const std::vector<std::string>& args,
                const Environment& environment = {}) const;
  // The same in two steps: start the tool, and later wait for it. The exit
  // code of a tool killed by a signal is -1.
  pid_t start(const std::vector<std::string>& args,
              const Environment& environment = {}) const;
  CliResult finish(pid_t pid) const;
  // Waits until log.txt (the tiny plug-in's log, by TINYFX_LOG) holds `word`.
  void awaitLog(const std::string& word) const;

  std::string dir_;
  // Applied to the tools started from now on: the size limit of the files
  // they write (RLIMIT_FSIZE, in bytes), signals they start with ignored
  // (as under nohup), and other files for their standard output or error
  // (a terminal, a full device). The runner sets them around the spawn
  // only, so that the test itself is not limited.
  rlim_t fileSizeLimit_ = RLIM_INFINITY;
  std::vector<int> ignoredSignals_;
  std::string stdoutPath_;
  std::string stderrPath_;
  // A command that starts the tool (setpriv, to run it as another user),
  // and the tool it starts.
  std::vector<std::string> launcher_;
  std::string tool_ = KORVANE_TOOL;
};

// The environment that preloads the faulty calls library (faultyCalls.cpp)
// into the tool, with its setting `name`=`value`.
Environment faultyCalls(const std::string& name, const std::string& value);

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
