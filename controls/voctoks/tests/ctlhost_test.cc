// The test container driving VoctoKS from its registration, with the
// stand-in library beside the container (found first, as the real one
// would be).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/text_file.h"
#include "temp_home.h"

namespace zimo::voctoks::testing {
namespace {

namespace fs = std::filesystem;

TEST(CtlHostTest, AScriptDrivesTheControlByNameAndDispid) {
  zimo::testing::TempHome home;
  const fs::path dir = home.path() / "host";
  fs::create_directories(dir);
  fs::copy_file(zimo::testing::BinDir() / "zimo-ctlhost", dir / "zimo-ctlhost");
  fs::copy_file(FAKE_CORVAN_FULL, dir / "libcorvan32.so");
  const fs::path library = fs::canonical(zimo::testing::BinDir() / "libvoctoks.so");
  std::ofstream(dir / "Vocto1.INI", std::ios::binary)
      << "[Communication]\r\nDeviceNumber=1\r\nSimulateCommunication=0\r\nEnabled=1\r\n";
  std::ofstream(dir / "script.txt") << "register " << library.string() << "\n"
                                    << "create VOCTOKS.VoctoKSCtrl.1\n"
                                    << "site user Vocto1\n"
                                    << "new\n"
                                    << "call #17 @ \"I10\"\n"
                                    << "call DPRGetWord 'X' 5\n"
                                    << "get DeviceNumber\n"
                                    << "set DeviceNumber 5\n"
                                    << "call SelectDevice\n"
                                    << "mode design\n"
                                    << "pages\n"
                                    << "page 1 set 219 100001\n"
                                    << "press Apply\n"
                                    << "page 1 set 219 50\n"
                                    << "press OK\n"
                                    << "get DownloadMaxErrors\n"
                                    << "save form.bag\n"
                                    << "load form.bag\n"
                                    << "get DownloadMaxErrors\n";
  const std::string command = "cd " + dir.string() + " && FAKE_CORVAN_REPLY=$'42\\r' " +
                              "./zimo-ctlhost script.txt > out.txt 2> err.txt";
  ASSERT_EQ(std::system(("bash -c \"" + command + "\"").c_str()), 0)
      << *platform::ReadFileBytes(dir / "err.txt");
  auto out = platform::ReadLines(dir / "out.txt");
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, (std::vector<std::string>{
                      "register: 0x00000000",
                      "create: ok _DVoctoKS",
                      "site: user Vocto1",
                      "new: ok",
                      "call #17: True out \"42\"",
                      "call DPRGetWord: 0",
                      "get DeviceNumber: 1",
                      "changed -514",
                      "event OnError(1016, \"Invalid ZIMO Device Number, Go to CARDSETUP.EXE "
                      "application.\")",
                      "set DeviceNumber: ok",
                      "changed 1",
                      "call SelectDevice: False",
                      "mode: design",
                      "pages: General Download Upload About",
                      "page 1 219: 100001",
                      "box \"Please enter an integer between 0 and 100000.\" caption \"\" answer 1",
                      "press Apply: open",
                      "page 1 219: 50",
                      "changed 10",
                      "press OK: closed",
                      "get DownloadMaxErrors: 50",
                      "save: ok",
                      "load: ok",
                      "get DownloadMaxErrors: 50",
                  }));
  // The design-time save wrote the settings file.
  auto ini = platform::ReadLines(dir / "Vocto1.INI");
  ASSERT_TRUE(ini.ok());
  EXPECT_NE(std::find(ini->begin(), ini->end(), "DownloadMaxErrors=50"), ini->end());
}

// A control left simulating its communication answers without a card; the
// container says so once, before the first call.
TEST(CtlHostTest, ASimulatingControlIsNamedOnce) {
  zimo::testing::TempHome home;
  const fs::path dir = home.path() / "host";
  fs::create_directories(dir);
  fs::copy_file(zimo::testing::BinDir() / "zimo-ctlhost", dir / "zimo-ctlhost");
  fs::copy_file(FAKE_CORVAN_FULL, dir / "libcorvan32.so");
  const fs::path library = fs::canonical(zimo::testing::BinDir() / "libvoctoks.so");
  std::ofstream(dir / "script.txt") << "register " << library.string() << "\n"
                                    << "create VOCTOKS.VoctoKSCtrl.1\n"
                                    << "site user Vocto2\n"
                                    << "new\n"
                                    << "call GetResponse @ \"I10\"\n"
                                    << "call GetResponse @ \"I10\"\n";
  const std::string command = "cd " + dir.string() + " && FAKE_CORVAN_REPLY=$'42\\r' " +
                              "./zimo-ctlhost script.txt > out.txt 2> err.txt";
  ASSERT_EQ(std::system(("bash -c \"" + command + "\"").c_str()), 0)
      << *platform::ReadFileBytes(dir / "err.txt");
  auto out = platform::ReadLines(dir / "out.txt");
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, (std::vector<std::string>{
                      "register: 0x00000000",
                      "create: ok _DVoctoKS",
                      "site: user Vocto2",
                      "new: ok",
                      "note: the control simulates its communication (SimulateCommunication is "
                      "True): its calls reach no card; set SimulateCommunication False to use "
                      "the card",
                      "call GetResponse: False out \"\"",
                      "call GetResponse: False out \"\"",
                  }));
}

}  // namespace
}  // namespace zimo::voctoks::testing
