// zimo-term tells why a device could not be opened, and why an exchange
// failed.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "gather_card_fixture.h"
#include "platform/home.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace {

namespace platform = zimo::platform;

struct TermRun {
  int exit_code = -1;
  std::string said;     // standard error
  std::string printed;  // standard output
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TermRun RunTerm(const zimo::testing::TempHome& home, const std::string& arguments,
                const std::string& lines = "I10") {
  const std::filesystem::path err = home.path() / "term.err";
  const std::filesystem::path out = home.path() / "term.out";
  const std::string command = "timeout 60 '" + (zimo::testing::BinDir() / "zimo-term").string() +
                              "' " + arguments + " " + lines + " </dev/null >'" + out.string() +
                              "' 2>'" + err.string() + "'";
  TermRun run;
  const int status = std::system(command.c_str());
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.said = ReadAll(err);
  run.printed = ReadAll(out);
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
  {
    SCOPED_TRACE("a PCI card without its driver host");
    zimo::testing::TempHome home;
    RegisterServerClass();
    auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                             "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device2");
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetDword("Location", 4).ok());
    ASSERT_TRUE(key->SetDword("Enumeration", 0).ok());
    const TermRun run = RunTerm(home, "-d 2");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find("the driver device \\\\.\\ZimoPCI0 is missing"), std::string::npos)
        << run.said;
    EXPECT_NE(run.said.find("zimo-drvhost --card \"pci older\""), std::string::npos) << run.said;
  }
  {
    SCOPED_TRACE("a device past a gap in the device keys");
    zimo::testing::TempHome home;
    RegisterServerClass();
    auto key = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                             "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device1");
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetDword("Location", 3).ok());
    ASSERT_TRUE(key->SetDword("Enumeration", 0).ok());
    const TermRun run = RunTerm(home, "-d 1");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.said.find("device 1 is not reached: the device keys stop at Device0"),
              std::string::npos)
        << run.said;
  }
}

// An exchange that fails prints the library's error with its text after the
// result word: here a command longer than a request to an Ethernet card
// can carry.
TEST(ZimoTermExchange, AFailedExchangePrintsTheErrorAndItsText) {
  zimo::testing::TempHome home;
  zimo::corvan::testing::LibraryClock clock;
  zimo::corvan::testing::GatherRig rig({zimo::corvan::testing::GatherLink::kUdp, false});
  ASSERT_TRUE(rig.Open());
  const std::string overlong = "P1=" + std::string(1500, '1');
  const TermRun run = RunTerm(home, "-d 0", "I10 " + overlong);
  EXPECT_EQ(run.exit_code, 1) << run.said;
  EXPECT_NE(run.printed.find("> I10\n3713707\n= 0x80000008 (complete, 8 characters)\n"),
            std::string::npos)
      << run.printed;
  EXPECT_NE(run.printed.find("= 0xF0000000 (failure, 0 characters)\n"
                             "! error 28 Comm BUS Send Line > 200 char\n"),
            std::string::npos)
      << run.printed;
}

}  // namespace
