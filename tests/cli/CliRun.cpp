// Process spawning and scratch directories for the tool's end-to-end tests.
#include "CliRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

void CliTest::SetUp() {
  std::string pattern =
      (fs::temp_directory_path() / "korvane-cli-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void CliTest::TearDown() { fs::remove_all(dir_); }

std::string CliTest::path(const std::string& name) const {
  return (fs::path(dir_) / name).string();
}

std::vector<std::string> CliTest::files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    // The tool's standard streams are the runner's, not the tool's files.
    if (name != ".stdin" && name != ".stdout" && name != ".stderr") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

CliResult CliTest::run(const std::vector<std::string>& args,
                       const Environment& environment) const {
  return finish(start(args, environment));
}

pid_t CliTest::start(const std::vector<std::string>& args,
                     const Environment& environment) const {
  std::vector<std::string> argStrings = launcher_;
  argStrings.push_back(tool_);
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The given variables first: getenv takes the first of a name. The
  // tool's scratch files go into the test's folder.
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : environment) {
    envStrings.push_back(name + "=" + value);
  }
  envStrings.push_back("TMPDIR=" + dir_);
  for (char** e = environ; *e != nullptr; ++e) envStrings.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Standard input is an empty file of the test's own folder: the tool
  // reads nothing from it, and no system file is involved.
  const std::string inPath = path(".stdin");
  writeText(inPath, "");
  const std::string outPath = path(".stdout");
  const std::string errPath = path(".stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(),
                                   O_RDONLY, 0);
  const int streamFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY;
  posix_spawn_file_actions_addopen(
      &actions, STDOUT_FILENO,
      stdoutPath_.empty() ? outPath.c_str() : stdoutPath_.c_str(), streamFlags,
      0644);
  posix_spawn_file_actions_addopen(
      &actions, STDERR_FILENO,
      stderrPath_.empty() ? errPath.c_str() : stderrPath_.c_str(), streamFlags,
      0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
  // The child inherits the limit and the ignored signals at the spawn; the
  // runner's own are restored right after it.
  rlimit limit = {};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit runnerLimit = limit;
  limit.rlim_cur = std::min(fileSizeLimit_, limit.rlim_max);
  setrlimit(RLIMIT_FSIZE, &limit);
  std::vector<struct sigaction> runnerActions(ignoredSignals_.size());
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  for (std::size_t i = 0; i < ignoredSignals_.size(); ++i) {
    sigaction(ignoredSignals_[i], &ignore, &runnerActions[i]);
  }
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(),
                   envp.data()) != 0) {
    pid = 0;
  }
  for (std::size_t i = 0; i < ignoredSignals_.size(); ++i) {
    sigaction(ignoredSignals_[i], &runnerActions[i], nullptr);
  }
  setrlimit(RLIMIT_FSIZE, &runnerLimit);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

CliResult CliTest::finish(pid_t pid) const {
  CliResult result;
  if (pid > 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string outPath = path(".stdout");
  const std::string errPath = path(".stderr");
  result.out = readText(outPath);
  result.err = readText(errPath);
  fs::remove(path(".stdin"));
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}

void CliTest::awaitLog(const std::string& word) const {
  for (int wait = 0; wait < 1000; ++wait) {
    if (readText(path("log.txt")).find(word) != std::string::npos) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the plug-in never logged " << word;
}

Environment faultyCalls(const std::string& name, const std::string& value) {
  // AddressSanitizer's runtime wants to be loaded first, and is not.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {{"LD_PRELOAD", FAULTY_CALLS_PATH},
          {"ASAN_OPTIONS",
           (asan ? asan : "") + std::string(":verify_asan_link_order=0")},
          {name, value}};
}

std::string readText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}
