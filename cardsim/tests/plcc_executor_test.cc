// The card's processor on the code words the PLC compilers emit: each row
// runs a word sequence on given registers and memory and checks what the
// instruction's comment says it leaves (moves, NEG/ABS with NORM, bit
// fields, AND, EXTRACTU, the jump rows) and which firmware routine it
// called.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/card_word.h"
#include "cardsim/plcc_runner.h"

namespace zimo::cardsim {
namespace {

using Words = std::vector<uint32_t>;

class Bench {
 public:
  explicit Bench(bool spran)
      : card_(spran ? CardModel::Spran() : CardModel::Older()),
        spran_(spran),
        runner_(card_.plcc()),
        core_(runner_.core()),
        m_(card_.memory()) {}

  DspRegisters& r() { return core_.regs(); }
  Memory& m() { return m_; }
  Card& card() { return card_; }
  PlccRunner& runner() { return runner_; }
  uint32_t at() const { return runner_.code_start() + 0x100; }

  // Firmware routine k at the card's own address: the link list on older
  // cards, the fixed table of the newer SPRAN firmware.
  uint32_t Routine(int k) const { return spran_ ? 0xFF00 + 2 * static_cast<uint32_t>(k) : 0x0C00 + 0x2D * static_cast<uint32_t>(k); }
  Words Jsr(int k) const { return JsrAt(Routine(k)); }
  static Words JsrAt(uint32_t a) { return a < 0x1000 ? Words{0x0D0000 | a} : Words{0x0BF080, a}; }

  // Runs the words (and a return after them) as a subroutine.
  DspStop Run(const Words& words) {
    uint32_t a = at();
    for (uint32_t w : words) m_.Write(Space::kP, a++, w);
    m_.Write(Space::kP, a, 0x00000C);
    core_.trace().clear();
    core_.SetTracing(true);
    core_.ResetCount();
    if (r().r[7] == 0) r().r[7] = runner_.stack_top();
    return core_.Call(at(), 10000);
  }
  std::vector<uint32_t> Calls() {
    std::vector<uint32_t> out;
    for (const auto& e : core_.trace())
      if (e.routine) out.push_back(e.address);
    return out;
  }
  double Working() { return PlccFirmware::Working(r()); }
  void SetWorking(double v) { PlccFirmware::SetWorking(r(), v); }
  void SetPacked(double v) { r().a.Set(static_cast<int64_t>(word::EncodeFloat48(v) << 16) >> 16); }
  void SetX(double v) {
    const uint64_t p = word::EncodeFloat48(v);
    r().x1 = static_cast<uint32_t>(p >> 24) & 0xFFFFFF;
    r().x0 = static_cast<uint32_t>(p) & 0xFFFFFF;
  }
  bool Jumped() {  // the last run ended at the jump target 'at + 0x40'
    for (const auto& e : core_.trace())
      if (!e.routine && e.address == at() + 0x40) return true;
    return false;
  }

 private:
  Card card_;
  bool spran_;
  PlccRunner& runner_;
  DspCore& core_;
  Memory& m_;
};

TEST(PlccExecutor, VariableMovesAndBitFields) {
  for (const bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Bench b(spran);
    // L1 -> X:$10,24 read into A and written back; the Y: forms.
    b.m().Write(Space::kX, 0x10, 0x923456);
    ASSERT_EQ(b.Run({0x56F000, 0x000010}), DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0x923456u);
    EXPECT_EQ(b.r().a.a2(), 0xFFu);  // sign-extended
    EXPECT_EQ(b.r().a.a0(), 0u);
    b.r().a.SetWord(0x0ABCDE);
    ASSERT_EQ(b.Run({0x5C7000, 0x000010}), DspStop::kReturned);
    EXPECT_EQ(b.m().Read(Space::kY, 0x10), 0x0ABCDEu);
    ASSERT_EQ(b.Run({0x5EF000, 0x000010, 0x45F000, 0x000010}), DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0x0ABCDEu);
    EXPECT_EQ(b.r().x1, 0x923456u);

    // L2 -> X:$20,8,8 (unsigned) read into A.
    b.m().Write(Space::kX, 0x20, 0x12AB34);
    ASSERT_EQ(b.Run({0x44F000, 0x000020, 0x47F400, 0x008000, 0x47F4C8, 0x0000FF, 0x20007E, 0x21AE00}),
              DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0xABu);
    // L3 -> X:$20,0,4 read into A.
    b.m().Write(Space::kX, 0x20, 0x12345B);
    ASSERT_EQ(b.Run({0x57F000, 0x000020, 0x47F400, 0x00000F, 0x20007E, 0x21AE00}), DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0xBu);
    // L7 -> X:$20,8,8,S read into A: the field $F0 is -16.
    b.m().Write(Space::kX, 0x20, 0x12F034);
    ASSERT_EQ(b.Run({0x44F000, 0x000020, 0x47F400, 0x000080, 0x47F4C8, 0x000080, 0x212400, 0x2000C0}),
              DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0xFFFFF0u);

    // The inline field write (interrupts blocked around it): $5A into bits
    // 8-15 of X:$20, then 7 into bits 0-3.
    b.m().Write(Space::kX, 0x20, 0x123456);
    b.r().a.SetWord(0x5A);
    ASSERT_EQ(b.Run({0x0446B9, 0x0003F8, 0x218413, 0x47F400, 0x000080, 0x47F4C8, 0x00FF00, 0x212F70, 0x20007E,
                     0x47F017, 0x000020, 0x200076, 0x200010, 0x04C6B9, 0x547000, 0x000020}),
              DspStop::kReturned);
    EXPECT_EQ(b.m().Read(Space::kX, 0x20), 0x125A56u);
    EXPECT_EQ(b.r().sr & 0x300u, 0x300u);  // the status register restored
    b.r().a.SetWord(7);
    Words field0{0x0446B9, 0x0003F8, 0x47F400, 0x00000F, 0x20EF76, 0x20001F};
    if (spran) field0.insert(field0.end(), {0x000000, 0x000000});
    field0.insert(field0.end(), {0x47F000, 0x000020, 0x20007E, 0x200010, 0x04C6B9, 0x547000, 0x000020});
    ASSERT_EQ(b.Run(field0), DspStop::kReturned);
    EXPECT_EQ(b.m().Read(Space::kX, 0x20), 0x125A57u);

    // L array store: index 5 masked to 15 in A, value on the stack.
    b.r().a.SetWord(0x25);
    b.r().r[7] = b.runner().stack_top() - 1;
    b.m().WritePair(b.runner().stack_top() - 1, uint64_t{0x000777} << 24);
    ASSERT_EQ(b.Run({0x014086 + (15 << 8), 0x219C00, 0x64F400, 0x000300, 0x48DF00, 0x546C00}),
              spran ? DspStop::kReturned : DspStop::kUnknownWord);  // AND #<k,A is a DSP56300 word
    if (spran) {
      EXPECT_EQ(b.m().Read(Space::kX, 0x305), 0x777u);
      EXPECT_EQ(b.r().r[7], b.runner().stack_top());
    }
    b.r().r[7] = b.runner().stack_top();

    // Short and long N4 loads.
    ASSERT_EQ(b.Run({0x3CFF00}), DspStop::kReturned);
    EXPECT_EQ(b.r().n[4], 255u);
    ASSERT_EQ(b.Run({0x74F400, 0x000100}), DspStop::kReturned);
    EXPECT_EQ(b.r().n[4], 256u);
  }
}

TEST(PlccExecutor, IntegerOperatorRows) {
  struct Row {
    const char* what;
    Words older, spran;
    int a, x1, result;
  };
  const std::vector<Row> rows = {
      {"ADD X1,A", {0x200060}, {0x200060}, 5, 3, 8},
      {"SUB X1,A", {0x200064}, {0x200064}, 5, 3, 2},
      {"popped -: X1 - A", {0x280000, 0x200036, 0x200060}, {0x280000, 0x200036, 0x200060}, 5, 3, -2},
      {"*", {0x218700, 0x2000F0, 0x200022, 0x210E00}, {0x218700, 0x2000F0, 0x0C1D2E}, 7, -3, -21},
      {"* large", {0x218700, 0x2000F0, 0x200022, 0x210E00}, {0x218700, 0x2000F0, 0x0C1D2E}, 1000, 2000, 2000000},
      {"OR", {0x200062, 0x218E00}, {0x200062, 0x218E00}, 0xC, 0x3, 0xF},
      {"EOR", {0x200063, 0x218E00}, {0x200063, 0x218E00}, 0xC, 0x6, 0xA},
      {"AND", {0x200066, 0x218E00}, {0x200066, 0x218E00}, 0xC, 0x6, 0x4},
      {"AND negative", {0x200066, 0x218E00}, {0x200066, 0x218E00}, -1, -8, -8},
  };
  for (const bool spran : {false, true}) {
    Bench b(spran);
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.what) + (spran ? " SPRAN" : " older"));
      b.r().a.SetWord(static_cast<uint32_t>(row.a) & 0xFFFFFF);
      b.r().x1 = static_cast<uint32_t>(row.x1) & 0xFFFFFF;
      ASSERT_EQ(b.Run(spran ? row.spran : row.older), DspStop::kReturned);
      EXPECT_EQ(b.r().a.a1(), static_cast<uint32_t>(row.result) & 0xFFFFFF);
      EXPECT_EQ(b.r().a.v >> 24, row.result);  // sign-extended into A2
    }
    // Divide and modulo through their routines: pushed A / X1, popped X1 / A.
    b.r().a.SetWord(17);
    b.r().x1 = 5;
    ASSERT_EQ(b.Run(b.Jsr(39)), DspStop::kReturned);  // popped divide: 5 / 17
    EXPECT_EQ(b.r().a.a1(), 0u);
    const uint32_t div_pushed = spran ? b.Routine(45) : b.Routine(39) + 1;
    b.r().a.SetWord(17);
    ASSERT_EQ(b.Run(Bench::JsrAt(div_pushed)), DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 3u);
    b.r().a.SetWord(static_cast<uint32_t>(-17) & 0xFFFFFF);
    b.r().x1 = 5;
    ASSERT_EQ(b.Run(b.Jsr(40)), DspStop::kReturned);  // popped modulo: 5 % -17
    EXPECT_EQ(b.r().a.a1(), 5u);
  }
}

TEST(PlccExecutor, FloatingFormsNegateAbsAndUnpack) {
  for (const bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Bench b(spran);
    // A constant: MOVE #>hi,A ; MOVE #>lo,A0 gives the stored form of 3.0.
    ASSERT_EQ(b.Run({0x56F400, 0x600000, 0x50F400, 0x000801}), DspStop::kReturned);
    EXPECT_EQ(b.r().a.a1(), 0x600000u);
    EXPECT_EQ(b.r().a.a0(), 0x000801u);
    // Unpack: the newer firmware's inline EXTRACTU, else the routine.
    const Words unpack = spran ? Words{0x0C1881, 0x00C000, 0x213514} : b.Jsr(34);
    ASSERT_EQ(b.Run(unpack), DspStop::kReturned);
    EXPECT_DOUBLE_EQ(b.Working(), 3.0);
    // NEG A ; NORM R5,A and ABS A ; NORM R5,A on the working form.
    for (double v : {1.5, 3.0, -1.0, 0.5, -0.75, 1e-3, 12345.6875}) {
      b.SetWorking(v);
      ASSERT_EQ(b.Run({0x200036, 0x01DD15}), DspStop::kReturned);
      EXPECT_DOUBLE_EQ(b.Working(), -v) << v;
      b.SetWorking(-v);
      ASSERT_EQ(b.Run({0x200026, 0x01DD15}), DspStop::kReturned);
      EXPECT_DOUBLE_EQ(b.Working(), std::fabs(v)) << v;
    }
    // Pack (routine 33) and the push onto the data stack.
    b.SetWorking(-2.5);
    Words push = b.Jsr(33);
    push.push_back(0x487F00);
    ASSERT_EQ(b.Run(push), DspStop::kReturned);
    EXPECT_EQ(b.r().r[7], b.runner().stack_top() - 1);
    EXPECT_EQ(b.m().ReadFloat48(b.runner().stack_top() - 1), -2.5);
    EXPECT_EQ(b.m().ReadPair(b.runner().stack_top() - 1), 0xB00000000801ull);  // -2.5 stored
    // Pop X.
    ASSERT_EQ(b.Run({0x42DF00}), DspStop::kReturned);
    EXPECT_EQ(b.r().x1, 0xB00000u);
    EXPECT_EQ(b.r().x0, 0x000801u);
    EXPECT_EQ(b.r().r[7], b.runner().stack_top());
    // EXTRACTU is not a word of the older processor.
    if (!spran) {
      EXPECT_EQ(b.Run({0x0C1881, 0x00C000}), DspStop::kUnknownWord);
    }
    // FTOI: FTOL then ASL #24 (SPRAN); ITOF: ASR #24 then LTOF.
    if (spran) {
      b.SetWorking(-41.0);
      Words ftoi = b.Jsr(44);
      ftoi.push_back(0x0C1D30);
      ASSERT_EQ(b.Run(ftoi), DspStop::kReturned);
      EXPECT_EQ(b.r().a.a1(), static_cast<uint32_t>(-41) & 0xFFFFFF);
      Words itof{0x0C1C30};
      for (uint32_t w : b.Jsr(49)) itof.push_back(w);
      ASSERT_EQ(b.Run(itof), DspStop::kReturned);
      EXPECT_DOUBLE_EQ(b.Working(), -41.0);
    }
  }
}

TEST(PlccExecutor, ComparisonJumpRows) {
  // Left operand in X, right in A; the false word jumps when the comparison
  // does not hold. Order: = > < != !> !<.
  struct Cmp {
    const char* name;
    uint32_t false_word;
    std::function<bool(int, int)> holds;
  };
  const std::vector<Cmp> cmps = {
      {"=", 0x0AF0A2, [](int l, int r) { return l == r; }},  {">", 0x0AF0A1, [](int l, int r) { return l > r; }},
      {"<", 0x0AF0AF, [](int l, int r) { return l < r; }},   {"!=", 0x0AF0AA, [](int l, int r) { return l != r; }},
      {"!>", 0x0AF0A9, [](int l, int r) { return !(l > r); }}, {"!<", 0x0AF0A7, [](int l, int r) { return !(l < r); }},
  };
  const int pairs[][2] = {{3, 5}, {5, 5}, {7, 5}, {-4, 2}, {2, -4}, {-6, -6}};
  for (const bool spran : {false, true}) {
    Bench b(spran);
    const uint32_t target = b.at() + 0x40;
    b.m().Write(Space::kP, target, 0x00000C);
    for (const Cmp& c : cmps) {
      for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(p[0]) + "," + std::to_string(p[1]));
        // Integer statement: MOVE #0,A0 ; SUB X1,A ; Jcc.
        b.r().x1 = static_cast<uint32_t>(p[0]) & 0xFFFFFF;
        b.r().a.SetWord(static_cast<uint32_t>(p[1]) & 0xFFFFFF);
        ASSERT_EQ(b.Run({0x280000, 0x200064, c.false_word, target}), DspStop::kReturned);
        EXPECT_EQ(b.Jumped(), !c.holds(p[0], p[1]));
        // Floating statement: the compare routine on X (stored form) and A
        // (working form).
        b.SetX(p[0] * 0.25);
        b.SetWorking(p[1] * 0.25);
        Words f = b.Jsr(32);
        f.insert(f.end(), {c.false_word, target});
        ASSERT_EQ(b.Run(f), DspStop::kReturned);
        EXPECT_EQ(b.Jumped(), !c.holds(p[0], p[1]));
        EXPECT_EQ(b.Calls(), std::vector<uint32_t>{b.Routine(32)});
      }
    }
    // Approximate: FSUB_XA, ABS A ; NORM R5,A, X = 0.5, compare, JGE false.
    for (const auto& [left, right, near] : std::vector<std::tuple<double, double, bool>>{
             {1.0, 1.4, true}, {1.0, 1.6, false}, {2.0, 1.7, true}, {-3.0, -2.4, false}, {0.0, 0.0, true}}) {
      SCOPED_TRACE(std::to_string(left) + " ~ " + std::to_string(right));
      b.SetX(left);
      b.SetWorking(right);
      Words w = b.Jsr(17);
      w.insert(w.end(), {0x200026, 0x01DD15, 0x254000, 0x44F400, 0x0007FF});
      for (uint32_t x : b.Jsr(32)) w.push_back(x);
      w.insert(w.end(), {0x0AF0A1, target});
      ASSERT_EQ(b.Run(w), DspStop::kReturned);
      EXPECT_EQ(b.Jumped(), !near);
    }
  }
}

TEST(PlccExecutor, RoutineCallsReachTheirRoles) {
  for (const bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Bench b(spran);
    Card& card = b.card();
    // I and M reads and writes: number in N4, value in working form.
    card.Execute("I15=0 P7=2.25 M50->* M50=-6");
    b.r().n[4] = 50;
    ASSERT_EQ(b.Run(b.Jsr(28)), DspStop::kReturned);
    EXPECT_DOUBLE_EQ(b.Working(), -6.0);
    b.SetWorking(12.5);
    b.r().n[4] = 7;
    ASSERT_EQ(b.Run(b.Jsr(29)), DspStop::kReturned);
    EXPECT_EQ(card.Execute("I7").lines, std::vector<std::string>{"12.5"});
    // P( through routine 2; SIN (degrees while I15 = 0), SQRT, ATAN2 with
    // Q0 in X.
    b.SetWorking(7);
    ASSERT_EQ(b.Run(b.Jsr(2)), DspStop::kReturned);
    EXPECT_DOUBLE_EQ(b.Working(), 2.25);
    b.SetWorking(30);
    ASSERT_EQ(b.Run(b.Jsr(4)), DspStop::kReturned);
    EXPECT_NEAR(b.Working(), 0.5, 1e-12);
    b.SetWorking(2.25);
    ASSERT_EQ(b.Run(b.Jsr(11)), DspStop::kReturned);
    EXPECT_DOUBLE_EQ(b.Working(), 1.5);
    b.SetWorking(1);
    b.SetX(-1);
    ASSERT_EQ(b.Run(b.Jsr(15)), DspStop::kReturned);
    EXPECT_NEAR(b.Working(), 135.0, 1e-9);
    // Pushed and popped operators: A op X, X op A.
    b.SetWorking(10);
    b.SetX(4);
    ASSERT_EQ(b.Run(b.Jsr(17)), DspStop::kReturned);  // -
    EXPECT_DOUBLE_EQ(b.Working(), 6);
    b.SetWorking(10);
    ASSERT_EQ(b.Run(b.Jsr(24)), DspStop::kReturned);  // popped -
    EXPECT_DOUBLE_EQ(b.Working(), -6);
    b.SetWorking(10);
    ASSERT_EQ(b.Run(b.Jsr(25)), DspStop::kReturned);  // popped /
    EXPECT_NEAR(b.Working(), 0.4, 1e-13);  // the working form's 47-bit fraction
    b.SetWorking(10);
    ASSERT_EQ(b.Run(b.Jsr(23)), DspStop::kReturned);  // %
    EXPECT_DOUBLE_EQ(b.Working(), 2);
    // ENABLE PLC 3 and DISABLE PLCC 0 through routine 35.
    Words ena{0x56F400, 0x000000, 0x50F400, 0x080000 + 0x0000};
    for (uint32_t w : b.Jsr(35)) ena.push_back(w);
    card.Execute("OPEN PLC 3 CLEAR P9=1 CLOSE");
    ASSERT_EQ(b.Run(ena), DspStop::kReturned);
    card.Execute("I5=2");
    card.AdvanceServo(1);
    EXPECT_EQ(card.Execute("P9").lines, std::vector<std::string>{"1"});
    // The short call form below $1000 is one word, the long one two.
    const uint32_t far = spran ? 0xFF00 + 2 * 33 : 0x0C00 + 0x2D * 33;
    EXPECT_EQ(b.Jsr(33).size(), far < 0x1000 ? 1u : 2u);
  }
}

TEST(PlccExecutor, EndOfScanAndQAddressing) {
  for (const bool spran : {false, true}) {
    SCOPED_TRACE(spran ? "SPRAN" : "older");
    Bench b(spran);
    PlccRunner& run = b.runner();
    const uint32_t base = run.table_base(), s = run.slot_table(), c = run.code_start();
    // PLCC 5 whose slot still points into its code (a resume point): the
    // end-of-scan code resets the slot from the entry word and jumps on to
    // slot 6.
    const uint32_t n = 5;
    b.m().Write(Space::kP, base + n, 0x800000 + c + 0x10);
    b.m().Write(Space::kP, s + 2 * n + 1, c + 0x30);
    const uint32_t next = s + 2 * n + 2;
    Words end{0x07F084, s + 2 * n + 1, 0x56F400, next, 0x200044, 0x0AF0AA, next};
    if (spran) {
      end.insert(end.end(), {0x07F08E, base + n, 0x0140C6, 0x07FFFF, 0x07708C, s + 2 * n + 1});
    } else {
      end.insert(end.end(), {0x07F094, base + n, 0x077094, s + 2 * n + 1});
    }
    end.insert(end.end(), {0x0AF080, next});
    EXPECT_EQ(b.Run(end), DspStop::kBoundary);
    EXPECT_EQ(b.r().pc, next);
    EXPECT_EQ(b.m().Read(Space::kP, s + 2 * n + 1), c + 0x10);
    // Disabled meanwhile: the slot is left as it is.
    b.m().Write(Space::kP, s + 2 * n + 1, next);
    EXPECT_EQ(b.Run(end), DspStop::kBoundary);
    EXPECT_EQ(b.m().Read(Space::kP, s + 2 * n + 1), next);

    // Q5 of PLCC 3's coordinate system (2): the older cards' form reads
    // the base through P:(R5+N5), SPRAN cards' through Y:(R5).
    b.card().Execute("&2 Q5=-7.5 &1");
    const uint32_t p = 3;
    Words q;
    if (spran) {
      b.m().Write(Space::kP, c - 32 + p, 1u << 17);  // system 2
      q = {0x07F08F, c - 32 + p};
      for (uint32_t w : b.Jsr(36)) q.push_back(w);
      q.insert(q.end(), {0x6DE500, 0x3D0500, 0x05F425, 0x001FFF, 0x48ED00, 0x0465A4});
    } else {
      b.m().Write(Space::kP, base + p, 0x800000 | (1u << 19) | (c + 0x200));
      q = {0x20001B, 0x07F08D, base + p};
      for (uint32_t w : b.Jsr(36)) q.push_back(w);
      q.insert(q.end(), {0x07ED95, 0x3D0500, 0x05F425, 0x0003FF, 0x000000, 0x48ED00, 0x0465A4});
    }
    ASSERT_EQ(b.Run(q), DspStop::kReturned);
    EXPECT_EQ(word::DecodeFloat48((uint64_t{b.r().a.a1()} << 24) | b.r().a.a0()), -7.5);
    EXPECT_EQ(b.r().m[5], spran ? 0xFFFFFFu : 0xFFFFu);  // linear again, from M4
  }
}

TEST(PlccExecutor, FaultsStopTheRun) {
  Bench b(false);
  EXPECT_EQ(b.Run({0xFFFFFF}), DspStop::kUnknownWord);
  EXPECT_EQ(b.runner().core().fault_address(), b.at());
}

// LOCK n,Pm and UNLOCK n on the newer SPRAN firmware: the lock routine
// leaves 0 when it took the lock, 1 when the lock was already held; UNLOCK
// gives it back; the locks are independent.
TEST(PlccExecutor, LockAndUnlockRoutines) {
  Bench b(true);
  // LOCK 3,P3: MOVE #3,N5; MOVE #12,B1; JSR lock; MOVE X:$24,R4; JSR pack;
  // MOVE A,L:(R4+N4).
  const Words lock3 = {0x3D0300, 0x2D0C00, 0x0BF080, b.Routine(55), 0x64A400, 0x0BF080, b.Routine(33), 0x486C00};
  const Words unlock3 = {0x2C0300, 0x0BF080, b.Routine(56)};          // MOVE #3,A1; JSR unlock
  const Words lock5 = {0x3D0500, 0x0BF080, b.Routine(55)};
  struct Step {
    const Words* words;
    double left;  // A after the call (working form), -1 for UNLOCK
  };
  const Step steps[] = {{&lock3, 0}, {&lock3, 1}, {&lock5, 0}, {&unlock3, -1}, {&lock3, 0}, {&lock5, 1}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    b.SetWorking(42);
    ASSERT_EQ(b.Run(*steps[i].words), DspStop::kReturned) << "step " << i;
    if (steps[i].left < 0) continue;
    if (steps[i].words == &lock3) {
      EXPECT_EQ(b.card().Execute("P3").lines, std::vector<std::string>{steps[i].left == 0 ? "0" : "1"}) << "step " << i;
    } else {
      EXPECT_EQ(b.Working(), steps[i].left) << "step " << i;
    }
  }
  EXPECT_EQ(b.Run({0x3D0000 | (8 << 8), 0x0BF080, b.Routine(55)}), DspStop::kFirmwareFault);
}

// ADDRESS #Pn and &Pn on the newer SPRAN firmware: the motor (bits 12-16)
// or coordinate system (bits 17-21) of the PLC's addressing word becomes the
// number Pn holds, the other bits stay.
TEST(PlccExecutor, AddressByPRoutine) {
  Bench b(true);
  const uint32_t word = b.runner().code_start() - 32 + 4;  // PLCC 4's addressing word
  auto statement = [&](bool motor) {
    Words w = {0x45F400, 7, 0x0BF080, b.Routine(58)};  // MOVE #>7,X1; JSR address
    if (motor) w.insert(w.end(), {0x0C1C8B, 0x212461});  // ASR #5,B,B; TFR X1,A B0,X0
    else w.push_back(0x212400);                          // MOVE B0,X0
    w.insert(w.end(), {0x21CF17, 0x20004E, 0x07F085, word, 0x200066, 0x200010, 0x07708C, word});
    return w;
  };
  struct Row {
    bool motor;
    const char* p7;
    uint32_t before, after;
  };
  const Row rows[] = {
      {true, "3", 0x000000, 0x002000},   // motor 3
      {true, "32", 0x7C0ABC, 0x7DFABC},  // motor 32, system and low bits kept
      {false, "2", 0x01F000, 0x03F000},  // system 2, motor kept
      {false, "32", 0x800005, 0xBE0005},
  };
  for (const Row& row : rows) {
    b.card().Execute(std::string("P7=") + row.p7);
    b.m().Write(Space::kP, word, row.before);
    ASSERT_EQ(b.Run(statement(row.motor)), DspStop::kReturned) << row.p7;
    EXPECT_EQ(b.m().Read(Space::kP, word), row.after) << row.motor << " " << row.p7;
  }
  b.card().Execute("P7=33");
  EXPECT_EQ(b.Run(statement(false)), DspStop::kFirmwareFault);
}

// The processor keeps fetched code words; a word changed in P memory
// afterwards (a new download, a slot switched) must run as it now stands.
TEST(PlccExecutor, ChangedCodeRunsAsChanged) {
  Bench b(false);
  EXPECT_EQ(b.Run({0xFFFFFF}), DspStop::kUnknownWord);
  EXPECT_EQ(b.Run({}), DspStop::kReturned);  // the same address now holds a return
  b.r().a.Set(0);
  ASSERT_EQ(b.Run({0x56F400, 0x000123}), DspStop::kReturned);  // MOVE #$000123,A
  EXPECT_EQ(b.r().a.a1(), 0x000123u);
  ASSERT_EQ(b.Run({0x56F400, 0x000456}), DspStop::kReturned);  // its immediate word changed
  EXPECT_EQ(b.r().a.a1(), 0x000456u);
}

}  // namespace
}  // namespace zimo::cardsim

namespace zimo::cardsim {
namespace {

// PLCC 1 and PLCC 2 compiled one after the other; bad code in PLCC 1 stops
// it with its address in the log, PLCC 2 and the card run on.
TEST(PlccRunner, BadCodeStopsOnlyThatPlc) {
  struct Case {
    const char* what;
    Words bad;             // PLCC 1's code before its end
    uint32_t fault_offset;  // from the code start
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"unknown word", {0x56F400, 0x000001, 0xFFFFFF}, 2, "unknown word"},
      {"jump out of the code area", {0x0AF080, 0x000100}, 0, "jump out of the code area to $0100"},
      {"unbalanced data stack", {0x487F00}, 1 + 11, "unbalanced data stack"},  // at its end's JMP
      {"divide by zero", {0x56F400, 0x000007, 0x45F400, 0x000000, 0x0BF080, 0x0C00 + 0x2D * 39 + 1}, 4,
       "divide by zero"},
      {"endless loop", {0x0AF080, 0}, 0, "instruction budget exhausted"},  // stopped at its loop
      // A loop pushing A onto L:-(R7) without end: stopped at the push that
      // fills the stack, before it writes below it.
      {"data stack overflow", {0x487F00, 0x0AF080, 0}, 0, "data stack outside its area"},
      // Pops without pushes: R7 leaves the stack at the top.
      {"data stack underflow", {0x49DF00}, 0, "data stack outside its area"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Card card(CardModel::Older());
    PlccRunner& run = card.plcc();
    Memory& m = card.memory();
    const uint32_t b = run.table_base(), s = run.slot_table(), e = run.chain_end(), start = run.code_start();
    Words one = c.bad;
    if (one.size() >= 2 && one.back() == 0) one.back() = start;  // the loop jumps to its start
    // PLCC 1: the words, then its end of scan; PLCC 2: P5 counts scans.
    auto end_of_scan = [&](uint32_t n) {
      return Words{0x07F084, s + 2 * n + 1, 0x56F400, s + 2 * n + 2, 0x200044, 0x0AF0AA, s + 2 * n + 2,
                   0x07F094, b + n, 0x077094, s + 2 * n + 1, 0x0AF080, s + 2 * n + 2};
    };
    Words code = one;
    for (uint32_t w : end_of_scan(1)) code.push_back(w);
    const uint32_t second = start + static_cast<uint32_t>(code.size());
    for (uint32_t w : {0x48F000u, 0x001005u, 0x45F400u, 0x400000u, 0x44F400u, 0x000800u})  // P5 ; X = 1.0
      code.push_back(w);
    for (uint32_t w : Words{0x0BF080, 0x0C00 + 0x2D * 34, 0x0D0000 | (0x0C00 + 0x2D * 16), 0x0BF080,
                            0x0C00 + 0x2D * 33, 0x487000, 0x001005})  // unpack, +, pack, store
      code.push_back(w);
    for (uint32_t w : end_of_scan(2)) code.push_back(w);
    for (uint32_t i = 0; i < code.size(); ++i) m.Write(Space::kP, start + i, code[i]);
    for (uint32_t n = 0; n < 32; ++n) {
      const uint32_t entry = n == 1 ? start : n == 2 ? second : 0;
      m.Write(Space::kP, b + n, entry != 0 ? 0x800000 + entry : (n < 31 ? s + 2 * n + 2 : e));
      m.Write(Space::kP, s + 2 * n, 0x0AF080);
      m.Write(Space::kP, s + 2 * n + 1, n == 0 ? e : entry != 0 ? entry : s + 2 * n + 2);
    }
    m.Write(Space::kP, e, 0x00000C);
    // The L words on both sides of the data stack's area.
    const uint32_t below = run.stack_top() - 257, above = run.stack_top();
    for (uint32_t a : {below, above}) m.Write(Space::kX, a, 0x123456), m.Write(Space::kY, a, 0x654321);
    card.Execute("I5=2");
    card.AdvanceServo(3);
    ASSERT_EQ(run.log().size(), 1u);
    const std::string& line = run.log().back();
    char at[16];
    std::snprintf(at, sizeof at, "$%04X", start + c.fault_offset);
    EXPECT_EQ(line.rfind(std::string("PLCC 1 stopped at P:") + at + ": " + c.reason, 0), 0u) << line;
    EXPECT_EQ(m.Read(Space::kP, s + 3), s + 4);  // PLCC 1 disabled
    for (uint32_t a : {below, above}) {
      EXPECT_EQ(m.Read(Space::kX, a), 0x123456u);
      EXPECT_EQ(m.Read(Space::kY, a), 0x654321u);
    }
    // PLCC 2 ran every cycle, but for the one whose instructions the loop
    // used up.
    const bool loop = c.reason == std::string("instruction budget exhausted");
    EXPECT_EQ(card.Execute("P5").lines, std::vector<std::string>{loop ? "2" : "3"});
  }
}

}  // namespace
}  // namespace zimo::cardsim
