// The lab's PID as the lab program downloads it: demacrotized with the
// program frame for the sample period, compiled by compile_the_file against
// the card's own "list link" answer into "plc0.56k", sent to the simulated
// card after "DELETE PLCC 0" and enabled with "I5=3" and "enaplcc0". The
// card runs the code words: the frame's two branches on P1000, the
// student's code once every R + 1 passes, and the watchdog that stops the
// program after three overruns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "algorithm_test_support.h"
#include "cardsim/card.h"
#include "cardsim/plcc_runner.h"
#include "labhelper/qeldll32.h"

namespace zimo::labhelper::testing {
namespace {

using cardsim::Card;
using cardsim::CardModel;

double Number(Card& card, const std::string& name) {
  const auto lines = card.Execute(name).lines;
  return lines.empty() ? -9999 : std::atof(lines[0].c_str());
}

class Plc0CardRun : public AlgorithmTest {
 protected:
  // The lab program's download of the PID for sample period `ts`.
  void Download(float ts) {
    // "listlink.txt": each value of the card's reply and a blank, then a
    // closing blank.
    std::string links;
    for (const std::string& line : card_.Execute("list link").lines) links += line + " ";
    WriteText(Path("listlink.txt"), links + " ");
    std::string text = kPidAlgorithm;
    ASSERT_EQ(demacrotize_the_file(text.data(), "plc0.$$$", ts), 0);
    ASSERT_EQ(compile_the_file("plc0.$$$", "plc0.56k"), 0);
    for (const char* line : {"I5=0", "DELETE PLCC 0", "M100..127->*", "M9..14->*", "M100=0", "P999=0"})
      ASSERT_EQ(card_.Execute(line).error, 0) << line;
    for (const std::string& line : Lines(ReadText(Path("plc0.56k")))) {
      if (!line.empty()) {
        ASSERT_EQ(card_.Execute(line).error, 0) << line;
      }
    }
    for (const char* line : {"displc0 displcc0", "I5=3", "enaplcc0"})
      ASSERT_EQ(card_.Execute(line).error, 0) << line;
  }

  Card card_{CardModel::Older()};
};

TEST_F(Plc0CardRun, FrameBranchesOnTheApparatusAndRunsTheStudentEveryRPlusOnePasses) {
  struct Case {
    float ts;
    int r;        // the rate number the frame counts to
    double p1000;  // apparatus code: 11 and above scale the inputs by 1/32
    double scale;
  };
  for (const Case& c : {Case{0.000884f, 0, 11, 1.0 / 32}, Case{0.00442f, 4, 0, 1.0}, Case{0.00442f, 4, 12, 1.0 / 32}}) {
    SCOPED_TRACE("Ts " + std::to_string(c.ts) + " P1000 " + std::to_string(c.p1000));
    card_.Execute("P1000=" + std::to_string(c.p1000) + " P11=0 P12=0");
    Download(c.ts);
    card_.Execute("M10=320 M11=64 M12=96 M13=128 M9=160 M14=192 M127=5");
    const int passes = 10;
    card_.AdvanceServo(passes);
    ASSERT_TRUE(card_.plcc().log().empty()) << card_.plcc().log().front();
    const struct {
      const char* p;
      double m;
    } inputs[] = {{"P900", 320}, {"P901", 64}, {"P902", 96}, {"P903", 128}, {"P905", 160}, {"P906", 192}};
    for (const auto& in : inputs) EXPECT_DOUBLE_EQ(Number(card_, in.p), in.m * c.scale) << in.p;
    const double err = (320 - 64) * c.scale;
    const int runs = passes / (c.r + 1);
    EXPECT_DOUBLE_EQ(Number(card_, "P10"), err);
    EXPECT_DOUBLE_EQ(Number(card_, "P11"), err * runs);  // the sum grows once per run
    EXPECT_NEAR(Number(card_, "M100"), 0.8 * err + 0.01 * err * runs, 1e-6);

    // Three passes that overran by more than R cycles: the watchdog zeroes
    // the efforts, marks P999 and P7, sends ^A and ENDG and disables PLCC 0
    // for good. Overruns of R cycles or fewer it lets pass.
    card_.plcc().ScriptOverrun(c.r, 3);
    card_.AdvanceServo(3);
    EXPECT_EQ(Number(card_, "P999"), 0);
    card_.plcc().ScriptOverrun(c.r + 1, 3);
    card_.AdvanceServo(3);
    EXPECT_EQ(Number(card_, "P999"), 1);
    EXPECT_EQ(Number(card_, "P7"), 1);
    EXPECT_EQ(Number(card_, "M127"), 0);
    if (c.r == 4) {
      EXPECT_EQ(Number(card_, "M100"), 0);  // no student run in those passes
    }
    const uint32_t slot0 = card_.memory().Read(cardsim::Space::kP, 0x8021);
    EXPECT_EQ(slot0, 0x8060u);  // PLCC 0 disabled: its slot leads to the chain end
    const double sum = Number(card_, "P11");
    card_.AdvanceServo(10);
    EXPECT_EQ(Number(card_, "P11"), sum);
    EXPECT_EQ(card_.memory().Read(cardsim::Space::kX, 0x8), 0u);  // no overrun scripted any more
    // The next case starts from a stopped experiment.
    card_.Execute("P7=0 P999=0");
    card_.memory().Write(cardsim::Space::kX, 0x770, 0);
    card_.memory().Write(cardsim::Space::kX, 0x771, 0);
  }
}

}  // namespace
}  // namespace zimo::labhelper::testing
