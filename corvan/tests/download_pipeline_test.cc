// The download pipeline against a simulated card on its pseudo-terminal:
// the reports in their order, the side files, what the card receives, card
// and compiler errors, the error limit, aborts and refused requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/download_api.h"
#include "corvan/rings_api.h"
#include "download/download_state.h"
#include "download/pipeline.h"
#include "plcc_test_files.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using plcc::testing::OutputLines;
using plcc::testing::ReadText;
using plcc::testing::WriteText;
using Lines = std::vector<std::string>;

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
  SerialCard& card() { return *card_; }

 private:
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

std::mutex g_mutex;
Lines g_messages;
struct ErrorCall {
  std::string file;
  std::int32_t error;
  std::uint32_t line;
  std::string text;
  bool operator==(const ErrorCall&) const = default;
};
std::vector<ErrorCall> g_errors;
std::vector<std::int32_t> g_progress;

std::int32_t OnMessage(const char* text, std::int32_t) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_messages.push_back(text);
  return 0;
}
std::int32_t OnProgress(std::int32_t percent) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_progress.push_back(percent);
  return 0;
}
Lines Messages() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_messages;
}

class PipelineTest : public ::testing::Test {
 protected:
  PipelineTest() {
    g_messages.clear();
    g_errors.clear();
    g_progress.clear();
    std::filesystem::current_path(home_.path());
  }
  ~PipelineTest() override {
    DownloadState::Instance().set_active(false);
    ZimoSetMaxDownloadErrors(10);
  }
  std::string Path(const char* ext) const {
    return (home_.path() / ("PROG." + std::string(ext))).string();
  }
  // The lines the card received, from the first "close" on.
  static Lines From(const Lines& received, const std::string& first) {
    for (std::size_t i = 0; i < received.size(); ++i) {
      if (received[i] == first)
        return Lines(received.begin() + static_cast<long>(i), received.end());
    }
    return {};
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
};

TEST_F(PipelineTest, CleanRunWithEverySwitch) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  ASSERT_EQ(line.block().LinkListValid, 1u);
  ASSERT_NE(line.block().PlccEnabled, 0u);
  WriteText(Path("PMC"), "#define LIMIT 100\nP1=LIMIT ; limit\nOPEN PLCC 1\nCLOSE\n");
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, OnProgress, Path("PMC").c_str(), 1, 1, 1, 1), 1);
  const Lines expected{"Processing Macro File: " + Path("PMC"),
                       "ZIMO2 found",
                       "Total Lines: 4",
                       "Compiling for PLCC: " + Path("EXM") + " = " + Path("56K"),
                       "PLCC Compiling ZIMO file: " + Path("EXM"),
                       "Success in Compiling to output file: " + Path("56K"),
                       "PLCC(s) used 111 program memory locations",
                       "Downloading file: " + Path("56K"),
                       "Writing MAP file: " + Path("MAP"),
                       "Writing macro dictionary table: " + Path("TBL"),
                       "Total Warnings: 0",
                       "Total Errors: 0",
                       "END."};
  EXPECT_EQ(Messages(), expected);
  EXPECT_EQ(g_progress.back(), 100);
  for (const char* ext : {"EXM", "56K", "MAP", "TBL", "LOG"}) {
    EXPECT_TRUE(std::filesystem::exists(Path(ext))) << ext;
  }
  // The log holds every report up to the totals.
  const Lines log = OutputLines(Path("LOG"));
  ASSERT_EQ(log.size(), 2u + expected.size() - 1);
  EXPECT_EQ(log[0], ";Log created by ZIMO Win32 Driver from file: " + Path("PMC"));
  EXPECT_EQ(log[2], "000001:            " + expected[0]);
  EXPECT_EQ(log.back(), "000012:            Total Errors: 0");
  EXPECT_EQ(OutputLines(Path("TBL")), (Lines{"LIMIT=100", "_ZIMO2_="}));

  // Every line of the 56K file once, after "closeI6=1" and "close".
  Lines sent;
  for (const std::string& l : OutputLines(Path("56K"))) {
    std::string text = l.substr(0, l.find(';'));
    if (!text.empty()) sent.push_back(text);
  }
  const Lines received = From(line.card().received(), "closeI6=1");
  ASSERT_GE(received.size(), 2u);
  EXPECT_EQ(received[1], "close");
  EXPECT_EQ(Lines(received.begin() + 2, received.end()), sent);
  // The program words are in the card's P memory.
  for (const std::string& l : sent) {
    if (l.rfind("WP:$", 0) != 0) continue;
    std::uint32_t address = std::stoul(l.substr(4, 6), nullptr, 16);
    for (std::size_t at = l.find(",$"); at != std::string::npos; at = l.find(",$", at + 1)) {
      const std::uint32_t word = std::stoul(l.substr(at + 2, 6), nullptr, 16);
      ASSERT_EQ(line.card().card().memory().Read(cardsim::Space::kP, address), word) << l;
      ++address;
    }
  }
}

std::int32_t OnError(const char* file, std::int32_t error, std::uint32_t line, const char* text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_errors.push_back({file, error, line, text});
  return 0;
}

// A request with an error callback, which only the internal entry takes.
std::int32_t DownloadWithErrors(const std::string& source, std::int32_t macro) {
  std::string full;
  const DownloadCallbacks callbacks{OnMessage, nullptr, nullptr, OnError};
  if (!BeginDownloadRequest(0, callbacks, DownloadOptions{macro, 0, 0, 1}, source.c_str(), &full)) {
    return -1;
  }
  RunDownloadPipeline(full);
  DownloadState::Instance().set_active(false);
  return DownloadState::Instance().errors() == 0 ? 1 : 0;
}

TEST_F(PipelineTest, CardErrorOnLineSeven) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\nP2=2\nP3=3\nP4=4\nP5=5\n; remark\nXYZZY ; oops\nP8=8\n");
  EXPECT_EQ(DownloadWithErrors(Path("PMC"), 1), 0);
  const Lines m = Messages();
  EXPECT_EQ(Lines(m.end() - 7, m.end()),
            (Lines{"**ZIMO Error 3, Data error or unrecognized command.", "  File: " + Path("PMC"),
                   "  Line: 7, \"XYZZY \"", "Writing macro dictionary table: " + Path("TBL"),
                   "Total Warnings: 0", "Total Errors: 1", "END."}));
  EXPECT_EQ(g_errors,
            (std::vector<ErrorCall>{{Path("PMC"), 3, 7, "Data error or unrecognized command."}}));
  EXPECT_EQ(From(line.card().received(), "close"),
            (Lines{"close", "P1=1", "P2=2", "P3=3", "P4=4", "P5=5", "XYZZY ", "P8=8", "CLOSE"}));
}

// An unsolicited line that comes in front of a line's reply is kept in the
// ring and the reply is read on: each later reply stays with its own line.
cardsim::Card* g_posting_card = nullptr;
std::int32_t PostOnFirstProgress(std::int32_t percent) {
  OnProgress(percent);
  if (g_posting_card != nullptr) {
    g_posting_card->PostUnsolicited("MOTOR 1 FAULT");
    g_posting_card = nullptr;
  }
  return 0;
}

TEST_F(PipelineTest, AnUnsolicitedLineInFrontOfAReplyIsNoEndOfIt) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  std::string text;
  for (int i = 1; i <= 20; ++i) {
    text += i == 12 ? std::string("XYZZY\n") : "P" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  }
  WriteText(Path("PMC"), text);
  g_posting_card = &line.card().card();
  std::string full;
  const DownloadCallbacks callbacks{OnMessage, nullptr, PostOnFirstProgress, OnError};
  ASSERT_TRUE(BeginDownloadRequest(0, callbacks, DownloadOptions{0, 0, 2, 1}, Path("PMC").c_str(),
                                   &full));
  RunDownloadPipeline(full);
  DownloadState::Instance().set_active(false);
  EXPECT_EQ(g_posting_card, nullptr);  // posted at the first report
  EXPECT_EQ(g_errors,
            (std::vector<ErrorCall>{{Path("PMC"), 3, 12, "Data error or unrecognized command."}}));
  char message[100] = {};
  GetUSResponse(0, message, sizeof message - 1);
  EXPECT_STREQ(message, "MOTOR 1 FAULT");
  // The card's own count: every line once, the last one took.
  char reply[64] = {};
  ZimoGetResponseA(0, reply, sizeof reply, "P20");
  EXPECT_STREQ(reply, "20\r");
}

TEST_F(PipelineTest, CompilerErrorSendsNothing) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  std::string text = "OPEN PLCC 1\n";
  for (int i = 2; i < 12; ++i) text += "P" + std::to_string(i) + "=1\n";
  text += "P1=1+ ;12\nCLOSE\n";
  WriteText(Path("PMC"), text);
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 1, 0, 1), 0);
  const Lines m = Messages();
  const Lines expected{"**Error 35, PLCC Illegal Command or Format in string",
                       "  File: " + Path("PMC"),
                       "  Line: 12, \"P1=1+ ;12\"",
                       "Download aborted. PLCC Compiler Error.",
                       "Error: 2 Line 12 : PLCC Err: PLCC Illegal Command or Format in string",
                       "Total Warnings: 0",
                       "Total Errors: 2",
                       "END."};
  ASSERT_GE(m.size(), expected.size());
  EXPECT_EQ(Lines(m.end() - static_cast<long>(expected.size()), m.end()), expected);
  // Only the compile stage's "closeI6=1" and the closing "CLOSE" of the
  // aborted run reach the card: no program line.
  EXPECT_EQ(From(line.card().received(), "closeI6=1"), (Lines{"closeI6=1"}));
  EXPECT_FALSE(std::filesystem::exists(Path("TBL")));
  EXPECT_FALSE(std::filesystem::exists(Path("MAP")));
}

TEST_F(PipelineTest, MissingSourceWritesTheFallbackLog) {
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, "x.pmc", 1, 1, 1, 1), 0);
  EXPECT_EQ(Messages(), (Lines{"Error: 1 Line 1 : File not found: x.pmc"}));
  EXPECT_EQ(OutputLines(home_.path() / "ZIMODNLD.LOG"),
            (Lines{";Log created by ZIMO Win32 Driver from file: x.pmc", ";",
                   "000001:            Error: 1 Line 1 : File not found: x.pmc"}));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "x.EXM"));
}

// A source named like one of the outputs its run would write is refused
// before anything is written or sent, and keeps its text; a name whose
// stage does not run is taken.
TEST_F(PipelineTest, ASourceNamedLikeItsOwnOutputIsRefused) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  ASSERT_NE(line.block().PlccEnabled, 0u);
  const std::string source = "P1=1\nP2=2\n";
  struct Case {
    const char* name;
    const char* ext;
    std::int32_t macro, map, log;
  };
  const Case cases[] = {
      {"PROG.56K", "56K", 0, 0, 0}, {"PROG.56K", "56K", 1, 0, 0}, {"PROG.EXM", "EXM", 1, 0, 0},
      {"prog.exm", "EXM", 1, 0, 0}, {"PROG.MAP", "MAP", 1, 1, 0}, {"PROG.TBL", "TBL", 1, 0, 0},
      {"PROG.LOG", "LOG", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " macro " + std::to_string(c.macro));
    for (const auto& entry : std::filesystem::directory_iterator(home_.path())) {
      if (entry.path().filename().string().rfind("PROG.", 0) == 0 ||
          entry.path().filename().string().rfind("prog.", 0) == 0) {
        std::filesystem::remove(entry.path());
      }
    }
    g_messages.clear();
    const std::string path = (home_.path() / c.name).string();
    WriteText(path, source);
    const std::size_t sent_before = line.card().received().size();
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, path.c_str(), c.macro, c.map, c.log, 1),
              0);
    EXPECT_EQ(Messages(), (Lines{"Error: 1 Line 1 : Source file is also the " +
                                 std::string(c.ext) + " output file: " + path}));
    EXPECT_EQ(ReadText(path), source);
    EXPECT_EQ(line.card().received().size(), sent_before) << "nothing reaches the card";
    for (const char* ext : {"EXM", "56K", "MAP", "TBL", "LOG"}) {
      if (std::string(ext) != c.ext) EXPECT_FALSE(std::filesystem::exists(Path(ext))) << ext;
    }
  }
  // Sending a compiled file as it is, and a LOG-named source without a log.
  line.block().PlccEnabled = 0;
  WriteText(Path("56K"), source);
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("56K").c_str(), 0, 0, 0, 1), 1);
  WriteText(Path("LOG"), source);
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("LOG").c_str(), 1, 0, 0, 1), 1);
  EXPECT_EQ(ReadText(Path("LOG")), source);
}

// The card takes commands of 255 characters: such a line goes out whole as
// one command, with and without the macro pass, and the lines after it keep
// their numbers; a longer line is refused with its file and line and
// nothing is sent.
TEST_F(PipelineTest, LinesOfTheCardsFullLengthGoOutWhole) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  std::string full;
  for (int n = 1; full.size() + 8 <= 255; ++n) full += "P" + std::to_string(100 + n) + "=1 ";
  full.resize(255, ' ');
  full.back() = '1';
  full[full.size() - 2] = '=';
  full[full.size() - 3] = '9';
  full[full.size() - 4] = 'P';
  full[full.size() - 5] = ' ';
  ASSERT_EQ(full.size(), 255u);
  for (std::int32_t macro : {1, 0}) {
    SCOPED_TRACE(macro);
    g_messages.clear();
    WriteText(Path("PMC"), "P1=1\n" + full + "\nXYZZY\n");
    const std::size_t before = line.card().received().size();
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), macro, 0, 0, 1), 0);
    const Lines all = line.card().received();
    const Lines received = From(Lines(all.begin() + static_cast<long>(before), all.end()), "close");
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received[1], "P1=1");
    EXPECT_EQ(received[2], macro != 0 ? full.substr(0, full.find_last_not_of(' ') + 1) : full);
    EXPECT_EQ(received[3], "XYZZY");
    if (macro != 0) {
      const Lines exm = OutputLines(Path("EXM"));
      ASSERT_GE(exm.size(), 5u);
      EXPECT_EQ(exm[exm.size() - 2], "XYZZY;3") << "the line after keeps its number";
    }
    // The card refuses XYZZY on line 3 of the source.
    const Lines m = Messages();
    EXPECT_NE(std::find(m.begin(), m.end(), "  Line: 3, \"XYZZY\""), m.end());
  }
  const std::string longer = full + "2";
  for (std::int32_t macro : {1, 0}) {
    SCOPED_TRACE(macro);
    g_messages.clear();
    WriteText(Path("PMC"), "P1=1\n" + longer + "\nP2=2\n");
    const std::size_t before = line.card().received().size();
    EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), macro, 0, 0, 1), 0);
    const std::string file = Path("PMC");
    const Lines m = Messages();
    EXPECT_NE(std::find(m.begin(), m.end(),
                        "Error: 1 Line 2 : Line longer than 255 characters in " + file),
              m.end());
    const Lines all = line.card().received();
    for (std::size_t i = before; i < all.size(); ++i) {
      EXPECT_EQ(all[i].find("P2=2"), std::string::npos) << "nothing is sent";
      EXPECT_EQ(all[i].find("P1=1"), std::string::npos) << "nothing is sent";
    }
  }
}

TEST_F(PipelineTest, NoLogAndTheErrorLimit) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\n#else\nXYZZY\nP2=2\n");
  ZimoSetMaxDownloadErrors(1);
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 1, 2, 1), 0);
  const Lines m = Messages();
  EXPECT_EQ(Lines(m.begin() + 2, m.end()),
            (Lines{"Error: 1 Line 2 : Misplaced #ELSE macro.",
                   "Download aborted. Errors exceed 1 maximum.", "Total Lines: 2",
                   "Total Warnings: 0", "Total Errors: 1", "END."}));
  for (const char* ext : {"LOG", "TBL", "MAP", "56K"}) {
    EXPECT_FALSE(std::filesystem::exists(Path(ext))) << ext;
  }
}

TEST_F(PipelineTest, AbortFromAnotherThread) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  std::string text;
  for (int i = 1; i <= 40; ++i) text += "P" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  WriteText(Path("PMC"), text);
  // The fifth line's progress report asks for the stop from a thread of
  // its own.
  static std::atomic<int> calls;
  calls = 0;
  auto progress = [](std::int32_t) -> std::int32_t {
    if (++calls == 1) std::thread([] { ZimoAbortDownload(0); }).join();
    return 0;
  };
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, progress, Path("PMC").c_str(), 0, 0, 0, 1), 1);
  const Lines m = Messages();
  EXPECT_EQ(m[1], "Download aborted at users request.");
  Lines received = From(line.card().received(), "close");
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), "CLOSE");
  Lines program;
  for (const std::string& r : received) {
    if (r[0] == 'P') program.push_back(r);
  }
  EXPECT_EQ(program, (Lines{"P1=1", "P2=2", "P3=3", "P4=4", "P5=5"}));
}

// A message callback that waits for the thread pressing Abort: the abort
// returns while the callback still runs (no library lock is held around a
// callback), and the run stops before it sends a line.
TEST_F(PipelineTest, AbortReturnsWhileACallbackWaitsForIt) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\nP2=2\nP3=3\n");
  static std::atomic<bool> abort_returned;
  static std::atomic<bool> waited_in_vain;
  static std::thread presser;
  abort_returned = false;
  waited_in_vain = false;
  auto message = [](const char* text, std::int32_t) -> std::int32_t {
    OnMessage(text, 0);
    if (std::string(text).rfind("Processing Macro File", 0) != 0) return 0;
    presser = std::thread([] {
      ZimoAbortDownload(0);
      abort_returned = true;
    });
    // A generous bound: the test fails, never hangs, when Abort waits for
    // this callback.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!abort_returned && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    waited_in_vain = !abort_returned;
    return 0;
  };
  const std::int32_t r = ZimoDownloadA(0, message, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1);
  presser.join();
  EXPECT_FALSE(waited_in_vain) << "Abort waited for the callback";
  EXPECT_EQ(r, 1);
  const Lines m = Messages();
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m[1], "Download aborted at users request.");
  for (const std::string& received : From(line.card().received(), "close")) {
    EXPECT_NE(received[0], 'P') << received;
  }
}

TEST_F(PipelineTest, TimeOutIsError1021) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1 ;3\n");
  line.card().card().script().SetMuted(true);
  EXPECT_EQ(DownloadWithErrors(Path("PMC"), 0), 0);
  line.card().card().script().SetMuted(false);
  EXPECT_EQ(g_errors,
            (std::vector<ErrorCall>{{Path("PMC"), 1021, 3, "Timeout during communication read"}}));
}

TEST_F(PipelineTest, ChecksummedRun) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\nXYZZY\nP3=3\n");
  DownloadState::Instance().set_checksum_mode(1);
  EXPECT_EQ(DownloadWithErrors(Path("PMC"), 1), 0);
  DownloadState::Instance().set_checksum_mode(0);
  const Lines m = Messages();
  EXPECT_NE(std::find(m.begin(), m.end(), "+++ Doing checksummed communications +++"), m.end());
  EXPECT_EQ(g_errors,
            (std::vector<ErrorCall>{{Path("PMC"), 3, 2, "Data error or unrecognized command."}}));
  EXPECT_EQ(line.card().card().IVarValue(4), 0.0);  // checksums off again after the run
  char reply[32];
  ZimoGetResponseA(0, reply, sizeof reply, "P3");
  EXPECT_STREQ(reply, "3\r");
}

TEST_F(PipelineTest, WideEntriesAndADeviceNotOpen) {
  EXPECT_EQ(ZimoDownloadW(0, OnMessage, nullptr, nullptr, u"x.pmc", 1, 0, 0, 1), 0);
  EXPECT_EQ(ZimoThreadDownloadW(0, OnMessage, nullptr, nullptr, u"x.pmc", 1, 0, 0, 1), 0);
  // A path with no 8-bit form reports nothing.
  EXPECT_EQ(ZimoDownloadW(0, OnMessage, nullptr, nullptr, u"\u4E00.pmc", 1, 0, 0, 1), 0);
  EXPECT_EQ(Messages(), (Lines{"Error: 1 Line 1 : File not found: x.pmc",
                               "Error: 1 Line 1 : File not found: x.pmc"}));
  // Nothing is open in this process: the send stage counts an error.
  g_messages.clear();
  WriteText(Path("PMC"), "P1=1\n");
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 0, 0, 0, 1), 0);
  EXPECT_EQ(Messages(), (Lines{"Error: 1 : ZIMO Device not open.", "Total Warnings: 0",
                               "Total Errors: 1", "END."}));
}

TEST_F(PipelineTest, CompilationWithoutALinkListStopsTheRun) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().LinkListValid = 0;
  WriteText(Path("56K"), "P9=9\n");  // a stale file that must not be sent
  WriteText(Path("PMC"), "P1=1\n");
  EXPECT_EQ(ZimoDownloadA(0, OnMessage, nullptr, nullptr, Path("PMC").c_str(), 0, 0, 0, 1), 0);
  EXPECT_EQ(Messages(), (Lines{"Compiling for PLCC: " + Path("EXM") + " = " + Path("56K"),
                               "Error: 1 : PLCC Err: The card's link list is not known.",
                               "Total Warnings: 0", "Total Errors: 1", "END."}));
  EXPECT_EQ(From(line.card().received(), "closeI6=1"), (Lines{"closeI6=1"}));
}

std::atomic<bool> g_release{false};
std::int32_t HoldingMessage(const char* text, std::int32_t n) {
  OnMessage(text, n);
  while (!g_release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}
Lines g_second;
std::int32_t SecondMessage(const char* text, std::int32_t) {
  g_second.push_back(text);
  return 0;
}

TEST_F(PipelineTest, OneDownloadAtATime) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  line.block().PlccEnabled = 0;
  WriteText(Path("PMC"), "P1=1\n");
  g_release = false;
  g_second.clear();
  ASSERT_EQ(
      ZimoThreadDownloadA(0, HoldingMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 1);
  EXPECT_EQ(ZimoDownloadA(0, SecondMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 0);
  EXPECT_EQ(
      ZimoThreadDownloadA(0, SecondMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 0);
  EXPECT_EQ(g_second,
            (Lines{"Download thread already running!", "Download thread already running!"}));
  g_release = true;
  while (DownloadState::Instance().busy())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Lines m = Messages();
  EXPECT_EQ(m.back(), "END.");
  for (const std::string& text : m) EXPECT_NE(text, "Download thread already running!");
  // The worker has ended; a new request is taken.
  EXPECT_EQ(ZimoDownloadA(0, SecondMessage, nullptr, nullptr, Path("PMC").c_str(), 1, 0, 0, 1), 1);
}

}  // namespace
}  // namespace zimo::corvan
