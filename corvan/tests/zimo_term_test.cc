// zimo-term tells why a device could not be opened.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/home.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace {

namespace platform = zimo::platform;

struct TermRun {
  int exit_code = -1;
  std::string said;  // standard error
};

TermRun RunTerm(const zimo::testing::TempHome& home, const std::string& arguments) {
  const std::filesystem::path err = home.path() / "term.err";
  const std::string command = "timeout 60 '" + (zimo::testing::BinDir() / "zimo-term").string() +
                              "' " + arguments + " I10 </dev/null >/dev/null 2>'" + err.string() +
                              "'";
  TermRun run;
  const int status = std::system(command.c_str());
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  std::ifstream in(err);
  run.said.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

void RegisterServerClass() {
  auto key =
      platform::RegistryKey::Create(platform::kHkeyClassesRoot, "ZimoServer.ZimoService\\CLSID");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetString("", "{5A1C0D3E-27B4-4C61-9E0F-6B2D8A7C1F10}").ok());
}

TEST(ZimoTermOpenFailure, SaysWhyTheDeviceCouldNotBeOpened) {
  {
    SCOPED_TRACE("no server registered");
    zimo::testing::TempHome home;
    const TermRun run = RunTerm(home, "-d 0");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find("run `zimoserver -RegServer`"), std::string::npos) << run.said;
  }
  {
    SCOPED_TRACE("a malformed registry");
    zimo::testing::TempHome home;
    {
      std::ofstream reg(platform::RegistryFile(), std::ios::binary | std::ios::trunc);
      reg << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM]\r\nnot a value\r\n";
    }
    const TermRun run = RunTerm(home, "-d 0");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find(platform::RegistryFile().string() + ":4"), std::string::npos)
        << run.said;
  }
  {
    SCOPED_TRACE("a device nobody registered");
    zimo::testing::TempHome home;
    RegisterServerClass();
    const TermRun run = RunTerm(home, "-d 3");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find("device 3 is not registered"), std::string::npos) << run.said;
  }
  {
    SCOPED_TRACE("a serial port that is not there");
    zimo::testing::TempHome home;
    RegisterServerClass();
    const TermRun run = RunTerm(home, "-d 1 -s 6");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find("serial port COM6 is not there or cannot be used"), std::string::npos) << run.said;
  }
}

}  // namespace
