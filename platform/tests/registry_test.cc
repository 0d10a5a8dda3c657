#include "platform/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/home.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kRoot[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO";

std::string FileText() {
  std::ifstream in(RegistryFile(), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& text) {
  std::ofstream out(RegistryFile(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<uint8_t> Dword(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// Points this process at a copy of the current home's registry file, so the
// next call parses the file from scratch as another process would.
class Reparse {
 public:
  Reparse() : source_(RegistryFile()), copy_(std::make_unique<testing::TempHome>()) {
    std::filesystem::copy_file(source_, RegistryFile());
  }

 private:
  std::filesystem::path source_;
  std::unique_ptr<testing::TempHome> copy_;
};

// Runs `body` in a child process and returns its exit code.
template <typename F>
int InChild(F body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(kHkeyLocalMachine, kRoot, 0, "Base", kRegOptionNonVolatile,
                              kKeyAllAccess, nullptr, &root_, nullptr),
              win32::kErrorSuccess);
    HKey dev = 0;
    ASSERT_EQ(RegCreateKeyExA(root_, "Device0\\Nc0", 0, nullptr, 0, kKeyAllAccess, nullptr, &dev,
                              nullptr),
              win32::kErrorSuccess);
    RegCloseKey(dev);
    std::vector<uint8_t> d = Dword(4);
    ASSERT_EQ(RegSetValueExA(root_, "Location", 0, kRegDword, d.data(), 4), win32::kErrorSuccess);
    const char text[] = "English";
    ASSERT_EQ(RegSetValueExA(root_, "Language", 0, kRegSz, reinterpret_cast<const uint8_t*>(text),
                             sizeof text),
              win32::kErrorSuccess);
  }
  void TearDown() override { RegCloseKey(root_); }

  testing::TempHome home_;
  HKey root_ = 0;
};

TEST_F(RegistryTest, ResultCodesFollowWin32) {
  HKey h = 0;
  uint8_t buf[64];
  uint32_t size = 0;
  uint32_t type = 0;

  EXPECT_EQ(RegOpenKeyExA(root_, "Device7", 0, kKeyRead, &h), win32::kErrorFileNotFound);
  EXPECT_EQ(RegOpenKeyExA(root_, "\\Device0", 0, kKeyRead, &h), win32::kErrorBadPathname);
  EXPECT_EQ(RegOpenKeyExA(root_, "Device0\\\\Nc0", 0, kKeyRead, &h), win32::kErrorBadPathname);
  EXPECT_EQ(RegOpenKeyExA(root_, std::string(256, 'k').c_str(), 0, kKeyRead, &h),
            win32::kErrorInvalidParameter);
  EXPECT_EQ(RegOpenKeyExA(root_, "Device0", 0, kKeyRead, nullptr), win32::kErrorInvalidParameter);
  EXPECT_EQ(RegCreateKeyExA(root_, "Vol", 0, nullptr, kRegOptionVolatile, kKeyAllAccess, nullptr,
                            &h, nullptr),
            win32::kErrorInvalidParameter);
  EXPECT_EQ(RegQueryValueExA(root_, "Missing", nullptr, &type, buf, &size),
            win32::kErrorFileNotFound);
  EXPECT_EQ(RegQueryValueExA(root_, "Location", nullptr, &type, buf, nullptr),
            win32::kErrorInvalidParameter);

  // Size only, then a short buffer: the needed size comes back either way.
  EXPECT_EQ(RegQueryValueExA(root_, "Language", nullptr, &type, nullptr, &size),
            win32::kErrorSuccess);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, kRegSz);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(root_, "Language", nullptr, &type, buf, &size), win32::kErrorMoreData);
  EXPECT_EQ(size, 8u);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(root_, "Language", nullptr, &type, buf, &size), win32::kErrorSuccess);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "English");

  char name[8];
  uint32_t name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root_, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            win32::kErrorNoMoreItems);
  name_size = 7;  // "Device0" needs 8 with its terminator
  EXPECT_EQ(RegEnumKeyExA(root_, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            win32::kErrorMoreData);
  name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root_, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            win32::kErrorSuccess);
  EXPECT_STREQ(name, "Device0");
  EXPECT_EQ(name_size, 7u);
  name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(root_, 2, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            win32::kErrorNoMoreItems);

  EXPECT_EQ(RegDeleteKeyA(root_, "Device0"), win32::kErrorAccessDenied);  // has Nc0
  EXPECT_EQ(RegDeleteKeyA(root_, "Device5"), win32::kErrorFileNotFound);
  EXPECT_EQ(RegDeleteValueA(root_, "Missing"), win32::kErrorFileNotFound);

  // A read-only handle may read but not write.
  ASSERT_EQ(RegOpenKeyExA(kHkeyLocalMachine, kRoot, 0, kKeyRead, &h), win32::kErrorSuccess);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(h, "Location", nullptr, &type, buf, &size), win32::kErrorSuccess);
  std::vector<uint8_t> d = Dword(1);
  EXPECT_EQ(RegSetValueExA(h, "Location", 0, kRegDword, d.data(), 4), win32::kErrorAccessDenied);
  EXPECT_EQ(RegCloseKey(h), win32::kErrorSuccess);
  // A closed handle is an invalid one (6) for every call.
  EXPECT_EQ(RegCloseKey(h), 6);
  EXPECT_EQ(RegQueryValueExA(h, "Location", nullptr, &type, buf, &size), 6);
  HKey sub = 0;
  EXPECT_EQ(RegCreateKeyExA(h, "Sub", 0, nullptr, 0, kKeyAllAccess, nullptr, &sub, nullptr), 6);
  EXPECT_EQ(sub, 0u);
}

TEST_F(RegistryTest, HandleOfDeletedKeyReportsKeyDeleted) {
  HKey nc = 0;
  ASSERT_EQ(RegOpenKeyExA(root_, "Device0\\Nc0", 0, kKeyAllAccess, &nc), win32::kErrorSuccess);
  EXPECT_EQ(RegDeleteTreeA(root_, "Device0"), win32::kErrorSuccess);
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValueExA(nc, "X", nullptr, nullptr, nullptr, &size), win32::kErrorKeyDeleted);
  std::vector<uint8_t> d = Dword(1);
  EXPECT_EQ(RegSetValueExA(nc, "X", 0, kRegDword, d.data(), 4), win32::kErrorKeyDeleted);
  EXPECT_FALSE(RegistryKey::Exists(root_, "Device0"));
  RegCloseKey(nc);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCase) {
  uint32_t disposition = 0;
  HKey h = 0;
  ASSERT_EQ(RegCreateKeyExA(kHkeyLocalMachine, "system\\currentcontrolset\\services\\zimo\\DEVICE0",
                            0, nullptr, 0, kKeyAllAccess, nullptr, &h, &disposition),
            win32::kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  RegCloseKey(h);
  ASSERT_EQ(RegCreateKeyExA(root_, "alpha", 0, "Motion Drivers", 0, kKeyAllAccess, nullptr, &h,
                            &disposition),
            win32::kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  RegCloseKey(h);

  auto key = RegistryKey::Open(kHkeyLocalMachine, kRoot);
  ASSERT_TRUE(key.ok());
  // Subkeys in name order regardless of case; values in the order first set.
  EXPECT_THAT(*key->SubkeyNames(), ElementsAre("alpha", "Device0"));
  ASSERT_TRUE(key->SetDword("LOCATION", 5).ok());
  EXPECT_EQ(*key->GetDword("location"), 5u);
  std::vector<RegValue> values = *key->Values();
  std::vector<std::string> names;
  for (const RegValue& v : values) names.push_back(v.name);
  EXPECT_THAT(names, ElementsAre("Location", "Language"));

  char cls[32];
  uint32_t cls_size = sizeof cls;
  char name[32];
  uint32_t name_size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(root_, 0, name, &name_size, nullptr, cls, &cls_size, nullptr),
            win32::kErrorSuccess);
  EXPECT_STREQ(cls, "Motion Drivers");
}

TEST_F(RegistryTest, EveryTypeSurvivesTheFile) {
  auto key = RegistryKey::Create(kHkeyLocalMachine, kRoot);
  ASSERT_TRUE(key.ok());
  std::vector<uint8_t> long_binary;
  for (int i = 0; i < 100; ++i) long_binary.push_back(static_cast<uint8_t>(i * 7));
  ASSERT_TRUE(key->SetString("Path", "C:\\dir\\\"quoted\" Grüße €").ok());
  ASSERT_TRUE(key->SetString("", "default value").ok());
  ASSERT_TRUE(key->SetExpandString("ImagePath", "%SystemRoot%\\x.sys").ok());
  ASSERT_TRUE(key->SetMultiString("Deps", {"one", "two"}).ok());
  ASSERT_TRUE(key->SetBinary("Blob", long_binary).ok());
  ASSERT_TRUE(key->SetValue("Q", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}).ok());
  ASSERT_TRUE(key->SetString("Lines", "a\nb").ok());
  ASSERT_TRUE(key->SetDword("Big", 0xFFFFFFFF).ok());
  ASSERT_TRUE(key->SetDword("Mixed", 0x12345678).ok());  // byte order
  ASSERT_TRUE(key->SetDword("Bit23", 0x00800000).ok());  // a sign bit of 24-bit words
  // A REG_SZ set without its terminator in odd bytes must not be lost either.
  const uint8_t odd[] = {'a', 0, 'b'};
  ASSERT_EQ(RegSetValueExW(key->handle(), u"Odd", 0, kRegSz, odd, 3), win32::kErrorSuccess);

  std::string text = FileText();
  EXPECT_EQ(text.rfind("REGEDIT4\n\n", 0), 0u);
  EXPECT_THAT(text, HasSubstr("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZIMO]\n"
                              ";class=\"Base\"\n"));
  EXPECT_THAT(text, HasSubstr("\"Path\"=\"C:\\\\dir\\\\\\\"quoted\\\" Grüße €\"\n"));
  EXPECT_THAT(text, HasSubstr("@=\"default value\"\n"));
  EXPECT_THAT(text, HasSubstr("\"Location\"=dword:00000004\n"));
  EXPECT_THAT(text, HasSubstr("\"Big\"=dword:ffffffff\n"));
  EXPECT_THAT(text, HasSubstr("\"Mixed\"=dword:12345678\n"));
  EXPECT_THAT(text, HasSubstr("\"Bit23\"=dword:00800000\n"));
  EXPECT_THAT(text,
              HasSubstr("\"Deps\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\n"));
  EXPECT_THAT(text, HasSubstr("\"Blob\"=hex:00,07,0e,"));
  EXPECT_THAT(text, HasSubstr(",\\\n  "));  // long data continues on the next line
  EXPECT_THAT(text, HasSubstr("\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n"));

  std::vector<RegValue> before = *key->Values();
  Reparse fresh;
  auto again = RegistryKey::Open(kHkeyLocalMachine, kRoot);
  ASSERT_TRUE(again.ok()) << again.status().ToString();
  std::vector<RegValue> after = *again->Values();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].name, before[i].name);
    EXPECT_EQ(after[i].type, before[i].type) << before[i].name;
    EXPECT_EQ(after[i].data, before[i].data) << before[i].name;
  }
  EXPECT_EQ(*again->ClassText(), "Base");
  EXPECT_EQ(*again->GetDword("Mixed"), 0x12345678u);
  EXPECT_EQ(*again->GetDword("Bit23"), 0x00800000u);
  EXPECT_THAT(*again->GetMultiString("Deps"), ElementsAre("one", "two"));
  EXPECT_EQ(*again->GetString("ImagePath"), "%SystemRoot%\\x.sys");
}

TEST_F(RegistryTest, AAndWFormsConvertAtTheEdge) {
  const char latin[] = "Gr\xfc\xdf \x80";  // Windows-1252: Grüß €
  ASSERT_EQ(RegSetValueExA(root_, "Text", 0, kRegSz, reinterpret_cast<const uint8_t*>(latin),
                           sizeof latin - 1),  // no terminator: one is added
            win32::kErrorSuccess);
  char16_t wide[16];
  uint32_t size = sizeof wide;
  ASSERT_EQ(
      RegQueryValueExW(root_, u"TEXT", nullptr, nullptr, reinterpret_cast<uint8_t*>(wide), &size),
      win32::kErrorSuccess);
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(std::u16string(wide), u"Grüß €");

  char narrow[16];
  size = sizeof narrow;
  ASSERT_EQ(
      RegQueryValueExA(root_, "Text", nullptr, nullptr, reinterpret_cast<uint8_t*>(narrow), &size),
      win32::kErrorSuccess);
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(narrow, latin);
  EXPECT_EQ(*RegistryKey::Open(root_, "")->GetString("Text"), "Grüß €");

  // A character the code page lacks reads as '?' through the A form.
  const char16_t cjk[] = u"\u4e2d";
  ASSERT_EQ(
      RegSetValueExW(root_, u"Wide", 0, kRegSz, reinterpret_cast<const uint8_t*>(cjk), sizeof cjk),
      win32::kErrorSuccess);
  size = sizeof narrow;
  ASSERT_EQ(
      RegQueryValueExA(root_, "Wide", nullptr, nullptr, reinterpret_cast<uint8_t*>(narrow), &size),
      win32::kErrorSuccess);
  EXPECT_STREQ(narrow, "?");
}

TEST_F(RegistryTest, TypedGettersRefuseOtherTypes) {
  auto key = RegistryKey::Open(kHkeyLocalMachine, kRoot);
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(key->GetDword("Language").status().code(), Code::kInvalidArgument);
  EXPECT_EQ(key->GetString("Location").status().code(), Code::kInvalidArgument);
  EXPECT_EQ(key->GetDword("Missing").status().code(), Code::kNotFound);
  EXPECT_EQ(WinErrorOf(key->GetDword("Missing").status()), win32::kErrorFileNotFound);
  EXPECT_EQ(RegistryKey::Open(kHkeyLocalMachine, "SYSTEM\\Nope").status().code(), Code::kNotFound);
  EXPECT_EQ(key->DeleteSubkey("Device0").code(), Code::kOsError);  // has subkeys
  EXPECT_TRUE(key->DeleteTree("Device0").ok());
  EXPECT_TRUE(key->DeleteValue("Language").ok());
  EXPECT_THAT(*key->SubkeyNames(), ElementsAre());
}

TEST_F(RegistryTest, ClassesRootLivesUnderLocalMachineSoftwareClasses) {
  auto cls = RegistryKey::Create(kHkeyClassesRoot, "ZimoServer.ZimoService\\CLSID");
  ASSERT_TRUE(cls.ok());
  ASSERT_TRUE(cls->SetString("", "{1234}").ok());
  auto same =
      RegistryKey::Open(kHkeyLocalMachine, "SOFTWARE\\Classes\\ZimoServer.ZimoService\\CLSID");
  ASSERT_TRUE(same.ok());
  EXPECT_EQ(*same->GetString(""), "{1234}");
  EXPECT_THAT(FileText(), HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\ZimoServer."
                                    "ZimoService\\CLSID]\n@=\"{1234}\"\n"));
}

TEST(RegistryFileTest, APersonCanEditTheFile) {
  testing::TempHome home;
  WriteFile(
      "REGEDIT4\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"
      "\"/dev/pts/5\"=\"COM3\"\r\n"
      "  \"Spaced\" = dword:1f\n"
      "[HKEY_CLASSES_ROOT\\Zimo.Thing]\n"
      "@=\"thing\"\n"
      "\"Data\"=hex:01,02,\\\n"
      "   03\n");
  auto key = RegistryKey::Open(kHkeyLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  ASSERT_TRUE(key.ok()) << key.status().ToString();
  EXPECT_EQ(*key->GetString("/dev/pts/5"), "COM3");
  EXPECT_EQ(*key->GetDword("Spaced"), 0x1fu);
  auto thing = RegistryKey::Open(kHkeyClassesRoot, "zimo.thing");
  ASSERT_TRUE(thing.ok());
  EXPECT_EQ(*thing->GetString(""), "thing");
  EXPECT_EQ(thing->GetValue("Data")->data, (std::vector<uint8_t>{1, 2, 3}));

  // An edit made while this process has the file cached is seen.
  WriteFile(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n\"/dev/"
      "ttyS0\"=\"COM1\"\n");
  EXPECT_EQ(*key->GetString("/dev/ttyS0"), "COM1");
  EXPECT_EQ(key->GetString("/dev/pts/5").status().code(), Code::kNotFound);
}

// A rewrite keeps what a person wrote as comments, each above the line it
// stood above; a comment above a deleted value goes with it.
TEST(RegistryFileTest, HandWrittenCommentsSurviveARewrite) {
  testing::TempHome home;
  WriteFile(
      "REGEDIT4\n"
      "\n"
      "; devices of the lab bench\n"
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "; the serial card on COM1\n"
      "\"Location\"=dword:00000002\n"
      ";  old value, kept for now\n"
      "\"Old\"=dword:00000001\n"
      "\n"
      "; second key\n"
      "[HKEY_LOCAL_MACHINE\\B]\n"
      "\"X\"=\"y\"\n"
      "; the end\n");
  auto a = RegistryKey::Open(kHkeyLocalMachine, "A");
  ASSERT_TRUE(a.ok()) << a.status().ToString();
  ASSERT_TRUE(a->SetDword("Enumeration", 1).ok());
  ASSERT_TRUE(a->DeleteValue("Old").ok());
  EXPECT_EQ(FileText(),
            "REGEDIT4\n"
            "\n"
            "; devices of the lab bench\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\A]\n"
            "; the serial card on COM1\n"
            "\"Location\"=dword:00000002\n"
            "\"Enumeration\"=dword:00000001\n"
            "\n"
            "; second key\n"
            "[HKEY_LOCAL_MACHINE\\B]\n"
            "\"X\"=\"y\"\n"
            "\n"
            "; the end\n");
}

// A writer killed between writing its temporary file and renaming it leaves
// "registry.reg.tmp.<pid>" behind; the next writer removes it and nothing
// else.
TEST(RegistryFileTest, TheNextWriterRemovesADeadWritersTemporaryFile) {
  testing::TempHome home;
  WriteFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:1\n");
  const std::filesystem::path dir = RegistryFile().parent_path();
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ASSERT_GT(dead, 0);
  ::waitpid(dead, nullptr, 0);
  const std::filesystem::path stale = dir / ("registry.reg.tmp." + std::to_string(dead));
  const std::filesystem::path other = dir / "registry.reg.tmp.notapid";
  std::ofstream(stale) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Half";
  std::ofstream(other) << "someone else's";
  auto key = RegistryKey::Open(kHkeyLocalMachine, "A");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetDword("Y", 2).ok());
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_EQ(*key->GetDword("Y"), 2u);
}

TEST(RegistryFileTest, MalformedFileIsReportedAndNeverRewritten) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view text;
    int line;
    const char* why;
  };
  const Case cases[] = {
      {"REGEDIT5\n", 1, "REGEDIT4"},
      {"REGEDIT4\n\n\"Orphan\"=dword:1\n", 3, "before the first key"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:123456789\n", 4, "dword"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"open\n", 4, "closing quote"},
      {"REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", 3, "unknown root"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=hex:1,zz\n", 4, "hex"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=hex:01,\\\n", 4, "past the end"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\nstray text\n", 4, "expected [key]"},
      // Bytes that are not UTF-8, in a text, a name, a key and a comment: a
      // rewrite would have replaced them.
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"caf\xE9\"\n", 4, "not valid UTF-8"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"\xC3(\"=dword:1\n", 4, "not valid UTF-8"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\xED\xA0\x80]\n", 3, "not valid UTF-8"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n; \xC0\xAF\n\"X\"=dword:1\n", 4, "not valid UTF-8"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"\xE2\x82\"\n", 4, "not valid UTF-8"},
      // A NUL byte (a text would end at it, and a rewrite drop what follows).
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"ab\0cd\"\n"sv, 4, "NUL"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\0Y\"=dword:1\n"sv, 4, "NUL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    testing::TempHome home;
    WriteFile(std::string(c.text));
    Status check = CheckRegistryFile();
    EXPECT_EQ(check.code(), Code::kBadData);
    EXPECT_THAT(check.message(),
                HasSubstr(RegistryFile().string() + ":" + std::to_string(c.line) + ":"));
    EXPECT_THAT(check.message(), HasSubstr(c.why));

    // Writes fail and leave the file as it was; reads fail too.
    HKey h = 0;
    EXPECT_EQ(RegCreateKeyExA(kHkeyLocalMachine, "SOFTWARE\\New", 0, nullptr, 0, kKeyAllAccess,
                              nullptr, &h, nullptr),
              win32::kErrorBadDb);
    std::vector<uint8_t> d = Dword(1);
    EXPECT_EQ(RegSetValueExA(kHkeyLocalMachine, "X", 0, kRegDword, d.data(), 4),
              win32::kErrorBadDb);
    EXPECT_EQ(RegDeleteTreeA(kHkeyLocalMachine, "A"), win32::kErrorBadDb);
    EXPECT_EQ(RegOpenKeyExA(kHkeyLocalMachine, "A", 0, kKeyRead, &h), win32::kErrorBadDb);
    auto typed = RegistryKey::Create(kHkeyLocalMachine, "SOFTWARE\\New");
    EXPECT_EQ(typed.status().code(), Code::kBadData);
    EXPECT_THAT(typed.status().message(), HasSubstr(RegistryFile().string()));
    EXPECT_EQ(FileText(), c.text);
  }
}

TEST(RegistryFileTest, RepairedFileIsUsedAgain) {
  testing::TempHome home;
  WriteFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:xyz\n");
  EXPECT_EQ(RegistryKey::Open(kHkeyLocalMachine, "A").status().code(), Code::kBadData);
  WriteFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:7\n");
  auto key = RegistryKey::Open(kHkeyLocalMachine, "A");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(*key->GetDword("X"), 7u);
  EXPECT_TRUE(key->SetDword("Y", 8).ok());
}

TEST(RegistryFileTest, TwoProcessesWritingTogetherLoseNoValue) {
  testing::TempHome home;
  constexpr int kPerProcess = 300;
  auto writer = [](char tag) {
    return [tag]() {
      auto key = RegistryKey::Create(kHkeyLocalMachine, "SOFTWARE\\Shared");
      if (!key.ok()) return 1;
      for (int i = 0; i < kPerProcess; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%c%03d", tag, i);
        if (!key->SetDword(name, static_cast<uint32_t>(i)).ok()) return 2;
        // Each writer also keeps a subkey of its own, so key creation races too.
        if (i % 50 == 0) {
          std::snprintf(name, sizeof name, "Sub%c%03d", tag, i);
          if (!RegistryKey::Create(key->handle(), name).ok()) return 3;
        }
      }
      return 0;
    };
  };
  pid_t a = ::fork();
  if (a == 0) ::_exit(writer('a')());
  pid_t b = ::fork();
  if (b == 0) ::_exit(writer('b')());
  int sa = 0, sb = 0;
  ::waitpid(a, &sa, 0);
  ::waitpid(b, &sb, 0);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);

  auto key = RegistryKey::Open(kHkeyLocalMachine, "SOFTWARE\\Shared");
  ASSERT_TRUE(key.ok());
  std::vector<RegValue> values = *key->Values();
  EXPECT_EQ(values.size(), 2u * kPerProcess);
  for (char tag : {'a', 'b'}) {
    for (int i = 0; i < kPerProcess; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%c%03d", tag, i);
      Result<uint32_t> v = key->GetDword(name);
      ASSERT_TRUE(v.ok()) << name;
      EXPECT_EQ(*v, static_cast<uint32_t>(i));
    }
  }
  EXPECT_EQ(key->SubkeyNames()->size(), 12u);
}

TEST(RegistryFileTest, AnotherProcessSeesChangesAtOnce) {
  testing::TempHome home;
  auto key = RegistryKey::Create(kHkeyLocalMachine, "SOFTWARE\\Seen");
  ASSERT_TRUE(key.ok());
  // The same value overwritten quickly with data of the same size: only the
  // file's identity tells the versions apart.
  for (uint32_t round = 1; round <= 20; ++round) {
    ASSERT_EQ(InChild([round] {
                auto k = RegistryKey::Open(kHkeyLocalMachine, "SOFTWARE\\Seen");
                return k.ok() && k->SetDword("V", round).ok() ? 0 : 1;
              }),
              0);
    ASSERT_EQ(*key->GetDword("V"), round);
  }
}

}  // namespace
}  // namespace zimo::platform
