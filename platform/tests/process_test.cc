#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "temp_home.h"

namespace zimo::platform {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kGenerous(10000);
namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& content, fs::perms perms) {
  std::ofstream(path) << content;
  fs::permissions(path, perms);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Polls `done` for up to ten seconds.
template <typename Pred>
bool Eventually(Pred done) {
  auto until = std::chrono::steady_clock::now() + kGenerous;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

TEST(SplitCommandLineTest, FollowsWindowsQuotingRules) {
  struct Case {
    const char* line;
    std::vector<std::string> argv;
  };
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"prog", {"prog"}},
      {"  prog  a   b ", {"prog", "a", "b"}},
      {"prog\ta\t\"b c\"", {"prog", "a", "b c"}},
      {"\"C:\\Program Files\\app.exe\" /zimo 3", {"C:\\Program Files\\app.exe", "/zimo", "3"}},
      // The program name keeps its backslashes, even before a quote.
      {"C:\\dir\\p.exe x", {"C:\\dir\\p.exe", "x"}},
      {"p a\\\\b", {"p", "a\\\\b"}},              // backslashes not before a quote: literal
      {"p \"a\\\"b\"", {"p", "a\"b"}},            // 2n+1 before a quote: literal quote
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},       // 2n before a quote: n, quote closes
      {"p a\\\\\\\\\"b c\"", {"p", "a\\\\b c"}},  // 4 then quote opens: 2 kept
      {"p \"\"", {"p", ""}},                      // an empty quoted argument counts
      {"p \"a\"\"b\"", {"p", "a\"b"}},            // "" inside quotes: a literal quote
      {"p a\"b c\"d", {"p", "ab cd"}},            // quotes in mid-argument group
      {"p \"unterminated arg", {"p", "unterminated arg"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.argv) << "line: " << c.line;
  }
}

TEST(ProcessTest, ReportsExitCodesAndSignals) {
  struct Case {
    std::vector<std::string> argv;
    int code;
  };
  const Case cases[] = {
      {{"/bin/sh", "-c", "exit 0"}, 0},
      {{"sh", "-c", "exit 7"}, 7},  // found through PATH
      {{"/bin/sh", "-c", "kill -9 $$"}, 128 + SIGKILL},
  };
  for (const Case& c : cases) {
    Result<Process> p = Spawn(c.argv);
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    Result<int> code = p->Wait(kGenerous);
    ASSERT_TRUE(code.ok()) << code.status().ToString();
    EXPECT_EQ(*code, c.code) << c.argv.back();
    EXPECT_EQ(p->exit_code(), c.code);
    EXPECT_FALSE(p->IsRunning());
  }
}

TEST(ProcessTest, CommandLineReachesTheProgramSplit) {
  Result<Process> p = SpawnCommandLine(R"(/bin/sh -c "test \"$0\" = 'a b'" "a b")");
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  EXPECT_EQ(*p->Wait(kGenerous), 0);
}

TEST(ProcessTest, EnvironmentIsAddedReplacedOrIsolated) {
  ::setenv("ZIMO_PROCESS_TEST_INHERITED", "parent", 1);
  SpawnOptions add;
  add.environment = {"ZIMO_PROCESS_TEST_ADDED=5"};
  Result<Process> p =
      Spawn({"/bin/sh", "-c",
             "test \"$ZIMO_PROCESS_TEST_INHERITED\" = parent && exit $ZIMO_PROCESS_TEST_ADDED"},
            add);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p->Wait(kGenerous), 5);

  SpawnOptions replace;
  replace.environment = {"ZIMO_PROCESS_TEST_INHERITED=child"};
  p = Spawn({"/bin/sh", "-c",
             "test \"$ZIMO_PROCESS_TEST_INHERITED\" = child && "
             "test $(env | grep -c ZIMO_PROCESS_TEST_INHERITED) = 1"},
            replace);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p->Wait(kGenerous), 0);

  SpawnOptions isolated;
  isolated.inherit_environment = false;
  isolated.environment = {"ONLY=1"};
  p = Spawn({"/bin/sh", "-c", "test -z \"$ZIMO_PROCESS_TEST_INHERITED\" && test \"$ONLY\" = 1"},
            isolated);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p->Wait(kGenerous), 0);
  ::unsetenv("ZIMO_PROCESS_TEST_INHERITED");
}

TEST(ProcessTest, WorkingDirectoryDetachedSessionAndQuietOutput) {
  testing::TempHome home;
  const fs::path dir = fs::canonical(home.path());
  SpawnOptions options;
  options.working_directory = dir;
  options.detached = true;
  options.quiet = true;
  Result<Process> p = Spawn({"/bin/sh", "-c", "pwd > where; echo noise; sleep 30"}, options);
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  EXPECT_EQ(::getsid(p->pid()), p->pid());  // leads a session of its own
  EXPECT_NE(::getsid(p->pid()), ::getsid(0));
  ASSERT_TRUE(Eventually([&] { return ReadFile(dir / "where") == dir.string() + "\n"; }));

  ASSERT_TRUE(p->Signal(SIGKILL).ok());
  EXPECT_EQ(*p->Wait(kGenerous), 128 + SIGKILL);
  EXPECT_EQ(p->Signal(SIGKILL).code(), Code::kClosed);
}

TEST(ProcessTest, WaitTimesOutWhileTheChildRuns) {
  Result<Process> p = Spawn({"/bin/sleep", "30"});
  ASSERT_TRUE(p.ok());
  Result<int> early = p->Wait(milliseconds(20));
  EXPECT_EQ(early.status().code(), Code::kTimeout);
  EXPECT_TRUE(p->IsRunning());
  EXPECT_TRUE(IsProcessAlive(p->pid()));
  ASSERT_TRUE(p->Signal(SIGTERM).ok());
  EXPECT_EQ(*p->Wait(kGenerous), 128 + SIGTERM);
}

TEST(ProcessTest, AliveCheckCountsAZombieAsEnded) {
  EXPECT_TRUE(IsProcessAlive(CurrentProcessId()));
  EXPECT_TRUE(IsProcessAlive(1));  // not ours, still alive
  EXPECT_FALSE(IsProcessAlive(0));
  EXPECT_FALSE(IsProcessAlive(-1));

  Result<Process> p = Spawn({"/bin/sh", "-c", "exit 3"});
  ASSERT_TRUE(p.ok());
  const pid_t pid = p->pid();
  // Nobody has reaped it: it is a zombie, which kill(pid, 0) alone calls alive.
  ASSERT_TRUE(Eventually([&] { return !IsProcessAlive(pid); }));
  EXPECT_TRUE(fs::exists("/proc/" + std::to_string(pid)));
  EXPECT_EQ(*p->Wait(kGenerous), 3);  // and its exit code was kept for us
}

TEST(ProcessTest, DroppedChildIsReapedNotLeftAZombie) {
  pid_t pid = -1;
  {
    Result<Process> p = Spawn({"/bin/sleep", "0.1"});
    ASSERT_TRUE(p.ok());
    pid = p->pid();
  }
  const std::string proc = "/proc/" + std::to_string(pid);
  EXPECT_TRUE(Eventually([&] { return !fs::exists(proc); }));
}

TEST(ProcessTest, StartFailuresCarryTheErrno) {
  Result<Process> missing = Spawn({"/nonexistent-dir/prog"});
  EXPECT_EQ(missing.status().code(), Code::kNotFound);
  EXPECT_EQ(missing.status().os_error(), ENOENT);
  EXPECT_NE(missing.status().message().find("/nonexistent-dir/prog"), std::string::npos);
  EXPECT_EQ(Spawn({}).status().code(), Code::kInvalidArgument);
  EXPECT_EQ(SpawnCommandLine("   ").status().code(), Code::kInvalidArgument);
  Process never;
  EXPECT_EQ(never.Wait(milliseconds(1)).status().code(), Code::kInvalidArgument);
}

class WinExecTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
  fs::path dir_ = home_.path();
};

TEST_F(WinExecTest, FailuresMapToWindowsResultCodes) {
  WriteFile(dir_ / "plain.txt", "not a program\n", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(dir_ / "garbage", "\x01\x02\x03 not an image", fs::perms::owner_all);
  fs::create_directory(dir_ / "folder");
  struct Case {
    std::string command_line;
    uint32_t code;
  };
  const Case cases[] = {
      {(dir_ / "missing").string() + " /zimo 0", kWinExecFileNotFound},
      {"zimo-no-such-program-anywhere /zimo 0", kWinExecFileNotFound},
      {(dir_ / "no-dir" / "prog").string() + " /zimo 0", kWinExecPathNotFound},
      {(dir_ / "plain.txt" / "prog").string(), kWinExecPathNotFound},  // through a file
      {(dir_ / "plain.txt").string(), kWinExecBadFormat},              // not executable
      {(dir_ / "garbage").string(), kWinExecBadFormat},                // no known format
      {(dir_ / "folder").string(), kWinExecBadFormat},
      {"", kWinExecFileNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WinExec(c.command_line, 1), c.code) << c.command_line;
  }
}

TEST_F(WinExecTest, StartsAProgramWhosePathHasBlanks) {
  fs::create_directories(dir_ / "my app");
  const fs::path out = dir_ / "args";
  WriteFile(dir_ / "my app" / "run",
            "#!/bin/sh\necho \"$@\" > '" + out.string() + ".tmp'\nmv '" + out.string() + ".tmp' '" +
                out.string() + "'\n",
            fs::perms::owner_all);
  const uint32_t code = WinExec((dir_ / "my app" / "run").string() + " /zimo 3", 1);
  EXPECT_GT(code, 31u);
  EXPECT_TRUE(Eventually([&] { return fs::exists(out); }));
  EXPECT_EQ(ReadFile(out), "/zimo 3\n");
}

TEST(ErrnoToWinExecTest, ResourceShortagesMeanOutOfMemory) {
  for (int err : {ENOMEM, EAGAIN, EMFILE, E2BIG}) {
    EXPECT_EQ(WinExecCodeFromErrno(err, "/bin/prog"), kWinExecOutOfMemory) << err;
  }
}

// Reads what the peer wrote on `fd` through a descriptor taken out of it.
TEST(DuplicateFdTest, TakesADescriptorOutOfAnotherProcess) {
  int to_parent[2];
  int to_child[2];
  ASSERT_EQ(::pipe(to_parent), 0);
  ASSERT_EQ(::pipe(to_child), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(to_parent[0]);
    ::close(to_child[1]);
    char name[] = "/tmp/zimo-dup-XXXXXX";
    int fd = ::mkstemp(name);
    ::unlink(name);
    const char payload[] = "held by the child";
    if (fd < 0 || ::write(fd, payload, sizeof payload - 1) < 0) ::_exit(1);
    if (::write(to_parent[1], &fd, sizeof fd) != sizeof fd) ::_exit(1);
    char done;
    (void)!::read(to_child[0], &done, 1);  // until the parent has looked
    ::_exit(0);
  }
  ::close(to_parent[1]);
  ::close(to_child[0]);
  int remote_fd = -1;
  ASSERT_EQ(::read(to_parent[0], &remote_fd, sizeof remote_fd),
            static_cast<ssize_t>(sizeof remote_fd));

  Result<int> copy = DuplicateFdFromProcess(child, remote_fd);
  Result<int> no_such_fd = DuplicateFdFromProcess(child, 1000000);
  ::close(to_child[1]);
  ::close(to_parent[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(DuplicateFdFromProcess(child, remote_fd).status().code(), Code::kNotFound);

  if (!copy.ok() && (copy.status().code() == Code::kUnsupported ||
                     copy.status().os_error() == EPERM || copy.status().os_error() == ENOSYS)) {
    GTEST_SKIP() << "descriptor taking refused here: " << copy.status().ToString();
  }
  ASSERT_TRUE(copy.ok()) << copy.status().ToString();
  char buf[64] = {};
  ssize_t n = ::pread(*copy, buf, sizeof buf - 1, 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "held by the child");
  EXPECT_NE(::fcntl(*copy, F_GETFD) & FD_CLOEXEC, 0);
  ::close(*copy);
  EXPECT_EQ(no_such_fd.status().code(), Code::kNotFound);
}

TEST(ExecutableTest, OwnPathRunsThisProgram) {
  const fs::path self = ExecutablePath();
  ASSERT_TRUE(self.is_absolute());
  EXPECT_EQ(ExecutableDir(), self.parent_path());
  SpawnOptions options;
  options.quiet = true;
  Result<Process> again = Spawn({self.string(), "--gtest_list_tests"}, options);
  ASSERT_TRUE(again.ok()) << again.status().ToString();
  EXPECT_EQ(*again->Wait(kGenerous), 0);
}

}  // namespace
}  // namespace zimo::platform
