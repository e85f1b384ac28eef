// OUT among other users' files, as the system's rules say: the tool run as
// user 1000 in supplementary group 5000 (started by root through setpriv;
// the numeric ids need no account), a link another user planted in a
// shared folder, and a folder whose flush fails.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

class FileSystem : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(1, 8000, 800));
  }
  // A file "keep me" with that owner, group and mode.
  void plant(const std::string& name, uid_t uid, gid_t gid, mode_t mode) {
    writeText(path(name), "keep me");
    ASSERT_EQ(chown(path(name).c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(path(name).c_str(), mode), 0);
  }
};

// The group's bits count for a member; the folder decides before the file;
// a replaced file keeps the group its user may give it, and the tool says
// what it could not keep.
TEST_F(FileSystem, AGroupMemberReplacesWhatTheSystemLetsThem) {
  if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
  const struct {
    const char* out;
    mode_t mode;
    gid_t group, groupAfter;
    bool force;
    int exitCode;
    const char* says;
  } cases[] = {
      {"out.wav", 0664, 5000, 5000, false, 0, "without its owner (user 2000),"},
      {"out.wav", 0664, 5000, 5000, true, 0, "without its owner (user 2000),"},
      {"out.wav", 0646, 5000, 5000, false, 2, "is write-protected (mode 0646)"},
      {"out.wav", 0666, 6000, 1000, false, 0, "(user 2000) and group (6000)"},
      {"shut/out.wav", 0444, 1000, 1000, false, 1, "--force cannot change"},
  };
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  // The tool and its plug-in, copied where that user may run them (the
  // build may lie in a folder only root can enter).
  const std::filesystem::path built(KORVANE_TOOL);
  std::filesystem::create_directory(path("bin"));
  for (const char* file : {"korvane.so", ""}) {
    const auto from = *file ? built.parent_path() / file : built;
    std::filesystem::copy_file(
        from, std::filesystem::path(path("bin")) / from.filename());
  }
  tool_ = path("bin/korvane");
  std::filesystem::create_directory(path("shut"));
  ASSERT_EQ(chmod(path("shut").c_str(), 0555), 0);
  launcher_ = {"setpriv", "--reuid=1000", "--regid=1000", "--groups=5000",
               "--inh-caps=-all"};
  for (const auto& c : cases) {
    plant(c.out, 2000, c.group, c.mode);
    std::vector<std::string> args = {"render", "in.wav", c.out, "-q"};
    if (c.force) args.push_back("--force");
    const CliResult r = run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << std::oct << c.mode << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    struct stat status = {};
    ASSERT_EQ(stat(path(c.out).c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, c.exitCode == 0 ? 1000u : 2000u) << c.mode;
    EXPECT_EQ(status.st_gid, c.groupAfter) << c.mode;
    EXPECT_EQ(status.st_mode & 07777, c.mode);
  }
}

// A link in a sticky folder that anyone may write in is followed only when
// the caller or the folder's owner made it.
TEST_F(FileSystem, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link away needs root";
  const struct {
    mode_t folderMode;
    uid_t folderOwner, linkOwner;
    int exitCode;
  } cases[] = {{01777, 0, 2000, 1},
               {01777, 2000, 2000, 0},
               {01777, 2000, 0, 0},
               {00777, 0, 2000, 0}};
  std::filesystem::create_directory(path("tmp"));
  std::filesystem::create_symlink("../victim.wav", path("tmp/out.wav"));
  for (const auto& c : cases) {
    plant("victim.wav", 0, 0, 0644);
    ASSERT_EQ(lchown(path("tmp/out.wav").c_str(), c.linkOwner, 0), 0);
    ASSERT_EQ(chown(path("tmp").c_str(), c.folderOwner, 0), 0);
    ASSERT_EQ(chmod(path("tmp").c_str(), c.folderMode), 0);
    const CliResult r = run({"render", "in.wav", "tmp/out.wav", "-q"});
    EXPECT_EQ(r.exitCode, c.exitCode)
        << c.folderOwner << ' ' << c.linkOwner << r.err;
    EXPECT_EQ(
        r.err.find("the link tmp/out.wav of user 2000") != std::string::npos,
        c.exitCode == 1);
    EXPECT_EQ(readText(path("victim.wav")) == "keep me", c.exitCode == 1);
  }
}

// The new file stays either way; only a file system that cannot flush
// folders at all (EINVAL) makes that no error.
TEST_F(FileSystem, AFolderThatIsNotFlushedIsAnError) {
  for (const int error : {EIO, EINVAL}) {
    const CliResult r = run({"render", "in.wav", "out.wav", "-q"},
                            faultyCalls("FAULTY_FSYNC", std::to_string(error)));
    EXPECT_EQ(r.exitCode, error == EIO ? 1 : 0) << r.err;
    EXPECT_EQ(
        r.err.find("out.wav is in place, but whether it survives a "
                   "crash or power failure is unknown") != std::string::npos,
        error == EIO)
        << r.err;
    EXPECT_EQ(readAudio(path("out.wav")).frames(), 800);
  }
}

}  // namespace
