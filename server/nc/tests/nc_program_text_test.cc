// Program text: buffers made from files, the line index, reading lines, the
// chain of called programs, labels, subprogram paths and the fill mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "nc/language/group_table.h"
#include "nc/translator/block_reader.h"
#include "nc/translator/program_text.h"
#include "nc/translator/subprogram_path.h"
#include "nc_fakes.h"
#include "platform/win_path.h"
#include "temp_home.h"

namespace zimo::nc {
namespace {

class NcProgramTextTest : public ::testing::Test {
 protected:
  NcProgramTextTest() : table_(DefaultGroupTable(1)) { InitBlockRecord(previous_, table_); }

  // Writes a program at a Windows path.
  void Write(const std::string& path, const std::string& text) {
    const std::filesystem::path host = platform::ToHostPath(path);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary) << text;
  }
  std::string Read(const std::string& path) {
    std::ifstream file(platform::ToHostPath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }
  std::unique_ptr<NcProgramBuffer> Open(const std::string& path, bool create = false) {
    NcProgramOptions options;
    options.create_when_missing = create;
    return CreateProgramBuffer(card_, path, options, previous_, nullptr);
  }
  std::unique_ptr<NcProgramBuffer> Program(const std::string& text) {
    Write("C:\\PARTS\\MAIN.NC", text);
    return Open("C:\\PARTS\\MAIN.NC");
  }
  static std::vector<std::string> Lines(const NcProgramBuffer& b) {
    std::vector<std::string> lines;
    for (uint32_t i = 0; i < b.line_count; ++i) lines.emplace_back(b.Line(i));
    return lines;
  }

  zimo::testing::TempHome home_;
  testing::FakeCardSide card_;
  NcGroupTable table_;
  NcBlockRecord previous_;
};

using Text = std::vector<std::string>;

TEST_F(NcProgramTextTest, LineIndex) {
  const struct {
    std::string file;
    Text lines;
  } cases[] = {
      {"G1X10\r\nG2\r\n", {"G1X10", "G2"}},
      // LF alone ends a line without taking its last character.
      {"G1X10\nG2\n", {"G1X10", "G2"}},
      {"\n\r\nX1\n", {"", "", "X1"}},
      {"G1\nG2", {"G1", "G2"}},
      {"G1\n\x1A", {"G1"}},
      {"G1\n\r", {"G1"}},
      {"G1\r\n \t", {"G1"}},
      {"G1\r\nX", {"G1", "X"}},
  };
  for (const auto& c : cases) {
    auto b = Program(c.file);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Lines(*b), c.lines) << c.file;
    EXPECT_EQ(b->total_lines, c.lines.size());
  }
}

TEST_F(NcProgramTextTest, EmptyFileBecomesOneEmptyLine) {
  auto b = Program("");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Lines(*b), Text{""});
  EXPECT_EQ(Read("C:\\PARTS\\MAIN.NC"), "\r\n");
  EXPECT_EQ(b->mapping_name, "NC0.0.0");
  EXPECT_FALSE(b->is_mdi);
}

TEST_F(NcProgramTextTest, MissingFilesAreNotMade) {
  Write("C:\\PARTS\\MAIN.NC", "G1\r\n");  // the folder exists
  EXPECT_EQ(Open("C:\\PARTS\\MISSING.NC"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(platform::ToHostPath("C:\\PARTS\\MISSING.NC")));
  ASSERT_EQ(card_.errors.size(), 2u);
  EXPECT_EQ(card_.errors[0].id, 0x40110016u);
  EXPECT_EQ(card_.errors[0].text, "Unable to open C:\\PARTS\\MISSING.NC file");
  EXPECT_EQ(card_.errors[0].mode, NcErrorMode::kMessage);
  EXPECT_EQ(card_.errors[0].type, NcErrorType::kOperatorMessage);
  EXPECT_EQ(card_.errors[1].id, 2u);  // the system's "file not found"
  // The MDI buffer's file is made.
  std::filesystem::create_directories(platform::ToHostPath("C:\\ZIMO"));
  auto mdi = Open("C:\\ZIMO\\MDI.NC", true);
  ASSERT_NE(mdi, nullptr);
  EXPECT_EQ(Read("C:\\ZIMO\\MDI.NC"), "\r\n");
  Write("C:\\ZIMO\\TEXT.MDI", "X1\r\n");
  auto text = Open("C:\\ZIMO\\TEXT.MDI");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->is_mdi);
  EXPECT_EQ(text->mapping_name, "NC00.MDI");
}

TEST_F(NcProgramTextTest, ReadOnlyProgramsLoadUnchanged) {
  // (A server running as root may write any file; for it this holds anyway.)
  const auto read_only = std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                         std::filesystem::perms::others_read;
  Write("C:\\PARTS\\RO.NC", "N10 G1X10\nM30\n");
  Write("C:\\PARTS\\EMPTY.NC", "");
  std::filesystem::permissions(platform::ToHostPath("C:\\PARTS\\RO.NC"), read_only);
  std::filesystem::permissions(platform::ToHostPath("C:\\PARTS\\EMPTY.NC"), read_only);
  auto b = Open("C:\\PARTS\\RO.NC");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Lines(*b), (Text{"N10 G1X10", "M30"}));
  auto empty = Open("C:\\PARTS\\EMPTY.NC");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Lines(*empty), Text{""});
  EXPECT_TRUE(card_.errors.empty());
  EXPECT_EQ(Read("C:\\PARTS\\RO.NC"), "N10 G1X10\nM30\n");
}

TEST_F(NcProgramTextTest, FilesTooLargeForTheLineIndexAreRefusedUnread) {
  // A sparse file of 4 GiB: refused at once, nothing read into memory.
  Write("C:\\PARTS\\HUGE.NC", "G1\r\n");
  std::filesystem::resize_file(platform::ToHostPath("C:\\PARTS\\HUGE.NC"), 1ull << 32);
  EXPECT_EQ(Open("C:\\PARTS\\HUGE.NC"), nullptr);
  ASSERT_EQ(card_.errors.size(), 2u);
  EXPECT_EQ(card_.errors[0].id, 0x40110016u);
  EXPECT_EQ(card_.errors[0].text, "Unable to open C:\\PARTS\\HUGE.NC file");
  EXPECT_EQ(card_.errors[1].id, 223u);  // the system's "file too large"
}

TEST_F(NcProgramTextTest, ReadsLinesUpToTheParsersRoom) {
  const std::string longest(kParserLineRoom - 1, 'X');
  const std::string too_long(kParserLineRoom, 'Y');
  auto b = Program("G1\r\n" + longest + "\r\n" + too_long + "\r\nG2\r\n");
  ASSERT_NE(b, nullptr);
  char line[kParserLineRoom];
  ASSERT_TRUE(ReadNextLine(card_, *b, line, sizeof line));
  EXPECT_STREQ(line, "G1");
  ASSERT_TRUE(ReadNextLine(card_, *b, line, sizeof line));
  EXPECT_EQ(std::string(line), longest);
  EXPECT_TRUE(card_.errors.empty());
  // The long line stops the reading, with a code error, and stays there.
  EXPECT_FALSE(ReadNextLine(card_, *b, line, sizeof line));
  ASSERT_EQ(card_.errors.size(), 1u);
  EXPECT_EQ(card_.errors[0].id, 0xC0110046u);
  EXPECT_EQ(card_.errors[0].text, "Maximum G code line exceeded");
  EXPECT_EQ(card_.errors[0].mode, NcErrorMode::kFatal);
  EXPECT_EQ(b->parse_line, 2u);
  EXPECT_FALSE(AtProgramEnd(*b));
  EXPECT_TRUE(CopyLine(*b, 3, line, sizeof line));
  EXPECT_STREQ(line, "G2");
  EXPECT_FALSE(CopyLine(*b, 2, line, sizeof line));
  EXPECT_FALSE(CopyLine(*b, 4, line, sizeof line));
}

TEST_F(NcProgramTextTest, FindLabel) {
  auto b = Program("N10 X1\r\n(N20) X5\r\nN20 Y2\r\nN30 Z3\r\nX4 N20\r\n"
                   "WHILE [#1 LT 3] DO1\r\n#1 = #1 + 1\r\nEND 1\r\n");
  ASSERT_NE(b, nullptr);
  const struct {
    uint32_t from;
    char letter;
    double value;
    bool backward;
    bool found;
    uint32_t line;
  } cases[] = {
      {1, 'N', 20, false, true, 3}, {3, 'N', 20, false, true, 3}, {4, 'N', 20, false, true, 3},
      {4, 'N', 10, false, true, 1}, {2, 'N', 20, true, true, 3},  {2, 'N', 30, true, true, 4},
      {1, 'N', 40, false, false, 1}, {0, 'N', 10, false, false, 0}, {9, 'N', 10, false, false, 9},
      {1, 'n', 30, false, true, 4}, {1, '>', 1, false, true, 8},  {8, '>', 2, false, false, 8},
  };
  for (const auto& c : cases) {
    uint32_t line = c.from;
    EXPECT_EQ(FindLabel(*b, &line, c.letter, c.value, c.backward), c.found)
        << c.from << c.letter << c.value;
    EXPECT_EQ(line, c.line) << c.from << c.letter << c.value;
  }
}

TEST_F(NcProgramTextTest, CallChain) {
  auto main = Program("G90\r\nM98 P1234\r\nM30\r\n");
  ASSERT_NE(main, nullptr);
  Write("C:\\PARTS\\O1234.NC", "G91\r\nM99\r\n");
  main->block.group_code[3] = 90;
  NcProgramOptions options;
  options.repeat = 2;
  NcProgramBuffer* sub = CallProgramFile(card_, main.get(), "C:\\PARTS\\O1234.NC", options);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->caller, main.get());
  EXPECT_EQ(main->called.get(), sub);
  EXPECT_EQ(sub->total_lines, 5u);
  EXPECT_EQ(sub->mapping_name, "NC0.0.1");
  EXPECT_EQ(sub->repeat_total, 2u);
  EXPECT_EQ(sub->block.group_code[3], 90);  // the caller's modal state
  EXPECT_EQ(DeepestProgram(main.get()), sub);
  sub->block.group_code[3] = 91;
  EXPECT_EQ(ReturnToCaller(main.get()), main.get());
  EXPECT_EQ(main->called, nullptr);
  EXPECT_EQ(main->block.group_code[3], 91);  // flows back
  EXPECT_EQ(ReturnToCaller(main.get()), nullptr);
  EXPECT_EQ(CallProgramFile(card_, main.get(), "C:\\PARTS\\O9.NC", options), nullptr);
  EXPECT_TRUE(card_.errors.empty());
  EXPECT_EQ(main->called, nullptr);
}

TEST_F(NcProgramTextTest, SubprogramPaths) {
  auto main = Program("M98 P1234\r\n");
  ASSERT_NE(main, nullptr);
  testing::FakeVariables vars;
  NcBlockContext context;
  context.table = &table_;
  context.card = &card_;
  context.env = &vars;
  const std::string long_dir = "D:\\" + std::string(300, 'L') + "\\";
  const struct {
    std::string line;
    std::string path;
  } cases[] = {
      {"M98 P1234", "C:\\PARTS\\O1234.NC"},
      {"M98 (SUB.NC)", "C:\\PARTS\\SUB.NC"},
      {"M98 (D:\\LIB\\SUB.NC)", "D:\\LIB\\SUB.NC"},
      {"M98 (\\LIB\\SUB.NC)", "C:\\LIB\\SUB.NC"},
      {"M98 (" + long_dir + "SUB.NC)", long_dir + "SUB.NC"},
      {"O77 M98", "C:\\PARTS\\O77.NC"},
      {"G65 P12 (X.NC)", "C:\\PARTS\\O12.NC"},
  };
  for (const auto& c : cases) {
    NcBlockRecord block;
    InitBlockRecord(block, table_);
    StartBlock(block, nullptr);
    ParseWords(context, block, c.line.c_str());
    std::string path = "stale";
    EXPECT_TRUE(BuildSubprogramPath(main.get(), block, &path, ".NC")) << c.line;
    EXPECT_EQ(path, c.path) << c.line;
  }
  NcBlockRecord none;
  InitBlockRecord(none, table_);
  std::string path = "stale";
  EXPECT_FALSE(BuildSubprogramPath(main.get(), none, &path, ".NC"));
  EXPECT_EQ(path, "");
  none.addr_count[kSlotP] = 1;
  EXPECT_FALSE(BuildSubprogramPath(nullptr, none, &path, ".NC"));
}

TEST_F(NcProgramTextTest, FillModeFromBlocks) {
  NcFillModeState fill;
  EXPECT_EQ(fill.mode(), kFillParsedToBinary);
  NcBlockRecord block;
  InitBlockRecord(block, table_);
  EXPECT_FALSE(fill.SetBufferModeFromBlock(block));  // no L
  EXPECT_EQ(fill.mode(), 0);
  block.addr_count[kSlotL] = 1;
  block.addr_value[kSlotL] = 1.7;
  EXPECT_TRUE(fill.SetBufferModeFromBlock(block));
  EXPECT_EQ(fill.mode(), kFillFileToBinary);
  EXPECT_TRUE(fill.SetBufferModeFromBlock(block));  // the current mode: nothing changes
  EXPECT_EQ(fill.mode(), 1);
  block.addr_value[kSlotL] = 3;
  EXPECT_FALSE(fill.SetBufferModeFromBlock(block));
  block.addr_value[kSlotL] = -1;
  EXPECT_FALSE(fill.SetBufferModeFromBlock(block));
  EXPECT_EQ(fill.mode(), 1);
  fill.SetBufferMode(7);
  EXPECT_EQ(fill.mode(), 1);
  fill.SetBufferMode(kFillResetBuffer);
  EXPECT_EQ(fill.mode(), 2);
}

TEST_F(NcProgramTextTest, CycleFilesClose) {
  NcCycleFiles files;
  const std::filesystem::path host = home_.path() / "g71out.nc";
  std::FILE* f = std::fopen(host.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  files.SetCycleOutputFile(f, "g71out.nc");
  EXPECT_EQ(files.cycle_name(), "g71out.nc");
  files.CloseCycleOutputFile();
  EXPECT_EQ(files.cycle_file(), nullptr);
  EXPECT_EQ(files.cycle_name(), "");
  files.CloseCycleOutputFile();
  files.CloseSpareFile();
}

}  // namespace
}  // namespace zimo::nc
