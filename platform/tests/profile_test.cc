#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <utility>

#include "platform/home.h"
#include "temp_home.h"

namespace zimo::platform {
namespace {

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spill(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

// Mixed line ends, a comment, a malformed line, quotes, blanks, a section
// given twice in different case, and a key before any section.
constexpr char kFixture[] =
    "Orphan=1\n"
    "; settings\r\n"
    "[General]\r\n"
    "  Name =  \"Quoted Value\"  \r\n"
    "Single='x'\n"
    "Half=\"open\n"
    "Count=42\n"
    "Neg=-17\n"
    "Hex=0x1F\n"
    "Junk=12abc\n"
    "this line has no equals sign\n"
    "Empty=\n"
    "[other]\n"
    "key=val\n"
    "[GENERAL]\n"
    "Extra=1\n";

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { Spill(WindowsDir() / "TEST.INI", kFixture); }
  testing::TempHome home_;
};

TEST_F(ProfileTest, ReadsValuesByWindowsRules) {
  struct Case {
    const char* section;
    const char* key;
    const char* default_text;
    uint32_t size;
    std::string expected;
    uint32_t result;
  };
  const Case cases[] = {
      {"general", "NAME", "d", 80, "Quoted Value", 12},  // case, blanks, quotes
      {"General", "Single", "d", 80, "x", 1},            // single quotes too
      {"General", "Half", "d", 80, "\"open", 5},         // unmatched quote stays
      {"General", "Empty", "d", 80, "", 0},              // present but empty: no default
      {"General", "Extra", "d", 80, "1", 1},             // from the repeated section
      {"General", "Missing", "dflt  ", 80, "dflt", 4},   // default, trailing blanks trimmed
      {"General", "Missing", nullptr, 80, "", 0},
      {"Nowhere", "key", "d", 80, "d", 1},
      {"General", "Orphan", "d", 80, "d", 1},  // lines before any section belong to none
      {"General", "this line has no equals sign", "d", 80, "d", 1},
      {"General", "Name", "d", 5, "Quot", 4},  // cut to size - 1
      {"General", "Missing", "default", 4, "def", 3},
      {"General", "Name", "d", 1, "", 0},
  };
  const ProfileReader reader("test.ini");  // the file read once answers the same
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    char buf[128];
    std::memset(buf, 'X', sizeof buf);
    uint32_t n =
        GetPrivateProfileStringA(c.section, c.key, c.default_text, buf, c.size, "test.ini");
    EXPECT_EQ(n, c.result);
    EXPECT_EQ(std::string(buf), c.expected);
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(reader.GetString(c.section, c.key, c.default_text, buf, c.size), c.result);
    EXPECT_EQ(std::string(buf), c.expected);
  }
  char untouched = 'X';
  EXPECT_EQ(GetPrivateProfileStringA("General", "Name", "d", &untouched, 0, "TEST.INI"), 0u);
  EXPECT_EQ(untouched, 'X');
}

TEST_F(ProfileTest, AReaderKeepsTheFileAsItWasWhenRead) {
  const ProfileReader reader("TEST.INI");
  ASSERT_TRUE(WritePrivateProfileStringA("General", "Count", "43", "TEST.INI"));
  char buf[16];
  EXPECT_EQ(reader.GetString("General", "Count", "d", buf, sizeof buf), 2u);
  EXPECT_STREQ(buf, "42");
  EXPECT_EQ(GetPrivateProfileStringA("General", "Count", "d", buf, sizeof buf, "TEST.INI"), 2u);
  EXPECT_STREQ(buf, "43");
  const ProfileReader missing("NOSUCH.INI");
  EXPECT_EQ(missing.GetString("General", "Count", "7", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "7");
}

TEST_F(ProfileTest, ListsSectionsAndKeysAsDoubleNulLists) {
  char buf[128];
  uint32_t n = GetPrivateProfileStringA(nullptr, nullptr, nullptr, buf, sizeof buf, "TEST.INI");
  EXPECT_EQ(std::string(buf, n + 1), std::string("General\0other\0\0", 15));
  EXPECT_EQ(GetPrivateProfileSectionNamesA(buf, sizeof buf, "TEST.INI"), n);

  n = GetPrivateProfileStringA("other", nullptr, nullptr, buf, sizeof buf, "TEST.INI");
  EXPECT_EQ(std::string(buf, n + 1), std::string("key\0\0", 5));
  n = GetPrivateProfileStringA("GENERAL", nullptr, nullptr, buf, sizeof buf, "TEST.INI");
  EXPECT_EQ(std::string(buf, n + 1),
            std::string("Name\0Single\0Half\0Count\0Neg\0Hex\0Junk\0Empty\0Extra\0\0", 49));

  // Too small: cut, two NULs at the end, size - 2.
  std::memset(buf, 'X', sizeof buf);
  n = GetPrivateProfileStringA(nullptr, nullptr, nullptr, buf, 10, "TEST.INI");
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::string(buf, 10), std::string("General\0\0\0", 10));
  n = GetPrivateProfileStringA(nullptr, nullptr, nullptr, buf, 6, "TEST.INI");
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 6), std::string("Gene\0\0", 6));

  n = GetPrivateProfileSectionA("other", buf, sizeof buf, "TEST.INI");
  EXPECT_EQ(std::string(buf, n + 1), std::string("key=val\0\0", 9));
  n = GetPrivateProfileSectionA("Missing", buf, sizeof buf, "TEST.INI");
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(std::string(buf, 2), std::string("\0\0", 2));
}

TEST_F(ProfileTest, ReadsIntegersLikeWindows) {
  struct Case {
    const char* key;
    int32_t default_value;
    uint32_t expected;
  };
  const Case cases[] = {
      {"Count", 5, 42}, {"Neg", 5, static_cast<uint32_t>(-17)},     {"Hex", 5, 31}, {"Junk", 5, 12},
      {"Name", 5, 0},  // no digits
      {"Empty", 5, 5},  {"Missing", -3, static_cast<uint32_t>(-3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(GetPrivateProfileIntA("General", c.key, c.default_value, "TEST.INI"), c.expected);
  }
}

TEST_F(ProfileTest, WritesInPlaceAndKeepsWhatItDoesNotUnderstand) {
  ASSERT_TRUE(WritePrivateProfileStringA("general", "count", "43", "TEST.INI"));
  ASSERT_TRUE(WritePrivateProfileStringA("Other", "new", "v", "TEST.INI"));
  ASSERT_TRUE(WritePrivateProfileStringA("Third", "k", "3", "TEST.INI"));
  ASSERT_TRUE(WritePrivateProfileStringA("General", "Neg", nullptr, "TEST.INI"));
  ASSERT_TRUE(WritePrivateProfileStringA("General", "Missing", nullptr, "TEST.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "TEST.INI"),
            "Orphan=1\r\n"
            "; settings\r\n"
            "[General]\r\n"
            "  Name =  \"Quoted Value\"  \r\n"
            "Single='x'\r\n"
            "Half=\"open\r\n"
            "Count=43\r\n"
            "Hex=0x1F\r\n"
            "Junk=12abc\r\n"
            "this line has no equals sign\r\n"
            "Empty=\r\n"
            "[other]\r\n"
            "key=val\r\n"
            "new=v\r\n"
            "[GENERAL]\r\n"
            "Extra=1\r\n"
            "[Third]\r\n"
            "k=3\r\n");

  // A null key deletes every section of that name with all its lines.
  ASSERT_TRUE(WritePrivateProfileStringA("GENERAL", nullptr, nullptr, "TEST.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "TEST.INI"),
            "Orphan=1\r\n"
            "; settings\r\n"
            "[other]\r\n"
            "key=val\r\n"
            "new=v\r\n"
            "[Third]\r\n"
            "k=3\r\n");
}

TEST_F(ProfileTest, NewKeyGoesAfterTheLastEntryOfItsSection) {
  Spill(WindowsDir() / "GAP.INI", "[a]\nx=1\n\n[b]\ny=2\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "z", "3", "GAP.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "GAP.INI"), "[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n");
}

TEST_F(ProfileTest, CreatesFilesInTheWindowsDirectoryOrWhereTheyAreNamed) {
  ASSERT_TRUE(WritePrivateProfileStringA("ZIMODOWNLOAD", "DOWNLOADFILE1", "a.pmc 1", "WIN.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "WIN.INI"), "[ZIMODOWNLOAD]\r\nDOWNLOADFILE1=a.pmc 1\r\n");

  // An existing file is found whatever case the caller spells it in.
  Spill(SystemDir() / "dovize32.ini", "[General]\nLast=7\n");
  std::string system_file = SystemDir().string() + "\\DOVIZE32.INI";
  EXPECT_EQ(GetPrivateProfileIntA("General", "Last", 0, system_file.c_str()), 7u);
  ASSERT_TRUE(WritePrivateProfileStringA("General", "Last", "8", system_file.c_str()));
  EXPECT_EQ(Slurp(SystemDir() / "dovize32.ini"), "[General]\r\nLast=8\r\n");
  EXPECT_FALSE(std::filesystem::exists(SystemDir() / "DOVIZE32.INI"));

  std::string drive_file = "C:\\Zimo\\Vocto0.ini";
  std::filesystem::create_directories(home_.path() / "drive_c" / "Zimo");
  ASSERT_TRUE(WritePrivateProfileStringA("Communication", "DeviceNumber", "0", drive_file.c_str()));
  EXPECT_TRUE(std::filesystem::exists(home_.path() / "drive_c" / "Zimo" / "Vocto0.ini"));
  // A folder that does not exist is a failure, not a silent success.
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "C:\\NoSuchDir\\x.ini"));
}

// A file marked read-only is never replaced, whatever its folder allows:
// every kind of write fails and the file keeps its bytes and its mode.
TEST_F(ProfileTest, AReadOnlyFileIsNotWritten) {
  const std::filesystem::path file = WindowsDir() / "TEST.INI";
  const std::string before = Slurp(file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  EXPECT_FALSE(WritePrivateProfileStringA("General", "Count", "43", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("General", "Count", "42", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("New", "k", "v", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("General", "Count", nullptr, "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("other", nullptr, nullptr, "TEST.INI"));
  EXPECT_EQ(Slurp(file), before);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  // Writable again, the same write goes through.
  std::filesystem::permissions(file, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  EXPECT_TRUE(WritePrivateProfileStringA("General", "Count", "43", "TEST.INI"));
  EXPECT_EQ(GetPrivateProfileIntA("General", "Count", 0, "TEST.INI"), 43u);
}

// A pipe in place of the file is no INI file: a read gives the default at
// once instead of waiting for a writer, and a write leaves the pipe alone.
TEST_F(ProfileTest, APipeIsNeitherReadNorReplaced) {
  const std::filesystem::path pipe = WindowsDir() / "PIPE.INI";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  // Runs `call` on a thread of its own; one that still waits on the pipe
  // after a generous deadline fails the test and is let go by a writer.
  auto bounded = [&pipe](auto call) {
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the call waits for a writer of the pipe";
      int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    return result.get();
  };
  const auto read = bounded([] {
    char buf[16];
    const uint32_t n =
        GetPrivateProfileStringA("General", "Count", "7", buf, sizeof buf, "PIPE.INI");
    return std::make_pair(n, std::string(buf));
  });
  EXPECT_EQ(read, std::make_pair(1u, std::string("7")));
  EXPECT_FALSE(
      bounded([] { return WritePrivateProfileStringA("General", "Count", "8", "PIPE.INI"); }));
  EXPECT_EQ(std::filesystem::status(pipe).type(), std::filesystem::file_type::fifo);
}

TEST_F(ProfileTest, RefusesTextThatWouldBreakTheFile) {
  std::string before = Slurp(WindowsDir() / "TEST.INI");
  EXPECT_FALSE(WritePrivateProfileStringA("General", "k", "line\r\n[Injected]", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("General", "a=b", "v", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("Gen]eral", "k", "v", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("", "k", "v", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA("General", ";k", "v", "TEST.INI"));
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", "TEST.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "TEST.INI"), before);
  EXPECT_TRUE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, "TEST.INI"));  // flush
}

TEST_F(ProfileTest, WideFormsConvertThroughWindows1252) {
  ASSERT_TRUE(WritePrivateProfileStringW(u"Sprache", u"Gruß", u"Grüße €", u"WIDE.INI"));
  EXPECT_EQ(Slurp(WindowsDir() / "WIDE.INI"),
            "[Sprache]\r\nGru\xdf=Gr\xfc\xdf"
            "e \x80\r\n");
  char16_t buf[32];
  uint32_t n = GetPrivateProfileStringW(u"SPRACHE", u"GRUß", u"", buf, 32, u"wide.ini");
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(std::u16string(buf), u"Grüße €");
  n = GetPrivateProfileStringW(nullptr, nullptr, nullptr, buf, 32, u"WIDE.INI");
  EXPECT_EQ(std::u16string(buf, n + 1), std::u16string(u"Sprache\0\0", 9));
  n = GetPrivateProfileSectionW(u"Sprache", buf, 32, u"WIDE.INI");
  EXPECT_EQ(std::u16string(buf, n + 1), std::u16string(u"Gruß=Grüße €\0\0", 14));
  EXPECT_EQ(GetPrivateProfileIntW(u"Sprache", u"none", 9, u"WIDE.INI"), 9u);
}

TEST(ProfileConcurrencyTest, WritersInTwoProcessesLoseNoKey) {
  testing::TempHome home;
  constexpr int kKeys = 60;
  auto writer = [](char tag) {
    for (int i = 0; i < kKeys; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%c%02d", tag, i);
      if (!WritePrivateProfileStringA("S", key, "v", "SHARED.INI")) return 1;
    }
    return 0;
  };
  pid_t a = ::fork();
  if (a == 0) ::_exit(writer('a'));
  pid_t b = ::fork();
  if (b == 0) ::_exit(writer('b'));
  int sa = 0, sb = 0;
  ::waitpid(a, &sa, 0);
  ::waitpid(b, &sb, 0);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
  char buf[2048];
  uint32_t n = GetPrivateProfileSectionA("S", buf, sizeof buf, "SHARED.INI");
  int count = 0;
  for (uint32_t i = 0; i < n; ++i) count += buf[i] == '\0';
  EXPECT_EQ(count, 2 * kKeys);
}

}  // namespace
}  // namespace zimo::platform
