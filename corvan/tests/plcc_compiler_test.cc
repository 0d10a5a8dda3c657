// The compiler driver on described cards: copied lines, the PLC tables,
// block structure, the errors and their report, the limits and the mended
// faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "cardsim/attach_eth.h"
#include "cardsim/card.h"
#include "eth_test_fixture.h"
#include "plcc/plcc_compiler.h"
#include "platform/home.h"
#include "platform/process.h"
#include "plcc_test_files.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::corvan::plcc {
namespace {

using testing::GoldenLines;
using testing::OutputLines;
using testing::WriteText;

struct Report {
  std::string file;
  int error;
  std::uint32_t line;
  std::string text;
};

class RecordingSink : public PlccErrorSink {
 public:
  void ReportError(const char* file, int error, std::uint32_t line, const char* text) override {
    reports.push_back({file, error, line, text});
  }
  std::vector<Report> reports;
};

class PlccCompilerTest : public ::testing::Test {
 protected:
  PlccCompileResult Compile(const PlccTarget& target, const std::string& source) {
    WriteText(in_, source);
    return CompilePlccFile(target, in_.c_str(), out_.c_str(), &sink_);
  }
  std::vector<std::string> Output() const { return OutputLines(out_); }

  zimo::testing::TempHome home_;
  std::filesystem::path in_ = home_.path() / "PROG.PMC";
  std::filesystem::path out_ = home_.path() / "PROG.56K";
  RecordingSink sink_;
};

PlccTarget Older() { return PlccTarget::Older("1.16F"); }
PlccTarget Spran(const char* firmware = "1.940") { return PlccTarget::Spran(firmware); }

TEST_F(PlccCompilerTest, OnePlccBlockOnEachCard) {
  PlccCompileResult r = Compile(Older(), "open plcc 1\nclose\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 111u);
  EXPECT_FALSE(r.extended_firmware);
  EXPECT_EQ(Output(), GoldenLines("older_plcc1.txt"));

  r = Compile(Spran(), "OPEN PLCC 1\nCLOSE\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 113u);
  EXPECT_TRUE(r.extended_firmware);
  EXPECT_EQ(Output(), GoldenLines("spran_plcc1.txt"));
}

TEST_F(PlccCompilerTest, UncompiledPlcsChainToTheNextCompiledOne) {
  const PlccTarget t = Older();  // B $8000, S $8020, E $8060, C $8062
  const PlccCompileResult r = Compile(t, "OPEN PLCC 2\nCLOSE\nOPEN PLCC 5\nRETURN\nCLOSE\n");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 13u + 26u + 98u);
  const std::vector<std::string> lines = Output();
  ASSERT_EQ(lines.size(), 26u);
  // The blocks' words follow each other from C: PLCC 2 at $8062 (13 words),
  // PLCC 5 at $806F; its RETURN and CLOSE both end the scan.
  EXPECT_EQ(lines[1], "WP:$008062,$07F084,$008025,$56F400,$008026,$200044,$0AF0AA,$008026,$07F094");
  EXPECT_EQ(lines[7], "WP:$00806F,$07F084,$00802B,$56F400,$00802C,$200044,$0AF0AA,$00802C,$07F094");
  // Entry words 0..7 and 8..15 of the table.
  EXPECT_EQ(lines[12],
            "WP:$008000,$008060,$008024,$808062,$00802A,$00802A,$80806F,$008060,$008060");
  EXPECT_EQ(lines[13],
            "WP:$008008,$008060,$008060,$008060,$008060,$008060,$008060,$008060,$008060");
  // Slots 0..3: targets E, S + 4, the code of PLCC 2, S + 10.
  EXPECT_EQ(lines[16],
            "WP:$008020,$0AF080,$008060,$0AF080,$008024,$0AF080,$008062,$0AF080,$00802A");
  EXPECT_EQ(lines.back(), "WP:$008061,$000027");
}

TEST_F(PlccCompilerTest, LinesOutsideBlocksAreCopied) {
  PlccCompileResult r = Compile(Older(), "open plc 1\n#1j+ ;\"keep\" this\nP1=\"ab\"\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 0u);
  // A quote inside a comment turns upper-casing back on until the next one.
  EXPECT_EQ(Output(), (std::vector<std::string>{"OPEN PLC 1", "#1J+ ;\"KEEP\" this", "P1=\"ab\""}));

  // Overlay: definitions inside the range go out as M definitions.
  r = Compile(Spran(),
              "LMOVERLAY 10,20\nL10->X:$10,24\nL30->X:$11,24\nF1->D:$3000\nASMOUT\n"
              "OPTIMIZE OFF\nENABLE PLC 2\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(Output(), (std::vector<std::string>{"; *** Lnn overlay of Mnn from 10 to 20 ***",
                                                "M10->X:$10,24", "ENABLE PLC 2"}));

  // A definition that fails outside a block stops the compilation.
  r = Compile(Spran(), "L1->X:$10,24\nL1->X:$10,24\n");
  EXPECT_EQ(r.result, 50);
  EXPECT_EQ(r.words, 0u);
}

TEST_F(PlccCompilerTest, ServoAndVarPlccSections) {
  PlccCompileResult r = Compile(Spran("1.938"), "OPEN SERVO\nCLOSE\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 67u);
  EXPECT_TRUE(r.servo_opened);
  EXPECT_EQ(Output(), GoldenLines("spran_servo.txt"));

  r = Compile(Spran("1.938"), "OPEN VARPLCC\nCLOSE\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 5u);
  EXPECT_FALSE(r.servo_opened);
  EXPECT_EQ(Output(), GoldenLines("spran_varplcc.txt"));
  PlccTarget server = Spran("1.938");
  server.server_build = true;
  ASSERT_EQ(Compile(server, "OPEN VARPLCC\nCLOSE\n").result, 0);
  EXPECT_EQ(Output().front(), "MI14=0");

  EXPECT_EQ(Compile(Spran("1.937"), "OPEN SERVO\nCLOSE\n").result, 35);
  EXPECT_EQ(Compile(Spran("1.937"), "OPEN VARPLCC\nCLOSE\n").result, 35);
  EXPECT_EQ(Compile(Spran("1.938"), "OPEN SERVO\nCLOSE\nOPEN SERVO\nCLOSE\n").result, 35);
  // A section after PLCC blocks would replace their table.
  EXPECT_EQ(Compile(Spran("1.938"), "OPEN PLCC 1\nCLOSE\nOPEN SERVO\nCLOSE\n").result, 35);
}

TEST_F(PlccCompilerTest, BlockStructureErrors) {
  struct Case {
    const char* name;
    const char* source;
    int result;
  };
  const Case cases[] = {
      {"else after while", "OPEN PLCC 1\nWHILE (P1=1)\nELSE\n", 38},
      {"endif with a while open", "OPEN PLCC 1\nWHILE (P1=1)\nENDIF\n", 39},
      {"endwhile with an if open", "OPEN PLCC 1\nIF (P1=1)\nENDWHILE\n", 40},
      {"close with an if open", "OPEN PLCC 1\nIF (P1=1)\nCLOSE\n", 43},
      {"else after endif", "OPEN PLCC 1\nIF (P1=1)\nENDIF\nELSE\n", 38},
      // The first fault of a line stops, even when a later word fits.
      {"endif then endwhile on one line", "OPEN PLCC 1\nWHILE (P1=1)\nENDIF ENDWHILE\n", 39},
      {"register-relative definition before a block", "L1->X:(R1-3)\nOPEN PLCC 1\nCLOSE\n", 35},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PlccCompileResult r = Compile(Older(), c.source);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.words, 0u);
  }
  EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(PlccCompilerTest, TokenizerErrorInABlockIsReported) {
  const PlccCompileResult r = Compile(Older(), ";MYFILE\nOPEN PLCC 1\nP1=1+ ;12\nCLOSE\n");
  EXPECT_EQ(r.result, 35);
  EXPECT_EQ(r.words, 12u);
  ASSERT_EQ(sink_.reports.size(), 1u);
  EXPECT_EQ(sink_.reports[0].file, "MYFILE");
  EXPECT_EQ(sink_.reports[0].error, 35);
  EXPECT_EQ(sink_.reports[0].line, 12u);
  EXPECT_EQ(sink_.reports[0].text, "P1=1+ ;12");
  // The copied naming comment and the table start stay in the output.
  EXPECT_EQ(Output(), (std::vector<std::string>{";MYFILE", "CLS DISPLCC 0..31 "}));
}

TEST_F(PlccCompilerTest, FilesThatCannotBeUsed) {
  PlccCompileResult r =
      CompilePlccFile(Older(), (home_.path() / "MISSING.PMC").c_str(), out_.c_str(), nullptr);
  EXPECT_EQ(r.result, 42);
  WriteText(in_, "OPEN PLCC 1\nCLOSE\n");
  r = CompilePlccFile(Older(), in_.c_str(), (home_.path() / "no" / "dir.56K").c_str(), nullptr);
  EXPECT_EQ(r.result, 41);
  EXPECT_FALSE(r.extended_firmware);
}

TEST_F(PlccCompilerTest, MendedEndsOfFilesAndLines) {
  // A final CLOSE without a line feed still closes its block.
  PlccCompileResult r = Compile(Older(), "OPEN PLCC 1\nCLOSE");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.words, 111u);
  EXPECT_EQ(Output(), GoldenLines("older_plcc1.txt"));

  // A block left open at the end is refused at its OPEN line.
  r = Compile(Older(), "OPEN PLCC 1\nCLOSE\nOPEN PLCC 2 ;7\n");
  EXPECT_EQ(r.result, 35);
  EXPECT_EQ(r.words, 7u);

  // A line too long for the reader is refused inside a block, never split.
  r = Compile(Older(), "OPEN PLCC 1\n" + std::string(250, ' ') + "CLOSE ;9\n");
  EXPECT_EQ(r.result, 35);
  EXPECT_EQ(r.words, 9u);
  // Outside a block it is copied whole.
  const std::string long_line = "#1J+" + std::string(300, ' ') + "#2J+";
  r = Compile(Older(), long_line + "\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(Output(), std::vector<std::string>{long_line});
}

TEST_F(PlccCompilerTest, TokenCapacityIsNeverPassed) {
  // Lines of about 250 tokens each until the older card's 7680 are used up.
  std::string line = "P1=1";
  while (line.size() < 250) line += "+1";
  std::string source = "OPEN PLCC 1\n";
  for (int i = 0; i < 40; ++i) source += line + "\n";
  source += "CLOSE\n";
  PlccCompileResult r = Compile(Older(), source);
  EXPECT_EQ(r.result, 46);

  // The same inside the smaller SERVO section.
  source = "OPEN SERVO\n";
  for (int i = 0; i < 8; ++i) source += line + "\n";
  r = Compile(Spran("1.938"), source);
  EXPECT_EQ(r.result, 46);
}

TEST_F(PlccCompilerTest, CodeBeyondTheBufferIsRefused) {
  // Every OPEN PLCC inside a block ends the scan of the one before (13
  // words on an older card): 1200 of them do not fit its 15360 words.
  std::string source = "OPEN PLCC 1\n";
  for (int i = 0; i < 1200; ++i) source += "OPEN PLCC 1\n";
  source += "CLOSE\n";
  EXPECT_EQ(Compile(Older(), source).result, 44);
}

TEST_F(PlccCompilerTest, ConcurrentCompilationsMatchSequentialOnes) {
  const std::filesystem::path dir = home_.path();
  const std::string sources[2] = {"OPEN PLCC 1\nCLOSE\n",
                                  "OPEN PLCC 2\nCLOSE\nOPEN PLCC 5\nCLOSE\n"};
  const PlccTarget targets[2] = {Older(), Spran()};
  std::vector<std::string> sequential[2];
  for (int i = 0; i < 2; ++i) {
    WriteText(dir / ("in" + std::to_string(i)), sources[i]);
    ASSERT_EQ(CompilePlccFile(targets[i], (dir / ("in" + std::to_string(i))).c_str(),
                              (dir / ("seq" + std::to_string(i))).c_str(), nullptr)
                  .result,
              0);
    sequential[i] = OutputLines(dir / ("seq" + std::to_string(i)));
  }
  for (int round = 0; round < 20; ++round) {
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = std::thread([&, i] {
        CompilePlccFile(targets[i], (dir / ("in" + std::to_string(i))).c_str(),
                        (dir / ("par" + std::to_string(i))).c_str(), nullptr);
      });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(OutputLines(dir / ("par" + std::to_string(i))), sequential[i]);
  }
}

// zimo-plcc for a described card; its exit code and its one line of report.
struct ToolRun {
  int exit_code;
  std::string report;
};

// The tool's standard output (and, with `errors`, its standard error after it).
ToolRun RunTool(const std::string& arguments, bool errors = false) {
  const char* bin = std::getenv("ZIMO_BIN_DIR");
  const std::string command = "timeout 120 " + std::string(bin != nullptr ? bin : ".") +
                              "/zimo-plcc " + arguments + (errors ? " 2>&1" : " 2>/dev/null");
  ToolRun run{-1, ""};
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.report += buffer;
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(PlccCompilerTest, CommandLineToolCompilesForADescribedCard) {
  WriteText(in_, "OPEN SERVO\nCLOSE\n");
  const std::string files = " " + in_.string() + " " + out_.string();
  ToolRun run = RunTool("--card spran --firmware 1.938" + files);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.report, "result 0, words 67\n");
  EXPECT_EQ(Output(), GoldenLines("spran_servo.txt"));

  run = RunTool("--card spran --firmware 1.937" + files);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.report,
            "result 35, line 0 (input line 1): PLCC Illegal Command or Format in string\n");

  // A link list file: hexadecimal words, missing ones 0. An older card's
  // list is used as it is, so the compile works with any list.
  const std::filesystem::path list = home_.path() / "links.txt";
  WriteText(list, "0C00\n0C2D\n");
  WriteText(in_, "OPEN PLCC 1\nCLOSE\n");
  run = RunTool("--card older --firmware 1.16F --link-list " + list.string() + files);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Output(), GoldenLines("older_plcc1.txt"));

  EXPECT_EQ(RunTool("--card newer" + files).exit_code, 2);
  EXPECT_EQ(
      RunTool("--card older --link-list " + (home_.path() / "none").string() + files).exit_code, 2);
}

// The tool names what went wrong: the error's text and line, the file it
// could not use; an output that names the input file is refused untouched.
TEST_F(PlccCompilerTest, CommandLineToolReportsTheErrorsTextAndLine) {
  const std::string files = " " + in_.string() + " " + out_.string();
  WriteText(in_, "; comment\nOPEN PLCC 1\nP1=1+ ;12\nCLOSE\n");
  ToolRun run = RunTool("--card older" + files);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.report,
            "result 35, line 12 (input line 3): PLCC Illegal Command or Format in string\n");

  WriteText(in_, "OPEN PLCC 1\nIF(P1=1)\nCLOSE\n");
  run = RunTool("--card older" + files);
  EXPECT_EQ(run.report, "result 43, line 0 (input line 3): PLCC Unclosed If or While Cmd\n");

  const std::filesystem::path none = home_.path() / "NONE.PMC";
  run = RunTool("--card older " + none.string() + " " + out_.string());
  EXPECT_EQ(run.report, "result 42, line 0: PLCC Input File Error: " + none.string() + "\n");

  const std::string source = "OPEN PLCC 1\nP1=2\nCLOSE\n";
  WriteText(in_, source);
  const std::filesystem::path other_spelling = home_.path() / "." / "PROG.PMC";
  run = RunTool("--card older " + in_.string() + " " + other_spelling.string());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.report, "result 41, line 0: PLCC Output File Error: " + other_spelling.string() +
                            " is the input file\n");
  EXPECT_EQ(testing::ReadText(in_), source);
}

// For a device the tool opens it first; one that cannot be opened is named
// with the reason, and nothing is written.
TEST_F(PlccCompilerTest, CommandLineToolSaysWhyTheDeviceCannotBeUsed) {
  WriteText(in_, "OPEN PLCC 1\nP1=2\nCLOSE\n");
  const std::string files = " " + in_.string() + " " + out_.string();
  ToolRun run = RunTool("-d 0" + files, true);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.report,
            "zimo-plcc: device 0 could not be opened: ZimoServer is not registered; run "
            "`zimoserver -RegServer` once\n");
  auto server = platform::RegistryKey::Create(platform::kHkeyClassesRoot,
                                              "ZimoServer.ZimoService\\CLSID");
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(server->SetString("", "{5A1C0D3E-27B4-4C61-9E0F-6B2D8A7C1F10}").ok());
  run = RunTool("-d 2" + files, true);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.report.find("device 2 could not be opened: device 2 is not registered"),
            std::string::npos)
      << run.report;
  // A device past a gap in the device keys is never opened.
  auto device1 = platform::RegistryKey::Create(
      platform::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device1");
  ASSERT_TRUE(device1.ok());
  ASSERT_TRUE(device1->SetDword("Location", 3).ok());
  run = RunTool("-d 1" + files, true);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.report.find("device 1 could not be opened: device 1 is not reached: the device "
                            "keys stop at Device0"),
            std::string::npos)
      << run.report;
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_EQ(RunTool("-d 8" + files).exit_code, 2);
}

// The tool as the first client of a fresh home: its open starts ZimoServer,
// which identifies the card before the compile reads what the card is.
TEST_F(PlccCompilerTest, CommandLineToolCompilesForADeviceAsItsFirstClient) {
  cardsim::Card card(cardsim::CardModel::Older());
  cardsim::EthOptions options;
  options.address = corvan::testing::UniqueLoopbackAddress();
  auto eth = cardsim::EthAttachment::Start(card, options);
  ASSERT_TRUE(eth.ok()) << eth.status().ToString();
  ASSERT_EQ(RegisterDevice(0, kLocationEthernet, 0, nullptr), 1);
  ASSERT_EQ(SetLocationRegDword(kLocationEthernet, 0, "IPAddress",
                                corvan::testing::AddressNumber(options.address)),
            1);
  auto registered =
      platform::Spawn({(zimo::testing::BinDir() / "zimoserver").string(), "-RegServer"});
  ASSERT_TRUE(registered.ok());
  auto registered_code = registered->Wait(std::chrono::seconds(30));
  ASSERT_TRUE(registered_code.ok());
  ASSERT_EQ(*registered_code, 0);

  WriteText(in_, "open plcc 1\nclose\n");
  const ToolRun run = RunTool("-d 0 " + in_.string() + " " + out_.string(), true);
  EXPECT_EQ(run.exit_code, 0) << run.report;
  EXPECT_EQ(run.report, "result 0, words 111\n");
  EXPECT_EQ(Output(), GoldenLines("older_plcc1.txt"));

  // The server ends by itself once its last client has gone; the home
  // stays until then (the deadline only bounds a server that never ends).
  const auto socket = platform::RunDir() / "ZimoServer.sock";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::filesystem::exists(socket) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(std::filesystem::exists(socket)) << "ZimoServer did not end";
  (*eth)->Stop();
}

// An output naming the input file, by any spelling or through a link, is
// refused before anything is opened for writing.
TEST_F(PlccCompilerTest, OutputNamingTheInputIsRefused) {
  const std::string source = "OPEN PLCC 1\nP1=2\nCLOSE\n";
  WriteText(in_, source);
  const std::filesystem::path link = home_.path() / "LINK.56K";
  std::filesystem::create_symlink(in_, link);
  const std::filesystem::path hard = home_.path() / "HARD.56K";
  std::filesystem::create_hard_link(in_, hard);
  for (const std::filesystem::path& out : {in_, home_.path() / "." / "PROG.PMC", link, hard}) {
    sink_.reports.clear();
    const PlccCompileResult r = CompilePlccFile(Older(), in_.c_str(), out.c_str(), &sink_);
    EXPECT_EQ(r.result, 41) << out;
    EXPECT_EQ(r.words, 0u) << out;
    EXPECT_EQ(testing::ReadText(in_), source) << out;
  }
  EXPECT_EQ(Compile(Older(), source).result, 0) << "a separate output still works";
}

}  // namespace
}  // namespace zimo::corvan::plcc
