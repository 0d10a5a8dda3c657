// The compiler's export against a simulated card on its pseudo-terminal:
// the device's identification describes the card, the outputs match their
// golden files line for line, the record takes the compilation's effects,
// and errors reach the download reporters.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "corvan/plcc_api.h"
#include "download/download_state.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using plcc::testing::GoldenLines;
using plcc::testing::OutputLines;
using plcc::testing::WriteText;
using plcc::testing::WrittenMemory;

// A serial card of `model` as device 0, opened through the library.
class CardOnLine {
 public:
  explicit CardOnLine(cardsim::CardModel model) {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    server_ = std::make_unique<StandInServer>();
  }
  ~CardOnLine() {
    ShutdownZimoDevice(0, 1);
    CommLibraryApp::Instance().End();
  }
  bool Open() { return OpenZimoDevice(0) == 1; }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

 private:
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

cardsim::CardModel SpranWith(const char* version) {
  cardsim::CardModel m = cardsim::CardModel::Spran();
  m.version = version;
  return m;
}

class PlccExportTest : public ::testing::Test {
 protected:
  std::int32_t Compile(const std::string& source, std::uint32_t* words) {
    WriteText(in_, source);
    return ZimoPlccCompilerA(0, words, in_.c_str(), out_.c_str());
  }
  std::vector<std::string> Output() const { return OutputLines(out_); }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
};

TEST_F(PlccExportTest, OlderCard) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  std::uint32_t words = 0;
  EXPECT_EQ(Compile("OPEN PLCC 1\nCLOSE\n", &words), 0);
  EXPECT_EQ(words, 111u);
  EXPECT_EQ(Output(), GoldenLines("older_plcc1.txt"));
  // The card's own link list stays.
  EXPECT_EQ(line.block().LinkList[1], 0x0C2Du);

  // The 16-bit form, and a path with no 8-bit form.
  const std::u16string in16(in_.u16string());
  const std::u16string out16(out_.u16string());
  words = 0;
  EXPECT_EQ(ZimoPlccCompilerW(0, &words, in16.c_str(), out16.c_str()), 0);
  EXPECT_EQ(words, 111u);
  const std::u16string bad = out16 + u"\u4E00";
  EXPECT_EQ(ZimoPlccCompilerW(0, &words, in16.c_str(), bad.c_str()), -1);
  // A device without a shared record.
  EXPECT_EQ(ZimoPlccCompilerA(9, &words, in_.c_str(), out_.c_str()), -1);
}

TEST_F(PlccExportTest, SpranCardTakesTheFixedRoutineTable) {
  CardOnLine line(SpranWith("1.940"));
  ASSERT_TRUE(line.Open());
  std::uint32_t words = 0;
  EXPECT_EQ(Compile("OPEN PLCC 1\nCLOSE\n", &words), 0);
  EXPECT_EQ(words, 113u);
  EXPECT_EQ(Output(), GoldenLines("spran_plcc1.txt"));
  for (std::uint32_t i = 0; i < 62; ++i) {
    ASSERT_EQ(line.block().LinkList[i], 0xFF00u + 2 * i) << i;
  }
  EXPECT_EQ(line.block().LinkList[62], 0u);
}

TEST_F(PlccExportTest, ServoAndVarPlccSections) {
  CardOnLine line(SpranWith("1.938"));
  ASSERT_TRUE(line.Open());
  line.block().CpuModel = 56002;
  std::uint32_t words = 0;
  EXPECT_EQ(Compile("OPEN VARPLCC\nCLOSE\n", &words), 0);
  EXPECT_EQ(words, 5u);
  EXPECT_EQ(Output(), GoldenLines("spran_varplcc.txt"));
  EXPECT_EQ(line.block().CpuModel, 56002u);

  EXPECT_EQ(Compile("OPEN SERVO\nCLOSE\n", &words), 0);
  EXPECT_EQ(words, 67u);
  EXPECT_EQ(Output(), GoldenLines("spran_servo.txt"));
  EXPECT_EQ(line.block().CpuModel, 56303u);

  EXPECT_EQ(Compile("OPEN SERVO\nCLOSE\nOPEN SERVO\nCLOSE\n", &words), 35);
}

TEST_F(PlccExportTest, ServoNeedsNewerFirmware) {
  CardOnLine line(SpranWith("1.937"));
  ASSERT_TRUE(line.Open());
  std::uint32_t words = 1;
  EXPECT_EQ(Compile("OPEN SERVO\nCLOSE\n", &words), 35);
  EXPECT_EQ(words, 0u);
}

std::vector<std::uint32_t> Call(std::uint32_t address) {
  if (address < 0x1000) return {0x0D0000 | address};
  return {0x0BF080, address};
}

// One expression statement on each generation, with the routine addresses
// the card itself reports (older card) or the fixed table (SPRAN "1.940").
TEST_F(PlccExportTest, StatementCodeUsesTheCardsRoutines) {
  const std::string source = "OPEN PLCC 1\nP4=P1*I100+2\nCLOSE\n";
  {
    CardOnLine line(cardsim::CardModel::Older());
    ASSERT_TRUE(line.Open());
    std::uint32_t words = 0;
    ASSERT_EQ(Compile(source, &words), 0);
    const std::uint32_t* link = line.block().LinkList;
    std::vector<std::uint32_t> expected = {0x48F000, 0x001001, 0x487F00, 0x3C6400};
    for (auto part :
         {Call(link[27]), std::vector<std::uint32_t>{0x42DF00}, Call(link[18]),
          std::vector<std::uint32_t>{0x45F400, 0x400000, 0x44F400, 0x000801}, Call(link[16]),
          Call(link[33]), std::vector<std::uint32_t>{0x487000, 0x001004}}) {
      expected.insert(expected.end(), part.begin(), part.end());
    }
    const auto memory = WrittenMemory(Output());
    std::vector<std::uint32_t> got;
    for (std::uint32_t a = 0x8062; a < 0x8062 + expected.size(); ++a) {
      got.push_back(memory.count(a) != 0 ? memory.at(a) : 0xDEAD);
    }
    EXPECT_EQ(got, expected);
  }
  {
    CardOnLine line(SpranWith("1.940"));
    ASSERT_TRUE(line.Open());
    std::uint32_t words = 0;
    ASSERT_EQ(Compile(source, &words), 0);
    const std::vector<std::uint32_t> expected = {
        0x64A400, 0x3C0100, 0x48EC00, 0x487F00, 0x3C6400, 0x0BF080, 0x00FF36,
        0x42DF00, 0x0BF080, 0x00FF24, 0x45F400, 0x400000, 0x44F400, 0x000801,
        0x0BF080, 0x00FF20, 0x0BF080, 0x00FF42, 0x64A400, 0x3C0400, 0x486C00};
    const auto memory = WrittenMemory(Output());
    std::vector<std::uint32_t> got;
    for (std::uint32_t a = 0x50082; a < 0x50082 + expected.size(); ++a) {
      got.push_back(memory.count(a) != 0 ? memory.at(a) : 0xDEAD);
    }
    EXPECT_EQ(got, expected);
  }
}

std::vector<std::string> g_messages;
struct ErrorCall {
  std::string file;
  std::int32_t error;
  std::uint32_t line;
  std::string text;
};
std::vector<ErrorCall> g_errors;

std::int32_t OnMessage(const char* text, std::int32_t) {
  g_messages.push_back(text);
  return 0;
}
std::int32_t OnError(const char* file, std::int32_t error, std::uint32_t line, const char* text) {
  g_errors.push_back({file, error, line, text});
  return 0;
}

TEST_F(PlccExportTest, ErrorsGoToTheDownloadReporters) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  g_messages.clear();
  g_errors.clear();
  DownloadState& state = DownloadState::Instance();
  DownloadCallbacks callbacks;
  callbacks.message = OnMessage;
  callbacks.error = OnError;
  state.BeginRequest(0, callbacks, DownloadOptions{});
  state.BeginRun();

  std::uint32_t words = 0;
  EXPECT_EQ(Compile(";MYFILE\nOPEN PLCC 1\nP1=1+ ;12\nCLOSE\n", &words), 35);
  EXPECT_EQ(words, 12u);
  EXPECT_TRUE(state.compiler_error());
  EXPECT_TRUE(state.aborted());
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0].file, "MYFILE");
  EXPECT_EQ(g_errors[0].error, 35);
  EXPECT_EQ(g_errors[0].line, 12u);
  EXPECT_EQ(g_errors[0].text, "PLCC Illegal Command or Format in string");
  EXPECT_EQ(g_messages,
            (std::vector<std::string>{"**Error 35, PLCC Illegal Command or Format in string",
                                      "  File: MYFILE", "  Line: 12, \"P1=1+ ;12\"",
                                      "Download aborted. PLCC Compiler Error."}));
  state.EndRun();
  state.set_active(false);

  // A missing input and an output that cannot be made.
  EXPECT_EQ(ZimoPlccCompilerA(0, &words, (home_.path() / "NONE.PMC").c_str(), out_.c_str()), 42);
  EXPECT_EQ(ZimoPlccCompilerA(0, &words, in_.c_str(), (home_.path() / "x" / "y").c_str()), 41);
}

TEST_F(PlccExportTest, AssignmentWithoutValueIsRefusedOnItsOwnLine) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  // The line tags (";12") are the numbers the error reports name.
  for (const char* statement : {"P1=", "M100 =", "L1=-", "Q3=", "M5&="}) {
    const std::string source = std::string("OPEN PLCC 1 ;10\nL1->X:$10,24 ;11\n") + statement +
                               " ;12\nP2=1 ;13\nCLOSE ;14\n";
    std::uint32_t words = 0;
    EXPECT_EQ(Compile(source, &words), 35) << statement;
    EXPECT_EQ(words, 12u) << statement;
  }
}

// An output that names the input file (as itself, by another spelling, or
// by a link) is refused with the file named, and the source keeps its text.
TEST_F(PlccExportTest, OutputNamingTheInputIsRefused) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  const std::string source = "OPEN PLCC 1\nP1=2\nCLOSE\n";
  WriteText(in_, source);
  const std::filesystem::path link = home_.path() / "LINK.56K";
  std::filesystem::create_symlink(in_, link);
  for (const std::filesystem::path& out : {in_, home_.path() / "." / "PROG.PMC", link}) {
    g_messages.clear();
    g_errors.clear();
    DownloadState& state = DownloadState::Instance();
    DownloadCallbacks callbacks;
    callbacks.message = OnMessage;
    callbacks.error = OnError;
    state.BeginRequest(0, callbacks, DownloadOptions{});
    state.BeginRun();
    std::uint32_t words = 99;
    EXPECT_EQ(ZimoPlccCompilerA(0, &words, in_.c_str(), out.c_str()), 41) << out;
    EXPECT_EQ(words, 0u);
    EXPECT_EQ(plcc::testing::ReadText(in_), source) << out;
    ASSERT_EQ(g_errors.size(), 1u) << out;
    EXPECT_EQ(g_errors[0].file, out.string());
    EXPECT_EQ(g_errors[0].error, 41);
    ASSERT_FALSE(g_messages.empty());
    EXPECT_EQ(g_messages[0], "**Error 41, PLCC Output File Error");
    EXPECT_EQ(g_messages[1], "  File: " + out.string());
    state.EndRun();
    state.set_active(false);
  }
  // The 16-bit form takes the same road.
  std::uint32_t words = 0;
  const std::string narrow_in = in_.string();
  const std::u16string wide_in(narrow_in.begin(), narrow_in.end());
  EXPECT_EQ(ZimoPlccCompilerW(0, &words, wide_in.c_str(), wide_in.c_str()), 41);
  EXPECT_EQ(plcc::testing::ReadText(in_), source);
}

// Firmware up to "1.936" has no long-to-float routine: ITOF( and reads of
// F variables in D memory are refused with their line instead of calling
// address 0; writes (float-to-long) and L-memory F reads still compile, and
// newer firmware takes them all.
TEST_F(PlccExportTest, LongToFloatNeedsTheExtendedFirmware) {
  const std::string definitions = "L1->X:$10,24\nF1->L:$100\nF2->D:$102\nF4->D:$104[8]\n";
  struct Case {
    const char* statement;
    bool refused;
  };
  const Case cases[] = {
      {"P1=ITOF(L1) ;7", true},   {"P1=F2 ;7", true},      {"P1=F4[L1] ;7", true},
      {"IF(F2>1) ;7", true},      {"P1=P2+F2*2 ;7", true}, {"F2=P1 ;7", false},
      {"F4[L1]=P1 ;7", false},    {"P1=F1 ;7", false},     {"L1=FTOI(P1) ;7", false},
  };
  for (const char* firmware : {"1.936", "1.937"}) {
    CardOnLine line(SpranWith(firmware));
    ASSERT_TRUE(line.Open());
    const bool extended = std::strcmp(firmware, "1.937") == 0;
    for (const Case& c : cases) {
      g_errors.clear();
      DownloadState& state = DownloadState::Instance();
      DownloadCallbacks callbacks;
      callbacks.error = OnError;
      state.BeginRequest(0, callbacks, DownloadOptions{});
      state.BeginRun();
      const std::string body = std::string(c.statement) +
                               (std::strncmp(c.statement, "IF", 2) == 0 ? "\nP1=1\nENDIF" : "");
      std::uint32_t words = 0;
      const std::int32_t r =
          Compile(definitions + "OPEN PLCC 1\n" + body + "\nCLOSE\n", &words);
      if (c.refused && !extended) {
        EXPECT_EQ(r, 35) << firmware << " " << c.statement;
        EXPECT_EQ(words, 7u) << c.statement;
        ASSERT_EQ(g_errors.size(), 1u) << c.statement;
        EXPECT_EQ(g_errors[0].line, 7u);
        EXPECT_EQ(g_errors[0].text, "PLCC Illegal Command or Format in string");
      } else {
        EXPECT_EQ(r, 0) << firmware << " " << c.statement;
        EXPECT_TRUE(g_errors.empty()) << c.statement;
        // No call into address 0 (JSR $000000) anywhere in the code.
        const auto memory = WrittenMemory(Output());
        for (auto it = memory.begin(); it != memory.end(); ++it) {
          const auto next = std::next(it);
          if (it->second == 0x0BF080 && next != memory.end() && next->first == it->first + 1) {
            EXPECT_NE(next->second, 0u) << firmware << " " << c.statement << " at " << it->first;
          }
        }
      }
      state.EndRun();
      state.set_active(false);
    }
  }
}

// A section keyword inside an open block is refused wherever the line has
// it, and one that opens nothing leaves the compilation's routines alone.
TEST_F(PlccExportTest, SectionKeywordsInsideABlockAreRefused) {
  CardOnLine line(SpranWith("1.940"));
  ASSERT_TRUE(line.Open());
  const char* inside[] = {
      "OPEN PLCC 1\nP1=P2/P3 OPEN VARPLCC\nCLOSE\n",
      "OPEN PLCC 1\nP1=P2/P3\nP4=1 OPEN SERVO\nCLOSE\n",
      "OPEN PLCC 1 OPEN VARPLCC\nP1=P2/P3\nCLOSE\n",
      "OPEN VARPLCC\nP1=P2/P3 OPEN PLCC 2\nCLOSE\n",
      "OPEN VARPLCC\nP1=P2/P3\nOPEN PLCC 2\nCLOSE\n",
      "OPEN PLCC 1\nP1=P2/P3\nOPEN VARPLCC\nCLOSE\n",
  };
  for (const char* source : inside) {
    std::uint32_t words = 99;
    EXPECT_EQ(Compile(source, &words), 35) << source;
    EXPECT_EQ(words, 0u) << source;
  }
  // OPEN PLCC continues a PLCC block, also after other words of a line.
  std::uint32_t words = 0;
  EXPECT_EQ(Compile("OPEN PLCC 1\nP1=1 OPEN PLCC 2\nP2=P1%P3\nCLOSE\n", &words), 0);

  // The divide and modulo calls of a PLCC block are the card's routines
  // whatever the lines outside blocks hold.
  const std::string block =
      "L1->X:$10,24\nL2->X:$11,24\nOPEN PLCC 1\nL1=L1/L2\nL2=L1%L2\nCLOSE\n";
  ASSERT_EQ(Compile(block, &words), 0);
  const auto plain = WrittenMemory(Output());
  for (const char* outside : {"ENABLE PLC 1 OPEN VARPLCC\n", "P1=1 OPEN VARPLCC\n"}) {
    ASSERT_EQ(Compile(outside + block, &words), 0) << outside;
    EXPECT_EQ(WrittenMemory(Output()), plain) << outside;
  }
}

}  // namespace
}  // namespace zimo::corvan
