#include <gtest/gtest.h>

#include <fstream>

#include "platform/home.h"
#include "platform/win_path.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

void Touch(const std::filesystem::path& p) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p);
}

TEST(WinPathTest, MapsWindowsPathsIntoTheHome) {
  testing::TempHome home;
  const std::filesystem::path h = home.path();
  struct Case {
    const char* in;
    std::filesystem::path out;
  };
  const Case cases[] = {
      {"C:\\Dir\\F.ext", h / "drive_c" / "Dir" / "F.ext"},
      {"d:/data/x", h / "drive_d" / "data" / "x"},
      {"C:", h / "drive_c"},
      {"C:\\..\\..\\etc\\passwd", h / "drive_c" / "etc" / "passwd"},  // never above the root
      {"C:\\a\\.\\b\\..\\c", h / "drive_c" / "a" / "c"},
      {"\\SystemRoot\\System32\\drivers\\ZIMO.SYS",
       h / "windows" / "System32" / "drivers" / "ZIMO.SYS"},
      {"%SystemRoot%\\System32\\IoLogMsg.dll", h / "windows" / "System32" / "IoLogMsg.dll"},
      {"\\systemroot", h / "windows"},
      {"\\SystemRootX\\a", h / "drive_c" / "SystemRootX" / "a"},
      {"\\Zimo\\f.ini", h / "drive_c" / "Zimo" / "f.ini"},
      {"/usr/bin/env", "/usr/bin/env"},
      {"rel\\sub\\f.txt", "rel/sub/f.txt"},
      {"\\\\.\\COM1", "//./COM1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ToHostPath(c.in), c.out);
  }
  EXPECT_EQ(FromHostPath(h / "drive_c" / "Dir" / "F.ext"), "C:\\Dir\\F.ext");
  EXPECT_EQ(FromHostPath(h / "drive_e"), "E:\\");
  EXPECT_EQ(FromHostPath("/usr/bin/env"), "/usr/bin/env");
}

TEST(WinPathTest, ResolvesNamesAgainstTheDiskWithoutCase) {
  testing::TempHome home;
  const std::filesystem::path c = home.path() / "drive_c";
  Touch(c / "Zimo" / "Config" / "Vocto0.ini");
  EXPECT_EQ(ToHostPath("C:\\ZIMO\\CONFIG\\VOCTO0.INI"), c / "Zimo" / "Config" / "Vocto0.ini");
  // Missing parts keep their spelling after the last part that exists.
  EXPECT_EQ(ToHostPath("C:\\zimo\\NEW\\F.TXT"), c / "Zimo" / "NEW" / "F.TXT");
  // An exact match wins; otherwise the first match in name order.
  Touch(c / "dup" / "File.txt");
  Touch(c / "dup" / "FILE.TXT");
  EXPECT_EQ(ToHostPath("C:\\dup\\FILE.TXT"), c / "dup" / "FILE.TXT");
  EXPECT_EQ(ToHostPath("C:\\dup\\file.txt"), c / "dup" / "FILE.TXT");
  // A POSIX folder with a Windows tail appended, as system-directory texts are.
  Touch(SystemDir() / "dovize32.ini");
  EXPECT_EQ(ToHostPath(SystemDir().string() + "\\DOVIZE32.INI"), SystemDir() / "dovize32.ini");
}

TEST(WinPathTest, SplitsAndJoinsLikeTheCRuntime) {
  struct Case {
    const char* path;
    WinPathParts parts;
  };
  const Case cases[] = {
      {"C:\\dir\\sub\\file.tar.gz", {"C:", "\\dir\\sub\\", "file.tar", ".gz"}},
      {"file", {"", "", "file", ""}},
      {"/posix/dir/f.cfg", {"", "/posix/dir/", "f", ".cfg"}},
      {"d:name.ext", {"d:", "", "name", ".ext"}},
      {"dir.d\\noext", {"", "dir.d\\", "noext", ""}},
      {".profile", {"", "", "", ".profile"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    WinPathParts p = SplitWinPath(c.path);
    EXPECT_EQ(p.drive, c.parts.drive);
    EXPECT_EQ(p.dir, c.parts.dir);
    EXPECT_EQ(p.name, c.parts.name);
    EXPECT_EQ(p.ext, c.parts.ext);
    EXPECT_EQ(MakeWinPath(p.drive, p.dir, p.name, p.ext), c.path);
  }
  EXPECT_EQ(MakeWinPath("C", "\\dir", "f", "cfg"), "C:\\dir\\f.cfg");
}

TEST(WinPathTest, SearchesFoldersInOrder) {
  testing::TempHome home;
  const std::filesystem::path first = home.path() / "drive_c" / "first";
  const std::filesystem::path second = home.path() / "second";
  Touch(second / "Include.PMH");
  Touch(second / "both.txt");
  Touch(first / "both.txt");
  std::string folders = "C:\\first; " + second.string();

  EXPECT_EQ(SearchFile(folders, "include", ".pmh"), second / "Include.PMH");
  EXPECT_EQ(SearchFile(folders, "BOTH.TXT"), first / "both.txt");
  EXPECT_EQ(SearchFile(folders, "both.txt", ".pmh"), first / "both.txt");  // has an extension
  EXPECT_EQ(SearchFile(folders, "nothing.pmh"), std::nullopt);
  EXPECT_EQ(SearchFile(folders, "first"), std::nullopt);  // a folder is not a file
  EXPECT_EQ(SearchFile("", "C:\\first\\both.txt"), first / "both.txt");
  Touch(WindowsDir() / "WIN.INI");
  EXPECT_EQ(SearchFile("", "win.ini"), WindowsDir() / "WIN.INI");

  char buf[512];
  char* name = nullptr;
  uint32_t n = SearchPathA(folders.c_str(), "include.pmh", nullptr, sizeof buf, buf, &name);
  std::string expected = (second / "Include.PMH").string();
  EXPECT_EQ(n, expected.size());
  EXPECT_EQ(std::string(buf), expected);
  EXPECT_STREQ(name, "Include.PMH");
  char small[4] = "abc";
  EXPECT_EQ(SearchPathA(folders.c_str(), "include.pmh", nullptr, sizeof small, small, nullptr),
            expected.size() + 1);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(SearchPathA(folders.c_str(), "none", nullptr, sizeof buf, buf, nullptr), 0u);
}

}  // namespace
}  // namespace zimo::platform
