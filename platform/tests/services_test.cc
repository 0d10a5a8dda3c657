#include "platform/services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/home.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

bool ProcessGone(pid_t pid) {
  // The stop reaps its own children, so a gone process is really gone.
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

void WriteScript(const std::filesystem::path& path, const std::string& body) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
}

std::string WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 1000; ++i) {
    std::ifstream in(path);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      return ss.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return "(never written)";
}

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess, &scm_), win32::kErrorSuccess);
  }
  void TearDown() override {
    // Nothing a test started may outlive it.
    for (ScHandle s : started_) {
      ServiceStatus st;
      ControlService(s, kServiceControlStop, &st);
      CloseServiceHandle(s);
    }
    CloseServiceHandle(scm_);
  }

  int32_t Create(const char* name, const char* image, ScHandle* service,
                 uint32_t start_type = kServiceDemandStart) {
    return CreateServiceA(scm_, name, nullptr, kServiceAllAccess, kServiceKernelDriver, start_type,
                          kServiceErrorNormal, image, "Base", nullptr, nullptr, nullptr, nullptr,
                          service);
  }
  // Creates and starts a service whose stop TearDown makes sure of.
  ScHandle Started(const char* name, const char* image) {
    ScHandle s = 0;
    EXPECT_EQ(Create(name, image, &s), win32::kErrorSuccess);
    EXPECT_EQ(StartServiceA(s, 0, nullptr), win32::kErrorSuccess);
    ScHandle keep = 0;
    OpenServiceA(scm_, name, kServiceAllAccess, &keep);
    started_.push_back(keep);
    return s;
  }

  testing::TempHome home_;
  ScHandle scm_ = 0;
  std::vector<ScHandle> started_;
};

TEST_F(ServicesTest, RecordsLiveInTheRegistryAsWindowsKeepsThem) {
  ScHandle s = 0;
  ASSERT_EQ(CreateServiceA(scm_, "ZIMO", nullptr, kServiceAllAccess, kServiceKernelDriver,
                           kServiceSystemStart, kServiceErrorNormal,
                           "\\SystemRoot\\System32\\drivers\\ZIMO.SYS", "Base", nullptr, "",
                           nullptr, nullptr, &s),
            win32::kErrorSuccess);
  auto key = RegistryKey::Open(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZIMO");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(*key->GetDword("Type"), kServiceKernelDriver);
  EXPECT_EQ(*key->GetDword("Start"), kServiceSystemStart);
  EXPECT_EQ(*key->GetDword("ErrorControl"), kServiceErrorNormal);
  EXPECT_EQ(key->GetValue("ImagePath")->type, kRegExpandSz);
  EXPECT_EQ(*key->GetString("Group"), "Base");
  EXPECT_EQ(key->GetValue("DisplayName").status().code(), Code::kNotFound);

  ServiceConfig config;
  ASSERT_EQ(QueryServiceConfigA(s, &config), win32::kErrorSuccess);
  EXPECT_EQ(config.binary_path_name, "\\SystemRoot\\System32\\drivers\\ZIMO.SYS");
  EXPECT_EQ(config.start_type, kServiceSystemStart);

  ScHandle other = 0;
  EXPECT_EQ(Create("zimo", "/bin/true", &other), win32::kErrorServiceExists);
  EXPECT_EQ(OpenServiceA(scm_, "Missing", kServiceAllAccess, &other),
            win32::kErrorServiceDoesNotExist);
  EXPECT_EQ(Create("", "/bin/true", &other), win32::kErrorInvalidName);
  EXPECT_EQ(Create("a\\b", "/bin/true", &other), win32::kErrorInvalidName);
  EXPECT_EQ(Create("NoImage", "", &other), win32::kErrorInvalidParameter);
  EXPECT_EQ(Create("X", "/bin/true", nullptr), win32::kErrorInvalidParameter);
  EXPECT_EQ(CreateServiceA(s, "Y", nullptr, 0, 1, 1, 1, "/bin/true", nullptr, nullptr, nullptr,
                           nullptr, nullptr, &other),
            win32::kErrorInvalidHandle);  // a service handle is no manager

  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_EQ(status.service_type, kServiceKernelDriver);
  EXPECT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorServiceNotActive);

  // A stopped service goes at once.
  EXPECT_EQ(DeleteService(s), win32::kErrorSuccess);
  EXPECT_FALSE(RegistryKey::Exists(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZIMO"));
  EXPECT_EQ(OpenServiceA(scm_, "ZIMO", kServiceAllAccess, &other),
            win32::kErrorServiceDoesNotExist);
  EXPECT_EQ(QueryServiceStatus(s, &status), win32::kErrorServiceDoesNotExist);
  EXPECT_EQ(CloseServiceHandle(s), win32::kErrorSuccess);
  EXPECT_EQ(CloseServiceHandle(s), win32::kErrorInvalidHandle);
  EXPECT_EQ(OpenSCManagerA("otherhost", nullptr, 0, &other), win32::kErrorInvalidParameter);
}

TEST_F(ServicesTest, StartsStopsAndReportsARealProgram) {
  ScHandle s = Started("Sleeper", "/bin/sleep 30");
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);
  EXPECT_EQ(status.controls_accepted, kServiceAcceptStop);
  pid_t pid = status.process_id;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0);
  // Detached: a session of its own.
  EXPECT_EQ(::getsid(pid), pid);

  EXPECT_EQ(StartServiceA(s, 0, nullptr), win32::kErrorServiceAlreadyRunning);
  EXPECT_EQ(ControlService(s, 99, &status), win32::kErrorInvalidServiceControl);
  ASSERT_EQ(ControlService(s, kServiceControlInterrogate, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);

  ASSERT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_TRUE(ProcessGone(pid));
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_EQ(status.process_id, 0);
  EXPECT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorServiceNotActive);
  EXPECT_EQ(ControlService(s, kServiceControlInterrogate, &status), win32::kErrorServiceNotActive);

  // And again: a stopped service starts anew.
  ASSERT_EQ(StartServiceA(s, 0, nullptr), win32::kErrorSuccess);
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);
  EXPECT_NE(status.process_id, pid);
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, DriverImagePathRunsTheInstalledLauncherWithItsArguments) {
  // Installed in other case than the image path names it.
  WriteScript(WindowsDir() / "system32" / "DRIVERS" / "zimo.sys",
              "printf '%s|' \"$@\" > \"$ZIMO_HOME/args.tmp\"\n"
              "mv \"$ZIMO_HOME/args.tmp\" \"$ZIMO_HOME/args.txt\"\n"
              "exec sleep 30\n");
  const char* argv[] = {"extra arg"};
  ScHandle s = 0;
  ASSERT_EQ(Create("ZIMO", "\\SystemRoot\\System32\\drivers\\ZIMO.SYS -x \"a b\"", &s),
            win32::kErrorSuccess);
  ASSERT_EQ(StartServiceA(s, 1, argv), win32::kErrorSuccess);
  ScHandle keep = 0;
  OpenServiceA(scm_, "ZIMO", kServiceAllAccess, &keep);
  started_.push_back(keep);
  EXPECT_EQ(WaitForFile(home_.path() / "args.txt"), "-x|a b|extra arg|");
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, ImagePathsWithBlanksAndQuotes) {
  std::filesystem::path dir = home_.path() / "Program Files" / "Zimo";
  WriteScript(dir / "host.sh",
              "printf '%s|' \"$@\" > \"$ZIMO_HOME/$1.tmp\"\n"
              "mv \"$ZIMO_HOME/$1.tmp\" \"$ZIMO_HOME/$1.txt\"\n"
              "exec sleep 30\n");
  std::string unquoted = (dir / "host.sh").string() + " one two\\\"x";
  std::string quoted = "\"" + (dir / "host.sh").string() + "\" two \"\"";
  Started("Unquoted", unquoted.c_str());
  Started("Quoted", quoted.c_str());
  EXPECT_EQ(WaitForFile(home_.path() / "one.txt"), "one|two\"x|");
  EXPECT_EQ(WaitForFile(home_.path() / "two.txt"), "two||");
}

TEST_F(ServicesTest, StartFailuresSayWhy) {
  std::filesystem::path plain = home_.path() / "plain.txt";
  std::ofstream(plain) << "not a program";
  struct Case {
    const char* name;
    std::string image;
    uint32_t start_type;
    int32_t error;
  };
  const Case cases[] = {
      {"NoProgram", (home_.path() / "missing").string(), kServiceDemandStart,
       win32::kErrorFileNotFound},
      {"NoSuchCommand", "no-such-command-here", kServiceDemandStart, win32::kErrorFileNotFound},
      {"NotExecutable", plain.string(), kServiceDemandStart, win32::kErrorBadExeFormat},
      {"Disabled", "/bin/sleep 30", kServiceDisabled, win32::kErrorServiceDisabled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScHandle s = 0;
    ASSERT_EQ(Create(c.name, c.image.c_str(), &s, c.start_type), win32::kErrorSuccess);
    EXPECT_EQ(StartServiceA(s, 0, nullptr), c.error);
    ServiceStatus status;
    ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
    EXPECT_EQ(status.current_state, kServiceStopped);
    CloseServiceHandle(s);
  }
}

TEST_F(ServicesTest, AProgramThatIgnoresTheStopIsKilled) {
  // Ignored signals stay ignored across exec, so neither the shell nor its
  // sleeps end on SIGTERM.
  WriteScript(home_.path() / "stubborn.sh",
              "trap '' TERM\ntouch \"$ZIMO_HOME/ready\"\nwhile :; do sleep 1; done\n");
  ScHandle s = Started("Stubborn", (home_.path() / "stubborn.sh").string().c_str());
  ASSERT_EQ(WaitForFile(home_.path() / "ready"), "");
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  pid_t pid = status.process_id;
  SetServiceStopWaitMs(100);
  ASSERT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorSuccess);
  SetServiceStopWaitMs(kServiceStopWaitMs);
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_TRUE(ProcessGone(pid));
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, DeletingARunningServiceWaitsForItsStop) {
  ScHandle s = Started("Busy", "/bin/sleep 30");
  ASSERT_EQ(DeleteService(s), win32::kErrorSuccess);
  EXPECT_EQ(DeleteService(s), win32::kErrorServiceMarkedForDelete);
  EXPECT_EQ(StartServiceA(s, 0, nullptr), win32::kErrorServiceMarkedForDelete);
  ScHandle other = 0;
  EXPECT_EQ(Create("Busy", "/bin/true", &other), win32::kErrorServiceMarkedForDelete);
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);

  ASSERT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorSuccess);
  EXPECT_EQ(OpenServiceA(scm_, "Busy", kServiceAllAccess, &other),
            win32::kErrorServiceDoesNotExist);
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, AProcessThatDiedCountsAsStopped) {
  ScHandle s = Started("Victim", "/bin/sleep 30");
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  ASSERT_EQ(::kill(status.process_id, SIGKILL), 0);
  for (int i = 0; i < 1000 && status.current_state == kServiceRunning; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  }
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_EQ(ControlService(s, kServiceControlStop, &status), win32::kErrorServiceNotActive);
  EXPECT_EQ(StartServiceA(s, 0, nullptr), win32::kErrorSuccess);
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, OtherProcessesSeeAndStopTheService) {
  ScHandle s = Started("Shared", "/bin/sleep 30");
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  pid_t service_pid = status.process_id;

  pid_t child = ::fork();
  if (child == 0) {
    ScHandle m = 0, h = 0;
    ServiceStatus st;
    if (OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess, &m) != 0) ::_exit(1);
    if (OpenServiceA(m, "SHARED", kServiceAllAccess, &h) != 0) ::_exit(2);
    if (QueryServiceStatus(h, &st) != 0 || st.current_state != kServiceRunning) ::_exit(3);
    if (st.process_id != service_pid) ::_exit(4);
    // The service is the parent's child: once it ends it is a zombie there,
    // which must count as stopped here.
    if (ControlService(h, kServiceControlStop, &st) != 0) ::_exit(5);
    if (StartServiceA(h, 0, nullptr) != 0) ::_exit(6);
    ::_exit(0);
  }
  int wstatus = 0;
  ::waitpid(child, &wstatus, 0);
  ASSERT_TRUE(WIFEXITED(wstatus));
  ASSERT_EQ(WEXITSTATUS(wstatus), 0);
  ASSERT_EQ(QueryServiceStatus(s, &status), win32::kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);
  EXPECT_NE(status.process_id, service_pid);
  EXPECT_TRUE(ProcessGone(service_pid));
  CloseServiceHandle(s);
}

TEST_F(ServicesTest, TheDatabaseLockHasOneHolderAcrossProcesses) {
  ScLock lock = 0;
  ASSERT_EQ(LockServiceDatabase(scm_, &lock), win32::kErrorSuccess);
  ScLock second = 0;
  EXPECT_EQ(LockServiceDatabase(scm_, &second), win32::kErrorServiceDatabaseLocked);
  pid_t child = ::fork();
  if (child == 0) {
    ScHandle m = 0;
    ScLock l = 0;
    OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess, &m);
    ::_exit(LockServiceDatabase(m, &l) == win32::kErrorServiceDatabaseLocked ? 0 : 1);
  }
  int wstatus = 0;
  ::waitpid(child, &wstatus, 0);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  EXPECT_EQ(UnlockServiceDatabase(lock), win32::kErrorSuccess);
  EXPECT_EQ(UnlockServiceDatabase(lock), win32::kErrorInvalidServiceLock);
  ASSERT_EQ(LockServiceDatabase(scm_, &second), win32::kErrorSuccess);
  EXPECT_EQ(UnlockServiceDatabase(second), win32::kErrorSuccess);
}

}  // namespace
}  // namespace zimo::platform
