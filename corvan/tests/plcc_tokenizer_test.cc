// The PLC source language: tokens and values of one line, the grammar's
// verdicts, the string pool and the L/F definition tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plcc/plcc_compilation.h"
#include "plcc/plcc_tokenizer.h"

namespace zimo::corvan::plcc {
namespace {

struct Tok {
  std::uint32_t code;
  double value;
  bool operator==(const Tok& o) const { return code == o.code && value == o.value; }
};

void PrintTo(const Tok& t, std::ostream* os) { *os << "{" << t.code << ", " << t.value << "}"; }

// Tokenizes `line` (as given: the caller adds any line feed); returns the
// tokenizer's result and the counted tokens.
int Tokenize(PlccCompilation& c, const std::string& line, std::vector<Tok>* out) {
  std::vector<PlccToken> tokens(512);
  std::size_t slot = 0;
  const char* pos = line.c_str();
  const int r = PlccTokenizeLine(c, pos, tokens.data(), slot, tokens.size());
  out->clear();
  for (int i = 0; i < r; ++i) out->push_back({tokens[i].code, tokens[i].value});
  return r;
}

PlccTarget OlderCard(const char* firmware = "1.16F") { return PlccTarget::Older(firmware); }
PlccTarget SpranCard(const char* firmware = "1.940") { return PlccTarget::Spran(firmware); }

struct LineCase {
  const char* name;
  PlccTarget target;
  const char* line;
  int result;
  std::vector<Tok> tokens;
};

// Each line on a fresh compilation: its result and, when it gives tokens,
// the tokens.
template <std::size_t N>
void ExpectLines(const LineCase (&cases)[N]) {
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    PlccCompilation comp(c.target);
    std::vector<Tok> got;
    EXPECT_EQ(Tokenize(comp, c.line, &got), c.result);
    if (c.result > 0) {
      EXPECT_EQ(got, c.tokens);
    }
  }
}

TEST(PlccTokenizerTest, LinesGiveTheirTokens) {
  const LineCase cases[] = {
      {"condition",
       OlderCard(),
       "IF (P1=1)\n",
       6,
       {{292, 0}, {96, 0}, {36, 1}, {176, 0}, {40, 1}, {98, 0}}},
      {"doubled comparison sign",
       OlderCard(),
       "IF (P1==1)\n",
       6,
       {{292, 0}, {96, 0}, {36, 1}, {176, 0}, {40, 1}, {98, 0}}},
      {"plc list", OlderCard(), "ENABLE PLC 1..3,5\n", 1, {{320, 0x2E}}},
      {"plcc list", OlderCard(), "ENABLE PLCC 0\n", 1, {{322, 1}}},
      {"indexed M on SPRAN",
       SpranCard(),
       "M(P1)=5\n",
       6,
       {{770, 2}, {96, 0}, {36, 1}, {98, 0}, {654, 0}, {40, 5}}},
      {"negated source", OlderCard(), "P1=-P2\n", 2, {{261, 1}, {36, 2}}},
      {"negative constant", OlderCard(), "P1=P2*-3\n", 4, {{260, 1}, {36, 2}, {130, 0}, {40, -3}}},
      {"function with sign",
       OlderCard(),
       "P1=ABS(-P1)\n",
       4,
       {{260, 1}, {79, 0}, {36, 1}, {98, 0}}},
      {"function with blank",
       OlderCard(),
       "P1=ABS (P1)\n",
       4,
       {{260, 1}, {78, 0}, {36, 1}, {98, 0}}},
      {"two statements", OlderCard(), "P1=1 P2=2\n", 4, {{260, 1}, {40, 1}, {260, 2}, {40, 2}}},
      {"last plcc", OlderCard(), "OPEN PLCC 31\n", 1, {{329, 31}}},
      {"close ends the line", OlderCard(), "CLOSE P1=\n", 1, {{330, 0}}},
      {"text without line feed ends its line", OlderCard(), "P1=1", 2, {{260, 1}, {40, 1}}},
      {"connective inside a condition",
       OlderCard(),
       "IF (P1>1 AND P2<2)\n",
       10,
       {{292, 0},
        {96, 0},
        {36, 1},
        {178, 0},
        {40, 1},
        {170, 0},
        {36, 2},
        {180, 0},
        {40, 2},
        {98, 0}}},
      {"condition line after a condition",
       OlderCard(),
       "IF (P1>1) AND (P2<2)\n",
       12,
       {{292, 0},
        {96, 0},
        {36, 1},
        {178, 0},
        {40, 1},
        {98, 0},
        {298, 0},
        {96, 0},
        {36, 2},
        {180, 0},
        {40, 2},
        {98, 0}}},
      {"hexadecimal", OlderCard(), "P$10=$FF\n", 2, {{260, 16}, {40, 255}}},
      {"Q variables", OlderCard(), "Q5=Q6\n", 2, {{262, 5}, {38, 6}}},
      {"indexed I on SPRAN",
       SpranCard(),
       "I(P1)=-1\n",
       6,
       {{770, 0}, {96, 0}, {36, 1}, {98, 0}, {655, 0}, {40, 1}}},
      {"M compound", OlderCard(), "M1 &= 3\n", 2, {{280, 1}, {40, 3}}},
      {"approximate comparison",
       OlderCard(),
       "WHILE (P1~-1)\n",
       6,
       {{296, 0}, {96, 0}, {36, 1}, {183, 0}, {40, 1}, {98, 0}}},
      {"statement after a condition",
       OlderCard(),
       "IF (P1!>1) P2=1\n",
       8,
       {{292, 0}, {96, 0}, {36, 1}, {186, 0}, {40, 1}, {98, 0}, {260, 2}, {40, 1}}},
      {"clear gives nothing", OlderCard(), "CLEAR\n", 0, {}},
      {"lone point after a sign",
       OlderCard(),
       "P1=P2*- . \n",
       4,
       {{260, 1}, {36, 2}, {130, 0}, {40, 0}}},
      {"sections", SpranCard("1.938"), "OPEN SERVO\n", 1, {{339, 0}}},
      {"unlock", SpranCard(), "UNLOCK 3\n", 1, {{337, 3}}},
  };
  ExpectLines(cases);
}

struct ErrorCase {
  const char* name;
  PlccTarget target;
  const char* line;
  int result;
};

TEST(PlccTokenizerTest, FaultyLinesGiveTheirErrors) {
  const ErrorCase cases[] = {
      {"indexed M on an older card", OlderCard(), "M(P1)=5\n", -35},
      {"negated variable after an operator", OlderCard(), "P1=P2*-P3\n", -34},
      {"no parenthesis after a function", OlderCard(), "P1=ABSX(P2)\n", -35},
      {"function without parenthesis", OlderCard(), "P1=ABS P1\n", -35},
      {"assignment written twice", OlderCard(), "P1==1\n", -35},
      {"falling plc list", OlderCard(), "ENABLE PLC 3,1\n", -35},
      {"plcc number", OlderCard(), "OPEN PLCC 32\n", -36},
      {"open plc is no compiled block", OlderCard(), "OPEN PLC 1\n", -35},
      {"dangling operator", OlderCard(), "P1=1+\n", -35},
      {"open parenthesis", OlderCard(), "P1=(2\n", -37},
      {"empty parentheses", OlderCard(), "P1=()\n", -37},
      {"connective before the closing", OlderCard(), "IF (P1>1 AND)\n", -37},
      {"two comparisons in a clause", OlderCard(), "IF (P1>1 P2<2)\n", -35},
      {"lower case", OlderCard(), "p1=1\n", -35},
      {"character above 126", OlderCard(), "P1=1\xB5\n", -35},
      {"F on an older card", OlderCard(), "F1=1\n", -35},
      {"L array on an older card", OlderCard(), "L1[2]=1\n", -35},
      {"SEND without port on SPRAN", SpranCard(), "SEND \"X\"\n", -48},
      {"text without closing quote", OlderCard(), "SEND \"X\n", -48},
      {"SEND control code on an older card", OlderCard(), "SEND ^!\n", -36},
      {"MI outside VARPLCC", SpranCard(), "MI1=1\n", -35},
      {"LOCK needs the extended firmware", SpranCard("1.936"), "LOCK 1,P2\n", -35},
      {"display field too narrow for its decimals", OlderCard(), "DISPLAY 1,3.5,P1\n", -36},
      {"display position", OlderCard(), "DISPLAY 80\"X\"\n", -36},
      {"address motor", OlderCard(), "ADDRESS #9\n", -36},
      {"address without target", OlderCard(), "ADDRESS 1\n", -35},
      {"indexed I assignment on an older card", OlderCard(), "I(P1)=1\n", -35},
      {"motor number outside OPEN SERVO", SpranCard(), "P1=MTRNUM\n", -35},
      {"return with a value outside OPEN SERVO", SpranCard(), "RET(1)\n", -35},
      {"copyreg outside OPEN SERVO", SpranCard(), "COPYREG P1\n", -35},
      {"a lone point reads twice", OlderCard(), "P1=.\n", -35},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    PlccCompilation comp(c.target);
    std::vector<Tok> got;
    EXPECT_EQ(Tokenize(comp, c.line, &got), c.result);
  }
}

// After a comparison, an opening parenthesis, a connective or an assignment
// a "-" (blanks before it allowed) gives the next code up and a "+" is
// passed over.
TEST(PlccTokenizerTest, ASignAfterAnOperatorChoosesItsMinusForm) {
  // Comparisons: IF (P1<comparison>).
  struct Comparison {
    const char* text;
    std::uint32_t code;
    double constant;
  };
  const Comparison comparisons[] = {
      {"!<-1", 189, 1}, {"!= +1", 184, 1}, {"< - 2", 181, 2}, {">+2", 178, 2}, {"== -1", 177, 1},
  };
  for (const Comparison& c : comparisons) {
    SCOPED_TRACE(c.text);
    PlccCompilation comp(OlderCard());
    std::vector<Tok> got;
    EXPECT_EQ(Tokenize(comp, std::string("IF (P1") + c.text + ")\n", &got), 6);
    EXPECT_EQ(got, (std::vector<Tok>{
                       {292, 0}, {96, 0}, {36, 1}, {c.code, 0}, {40, c.constant}, {98, 0}}));
  }
  const LineCase cases[] = {
      {"parenthesis, minus", OlderCard(), "P1=( -P2)\n", 4, {{260, 1}, {97, 0}, {36, 2}, {98, 0}}},
      {"function, blanks and minus",
       OlderCard(),
       "P1=SIN( - P2)\n",
       4,
       {{260, 1}, {73, 0}, {36, 2}, {98, 0}}},
      {"connective, minus",
       OlderCard(),
       "IF (P1>1 AND -P2<2)\n",
       10,
       {{292, 0},
        {96, 0},
        {36, 1},
        {178, 0},
        {40, 1},
        {171, 0},
        {36, 2},
        {180, 0},
        {40, 2},
        {98, 0}}},
      {"P assignment, plus", OlderCard(), "P1=+P2\n", 2, {{260, 1}, {36, 2}}},
      {"Q assignment, blanks and minus", OlderCard(), "Q5= -Q6\n", 2, {{263, 5}, {38, 6}}},
      {"I assignment, plus", OlderCard(), "I5 = +1\n", 2, {{256, 5}, {40, 1}}},
      {"M assignment, minus", OlderCard(), "M1=-2\n", 2, {{259, 1}, {40, 2}}},
      {"M compound, minus", OlderCard(), "M1|=-3\n", 2, {{271, 1}, {40, 3}}},
  };
  ExpectLines(cases);
}

TEST(PlccTokenizerTest, KeywordAliasesMatchTheirFullWords) {
  const LineCase cases[] = {
      {"CLS", OlderCard(), "CLS\n", 1, {{330, 0}}},
      {"CMD", OlderCard(), "CMD \"V\"\n", 1, {{324, 0}}},
      {"DISPLC", OlderCard(), "DISPLC 1\n", 1, {{321, 2}}},
      {"ENDI", OlderCard(), "ENDI\n", 1, {{358, 0}}},
      {"END I", OlderCard(), "END I\n", 1, {{358, 0}}},
      {"ENDW", OlderCard(), "ENDW\n", 1, {{361, 0}}},
      {"END WHILE", OlderCard(), "END WHILE\n", 1, {{361, 0}}},
      {"RET", OlderCard(), "RET\n", 1, {{333, 0}}},
      {"OPTIOF", SpranCard(), "OPTIOF\n", 1, {{341, 0}}},
      {"DISP", OlderCard(), "DISP \"A\"\n", 1, {{327, 0}}},
  };
  ExpectLines(cases);
  // LMOVRLY is stored but not counted, and sets the overlay range.
  PlccCompilation comp(SpranCard());
  std::vector<PlccToken> tokens(4);
  std::size_t slot = 0;
  const char* line = "LMOVRLY 10,20\n";
  EXPECT_EQ(PlccTokenizeLine(comp, line, tokens.data(), slot, tokens.size()), 0);
  EXPECT_EQ(tokens[0].code, 335u);
  EXPECT_EQ(comp.overlay_first, 10);
  EXPECT_EQ(comp.overlay_last, 20);
}

TEST(PlccTokenizerTest, CommandTextsGoToThePool) {
  struct Case {
    const char* name;
    PlccTarget target;
    const char* line;
    Tok token;
    std::vector<std::uint8_t> pool;
  };
  const Case cases[] = {
      {"COMMAND ^A before 1.16F", OlderCard("1.16E"), "COMMAND ^A\n", {325, 1}, {}},
      {"COMMAND ^A from 1.16F", OlderCard("1.16F"), "COMMAND ^A\n", {324, 0}, {0, 0, 0, 0, 0, 1}},
      {"SEND two letters", OlderCard(), "SEND \"AB\"\n", {324, 0}, {0, 0x30, 0, 'A', 'B', 0}},
      {"SEND three letters",
       OlderCard(),
       "SEND \"ABC\"\n",
       {324, 0},
       {0, 0x30, 0, 'A', 'B', 'C', 0, 0, 0}},
      {"SENDP ^B on SPRAN", SpranCard(), "SENDP ^B\n", {325, 0}, {0x14, 0, 0, 0, 0, 2}},
      {"COMMAND text on SPRAN keeps its case",
       SpranCard(),
       "COMMAND \"ab\"\n",
       {324, 0},
       {0x84, 0, 0, 'a', 'b', 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlccCompilation comp(c.target);
    std::vector<Tok> got;
    ASSERT_EQ(Tokenize(comp, c.line, &got), 1);
    EXPECT_EQ(got[0], c.token);
    EXPECT_EQ(comp.pool_fill, c.pool.size());
    EXPECT_EQ(std::vector<std::uint8_t>(comp.pool.begin(),
                                        comp.pool.begin() + static_cast<long>(c.pool.size())),
              c.pool);
  }
}

TEST(PlccTokenizerTest, DisplayAndAddressPackTheirValues) {
  const LineCase cases[] = {
      {"text at a position", OlderCard(), "DISPLAY 10\"A\"\n", 1, {{327, 10 * 65536}}},
      // 10 + ((4 * 16 + 3) << 8) in the high half, P (2) + 5 * 4 in the low.
      {"variable",
       OlderCard(),
       "DISPLAY 10,8.3,P5\n",
       1,
       {{328, static_cast<double>(((10 + (67 << 8)) << 16) + 22)}}},
      {"motor and system", OlderCard(), "ADDRESS #2&3\n", 1, {{326, 2 + 3 * 256}}},
      {"system and motor", OlderCard(), "ADDRESS &3#2\n", 1, {{326, 2 + 3 * 256}}},
      {"motor by P variable", SpranCard(), "ADDRESS #P7\n", 1, {{326, 7 * 65536 + 0x80}}},
      {"lock", SpranCard(), "LOCK 2,P300\n", 1, {{336, 2 + 300 * 256}}},
      {"setphase", SpranCard(), "SETPHASE 1,32\n", 1, {{338, 2147483649.0}}},
  };
  ExpectLines(cases);
}

// With L1, L2 plain and L5 an array (SPRAN card).
TEST(PlccTokenizerTest, IntegerAndFloatingStatementsStayApart) {
  struct Case {
    const char* line;
    int result;
  };
  const Case cases[] = {
      {"IF (L1=5)\n", 6},   {"IF (5=L1)\n", -35},     {"P1=L2\n", -35},
      {"P1=ITOF(L2)\n", 4}, {"L1=FTOI(P2*2.5)\n", 6}, {"P1=ITOF(FTOI(P2))\n", -35},
      {"L1=2.5\n", -35},    {"L1=16777216\n", -35},   {"L1[2]=5\n", -35},
      {"L3=1\n", -49},      {"L5[L1]=3\n", 6},        {"L5[2] |= 3\n", 6},
      {"L5=1\n", -35},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    PlccCompilation comp(SpranCard());
    for (const char* def : {"L1->X:$10,24\n", "L2->X:$11,24\n", "L5->Y:$100[16]\n"}) {
      std::vector<Tok> none;
      ASSERT_EQ(Tokenize(comp, def, &none), 0);
    }
    std::vector<Tok> got;
    EXPECT_EQ(Tokenize(comp, c.line, &got), c.result);
  }
}

TEST(PlccTokenizerTest, IndexedLTargetsCarryTheirNumber) {
  PlccCompilation comp(SpranCard());
  std::vector<Tok> got;
  ASSERT_EQ(Tokenize(comp, "L5->Y:$100[16]\n", &got), 0);
  ASSERT_EQ(Tokenize(comp, "L1->X:$10,24\n", &got), 0);
  EXPECT_EQ(Tokenize(comp, "L5[L1]=3\n", &got), 6);
  EXPECT_EQ(
      got, (std::vector<Tok>{{770, 5 * 256 + 10}, {106, 0}, {42, 1}, {108, 0}, {654, 0}, {40, 3}}));
  EXPECT_EQ(Tokenize(comp, "L5[-L1] ^= 3\n", &got), 6);
  EXPECT_EQ(
      got, (std::vector<Tok>{{772, 5 * 256 + 10}, {107, 0}, {42, 1}, {108, 0}, {650, 0}, {40, 3}}));
  EXPECT_EQ(Tokenize(comp, "IF (L5[2]>L1)\n", &got), 8);
  EXPECT_EQ(got[2], (Tok{102, 5}));
  EXPECT_EQ(Tokenize(comp, "L1 |= 3\n", &got), 2);
  EXPECT_EQ(got[0], (Tok{282, 1}));
}

TEST(PlccTokenizerTest, CopyRegFollowsOpenServo) {
  PlccCompilation comp(SpranCard("1.938"));
  comp.servo_section = true;
  std::vector<PlccToken> tokens(16);
  std::size_t slot = 0;
  const char* open = "OPEN SERVO\n";
  ASSERT_EQ(PlccTokenizeLine(comp, open, tokens.data(), slot, tokens.size()), 1);
  const char* copy = "COPYREG P10\n";
  ASSERT_EQ(PlccTokenizeLine(comp, copy, tokens.data(), slot, tokens.size()), 1);
  EXPECT_EQ(tokens[1].code, 340u);
  EXPECT_EQ(tokens[1].value, 10);
  const char* again = "COPYREG P10\n";
  EXPECT_EQ(PlccTokenizeLine(comp, again, tokens.data(), slot, tokens.size()), -35);
}

TEST(PlccTokenizerTest, StoresStopAtTheCapacity) {
  PlccCompilation comp(OlderCard());
  std::vector<PlccToken> tokens(8);
  std::size_t slot = 4;
  const char* line = "P1=1+1+1+1\n";
  EXPECT_EQ(PlccTokenizeLine(comp, line, tokens.data(), slot, 8), -46);
  EXPECT_EQ(slot, 8u);
}

TEST(PlccTokenizerTest, VarPlccLimitFollowsTheRingVariables) {
  PlccCompilation comp(SpranCard("1.938"));
  std::vector<Tok> got;
  ASSERT_EQ(Tokenize(comp, "OPEN VARPLCC\n", &got), 1);
  EXPECT_EQ(comp.routines.divide_pushed, 4u);
  EXPECT_EQ(comp.routines.modulo_popped, 7u);
  // The limit holds for the rest of the compilation, outside the section too.
  EXPECT_EQ(Tokenize(comp, "P600=1\n", &got), -35);
  comp.varplcc_section = true;
  EXPECT_EQ(Tokenize(comp, "MI1=1\n", &got), 2);  // MI raises the limit to 2000
  comp.varplcc_section = false;
  EXPECT_EQ(Tokenize(comp, "P600=1\n", &got), 2);
}

struct DefinitionCase {
  const char* line;
  int result;
  std::int32_t address;
  std::uint8_t flags;
  std::uint8_t width;
  std::uint32_t code;
};

TEST(PlccDefinitionTest, LDefinitionsFillTheTable) {
  const DefinitionCase cases[] = {
      {"L1->X:$10,24\n", 0, 0x10, 0x80, 24, 233},
      {"L2->Y:$10,0,24\n", 0, 0x10, 0x40, 24, 121},
      {"L3->Y:$10,0,24,S\n", 0, 0x10, 0xC0, 24, 121},
      {"L4->Y:$10,0,24,U\n", -35, 0, 0, 0, 0},
      {"L5->X:$20,3\n", 0, 0x20, 3, 1, 131},
      {"L6->X:$20,3,4\n", -35, 0, 0, 0, 0},
      {"L7->X:$20,8,8,S\n", 0, 0x20, 0x88, 8, 185},
      {"L8->Y:$100[16]\n", 0, 0x100, 0x40, 4, 0x486C00},
      {"L9->Y:$100[12]\n", -35, 0, 0, 0, 0},
      {"L10->Y:$100[1]\n", -36, 0, 0, 0, 0},
      {"L11->X:(R1-3)\n", 0, -3, 0, 0, 0x3F1C0},
      {"L12->Y:(R0+5)\n", 0, 5, 0x40, 0, 0x210E0},
      {"L13->X:$10000,24\n", -36, 0, 0, 0, 0},  // above 0xFFFF on an older card
  };
  for (const DefinitionCase& c : cases) {
    SCOPED_TRACE(c.line);
    PlccCompilation comp(OlderCard());
    std::vector<PlccToken> tokens(4);
    std::size_t slot = 0;
    const char* pos = c.line;
    EXPECT_EQ(PlccTokenizeLine(comp, pos, tokens.data(), slot, tokens.size()), c.result);
    EXPECT_EQ(tokens[0].code, 331u);
    if (c.result != 0) continue;
    const VariableDefinition& d = comp.l_table[static_cast<std::size_t>(tokens[0].value)];
    EXPECT_EQ(d.address, c.address);
    EXPECT_EQ(d.flags, c.flags);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.code, c.code);
  }
}

TEST(PlccDefinitionTest, FDefinitionsAndTheirTables) {
  PlccCompilation comp(SpranCard());
  std::vector<Tok> none;
  ASSERT_EQ(Tokenize(comp, "F1->D:$3000\n", &none), 0);
  ASSERT_EQ(Tokenize(comp, "F2->L:$3000[4096]\n", &none), 0);
  EXPECT_EQ(comp.f_table[1].flags, 1);
  EXPECT_EQ(comp.f_table[1].code, 0x407000u);
  EXPECT_EQ(comp.f_table[2].width, 12);
  EXPECT_EQ(comp.f_table[2].code, 0x406C00u);
  EXPECT_FALSE(comp.register_relative);

  // L and F numbers are separate tables: L1 beside F1 is no clash, while a
  // second definition in the same table is, even when identical.
  EXPECT_EQ(Tokenize(comp, "L1->X:$10,24\n", &none), 0);
  EXPECT_EQ(Tokenize(comp, "L1->X:$10,24\n", &none), -50);
  EXPECT_EQ(Tokenize(comp, "F1->D:$3000\n", &none), -50);

  // Plain and indexed uses are checked against the definitions.
  EXPECT_EQ(Tokenize(comp, "F3=1\n", &none), -49);
  EXPECT_EQ(Tokenize(comp, "F2[1]=P1\n", &none), 6);
  EXPECT_EQ(Tokenize(comp, "F1=P1\n", &none), 2);
  EXPECT_EQ(Tokenize(comp, "P1=F2\n", &none), -35);

  // A register-relative form marks the compilation.
  EXPECT_EQ(Tokenize(comp, "F4->L:(R1+2)\n", &none), 0);
  EXPECT_TRUE(comp.register_relative);
}

TEST(PlccDefinitionTest, DefinitionsStandAloneOnTheirLine) {
  PlccCompilation comp(SpranCard());
  std::vector<Tok> none;
  EXPECT_EQ(Tokenize(comp, "L1->X:$10,24 ;the counter\n", &none), 0);
  EXPECT_EQ(Tokenize(comp, "L2->X:$10,24 P1=1\n", &none), -35);
  EXPECT_EQ(Tokenize(comp, "P1=1 L3->X:$10,24\n", &none), -35);
}

// Lines of the language's own characters in any order: every one ends in a
// count or one of the tokenizer's errors, and never reads or writes outside
// its text and its token array (the sanitizer build checks that).
TEST(PlccTokenizerTest, ArbitraryLinesEndInACountOrAnError) {
  const std::string alphabet = "ABCDEFILMOPQRSTUWXYN0123456789$.,;:()[]<>=!~+-*/%&|^\"# ->\t";
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int n = 0; n < 3000; ++n) {
    PlccCompilation comp(n % 2 == 0 ? OlderCard() : SpranCard("1.938"));
    comp.servo_section = n % 3 == 0;
    std::string line;
    const int length = static_cast<int>(next() % 40);
    for (int i = 0; i < length; ++i) line += alphabet[next() % alphabet.size()];
    line += "\n";
    std::vector<PlccToken> tokens(16);
    std::size_t slot = 0;
    const char* pos = line.c_str();
    const int r = PlccTokenizeLine(comp, pos, tokens.data(), slot, tokens.size());
    SCOPED_TRACE(line);
    EXPECT_TRUE(r >= 0 || r == -34 || r == -35 || r == -36 || r == -37 || r == -46 || r == -48 ||
                r == -49 || r == -50)
        << r;
    EXPECT_LE(slot, tokens.size());
    EXPECT_GE(pos, line.c_str());
    EXPECT_LE(pos, line.c_str() + line.size());
  }
}

}  // namespace
}  // namespace zimo::corvan::plcc
