// Data safety: OUT is replaced only by a file that reads back whole, every
// file the tool writes is created exclusively beside its target, signals
// (ignored ones too) and write errors of the standard streams are handled,
// OUT keeps its mode, and --dry lines up with a compensated delay.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

class Safety : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 48000, 4800));
  }
  mode_t modeOf(const std::string& name) const {
    struct stat status = {};
    EXPECT_EQ(stat(path(name).c_str(), &status), 0) << name;
    return status.st_mode & 07777;
  }
};

// A write that fails part-way (the file size limit, and a disk that fills
// up) is exit 1 with OUT named, for every container, also for the encoders
// that do not report it: the old OUT stays and no temporary is left; a
// full disk is called so, and the message says whether a file was kept. The
// same render without a limit succeeds, and the tool is never killed by
// SIGXFSZ.
TEST_F(Safety, OnlyAWholeFileReplacesOut) {
  constexpr rlim_t kLimit = 16 * 1024;
  for (const char* out :
       {"out.wav", "out.aiff", "out.flac", "out.ogg", "out.mp3", "out.opus"}) {
    const CliResult whole = run({"render", "in.wav", out, "-q", "--tail", "4"});
    if (whole.err.find("cannot write .") != std::string::npos) continue;
    ASSERT_EQ(whole.exitCode, 0) << out << ": " << whole.err;
    EXPECT_EQ(readAudio(path(out)).frames(), 4800 + 4 * 48000) << out;
    const auto size = fs::file_size(path(out));
    ASSERT_GT(size, kLimit) << out;

    // The size limit over an old OUT, a full disk over one and over none.
    for (const int fault : {0, 1, 2}) {
      if (fault < 2) writeText(path(out), "keep me");
      if (fault == 2) fs::remove(path(out));
      const std::vector<std::string> before = files();
      fileSizeLimit_ = fault == 0 ? kLimit : RLIM_INFINITY;
      const CliResult cut =
          run({"render", "in.wav", out, "-q", "--tail", "4"},
              fault > 0 ? faultyCalls("FAULTY_BYTES", std::to_string(size - 5))
                        : Environment{});
      fileSizeLimit_ = RLIM_INFINITY;
      std::string said = cut.err;
      std::transform(said.begin(), said.end(), said.begin(), ::tolower);
      EXPECT_EQ(cut.exitCode, 1) << out << ": " << cut.err;
      EXPECT_EQ(cut.err.find("korvane: error writing " + std::string(out)), 0u)
          << cut.err;
      if (fault > 0) {
        EXPECT_NE(said.find("no space left on device"), std::string::npos)
            << cut.err;
      }
      EXPECT_NE(said.find(fault < 2 ? "; the file that was there is kept\n"
                                    : "; no file was created\n"),
                std::string::npos)
          << cut.err;
      EXPECT_EQ(files(), before) << out;
      EXPECT_EQ(readText(path(out)), fault < 2 ? "keep me" : "") << out;
    }
  }
}

// The demo's files are written as OUT is: a link planted at the name the
// demo once used for its temporary file leads nowhere, and its files get a
// new file's mode.
TEST_F(Safety, TheDemoWritesThroughTheSamePath) {
  fs::create_directory(path("d"));
  writeText(path("victim.txt"), "not the demo's");
  fs::create_symlink("../victim.txt", path("d/demo.params.tmp"));
  const mode_t mask = umask(022);
  const CliResult r = run({"demo", "d", "--force"});
  umask(mask);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readText(path("victim.txt")), "not the demo's");
  EXPECT_TRUE(fs::is_symlink(path("d/demo.params.tmp")));
  for (const char* name :
       {"d/demo.params", "d/drum-loop.wav", "d/drum-loop-korvane.wav"}) {
    EXPECT_EQ(modeOf(name), 0644u) << name;
  }
  // Nothing else in the folder: no temporary was left.
  EXPECT_EQ(std::distance(fs::directory_iterator(path("d")),
                          fs::directory_iterator()),
            5);
}

// A signal the tool was started with ignored stays ignored; the others
// still end it cleanly.
TEST_F(Safety, InheritedIgnoredSignalsStayIgnored) {
  for (const int ignored : {SIGINT, SIGHUP}) {
    ignoredSignals_ = {ignored};
    const pid_t pid =
        start({"render", "in.wav", "out.wav", "--plugin", TINYFX_PATH},
              {{"TINYFX_HANG", "1"}, {"TINYFX_LOG", path("log.txt")}});
    ignoredSignals_.clear();
    ASSERT_GT(pid, 0);
    awaitLog("resume");
    kill(pid, ignored);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0)
        << "signal " << ignored << " ended the tool";
    kill(pid, SIGTERM);
    const CliResult r = finish(pid);
    EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.err;
    EXPECT_EQ(files(), (std::vector<std::string>{"in.wav", "log.txt"}));
    fs::remove(path("log.txt"));
  }
}

// Ctrl-C while the progress bar is drawn: the message starts a line of its
// own. The bar shows the time elapsed and left; -q draws none. The bar
// needs a terminal, so stderr is a pseudo-terminal here.
TEST_F(Safety, TheProgressBarShowsTimesEndsItsLineAndQuietHidesIt) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    GTEST_SKIP() << "no pseudo-terminal on this system";
  }
  writeAudio(path("long.wav"), testSignal(1, 8000, 80000));
  stderrPath_ = ptsname(terminal);
  const pid_t pid =
      start({"render", "long.wav", "out.wav", "--plugin", TINYFX_PATH},
            {{"TINYFX_HANG_AFTER", "70000"}, {"TINYFX_LOG", path("log.txt")}});
  stderrPath_.clear();
  ASSERT_GT(pid, 0);
  awaitLog("replacing");
  std::string shown;
  char buffer[256];
  // The bar is drawn once the first chunk is written.
  while (shown.find('%') == std::string::npos) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    ASSERT_GT(got, 0);
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  kill(pid, SIGINT);
  EXPECT_EQ(finish(pid).exitCode, 128 + SIGINT);
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  // The terminal turns "\n" into "\r\n".
  EXPECT_NE(shown.find(" elapsed, "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" left\r\nkorvane: interrupted (SIGINT)"),
            std::string::npos)
      << shown;

  stderrPath_ = ptsname(terminal);
  EXPECT_EQ(run({"render", "long.wav", "q.wav", "--plugin", TINYFX_PATH, "-q"})
                .exitCode,
            0);
  stderrPath_.clear();
  EXPECT_LE(read(terminal, buffer, sizeof buffer), 0);
  close(terminal);
}

// Output that does not reach a full device is exit 1 with a message,
// whichever command printed it.
TEST_F(Safety, WriteErrorsOfStandardOutputCount) {
  if (geteuid() != 0) GTEST_SKIP() << "mknod of a full device needs root";
  ASSERT_EQ(mknod(path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  stdoutPath_ = path("full");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"info"},
                                               {"help"},
                                               {"--version"},
                                               {"render", "--help"}}) {
    const CliResult r = run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_EQ(r.err,
              "korvane: cannot write standard output: No space left on "
              "device\n")
        << args[0];
  }
  stdoutPath_.clear();
}

// A replaced OUT keeps its mode (and, for root, its owner); a
// write-protected one is refused, untouched, unless --force.
TEST_F(Safety, OutKeepsItsModeAndProtection) {
  const struct {
    mode_t mode;
    bool force;
    int exitCode;
  } cases[] = {
      {0600, false, 0}, {0640, false, 0}, {0755, false, 0},
      {0444, false, 2}, {0444, true, 0},  {0400, true, 0},
  };
  for (const auto& c : cases) {
    writeText(path("out.wav"), "keep me");
    ASSERT_EQ(chmod(path("out.wav").c_str(), c.mode), 0);
    std::vector<std::string> args = {"render", "in.wav", "out.wav", "-q"};
    if (c.force) args.push_back("--force");
    const CliResult r = run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << std::oct << c.mode << ": " << r.err;
    EXPECT_EQ(modeOf("out.wav"), c.mode);
    if (c.exitCode == 0) {
      EXPECT_EQ(readAudio(path("out.wav")).frames(), 4800);
    } else {
      EXPECT_EQ(readText(path("out.wav")), "keep me");
      EXPECT_NE(r.err.find("OUT out.wav is write-protected (mode 0444); "
                           "--force replaces it"),
                std::string::npos)
          << r.err;
    }
    fs::remove(path("out.wav"));
  }
  if (geteuid() != 0) return;  // only root gives files away
  writeText(path("theirs.wav"), "keep me");
  ASSERT_EQ(chown(path("theirs.wav").c_str(), 1234, 2345), 0);
  ASSERT_EQ(run({"render", "in.wav", "theirs.wav", "-q"}).exitCode, 0);
  struct stat status = {};
  ASSERT_EQ(stat(path("theirs.wav").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 1234u);
  EXPECT_EQ(status.st_gid, 2345u);
}

// --dry with a plug-in that reports a delay: with the delay compensated,
// the dry signal is IN itself and the delayed wet signal lines up with it,
// for delays shorter and longer than a block, and across file chunks.
TEST_F(Safety, DryLinesUpWithACompensatedDelay) {
  writeAudio(path("long.wav"), testSignal(2, 44100, 70000));
  for (const char* delay : {"0", "300", "1000"}) {
    for (const char* level : {"0", "1"}) {
      const CliResult r =
          run({"render", "long.wav", "out.wav", "--dry", "--plugin",
               TINYFX_PATH, "--set", std::string("out level=") + level, "-q"},
              {{"TINYFX_DELAY", delay}});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      const Audio in = readAudio(path("long.wav"));
      const Audio out = readAudio(path("out.wav"));
      ASSERT_EQ(out.samples.size(), in.samples.size()) << delay;
      std::size_t wrong = 0;
      const float gain = 1.0f + std::stof(level);
      for (std::size_t i = 0; i < in.samples.size(); ++i) {
        if (out.samples[i] != in.samples[i] * gain) ++wrong;
      }
      EXPECT_EQ(wrong, 0u) << "delay " << delay << ", level " << level;
    }
  }
}

}  // namespace
