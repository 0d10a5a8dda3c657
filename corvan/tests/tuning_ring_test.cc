// Ring stations: single reads and writes, the node scan, and the upload of
// every station's settings, byte for byte, with its progress, on a card
// that stops answering at any point and on a disk that fills up.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/tuning_api.h"
#include "platform/process.h"
#include "temp_home.h"
#include "tuning/diagnosis.h"
#include "tuning_scripted_path.h"

#if __has_include("cardsim/attach_pty.h")
#define RING_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "corvan/variables_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using testing::TuningPath;
using Lines = std::vector<std::string>;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The golden files lie beside this source; a relative source name is
// relative to the build folder, the parent of the programs' folder.
std::filesystem::path Golden(const char* name) {
  std::filesystem::path source(__FILE__);
  if (source.is_relative()) source = platform::ExecutableDir().parent_path() / source;
  return source.parent_path() / "data" / "tuning" / name;
}

// What is in a folder besides nothing.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

std::vector<std::int32_t> progress_seen;
void RecordProgress(std::int32_t percent) { progress_seen.push_back(percent); }

TEST(StationReads, NumbersTextsAndWrites) {
  struct Case {
    const char* reply;
    std::uint32_t status;
    std::int32_t value;
  };
  const Case cases[] = {
      {"12\r", kStatusAck, 12},
      {"$1F\r", kStatusAck, 31},
      {"0x10\r", kStatusAck, 16},
      {"010\r", kStatusAck, 8},
      {"-3\r", kStatusAck, -3},
      {"MS2,I5=7\r", kStatusAck, 7},  // a card that names its variables
      {"\aERR008\r", kStatusCardError, -1},
      {"ERR008\r", kStatusAck, -1},
      {"", kStatusAck, -1},
      {"5\r", kStatusTimeout, -1},
  };
  for (const auto& c : cases) {
    TuningPath p;
    p.Reply("MS2,I5", c.reply, c.status);
    EXPECT_EQ(tuning::StationLong(p, 0, 2, 5, -1), c.value) << c.reply;
    EXPECT_EQ(p.sent, Lines{"MS2,I5"});
  }

  char buffer[40];
  TuningPath p;
  p.Reply("MS1,I7", "1.25\r");
  p.Reply("MS1,I8", "\aERR008\r", kStatusCardError);
  EXPECT_STREQ(tuning::StationText(p, 0, 1, 7, "0", buffer), "1.25");
  const char* fallback = "none";
  EXPECT_EQ(tuning::StationText(p, 0, 1, 8, fallback, buffer), fallback);

  TuningPath w;
  w.Reply("MS3,I12=1", "\aERR003\r", kStatusCardError);
  EXPECT_EQ(tuning::SetStationText(w, 0, 3, 12, "1"), 0);
  EXPECT_EQ(tuning::SetStationText(w, 0, 3, 13, "2.5"), 1);
  EXPECT_EQ(w.sent, (Lines{"MS3,I12=1", "MS3,I13=2.5"}));
  TuningPath silent;
  silent.SilentAfter(0);
  EXPECT_EQ(tuning::SetStationText(silent, 0, 3, 13, "2.5"), 0);  // no answer is no write
}

// A ring with one station, on node 0, scripted: every other node answers
// with an error.
TuningPath OneStationRing() {
  TuningPath p;
  for (int node = 1; node <= 13; ++node) {
    p.Reply("MS" + std::to_string(node) + ",I3", "\aERR008\r", kStatusCardError);
  }
  p.Reply("MS0,I3", "1\r");
  p.Reply("MS0,I996", "0\r");
  p.Reply("I9", "3\r");
  return p;
}

// The lines the one-station ring's upload sends.
Lines OneStationTranscript() {
  Lines lines;
  for (int node = 0; node <= 13; ++node) lines.push_back("MS" + std::to_string(node) + ",I3");
  lines.insert(lines.end(), {"I9", "I9=2"});
  auto range = [&lines](int first, int last) {
    for (int n = first; n <= last; ++n) lines.push_back("MS0,I" + std::to_string(n));
  };
  range(910, 930);
  lines.push_back("MS0,I996");
  const int ranges[][2] = {{0, 99},    {101, 108}, {111, 118}, {120, 197}, {198, 198}, {900, 909},
                           {940, 942}, {974, 977}, {981, 982}, {985, 989}, {990, 999}};
  for (const auto& r : ranges) range(r[0], r[1]);
  lines.push_back("MS0,I12");
  lines.push_back("I9=3");
  return lines;
}

class UploadFolder : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  std::filesystem::path folder_ = home_.path() / "upload";
  std::string file_ = (folder_ / "ring.cfg").string();
  void SetUp() override { std::filesystem::create_directories(folder_); }
};

TEST_F(UploadFolder, ScriptedRingTranscript) {
  TuningPath p = OneStationRing();
  EXPECT_EQ(tuning::UploadRingConfig(p, 0, false, nullptr, file_.c_str()), 1);
  EXPECT_EQ(p.sent, OneStationTranscript());
  const std::string text = ReadFile(file_);
  EXPECT_EQ(text.substr(0, 22), "MS0,I910=\r\nMS0,I911=\r\n");  // no answer: empty
  EXPECT_NE(text.find("\r\n;MS0,I99=\r\nMS0,I101=\r\n"), std::string::npos);
  EXPECT_EQ(FolderEntries(folder_), Lines{"ring.cfg"});
}

TEST_F(UploadFolder, ACardLostAtAnyPointLeavesNoFileAndPutsI9Back) {
  const Lines full = OneStationTranscript();
  const std::size_t changed = 15;  // "I9=2"
  ASSERT_EQ(full[changed], "I9=2");
  for (std::size_t cut : {std::size_t{0}, std::size_t{7}, std::size_t{14}, changed, std::size_t{16},
                          std::size_t{37}, std::size_t{150}, full.size() - 2, full.size() - 1}) {
    TuningPath p = OneStationRing();
    p.SilentAfter(static_cast<int>(cut));
    EXPECT_EQ(tuning::UploadRingConfig(p, 0, false, nullptr, file_.c_str()), 0) << cut;
    // Nothing after the line that got no answer, but I9 put back once
    // changed.
    Lines expected(full.begin(), full.begin() + static_cast<long>(cut) + 1);
    if (cut >= changed && cut != full.size() - 1) expected.push_back("I9=3");
    EXPECT_EQ(p.sent, expected) << cut;
    EXPECT_TRUE(FolderEntries(folder_).empty()) << cut;
  }
}

TEST_F(UploadFolder, AFileThatCannotBeMadeSendsNothing) {
  TuningPath p = OneStationRing();
  const std::string nowhere = (folder_ / "missing" / "ring.cfg").string();
  EXPECT_EQ(tuning::UploadRingConfig(p, 0, false, RecordProgress, nowhere.c_str()), 0);
  EXPECT_TRUE(p.sent.empty());
  // An older file of the name stays as it was when an upload fails.
  std::ofstream(file_) << "kept\r\n";
  TuningPath silent = OneStationRing();
  silent.SilentAfter(20);
  EXPECT_EQ(tuning::UploadRingConfig(silent, 0, false, nullptr, file_.c_str()), 0);
  EXPECT_EQ(ReadFile(file_), "kept\r\n");
}

TEST(RingScan, NodeTableOfAScriptedRing) {
  TuningPath p;
  for (int node = 0; node <= 13; ++node) {
    p.Reply("MS" + std::to_string(node) + ",I3", "\aERR008\r", kStatusCardError);
  }
  p.Reply("MS0,I3", "4\r");
  p.Reply("MS3,I3", "4\r");
  p.Reply("MS13,I3", "9\r");
  std::vector<std::int32_t> table(194, 77);
  EXPECT_EQ(tuning::AnalyzeRing(p, 0, false, table.data()), 3);
  std::vector<std::int32_t> expected(194, -1);
  expected[0] = 3;
  expected[1] = 2;  // 4, 4, 9
  expected[2 + 0] = expected[2 + 3] = expected[2 + 13] = 1;
  expected[66 + 0] = 0;
  expected[66 + 3] = 1;
  expected[66 + 13] = 0;
  expected[130 + 0] = expected[130 + 3] = 4;
  expected[130 + 13] = 9;
  EXPECT_EQ(table, expected);
  EXPECT_EQ(p.sent.size(), 14u);
  EXPECT_EQ(tuning::AnalyzeRing(p, 0, false, nullptr), 0);
}

#ifdef RING_TEST_WITH_CARD

using namespace zimo::corvan::testing;

class RingCard : public ::testing::Test {
 protected:
  void Start(cardsim::CardModel model) {
    std::filesystem::create_directories(folder_);
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
  }
  // The ring of the golden file: stations on nodes 0, 1, 4 and 5, node 1
  // sharing node 0's station number, node 5 with I12 set; I/O nodes 2, 3,
  // 6 and 7 answer too.
  void BuildRing() {
    for (int node = 0; node < 8; ++node) card().AddRingStation(node, node % 4 < 2 ? 1 : 2);
    const char* settings[][3] = {{"1", "996", "0"}, {"5", "12", "1"},    {"0", "99", "7"},
                                 {"0", "98", "3"},  {"4", "920", "1.5"}, {"5", "943", "12"},
                                 {"5", "265", "-4"}};
    for (const auto& s : settings) {
      ASSERT_EQ(VARLOSetIVariableString(0, static_cast<std::uint32_t>(std::atoi(s[0])),
                                        static_cast<std::uint32_t>(std::atoi(s[1])), s[2]),
                1);
    }
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
  }
  cardsim::Card& card() { return card_->card(); }

  zimo::testing::TempHome home_;
  std::filesystem::path folder_ = home_.path() / "upload";
  std::string file_ = (folder_ / "ring.cfg").string();
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(RingCard, UploadOfThreeStationsByteForByte) {
  Start(cardsim::CardModel::Older());
  BuildRing();
  ZimoSetVariableLong(0, 'I', 9, 3);  // the card names its variables
  progress_seen.clear();
  card().script().ClearLog();
  ASSERT_EQ(VARLOUploadConfig(0, RecordProgress, file_.c_str()), 1);
  EXPECT_EQ(ReadFile(file_), ReadFile(Golden("ring_upload_older.txt")));
  EXPECT_EQ(FolderEntries(folder_), Lines{"ring.cfg"});

  // Only nodes 0 to 13 are asked.
  const Lines got = card_->received();
  EXPECT_EQ(ZimoGetIVariableLong(0, 9, -1), 3);
  for (int node = 0; node <= 13; ++node) {
    EXPECT_EQ(got[static_cast<std::size_t>(node)], "MS" + std::to_string(node) + ",I3");
  }
  EXPECT_EQ(got[14], "I9");
  EXPECT_EQ(got[15], "I9=2");
  EXPECT_EQ(got.back(), "I9=3");

  // Progress: 910 to 930 for each of the four nodes taken, then station
  // 0's ranges 0 to 99, 101 to 108, 111 to 118 and 120 to 197.
  std::vector<std::int32_t> expected;
  for (int i = 0; i < 4; ++i) expected.insert(expected.end(), {0, 25, 50, 75, 100});
  for (int p = 0; p <= 95; p += 5) expected.push_back(p);
  expected.insert(expected.end(),
                  {57, 57, 0, 6, 12, 19, 25, 32, 38, 45, 51, 58, 64, 71, 77, 84, 90, 97});
  ASSERT_GE(progress_seen.size(), expected.size());
  EXPECT_EQ(std::vector<std::int32_t>(progress_seen.begin(),
                                      progress_seen.begin() + static_cast<long>(expected.size())),
            expected);
}

TEST_F(RingCard, NodeTableOfTheSameRing) {
  Start(cardsim::CardModel::Older());
  BuildRing();
  std::vector<std::int32_t> table(VARLO_NODE_TABLE_WORDS, 0);
  EXPECT_EQ(AerivoAnalyze(0, table.data()), 8);
  std::vector<std::int32_t> expected(194, -1);
  expected[0] = 8;
  expected[1] = 4;  // 1 1 2 2 1 1 2 2
  for (int node = 0; node < 8; ++node) {
    expected[static_cast<std::size_t>(2 + node)] = 1;
    expected[static_cast<std::size_t>(66 + node)] = node % 4 < 2 ? 0 : 1;
    expected[static_cast<std::size_t>(130 + node)] = node % 4 < 2 ? 1 : 2;
  }
  EXPECT_EQ(table, expected);
  EXPECT_EQ(VARLOGetIVariableLong(0, 5, 12, -1), 1);
  EXPECT_EQ(VARLOGetIVariableLong(0, 9, 3, -1), -1);  // nobody there
  EXPECT_STREQ(VARLOGetIVariableString(0, 4, 920, "0"), "1.5");
  EXPECT_STREQ(VARLOGetIVariableString(0, 9, 920, "none"), "none");
}

TEST_F(RingCard, TheNewerCardsScanSixtyFourNodes) {
  Start(cardsim::CardModel::Spran());
  card().AddRingStation(63, 3);
  const std::int32_t i9 = ZimoGetIVariableLong(0, 9, -1);
  card().script().ClearLog();
  std::vector<std::int32_t> table(VARLO_NODE_TABLE_WORDS, 0);
  EXPECT_EQ(AerivoAnalyze(0, table.data()), 1);
  EXPECT_EQ(table[2 + 63], 1);
  EXPECT_EQ(table[66 + 63], 1);  // 63 mod 4 is 3: an I/O node
  EXPECT_EQ(table[130 + 63], 3);
  Lines expected;
  for (int node = 0; node <= 63; ++node) expected.push_back("MS" + std::to_string(node) + ",I3");
  EXPECT_EQ(card_->received(), expected);

  // The upload scans them all and takes no I/O node.
  card().script().ClearLog();
  ASSERT_EQ(VARLOUploadConfig(0, nullptr, file_.c_str()), 1);
  EXPECT_EQ(ReadFile(file_), "");
  expected.insert(expected.end(), {"I9", "I9=2", "I9=" + std::to_string(i9)});
  EXPECT_EQ(card_->received(), expected);
}

TEST_F(RingCard, ADiskFullMidwayGivesNoFileAndI9Back) {
  Start(cardsim::CardModel::Older());
  BuildRing();
  ZimoSetVariableLong(0, 'I', 9, 1);
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 3000;  // a few lines into the first station
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::int32_t result = VARLOUploadConfig(0, nullptr, file_.c_str());
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(FolderEntries(folder_).empty());
  EXPECT_EQ(ZimoGetIVariableLong(0, 9, -1), 1);
  // It stopped at the line that could not be written.
  const Lines got = card_->received();
  EXPECT_EQ(std::count(got.begin(), got.end(), "MS5,I12"), 0);
}

#endif  // RING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
