// Files, shared objects and signals that another local user or the parent process controls:
// libraries and configuration that someone else could have planted are passed over, a guard
// segment that someone else holds is not trusted, and ignored signals stay ignored.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "e2e_util.h"

namespace e2e {
namespace {

const uid_t kOtherUser = 65534;

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeDirs(appDir_); }

  std::string PackApp(std::vector<std::string> settings, const std::string& name = "app") {
    settings.insert(settings.begin(), "mainclass test.Main");
    return Pack(appDir_ + "/" + name, settings, PROBE_JAR);
  }

  void InstallRuntime(const std::string& home) {
    MakeDirs(home + "/lib/server");
    CopyFile(TESTJVM_LIB, home + "/lib/server/libjvm.so");
  }

  RunResult Start(const std::vector<std::string>& argv, EnvChanges env = {},
                  const std::string& cwd = "/") {
    env.emplace("TESTJVM_LOG", log_);
    env.emplace("PATH", "/nonexistent");
    env.emplace("LAUNCHER_TRACE", "1");
    RunOptions options;
    options.env = env;
    options.cwd = cwd;
    options.timeoutMs = 20000;
    return RunProgram(argv, options);
  }

  TempDir tmp_;
  std::string appDir_ = tmp_ / "app";
  std::string log_ = tmp_ / "jvm.log";
};

TEST_F(SecurityTest, WithoutJavaOnThePathNoTopLevelDirectoryIsProbed) {
  if (geteuid() != 0) GTEST_SKIP() << "planting into a private /mnt needs root";
  std::string exe = PackApp({"jre_order s"});
  // A library in a top-level directory, seen only inside a private mount namespace.
  const char* script =
      "mount -t tmpfs none /mnt 2>/dev/null || exit 77; cp \"$0\" /mnt/libjvm.so || exit 77;"
      "PATH=/nonexistent exec \"$1\"";
  RunResult r = Start({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, TESTJVM_LIB, exe},
                      {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}});
  if (r.status == 77) GTEST_SKIP() << "no private mount namespace here: " << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "runtime s: no java on PATH")) << r.err;
}

TEST_F(SecurityTest, DefaultRuntimeIsNeverTakenFromTheWorkingDirectory) {
  std::string exe = PackApp({"jre_order b"});
  InstallRuntime(tmp_ / "cwd/jre");
  EXPECT_EQ(Start({exe}, {}, tmp_ / "cwd").status, 1);
  InstallRuntime(appDir_ + "/jre");
  EXPECT_EQ(Start({exe}, {}, tmp_ / "cwd").status, 0);
}

TEST_F(SecurityTest, LibrariesAndConfigurationOpenToOtherUsersArePassedOver) {
  std::string exe = PackApp({"jre_order e"});
  std::string open = tmp_ / "open", home = open + "/rt";
  InstallRuntime(home);
  EnvChanges env = {{"JAVA_HOME", home}};
  ASSERT_EQ(Start({exe}, env).status, 0);
  chmod(open.c_str(), 0777);
  RunResult planted = Start({exe}, env);
  EXPECT_EQ(planted.status, 1);
  EXPECT_TRUE(Contains(planted.err, open + " is writable by other users")) << planted.err;
  chmod(open.c_str(), 0755);
  chmod((home + "/lib/server/libjvm.so").c_str(), 0666);
  EXPECT_EQ(Start({exe}, env).status, 1);
  chmod((home + "/lib/server/libjvm.so").c_str(), 0644);
  if (geteuid() == 0) {
    // In a sticky directory, only entries of root or of the running user are protected.
    chmod(open.c_str(), 01777);
    EXPECT_EQ(Start({exe}, env).status, 0);
    ASSERT_EQ(chown(home.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(Start({exe}, env).status, 1);
  }

  // The external file beside an executable in a directory open to everyone is not read.
  std::string cfgExe = PackApp({"jre_order c"}, "cfgapp");
  WriteFile(cfgExe + ".cfg", "jvmdll " + std::string(TESTJVM_LIB) + "\n");
  EXPECT_EQ(Start({cfgExe}).status, 0);
  chmod(appDir_.c_str(), 0777);
  EXPECT_EQ(Start({cfgExe}).status, 1);
  chmod(appDir_.c_str(), 0755);
}

TEST_F(SecurityTest, AFifoAsTheExternalFileReadsAsEmpty) {
  std::string exe = PackApp({"jvmdll " + std::string(TESTJVM_LIB)});
  ASSERT_EQ(mkfifo((exe + ".cfg").c_str(), 0644), 0);
  RunResult r = Start({exe});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
}

// Plants the segment of exe's key the way another program would, keeps it attached for the
// test's duration and sets its counter as if that program were running.
class PlantedSegment {
 public:
  PlantedSegment(const std::string& exe, uid_t owner, const struct stat* guarded,
                 const std::string& guardedPath = "") {
    key_t key = ftok(exe.c_str(), 255);
    pid_t child = fork();
    if (child == 0) {
      // Another user's segment is made by a process of that user.
      if (owner != geteuid() && setuid(owner) != 0) _exit(1);
      int id = shmget(key, 4096, IPC_CREAT | IPC_EXCL | 0600);
      _exit(id == -1 ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    id_ = shmget(key, 4096, 0);
    if (id_ == -1 || status != 0) return;
    header_ = static_cast<int*>(shmat(id_, nullptr, 0));
    header_[0] = 1;
    if (guarded) {
      header_[1] = 2;  // claimed, with the identity below: device, inode, change time, path
      long long identity[4] = {static_cast<long long>(guarded->st_dev),
                               static_cast<long long>(guarded->st_ino),
                               static_cast<long long>(guarded->st_ctim.tv_sec),
                               static_cast<long long>(guarded->st_ctim.tv_nsec)};
      memcpy(header_ + 2, identity, sizeof(identity));
      snprintf(reinterpret_cast<char*>(header_ + 10), 4000, "%s", guardedPath.c_str());
    }
  }
  ~PlantedSegment() {
    if (header_) shmdt(header_);
    if (id_ != -1) shmctl(id_, IPC_RMID, nullptr);
  }
  bool planted() const { return header_ != nullptr; }

 private:
  int id_ = -1;
  int* header_ = nullptr;
};

TEST_F(SecurityTest, GuardSegmentsOfOtherUsersOrOtherFilesNeverRefuseAStart) {
  std::string exe = PackApp({"jvmdll " + std::string(TESTJVM_LIB), "singleinstance true"});
  {
    // The same user's segment of this very file, counted: the guard works as before.
    struct stat own;
    ASSERT_EQ(stat(exe.c_str(), &own), 0);
    PlantedSegment same(exe, geteuid(), &own, exe);
    ASSERT_TRUE(same.planted());
    EXPECT_EQ(Start({exe}).status, 11);
  }
  {
    struct stat other;
    ASSERT_EQ(stat(PROBE_JAR, &other), 0);
    PlantedSegment colliding(exe, geteuid(), &other, PROBE_JAR);
    ASSERT_TRUE(colliding.planted());
    RunResult r = Start({exe});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "guards another executable")) << r.err;
  }
  {
    // Left counted by a file that is gone (its inode may be reused): taken over, and it guards.
    std::string gone = tmp_ / "gone";
    WriteFile(gone, "");
    struct stat goneStatus;
    ASSERT_EQ(stat(gone.c_str(), &goneStatus), 0);
    unlink(gone.c_str());
    PlantedSegment stale(exe, geteuid(), &goneStatus, gone);
    ASSERT_TRUE(stale.planted());
    RunOptions waiting;
    waiting.env = {{"TESTJVM_MAIN_SLEEP_MS", "20000"}, {"TESTJVM_PRINT", "ready"}};
    Process first({exe}, waiting);
    ASSERT_TRUE(first.WaitForLine("ready"));
    EXPECT_EQ(Start({exe}).status, 11);
    first.Signal(SIGKILL);
  }
  if (geteuid() != 0) GTEST_SKIP() << "a segment of another user needs root to make";
  PlantedSegment foreign(exe, kOtherUser, nullptr);
  ASSERT_TRUE(foreign.planted());
  RunResult r = Start({exe});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "belongs to another user")) << r.err;
}

TEST_F(SecurityTest, InheritedIgnoredSignalsStayIgnored) {
  std::string exe = PackApp({"jvmdll " + std::string(TESTJVM_LIB)});
  for (const char* name : {"INT", "TERM"}) {
    SCOPED_TRACE(name);
    std::string script = std::string("trap '' ") + name + "; exec \"$0\"";
    RunOptions options;
    options.env = {
        {"TESTJVM_LOG", log_}, {"TESTJVM_PRINT", "ready"}, {"TESTJVM_MAIN_SLEEP_MS", "1500"}};
    Process p({"/bin/sh", "-c", script, exe}, options);
    ASSERT_TRUE(p.WaitForLine("ready"));
    kill(p.pid(), std::string(name) == "INT" ? SIGINT : SIGTERM);
    RunResult r = p.Wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Contains(ReadFile(log_), "exit 0")) << "System.exit was called";
    unlink(log_.c_str());
  }
}

}  // namespace
}  // namespace e2e
