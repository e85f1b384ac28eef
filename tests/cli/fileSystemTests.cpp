// OUT among other users' files and on a troubled file system: the tool run
// as an unprivileged user in a supplementary group (started by root through
// setpriv, with numeric ids that need no account), a link another user
// planted in a shared folder, and a folder that cannot be flushed.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

// The tool's user, also in the shared group, and another user.
constexpr uid_t kUser = 1000;
constexpr gid_t kShared = 5000;
constexpr uid_t kOther = 2000;

class FileSystem : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(1, 8000, 800));
  }
  struct stat statusOf(const std::string& name) const {
    struct stat status = {};
    EXPECT_EQ(lstat(path(name).c_str(), &status), 0) << name;
    return status;
  }
};

// The system's rules, not the tool's, say which file the user may replace
// (the group's bits for a member of the file's group, the folder's for
// any); a replaced file keeps what the user may give it and the tool says
// what it could not keep.
TEST_F(FileSystem, AGroupMemberReplacesWhatTheSystemLetsThem) {
  if (geteuid() != 0)
    GTEST_SKIP() << "running the tool as another user needs root";
  const struct {
    const char* out;
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool force;
    int exitCode;
    const char* says;
    gid_t groupAfter;
  } cases[] = {
      {"out.wav", kOther, kShared, 0664, false, 0,
       "replaced out.wav without its owner (user 2000), which", kShared},
      {"out.wav", kOther, kShared, 0664, true, 0, "without its owner", kShared},
      {"out.wav", kOther, kShared, 0646, false, 2,
       "OUT out.wav is write-protected (mode 0646)", kShared},
      {"out.wav", kOther, 6000, 0666, false, 0,
       "without its owner (user 2000) and group (6000)", kUser},
      {"shut/out.wav", kUser, kUser, 0444, false, 1,
       "the folder shut does not let you", kUser},
      {"shut/out.wav", kUser, kUser, 0644, true, 1,
       "and --force cannot change that", kUser},
  };
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  fs::create_directory(path("shut"));
  ASSERT_EQ(chmod(path("shut").c_str(), 0555), 0);
  launcher_ = {"setpriv", "--reuid=1000", "--regid=1000", "--groups=5000",
               "--inh-caps=-all"};
  for (const auto& c : cases) {
    writeText(path(c.out), "keep me");
    ASSERT_EQ(chown(path(c.out).c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(path(c.out).c_str(), c.mode), 0);
    std::vector<std::string> args = {"render", "in.wav", c.out, "-q"};
    if (c.force) args.push_back("--force");
    const CliResult r = run(args);
    char label[32];
    std::snprintf(label, sizeof label, "%s %04o", c.out, c.mode);
    EXPECT_EQ(r.exitCode, c.exitCode) << label << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << label << ": " << r.err;
    const struct stat status = statusOf(c.out);
    EXPECT_EQ(status.st_mode & 07777, c.mode) << label;
    EXPECT_EQ(status.st_uid, c.exitCode == 0 ? kUser : c.owner) << label;
    EXPECT_EQ(status.st_gid, c.groupAfter) << label;
    if (c.exitCode != 0) {
      EXPECT_EQ(readText(path(c.out)), "keep me") << label;
    }
  }
}

// A link in a sticky folder that anyone may write in is followed only when
// it is the caller's or the folder owner's, as the system does for open.
TEST_F(FileSystem, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving a link to another user needs root";
  const struct {
    mode_t folderMode;
    uid_t folderOwner;
    uid_t linkOwner;
    int exitCode;
  } cases[] = {
      {01777, 0, kOther, 1},       // planted in root's shared folder
      {01777, kOther, kOther, 0},  // the folder's owner's
      {01777, kOther, 0, 0},       // the caller's own
      {00777, 0, kOther, 0},       // not sticky
      {01775, 0, kOther, 0},       // not writable by anyone
  };
  fs::create_directory(path("shared"));
  for (const auto& c : cases) {
    writeText(path("victim.wav"), "keep me");
    fs::create_symlink("../victim.wav", path("shared/out.wav"));
    ASSERT_EQ(lchown(path("shared/out.wav").c_str(), c.linkOwner, 0), 0);
    ASSERT_EQ(chown(path("shared").c_str(), c.folderOwner, 0), 0);
    ASSERT_EQ(chmod(path("shared").c_str(), c.folderMode), 0);
    const CliResult r = run({"render", "in.wav", "shared/out.wav", "-q"});
    EXPECT_EQ(r.exitCode, c.exitCode)
        << std::oct << c.folderMode << ": " << r.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(readAudio(path("victim.wav")).frames(), 800);
    } else {
      EXPECT_NE(r.err.find("the link shared/out.wav of user 2000"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(readText(path("victim.wav")), "keep me");
    }
    fs::remove(path("shared/out.wav"));
  }
}

// The new file stays either way; only a file system that cannot flush
// folders at all (EINVAL) makes an unflushed folder no error.
TEST_F(FileSystem, AFolderThatIsNotFlushedIsAnError) {
  for (const int error : {EIO, EINVAL}) {
    writeText(path("out.wav"), "keep me");
    const CliResult r =
        run({"render", "in.wav", "out.wav", "-q"},
            faultyCalls("FAULTY_FOLDER_FSYNC", std::to_string(error)));
    EXPECT_EQ(r.exitCode, error == EINVAL ? 0 : 1) << r.err;
    EXPECT_EQ(readAudio(path("out.wav")).frames(), 800) << error;
    if (error == EIO) {
      EXPECT_NE(r.err.find("cannot flush the folder . after writing out.wav: "
                           "Input/output error; out.wav is in place, but "
                           "whether it survives"),
                std::string::npos)
          << r.err;
    }
  }
}

}  // namespace
