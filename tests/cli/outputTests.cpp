// What happens to each kind of OUT: regular files replaced only through a
// temporary file, links kept, devices and FIFOs left alone, the null device
// rendered into nothing, and no temporary file left by a signal.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

class Output : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 44100, 3000));
  }
  // Device nodes can only be made by root; CI runs as root.
  bool canMakeNodes() const { return geteuid() == 0; }
  void makeNode(const std::string& name, mode_t type, unsigned major,
                unsigned minor) {
    ASSERT_EQ(mknod(path(name).c_str(), type | 0644, makedev(major, minor)), 0)
        << name;
  }
};

TEST_F(Output, TheNullDeviceGetsNothingAndStaysADevice) {
  if (!canMakeNodes()) GTEST_SKIP() << "mknod needs root";
  makeNode("null", S_IFCHR, 1, 3);
  const std::vector<std::string> before = files();
  const CliResult r = run({"render", "in.wav", "null", "--seed", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("rendered 0.068 s"), std::string::npos) << r.err;
  struct stat status = {};
  ASSERT_EQ(stat(path("null").c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_EQ(files(), before);  // no temporary file either
}

TEST_F(Output, OtherNonRegularOutsAreRefusedAndLeftAlone) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  fs::create_directory(path("folder"));
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string socketPath = path("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address),
            0);
  struct Case {
    const char* name;
    const char* kind;
  };
  std::vector<Case> cases = {
      {"fifo", "a FIFO"}, {"folder", "a directory"}, {"socket", "a socket"}};
  if (canMakeNodes()) {
    makeNode("zero", S_IFCHR, 1, 5);
    makeNode("disk", S_IFBLK, 7, 0);
    cases.push_back({"zero", "a character device"});
    cases.push_back({"disk", "a block device"});
  }
  const std::vector<std::string> before = files();
  for (const Case& c : cases) {
    const CliResult r = run({"render", "in.wav", c.name});
    EXPECT_EQ(r.exitCode, 2) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(std::string("is ") + c.kind), std::string::npos)
        << r.err;
    EXPECT_EQ(files(), before) << c.name;
  }
  struct stat status = {};
  ASSERT_EQ(lstat(path("fifo").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  close(sock);
}

TEST_F(Output, ALinkKeepsPointingAtTheRenderedTarget) {
  fs::create_directory(path("takes"));
  writeText(path("takes/old.wav"), "an older take");
  fs::create_symlink("takes/old.wav", path("out.wav"));
  fs::create_symlink("takes/new.wav", path("dangling.wav"));
  fs::create_symlink("out.wav", path("chain.wav"));
  for (const char* out : {"out.wav", "dangling.wav", "chain.wav"}) {
    const CliResult r = run({"render", "in.wav", out, "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << out << ": " << r.err;
    EXPECT_TRUE(fs::is_symlink(path(out))) << out;
  }
  EXPECT_EQ(readAudio(path("takes/old.wav")).frames(), 3000);
  EXPECT_EQ(readAudio(path("takes/new.wav")).frames(), 3000);
  // Nothing but the targets in the folder: no temporary file was left.
  std::vector<std::string> taken;
  for (const auto& entry : fs::directory_iterator(path("takes"))) {
    taken.push_back(entry.path().filename().string());
  }
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, (std::vector<std::string>{"new.wav", "old.wav"}));
}

TEST_F(Output, ALinkToInIsTheSameFileAsIn) {
  fs::create_symlink("in.wav", path("link.wav"));
  const CliResult r = run({"render", "in.wav", "link.wav"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
}

// A render hung after writing a chunk of OUT, ended by each signal and by
// SIGKILL: exit 128 + the number where handled, and nothing new in OUT's
// folder; without unnamed files, the handled signals remove the temporary.
TEST_F(Output, ASignalOrAKillLeavesNothingNewAndOutAsItWas) {
  writeAudio(path("long.wav"), testSignal(1, 8000, 80000));
  for (const bool unnamed : {true, false}) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
      if (!unnamed && signal == SIGKILL) continue;
      writeText(path("out.wav"), "keep me");
      auto environment =
          unnamed ? Environment{} : faultyCalls("FAULTY_NO_TMPFILE", "1");
      environment.insert(environment.end(), {{"TINYFX_HANG_AFTER", "70000"},
                                             {"TINYFX_LOG", path("log.txt")}});
      // Eight blocks fill the first chunk, which is written before the
      // ninth is processed; the tenth never returns.
      const pid_t pid = start({"render", "long.wav", "out.wav", "--plugin",
                               TINYFX_PATH, "--block", "8192"},
                              environment);
      ASSERT_GT(pid, 0);
      awaitLog("hang");
      EXPECT_EQ(files().size(), unnamed ? 4u : 5u) << "the named temporary";
      kill(pid, signal);
      const CliResult r = finish(pid);
      if (signal != SIGKILL) {
        EXPECT_EQ(r.exitCode, 128 + signal) << r.err;
        EXPECT_NE(r.err.find("the unfinished output was removed"),
                  std::string::npos)
            << r.err;
      }
      EXPECT_EQ(files(), (std::vector<std::string>{"in.wav", "log.txt",
                                                   "long.wav", "out.wav"}))
          << signal;
      EXPECT_EQ(readText(path("out.wav")), "keep me");
      fs::remove(path("log.txt"));
    }
  }
}

}  // namespace
