#include "link/text_utils.h"

#include <gtest/gtest.h>

#include <string>

#include "corvan/errors.h"

namespace zimo::corvan {
namespace {

struct StripCase {
  std::string input;
  std::string without_controls;
  std::string without_white_space;
};

const StripCase kStripCases[] = {
    // A card reply with blanks and its CR.
    {" I 10 = 5\r", " I 10 = 5", "I10=5"},
    // Every control byte goes, DEL included.
    {"\x01"
     "a\x06\x07"
     "b\x1f\x7f"
     "c",
     "abc", "abc"},
    {"tab\there\nand\vff\fcr\r", "tabhereandffcr", "tabhereandffcr"},
    // Windows-1252 letters and signs (0x80..0xFF) are ordinary characters.
    {"caf\xe9 \x80 \xa0x", "caf\xe9 \x80 \xa0x", "caf\xe9\x80\xa0x"},
    {"", "", ""},
    {"\r\n\x06", "", ""},
    {"   ", "   ", ""},
};

TEST(StripText, RemovesExactlyTheCharactersOfItsKind) {
  for (const StripCase& c : kStripCases) {
    SCOPED_TRACE(c.input);
    std::string a = c.input;
    std::string b = c.input;
    EXPECT_EQ(szStripControlCharA(a.data()), a.data());
    EXPECT_EQ(std::string(a.c_str()), c.without_controls);
    EXPECT_EQ(szStripWhiteSpaceA(b.data()), b.data());
    EXPECT_EQ(std::string(b.c_str()), c.without_white_space);
  }
}

TEST(StripText, NullTextGivesNull) {
  EXPECT_EQ(szStripControlCharA(nullptr), nullptr);
  EXPECT_EQ(szStripWhiteSpaceA(nullptr), nullptr);
}

TEST(CopyTerminated, CutsToCapacityAndAlwaysTerminates) {
  char buffer[8] = "zzzzzzz";
  EXPECT_EQ(CopyTerminated(buffer, 4, "English"), 3u);
  EXPECT_STREQ(buffer, "Eng");
  EXPECT_EQ(buffer[4], 'z');  // nothing written past the capacity

  EXPECT_EQ(CopyTerminated(buffer, sizeof buffer, "abc"), 3u);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(CopyTerminated(buffer, sizeof buffer, nullptr), 0u);
  EXPECT_STREQ(buffer, "");

  buffer[0] = 'q';
  EXPECT_EQ(CopyTerminated(buffer, 0, "abc"), 0u);
  EXPECT_EQ(buffer[0], 'q');
}

}  // namespace
}  // namespace zimo::corvan
