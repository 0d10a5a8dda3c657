// Whole programs compiled by Corvan32's PLC compiler, downloaded to the
// simulated card as its memory writes and run there as code words; every
// variable must end as the same source leaves it when the card runs it as
// a text PLC (programs with L variables: against values worked by hand).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/plcc_runner.h"
#include "plcc/plcc_compiler.h"
#include "plcc/plcc_target.h"

namespace zimo::corvan::plcc {
namespace {

using cardsim::Card;
using cardsim::CardModel;

// The compiler's target as the host derives it from the card's answers.
PlccTarget TargetOf(Card& card) {
  const CardModel& m = card.model();
  PlccTarget t = m.spran ? PlccTarget::Spran(m.version) : PlccTarget::Older(m.version);
  const auto lines = card.Execute("LIST LINK").lines;
  for (std::size_t i = 0; i < lines.size() && i < t.link_list.size(); ++i)
    t.link_list[i] = static_cast<std::uint32_t>(std::strtoul(lines[i].c_str(), nullptr, 16));
  return t;
}

struct Refusals : PlccErrorSink {
  std::string text;
  void ReportError(const char*, int error, std::uint32_t line, const char* what) override {
    text += "error " + std::to_string(error) + " at line " + std::to_string(line) + ": " + what + "\n";
  }
};

// Compiles `source` for the card and sends every output line to it.
void CompileAndDownload(Card& card, const std::string& source) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  std::fputs(source.c_str(), in);
  std::rewind(in);
  Refusals refusals;
  const PlccCompileResult r = CompilePlccStream(TargetOf(card), in, out, &refusals);
  ASSERT_EQ(r.result, 0) << refusals.text;
  std::rewind(out);
  std::string line;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      EXPECT_EQ(card.Execute(line).error, 0) << line;
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  std::fclose(in);
  std::fclose(out);
}

void RunAsTextPlc(Card& card, int n, const std::string& body) {
  card.Execute("OPEN PLC " + std::to_string(n));
  card.Execute("CLEAR");
  std::size_t start = 0;
  while (start < body.size()) {
    const std::size_t end = body.find('\n', start);
    card.Execute(body.substr(start, end - start));
    start = end == std::string::npos ? body.size() : end + 1;
  }
  card.Execute("CLOSE");
  card.Execute("ENABLE PLC " + std::to_string(n));
}

std::string Value(Card& card, const std::string& name) {
  const auto lines = card.Execute(name).lines;
  return lines.empty() ? "<none>" : lines[0];
}

const char* const kSetUp = "I15=0 P1=2.5 P2=-1.25 P3=4 P4=30 P5=6.25 P6=7.5 M50->* M50=3 &2 Q3=1.5 &1";

// Floating-point PLC 1: arithmetic with precedence, functions, divide and
// modulo, I/M/P/Q reads and writes, IF/ELSE, a WHILE running once per scan,
// ENABLE/DISABLE of another PLC and a command.
const char* const kFloatBody =
    "P10=P1+P2*P3\n"
    "P11=SIN(P4)+SQRT(P5)-ABS(P2)\n"
    "P12=(P1-P2)/P3\n"
    "P13=P6%P3\n"
    "IF (P1>P2)\n"
    "P14=P14+1\n"
    "ELSE\n"
    "P14=P14-100\n"
    "ENDIF\n"
    "IF (P1<P2)\n"
    "P18=1\n"
    "ELSE\n"
    "P18=-(P3+P1)\n"
    "ENDIF\n"
    "WHILE (P21<3)\n"
    "P21=P21+1\n"
    "ENDWHILE\n"
    "I1010=P1*2+M50\n"
    "M50=I1010-1\n"
    "P15=I1010*M50+P3\n"
    "P16=Q3*2\n"
    "Q4=P1+Q3\n"
    "P17=EXP(LN(P5))-INT(P6)\n"
    "IF (P22<2)\n"
    "P22=P22+1\n"
    "COMMAND\"P30=P30+1\"\n"
    "ENDIF\n"
    "IF (P22=2)\n"
    "DISABLE SELF\n"
    "ENDIF\n";

// The body with its self-disable for the compiled and the text form.
std::string Body(const std::string& self) {
  std::string body = kFloatBody;
  body.replace(body.find("SELF"), 4, self);
  return body;
}

const char* const kCompared[] = {"P10", "P11", "P12", "P13", "P14", "P15", "P16", "P17", "P18",
                                 "P21", "P22", "P30", "I1010", "M50", "&2Q4"};

class PlccCardRun : public ::testing::TestWithParam<bool> {
 protected:
  CardModel Model() const { return GetParam() ? CardModel::Spran() : CardModel::Older(); }
};

TEST_P(PlccCardRun, CompiledProgramLeavesWhatTheTextPlcLeaves) {
  Card compiled(Model()), text(Model());
  for (Card* c : {&compiled, &text}) {
    ASSERT_EQ(c->Execute(kSetUp).error, 0);
    // PLC 1 sits in coordinate system 2 for its Q variables.
  }
  CompileAndDownload(compiled, "OPEN PLCC 1\nADDRESS &2\n" + Body("PLCC 1") + "CLOSE\n");
  compiled.Execute("ENABLE PLCC 1");
  compiled.Execute("I5=3");
  RunAsTextPlc(text, 1, "&2\n" + Body("PLC 1"));
  text.Execute("I5=3");
  for (int cycle = 0; cycle < 8; ++cycle) {
    compiled.AdvanceServo(1);
    text.AdvanceServo(1);
  }
  EXPECT_TRUE(compiled.plcc().log().empty()) << compiled.plcc().log().front();
  for (const char* name : kCompared) {
    const double a = std::atof(Value(compiled, name).c_str());
    const double b = std::atof(Value(text, name).c_str());
    EXPECT_NEAR(a, b, 1e-6 * (1 + std::fabs(b))) << name;
  }
  // Values worked by hand, so that a fault both share shows too.
  EXPECT_EQ(Value(compiled, "P10"), "-2.5");
  EXPECT_EQ(Value(compiled, "P13"), "3.5");
  EXPECT_EQ(Value(compiled, "P21"), "3");
  EXPECT_EQ(Value(compiled, "P22"), "2");
  EXPECT_EQ(Value(compiled, "P30"), "2");
  EXPECT_EQ(Value(compiled, "P18"), "-6.5");
}

TEST_P(PlccCardRun, IntegerLVariablesOfEachWidthAndSign) {
  Card card(Model());
  CompileAndDownload(card,
                     "L1->X:$10,24\n"
                     "L2->X:$20,8,8,S\n"
                     "L3->Y:$21,0,4\n"
                     "L4->X:$22,24\n"
                     "L5->Y:$22,4,12,U\n"
                     "L6->X:$23,3\n"
                     "L7->X:$25,24\n"
                     "OPEN PLCC 2\n"
                     "L1=L1+3\n"
                     "L2=-5-L1\n"
                     "L3=L1*2\n"
                     "L4=L1/5+L1%5*100\n"
                     "L5=L2\n"
                     "L6=L1&1\n"
                     "IF (L2<-10)\n"
                     "L7=L2\n"
                     "ENDIF\n"
                     "CLOSE\n");
  card.Execute("ENABLE PLCC 2");
  card.Execute("I5=2");
  card.AdvanceServo(4);
  ASSERT_TRUE(card.plcc().log().empty()) << card.plcc().log().front();
  cardsim::Memory& m = card.memory();
  EXPECT_EQ(m.Read(cardsim::Space::kX, 0x10), 12u);                  // 4 x 3
  EXPECT_EQ((m.Read(cardsim::Space::kX, 0x20) >> 8) & 0xFF, 0xEFu);  // -17 in 8 bits
  EXPECT_EQ(m.Read(cardsim::Space::kY, 0x21) & 0xF, 8u);             // 24 in 4 bits
  EXPECT_EQ(m.Read(cardsim::Space::kX, 0x22), 202u);                 // 12 / 5 + 12 % 5 x 100
  EXPECT_EQ((m.Read(cardsim::Space::kY, 0x22) >> 4) & 0xFFF, 0xFEFu);  // -17 unsigned in 12 bits
  EXPECT_EQ((m.Read(cardsim::Space::kX, 0x23) >> 3) & 1, 0u);
  EXPECT_EQ(m.Read(cardsim::Space::kX, 0x25), 0xFFFFEFu);  // the IF held
}

INSTANTIATE_TEST_SUITE_P(Generations, PlccCardRun, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Spran" : "Older"; });

}  // namespace
}  // namespace zimo::corvan::plcc
