#include "link/error_texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "corvan/errors.h"

namespace zimo::corvan {
namespace {

struct TextCase {
  std::uint32_t number;
  const char* text;
};

// A sample from every block, with the texts' own spelling, spacing and
// escapes (a backslash, line breaks, printf placeholders).
const TextCase kSampleTexts[] = {
    {0, "The ZIMO was sucessfully detected."},
    {3, "Data error or unrecognized command."},
    {11, "Previous move not comleted."},
    {17, "Motors in C.S. not at halted position to restart after / or \\ command."},
    {20, "Maximum ZIMO count reached.."},
    {27, "Comm DPR Send Line > 159 char "},
    {33, "PLCC Unable to pack floating point number"},
    {50, "PLCC Two L-Variables with same address definition"},
    {54, "Could not get complete response, more than maximum characters specified"},
    {66, "RS274 to BIN DPROT Exceeded Max number ZIMO cmmmands per line"},
    {71, "RS274 to ZIMO FILE Output Error"},
    {82, "Unexpected ASCII response, checkums may be enabled, see I4"},
    {90, "The selected ZIMO type: %1, entry number: %2!d!, was not found in the registry."},
    {105, "Unable to open ZIMO device."},
    {203, "The ZIMO driver cannot be removed because of a registry access problem."},
    {257, "DPRAM init failed. BUS init OK.\nCANCEL to abort or OK to continue."},
    {1008, "Timeout during serial ascii read"},
    {1021, "Timeout during communication read"},
    {3001, "Fatal following error."},
    {3108, "ZIMO reset did not occur in time, was too long."},
    {3499, "  Fault: Invalid Motor Number Chosen.\n\n"},
    {3501, "  Fault: Motor #%d is NOT activated.  Set I%d00 = 1.\n\n"},
    {3506, "  Fault: Motor Position Scale Factor (I%d08) CANNOT be set to 0.\n\n"},
    {3600,
     "Warning: Jog-to-Postition Calculation Time (Ixx92) may be set too low.\n"
     "    Ixx92 is currently set to %ld msec.\n\n"},
    {3606, "  Fault: Motor Position Scale Factor (I%d08) CANNOT be set to 0.\n\n"},
    {3628, "  Fault: Soft (I-variable, not digital input) position limit exceeded"},
    {4010,
     "  Fault: Your program pointer is NOT pointing to any program.\n"
     "    Use, for example, B1 to point to the start of program 1.\n\n"},
    {4014, "Warning: Feedrate hold implemented using the '\\' command"},
    {4060,
     " Fault: Your program pointer is NOT pointing to any program.\n"
     "    Use, for example, B1 to point to the start of program 1.\n\n"},
    {4069,
     "Warning: A WARNING FOLLOWING ERROR has occurred on one of the motors in the coordinate "
     "system"},
    {4124, "Too many open files."},
    {9104, "Division by zero"},
    {9999, "Unknown error supplied by application."},
    {10005, "No I, K or R command found on G2/G3 block."},
};

TEST(LibraryTexts, SampleOfEveryBlockReadsAsStored) {
  for (const TextCase& c : kSampleTexts) {
    SCOPED_TRACE(c.number);
    ASSERT_NE(LibraryText(c.number), nullptr);
    EXPECT_STREQ(LibraryText(c.number), c.text);
    EXPECT_STREQ(LoadLibraryString(c.number), c.text);
  }
}

TEST(LibraryTexts, GapsAndNumbersPastTheTableLoadEmpty) {
  for (std::uint32_t number :
       {19u, 25u, 55u, 72u, 202u, 1012u, 3026u, 3529u, 4020u, 4049u, 4125u, 10013u, UINT32_MAX}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(LibraryText(number), nullptr);
    EXPECT_STREQ(LoadLibraryString(number), "");
  }
}

TEST(LibraryTexts, ExportIgnoresModuleAndMatchesTable) {
  int some_module = 0;
  EXPECT_STREQ(szLoadStringA(&some_module, 1003), "The ZIMO could not be detected.");
  EXPECT_STREQ(szLoadStringA(nullptr, 19), "");
}

TEST(LoadedTextBuffers, FourthLoadReusesFirstBuffer) {
  char* first = szLoadStringA(nullptr, 1);
  char* second = szLoadStringA(nullptr, 2);
  char* third = szLoadStringA(nullptr, 3);
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  EXPECT_NE(first, third);
  EXPECT_STREQ(first, "Command not allowed during program execution.");

  char* fourth = szLoadStringA(nullptr, 4);
  EXPECT_EQ(fourth, first);
  EXPECT_STREQ(first, "Unknown communication error.");
  EXPECT_STREQ(second, "Password not given.");
  EXPECT_STREQ(third, "Data error or unrecognized command.");
}

TEST(LoadedTextBuffers, OtherThreadsLoadsLeaveThisThreadsResultsAlone) {
  char* mine[3] = {szLoadStringA(nullptr, 51), szLoadStringA(nullptr, 52),
                   szLoadStringA(nullptr, 53)};
  std::thread other([] {
    for (int i = 0; i < 100; ++i) szLoadStringA(nullptr, 1000 + (i % 22));
  });
  other.join();
  EXPECT_STREQ(mine[0], "Unable to establish serial communications");
  EXPECT_STREQ(mine[1], "Comm Serial Send Timeout");
  EXPECT_STREQ(mine[2], "Comm Serial Response Timeout");
}

// A table given as a map, so chains and over-long texts can be set up.
class MapTexts final : public TextSource {
 public:
  explicit MapTexts(std::map<std::uint32_t, std::string> texts) : texts_(std::move(texts)) {}
  const char* Find(std::uint32_t number) const override {
    auto it = texts_.find(number);
    return it == texts_.end() ? nullptr : it->second.c_str();
  }

 private:
  std::map<std::uint32_t, std::string> texts_;
};

TEST(ContinuedTexts, BangJoinsFollowingNumbersUntilAPlainText) {
  const MapTexts texts({{10, "!Line one, "}, {11, "!two, "}, {12, "three."}, {13, "not joined"}});
  EXPECT_STREQ(LoadTextInto(texts, 10), "!Line one, !two, three.");
  EXPECT_STREQ(LoadTextInto(texts, 11), "!two, three.");
  EXPECT_STREQ(LoadTextInto(texts, 12), "three.");
}

TEST(ContinuedTexts, ChainStopsAtAMissingNumberAndAtTheLastNumber) {
  const MapTexts texts({{20, "!dangling"}, {22, "unreached"}, {UINT32_MAX, "!last"}, {0, "first"}});
  EXPECT_STREQ(LoadTextInto(texts, 20), "!dangling");
  // No wrap round to number 0.
  EXPECT_STREQ(LoadTextInto(texts, UINT32_MAX), "!last");
}

TEST(ContinuedTexts, ChainLongerThanTheBufferIsCutAndTerminated) {
  std::map<std::uint32_t, std::string> long_chain;
  for (std::uint32_t n = 100; n < 110; ++n) long_chain[n] = "!" + std::string(59, 'a' + n - 100);
  const MapTexts texts(std::move(long_chain));

  char* before[3] = {LoadLibraryString(1), LoadLibraryString(2), LoadLibraryString(3)};
  char* cut = LoadTextInto(texts, 100);
  ASSERT_EQ(cut, before[0]);
  ASSERT_EQ(std::strlen(cut), kLoadedTextSize - 1);
  EXPECT_EQ(std::string(cut, 60), "!" + std::string(59, 'a'));
  EXPECT_EQ(cut[240], '!');
  EXPECT_EQ(cut[254], 'e');
  // The other buffers and the rotation are untouched.
  EXPECT_STREQ(before[1], "Password not given.");
  EXPECT_STREQ(before[2], "Data error or unrecognized command.");
  EXPECT_EQ(LoadLibraryString(4), before[1]);
}

TEST(ContinuedTexts, SingleTextLongerThanTheBufferIsCut) {
  const MapTexts texts({{7, std::string(400, 'x')}});
  EXPECT_EQ(std::string(LoadTextInto(texts, 7)), std::string(kLoadedTextSize - 1, 'x'));
}

}  // namespace
}  // namespace zimo::corvan
