// The statement code of one compiled block: the token loop, expressions with
// an operator stack beside the card's data stack, conditions with their
// forward jumps, blocks and every command statement.
#include "plcc/plcc_block.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zimo::corvan::plcc {

namespace {

constexpr std::uint32_t kTrueExit = 0x1000000;
constexpr std::uint32_t kFalseExit = 0x2000000;
constexpr std::uint32_t kServoReturn = 0x4000B;
constexpr std::uint32_t kVarPlccStart = 0x4004;
constexpr std::uint32_t kVarPlccRestart = 0x4002;
constexpr std::size_t kStackLimit = 124;
constexpr std::size_t kStackCapacity = kStackLimit + 8;
// Enclosing IF/WHILE blocks the listing keeps labels for (three entries
// each on a 125-entry stack).
constexpr std::size_t kLabelLevels = 41;

// Jump words by (comparison >> 1) & 7 for = > < ~ != !> !< !~.
constexpr std::uint32_t kTrueJump[8] = {0x0AF0AA, 0x0AF0A9, 0x0AF0A7, 0x0AF0A9,
                                        0x0AF0A2, 0x0AF0A1, 0x0AF0AF, 0x0AF0A1};
constexpr std::uint32_t kFalseJump[8] = {0x0AF0A2, 0x0AF0A1, 0x0AF0AF, 0x0AF0A1,
                                         0x0AF0AA, 0x0AF0A9, 0x0AF0A7, 0x0AF0A9};
// The approximate comparisons ~ and !~, by bit 3 of the code.
constexpr std::uint32_t kApproxTrueJump[2] = {0x0AF0A9, 0x0AF0A1};
constexpr std::uint32_t kApproxFalseJump[2] = {0x0AF0A1, 0x0AF0A9};
// Routines that apply an operator with the left operand in X and the right
// one in A (popped) and with A left, X right (pushed), by operator & 7.
constexpr int kPoppedRoutine[8] = {16, 24, 18, 25, 20, 21, 22, 26};
constexpr int kPushedRoutine[8] = {16, 17, 18, 19, 20, 21, 22, 23};

constexpr std::uint32_t kCopyRegWords[25] = {
    0x382400, 0x64A400, 0x205700, 0x415700, 0x204000, 0x43573C, 0x65D800, 0x415700, 0x405700,
    0x4ED800, 0xC28500, 0x4C5044, 0x204C00, 0x218700, 0x2050B4, 0x204822, 0x486700, 0x060590,
    0x000007, 0x48DF00, 0x0BF080, 0x00FF62, 0x0BF080, 0x00FF42, 0x485C00};

// The register-copy routine as the listing shows it (N4, then the calls of
// the long-to-float and pack routines at their fixed addresses).
constexpr const char* kCopyRegText =
    ";*********************************************************************\n"
    "SAV_REG                         ; SAVE_REG FUNCTION TO Pn\n"
    ";   INP:  APOS(Y), DPOS(B10), AVEL(X:LTEMP), DVEL(A10) save to Pn .. Pn+3\n"
    ";   OUT:  Pn, Pn+1, Pn+2, Pn+3, Pn+4, N4 = n of Pn\n"
    ";   USES: A, B, R4, Y, N4, R5\n"
    ";*********************************************************************\n"
    "\tMOVE\t#%u,N4\n"
    "\tMOVE    #$24,N0\n"
    "\tMOVE    X:$24,R4        ; Pn BASE ADDRESS\n"
    "\tMOVE    (R7)-\n"
    "\tMOVE    B10,L:(R7)-\n"
    "\tMOVE    (R0)-N0\n"
    "\tSUB     Y,B     Y,L:(R7)-\n"
    "\tMOVE    X:(R0)+,R5\n"
    "\tMOVE    B10,L:(R7)-\n"
    "\tMOVE    A10,L:(R7)-\n"
    "\tMOVE    Y:(R0)+,Y0\n"
    "\tMOVE    X:(R5),X0 Y:(R0),A\n"
    "\tSUB     X0,A    X0,Y:(R0)-\n"
    "\tMOVE    (R4)+N4\n"
    "\tMOVE    A1,Y1\n"
    "\tMPY     -Y1,Y0,A (R0)-\n"
    "\tASR     A       (R0)+N0\n"
    "\tMOVE    A,L:(R7)\n"
    "\tDOR     #5,SAV_REND\n"
    "\tMOVE    L:(R7)+,A\n"
    "\tJSR\t$%06lX\t\t; LTOF \n"
    "\tJSR\t$%06lX\t\t; PACK A\n"
    "\tMOVE    A,L:(R4)+       ; SAVE TO Pn +\n"
    "SAV_REND";

bool IsHigh(std::uint32_t k) { return k == 130 || k == 131 || k == 134 || k == 135; }
bool IsBinary(std::uint32_t k) { return k >= 128 && k <= 135; }

bool StartsStatement(std::uint32_t k) {
  if ((k >= 256 && k <= 287) || (k >= 770 && k <= 775) || (k >= 320 && k <= 330)) return true;
  switch (k) {
    case kTokIf:
    case kTokWhile:
    case kTokAndLine:
    case kTokOrLine:
    case kTokReturn:
    case 336:
    case 337:
    case 338:
    case kTokOpenServo:
    case kTokCopyReg:
    case kTokOpenVarPlcc:
    case kTokElse:
    case kTokEndIf:
    case kTokEndWhile:
      return true;
    default:
      return false;
  }
}

// Token values are doubles; the generator wants their integer bits.
std::uint32_t U32(double v) {
  if (!std::isfinite(v) || v < -2147483648.0 || v > 4294967295.0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(v));
}

// Entries whose minus sign is applied when the value below them closes.
bool NegatedAfterOpening(std::uint32_t c) {
  if ((c & 1) == 0) return false;
  if (c >= 65 && c <= 97) return true;
  switch (c) {
    case 103:
    case 105:
    case 107:
    case 111:
    case 113:
    case 117:
    case 119:
    case 121:
    case 169:
    case 171:
    case 257:
    case 259:
    case 261:
    case 263:
    case 267:
    case 649:
    case 651:
    case 653:
    case 655:
      return true;
    default:
      break;
  }
  return (c >= 177 && c <= 191) || (c >= 269 && c <= 287);
}

bool NegatedAfterFunction(std::uint32_t c) {
  if ((c & 1) == 0) return false;
  if (c >= 65 && c <= 97) return true;
  switch (c) {
    case 111:
    case 115:
    case 169:
    case 171:
    case 257:
    case 259:
    case 261:
    case 263:
    case 269:
    case 271:
    case 279:
    case 281:
    case 649:
    case 651:
    case 653:
    case 655:
      return true;
    default:
      break;
  }
  return c >= 177 && c <= 191;
}

class Generator {
 public:
  Generator(PlccCompilation& c, BlockKind kind, const PlccToken* tokens, std::size_t count,
            std::uint32_t address, PlccCodeBuffer& code, PlccEntryTable& table)
      : c_(c),
        kind_(kind),
        tokens_(tokens),
        count_(count),
        address_(address),
        code_(code),
        table_(table),
        emit_(c, code) {}

  int Run();

 private:
  EmitterState& st() { return emit_.state(); }
  std::uint32_t Here() const { return address_ + static_cast<std::uint32_t>(code_.size()); }
  std::uint32_t NextCode(std::size_t i) const {
    return i + 1 < count_ ? tokens_[i + 1].code & 0x3FF : 0;
  }
  bool NextIsHigh() const { return IsHigh(NextCode(cur_)); }
  bool FtoiOpen() const { return ftoi_ != 0; }
  bool Int() const { return !FtoiOpen() && (int_stmt_ || bracket_ != 0 || itof_ != 0); }
  bool Servo() const { return kind_ == BlockKind::kServo; }
  std::uint32_t Next() const {
    const std::uint32_t n = static_cast<std::uint32_t>(plc_);
    return plc_ > 0 ? c_.target.slot_table + 2 * n + 2 : c_.target.chain_end;
  }

  void Push(std::uint32_t code, std::uint32_t value) {
    if (depth_ >= kStackCapacity) {
      overflow_ = true;
      return;
    }
    ops_[depth_] = code;
    vals_[depth_] = value;
    ++depth_;
  }
  std::uint32_t Top() const { return depth_ > 0 ? ops_[depth_ - 1] : 0; }
  void ClearTopMinus() {
    if (depth_ > 0) ops_[depth_ - 1] &= ~1u;
  }
  void PushA() {
    st().integer_context = Int();
    emit_.EmitPushA();
  }
  void PopX(const char* text = "\tMOVE\tL:(R7)+,X\t; Pop X off Stack") {
    const std::size_t from = code_.size();
    emit_.Put(0x42DF00);  // MOVE L:(R7)+,X
    emit_.Say(from, "%s", text);
  }
  void ServoCall(int routine, const char* name = nullptr);
  // Q n through the extended firmware's Q routine k (B: the PLC's
  // addressing word, N4: n).
  void QRoutineCall(std::uint32_t n, int k) {
    const std::uint32_t word = c_.target.code_start - 32 + static_cast<std::uint32_t>(plc_);
    emit_.Put(0x07F08F);
    emit_.Put(word);
    emit_.Say(code_.size() - 2, "\tMOVE\tP:$%06lX,B", static_cast<unsigned long>(word));
    const std::size_t from = code_.size();
    emit_.EmitLoadN4(n);
    emit_.Say(from, "\tMOVE\t#%06ld,N4", static_cast<long>(n));
    emit_.CallRoutine(k);
  }
  // M5 back to the linear mode after a Q access.
  void RestoreM5() {
    emit_.Put(0x0465A4);  // MOVEC M4,M5
    emit_.Say(code_.size() - 1, "\tMOVE\tM4,M5\t\t; Restore M5");
  }
  // The PLC's addressing word into B1 and the coordinate system's Q base
  // found from it (R5 saved in R4 first).
  void QBaseLines(std::uint32_t addressing) {
    emit_.Put(0x22B41B);  // CLR B R5,R4
    emit_.Say(code_.size() - 1, "\tCLR\tB\tR5,R4\t; Save R5");
    st().r4_cache = 0;
    emit_.Put(0x07F08D);  // MOVEM P:addressing word,B1
    emit_.Put(addressing);
    emit_.Say(code_.size() - 2, "\tMOVE\tP:$%06lX,B1", static_cast<unsigned long>(addressing));
    emit_.CallRoutine(36, "plcq_base_addr");
  }
  // MOVE Y:$2000,R4 unless R4 holds the Q0 base already.
  void LoadQBase() {
    const std::size_t from = code_.size();
    emit_.LoadR4(0x6CF000, 0x002000, true, 0x8000);
    if (code_.size() > from) emit_.Say(from, "\tMOVE\tY:$%06lX,R4\t\t; Q0 Base Adr", 0x2000ul);
  }
  // MOVE X:$24,R4 unless R4 holds the P base already.
  void LoadPBase() {
    const std::size_t from = code_.size();
    emit_.LoadR4(0x64A400, 0, false, 0x6000);
    if (code_.size() > from) emit_.Remark(from, "\t; X:P_BASE to R4");
  }
  // A move between a register and entry n of the table at R4: `move` is
  // the L:(R4) form, entries past the first go through N4 as L:(R4+N4).
  void MoveAtR4(std::uint32_t n, std::uint32_t move) {
    if (n == 0) {
      emit_.Put(move);
      return;
    }
    emit_.EmitLoadN4(n);
    emit_.Put(move | 0x000800);
  }
  // P n into register `reg` (A or X); `to` is the MOVE's register field.
  void LoadP(std::uint32_t n, std::uint32_t to, char reg) {
    if (!c_.spran) {
      emit_.Put(to | 0x00F000);  // MOVE L:$1000+n,reg
      emit_.Put(n + 0x1000);
      emit_.Remark(code_.size() - 2, "\t; %c = P%u", reg, n);
      return;
    }
    LoadPBase();
    MoveAtR4(n, to | 0x00E400);
    emit_.Remark(code_.size() - 1, "\t; %c = P%u", reg, n);
  }

  int Token(std::size_t i);
  int Operand(std::uint32_t k, double value);
  int LoadA(std::uint32_t k, double value, bool negate);
  int LoadX(std::uint32_t k, double value);
  void ReadVariable(std::uint32_t k, std::uint32_t n, bool to_x);
  bool ThroughA(std::uint32_t k, double value) const;
  void Opening(std::uint32_t code, double value);
  void ApplyOperator(std::uint32_t op, bool popped);
  void ReduceBinaries();
  int Reduce();
  void Compare(std::uint32_t c, bool true_jump, bool from_connective);
  void Connective(std::uint32_t code);
  void CallFunction(std::uint32_t c);

  void Boundary(std::uint32_t code, double value);
  void StatementEnd(std::uint32_t s, std::uint32_t v, std::uint32_t t);
  void IndexedStore(std::uint32_t v);
  // Points the placeholders back to the first stop mark at `target`; true
  // when there were any.
  bool PatchBack(std::size_t from, std::uint32_t placeholder, std::uint32_t stop_marks,
                 std::uint32_t target, bool clear_line_marks);
  // The failed parts of a condition land here: in the listing a false
  // label of its own, and later failures get the next one.
  void OrFalsePath();
  void EndBlock(std::uint32_t code);
  void EndWhile();
  void BlockExit(bool close);
  void CommandText(std::uint32_t offset, bool control);
  void Address(std::uint32_t v);
  void DisplayText(std::uint32_t v);
  void DisplayVariable(std::uint32_t v);

  PlccCompilation& c_;
  BlockKind kind_;
  const PlccToken* tokens_;
  std::size_t count_;
  std::uint32_t address_;
  PlccCodeBuffer& code_;
  PlccEntryTable& table_;
  PlccEmitter emit_;

  std::uint32_t ops_[kStackCapacity] = {};
  std::uint32_t vals_[kStackCapacity] = {};
  std::size_t depth_ = 1;
  bool overflow_ = false;
  std::size_t cur_ = 0;
  int error_ = 0;

  bool a_loaded_ = false;
  bool has_value_ = false;  // an operand was loaded since the statement began
  std::uint32_t pending_op_ = 0;
  bool negate_pending_ = false;
  bool int_stmt_ = false;
  int ftoi_ = 0;
  int itof_ = 0;
  int bracket_ = 0;

  std::uint32_t prev_ = 0;
  std::uint32_t prev_value_ = 0;
  int plc_ = 0;
  bool plc_open_ = false;
  bool end_ = false;
  bool endw_listed_ = false;  // the PLC's shared EndWhile text is out

  // Listing labels: the innermost IF/WHILE (its number and current false
  // label) and the ones around it.
  struct LabelLevel {
    int label = 0;
    int false_count = 0;
  };
  void OpenLabel(bool is_while);
  void ListAsConstants(std::size_t from, const char* comment);
  void CloseLabel();
  void AddBlockLabel(const char* format, bool with_false);
  LabelLevel label_;
  bool in_label_ = false;
  LabelLevel label_stack_[kLabelLevels];
  std::size_t label_depth_ = 0;

  // Open IF/WHILE blocks and the jumps of their AND/OR lines still waiting
  // for a target, counted against the target's limit (when it sets one).
  void OpenEntries(std::size_t n, bool new_block);
  void CloseEntries();
  std::vector<std::size_t> block_entries_;
  std::size_t open_entries_ = 0;
};

void Generator::OpenEntries(std::size_t n, bool new_block) {
  if (new_block) {
    block_entries_.push_back(0);
  } else if (block_entries_.empty()) {
    return;
  }
  block_entries_.back() += n;
  open_entries_ += n;
  const std::size_t limit = c_.target.limits.open_structures;
  if (limit != 0 && open_entries_ > limit) error_ = -kErrStack;
}

void Generator::CloseEntries() {
  if (block_entries_.empty()) return;
  open_entries_ -= block_entries_.back();
  block_entries_.pop_back();
}

void Generator::OpenLabel(bool is_while) {
  if (!code_.listing()) return;
  if (in_label_) {
    if (label_depth_ >= kLabelLevels) {
      error_ = -kErrStack;
      return;
    }
    label_stack_[label_depth_++] = label_;
  }
  in_label_ = true;
  label_.label = code_.NextLabelNumber();
  label_.false_count = 1;
  char text[64];
  std::snprintf(text, sizeof text, is_while ? "L%d\t\t\t; WHILE%d Start" : "L%d\t\t\t; IF%d Start",
                label_.label, label_.label);
  code_.AddLabel("L" + std::to_string(label_.label), text);
}

// Commands that have no instruction text are listed as their comment and
// then their words as constants, so that the listing still places them.
void Generator::ListAsConstants(std::size_t from, const char* comment) {
  if (!code_.listing()) return;
  std::string text = comment;
  for (std::size_t i = from; i < code_.size(); ++i) {
    char word[24];
    std::snprintf(word, sizeof word, "\n\tDC\t$%06lX",
                  static_cast<unsigned long>(code_[i] & 0xFFFFFF));
    text += word;
  }
  code_.AddNote(from, code_.size(), text);
}

void Generator::OrFalsePath() {
  if (!code_.listing() || !in_label_) return;
  AddBlockLabel("L%dF%d\t\t; Logical OR FALSE path", true);
  ++label_.false_count;
}

void Generator::CloseLabel() {
  if (label_depth_ > 0) {
    label_ = label_stack_[--label_depth_];
  } else {
    in_label_ = false;
  }
}

// A label line of the innermost block: "L<n>THEN" or "L<n>F<f>" with its
// comment; the format takes the label, the false counter and the label.
void Generator::AddBlockLabel(const char* format, bool with_false) {
  if (!code_.listing() || !in_label_) return;
  char text[96];
  char name[32];
  if (with_false) {
    std::snprintf(text, sizeof text, format, label_.label, label_.false_count, label_.label);
    std::snprintf(name, sizeof name, "L%dF%d", label_.label, label_.false_count);
  } else {
    std::snprintf(text, sizeof text, format, label_.label);
    std::snprintf(name, sizeof name, "L%dTHEN", label_.label);
  }
  // A condition that ends twice (an OR line after the block's statements)
  // places its true label again: the second gets a name of its own.
  const std::string unique = code_.UniqueLabel(name);
  code_.AddLabel(unique, unique + (text + std::strlen(name)));
}

int Generator::Run() {
  for (cur_ = 0; cur_ < count_ && !end_; ++cur_) {
    const int r = Token(cur_);
    if (r != 0) return r;
    if (error_ != 0) return error_;
    if (overflow_ || depth_ > kStackLimit) return -kErrStack;
    if (code_.overflowed()) return -kErrMemory;
  }
  return code_.overflowed() ? -kErrMemory : 0;
}

int Generator::Token(std::size_t i) {
  const std::uint32_t code = tokens_[i].code & 0x3FF;
  const double value = tokens_[i].value;
  st().integer_context = Int();
  if (code >= 32 && code <= 63) return Operand(code, value);
  if ((code >= 64 && code <= 97) || (code >= 102 && code <= 107) || (code >= 110 && code <= 121)) {
    Opening(code, value);
    return 0;
  }
  if (code == kTokCloseParen || code == 108) {
    const int want = code == kTokCloseParen ? 96 : 106;
    int r = -1;
    while (depth_ > 1 && r != want) r = Reduce();
    if (!NextIsHigh()) ReduceBinaries();
    return 0;
  }
  if (IsBinary(code)) {
    pending_op_ = code;
    return 0;
  }
  if (code == 136 || code == 137) {
    while (depth_ > 2) Reduce();
    PushA();
    Push(code, 0);
    a_loaded_ = false;
    negate_pending_ = (code & 1) != 0;
    return 0;
  }
  if (code >= 168 && code <= 171) {
    Connective(code);
    return 0;
  }
  if ((code >= 176 && code <= 191) || (code >= 648 && code <= 655)) {
    while (depth_ > 2) Reduce();
    const std::uint32_t bottom = ops_[0] & ~1u;
    const std::uint32_t kind = prev_value_ & 30;
    if (code >= 648 && bottom == kTokIndexedTarget &&
        (kind == 10 || kind == 12 || kind == 16 || kind == 18 || kind == 20)) {
      emit_.Put(0x487F00);  // the index, an integer, goes unpacked
      emit_.Remark(code_.size() - 1, "\t; // Save Left Exp A Reg is integer");
      bracket_ = 0;
    } else {
      PushA();
    }
    Push(code, 0);
    a_loaded_ = false;
    negate_pending_ = (code & 1) != 0;
    return 0;
  }
  if (code == kTokOptimizeOff) {
    c_.optimize = false;
    return 0;
  }
  if (!StartsStatement(code)) return 0;  // nothing the generator acts on
  Boundary(code, value);
  if (error_ != 0) return error_;
  const std::uint32_t v = U32(value);
  switch (code) {
    case kTokIf:
      st().pending_mark = kBlockMark;
      OpenLabel(false);
      OpenEntries(1, true);
      break;
    case kTokWhile:
      st().pending_mark = kBlockMark;
      st().r4_cache = 0;
      OpenLabel(true);
      OpenEntries(1, true);
      break;
    case kTokAndLine:
    case kTokOrLine: {
      OpenEntries(1, false);
      std::size_t i0 = code_.size();
      const bool and_line = code == kTokAndLine;
      // A true earlier line goes on with this one; a failed one tries it.
      if (PatchBack(i0, and_line ? kTrueExit : kFalseExit,
                    and_line ? (kBlockMark | kLineMark) : kBlockMark, Here(), false) &&
          !and_line) {
        OrFalsePath();
      }
      st().pending_mark = kLineMark;
      break;
    }
    case kTokElse: {
      emit_.Put(0x0AF080);  // JMP to the end of the IF
      emit_.Remark(code_.size() - 1, "\t\t; ELSE JMP ENDIF");
      emit_.Put(kFalseExit);
      PatchBack(code_.size() - 2, kFalseExit, kBlockMark, Here(), false);
      st().r4_cache = 0;
      AddBlockLabel("L%dF%d\t\t; ELSE%d FALSE path", true);
      ++label_.false_count;
      break;
    }
    case kTokEndIf:
      PatchBack(code_.size(), kFalseExit, kBlockMark, Here(), true);
      AddBlockLabel("L%dF%d\t\t; ENDIF%d", true);
      CloseLabel();
      CloseEntries();
      EndBlock(code);
      break;
    case kTokEndWhile:
      EndWhile();
      AddBlockLabel(Servo() ? "L%dF%d\t\t; JMP FALSE Label" : "L%dF%d\t\t; WHILE%d False Path",
                    true);
      CloseLabel();
      CloseEntries();
      EndBlock(code);
      break;
    case kTokOpenPlcc: {
      if (plc_open_) emit_.EmitPlccReturnCode(plc_);
      plc_open_ = true;
      plc_ = static_cast<int>(v & 31);
      if (code_.listing())
        code_.AddNote(code_.UniqueLabel("PLCC" + std::to_string(plc_) + "Start"));
      endw_listed_ = false;
      const std::uint32_t here = Here();
      table_[static_cast<std::size_t>(plc_)] = 0x800000 + here;
      table_[33 + 2 * static_cast<std::size_t>(plc_)] = here;
      break;
    }
    case kTokClose:
      BlockExit(true);
      end_ = true;
      break;
    case kTokReturn:
      BlockExit(false);
      break;
    case 320:
    case 321:
    case 322:
    case 323: {
      const std::size_t from = code_.size();
      emit_.Put(0x56F400);  // MOVE #>mask>>8,A
      emit_.Put((v >> 8) & 0xFFFFFF);
      emit_.Put(0x50F400);  // MOVE #>low byte and kind,A0
      emit_.Put(((v << 16) & 0xFF0000) + (code - 320) * 0x1000);
      emit_.Say(from, "\tMOVE\t#>$%06lX,A\n\tMOVE\t#>$%06lX,A0",
                static_cast<unsigned long>((v >> 8) & 0xFFFFFF),
                static_cast<unsigned long>(((v << 16) & 0xFF0000) + (code - 320) * 0x1000));
      emit_.CallRoutine(35);
      break;
    }
    case 336: {  // LOCK n,Pm
      const std::size_t from = code_.size();
      emit_.Put(0x3D0000 + ((v & 7) << 8));
      const std::uint32_t k = (v & 0x1FFF00) >> 6;
      if (k < 256) {
        emit_.Put(0x2D0000 + (k << 8));
      } else {
        emit_.Put(0x55F400);
        emit_.Put(k);
      }
      emit_.Say(from, "\tMOVE\t#%6ld,N5\n\tMOVE\t#%06ld,B1", static_cast<long>(v & 7),
                static_cast<long>(k));
      emit_.CallRoutine(55);
      emit_.Put(0x64A400);  // MOVE X:$24,R4
      emit_.CallRoutine(33, "pack A");
      emit_.Put(0x486C00);  // MOVE A,L:(R4+N4)
      st().r4_cache = 0;
      break;
    }
    case 337:
      emit_.Put(0x2C0000 + ((v & 0xFF) << 8));
      emit_.Say(code_.size() - 1, "\tMOVE\t#%2ld,A1", static_cast<long>(v & 0xFF));
      emit_.CallRoutine(56);
      break;
    case 338: {
      const std::size_t from = code_.size();
      if ((v >> 24) != 0) {
        emit_.Put(0x56F400);
        emit_.Put(v >> 24);
        emit_.Say(from, "\tMOVE\t#>$%06lX,A", static_cast<unsigned long>(v >> 24));
      } else {
        emit_.Put(0x200013);  // CLR A
      }
      const std::uint32_t lo = v & 0xFFFFFF;
      const std::size_t low_from = code_.size();
      if (lo < 256) {
        emit_.Put(0x280000 + (lo << 8));
      } else {
        emit_.Put(0x50F400);
        emit_.Put(lo);
      }
      emit_.Say(low_from, "\tMOVE\t#$%06lX,A0", static_cast<unsigned long>(lo));
      emit_.CallRoutine(57);
      break;
    }
    case kTokCommandText: {
      const std::size_t from = code_.size();
      CommandText(v, false);
      ListAsConstants(from, ";***** Cmd SENDx N/A *****");
      break;
    }
    case kTokCommandChar: {
      const std::size_t from = code_.size();
      if (c_.spran) {
        CommandText(v, true);
      } else {
        emit_.Put(0x2C0000 + ((v & 0xFF) << 8));  // MOVE #c,A1
        emit_.Put(0x545B00);                      // MOVE A1,X:(R3)+
      }
      ListAsConstants(from, ";***** Cmd ^CHAR N/A *****");
      break;
    }
    case 326: {
      const std::size_t from = code_.size();
      Address(v);
      ListAsConstants(from, ";***** Cmd ADDRESS N/A *****");
      break;
    }
    case kTokDisplayText: {
      const std::size_t from = code_.size();
      DisplayText(v);
      ListAsConstants(from, ";***** Cmd DISPLAY STR N/A *****");
      break;
    }
    case kTokDisplayVar: {
      const std::size_t from = code_.size();
      DisplayVariable(v);
      ListAsConstants(from, ";***** Cmd DISPLAY VAR N/A *****");
      break;
    }
    case kTokCopyReg: {
      const std::size_t from = code_.size();
      emit_.EmitLoadN4(v);
      for (std::uint32_t w : kCopyRegWords) emit_.Put(w);
      st().r4_cache = 0;
      emit_.Say(from, kCopyRegText, static_cast<unsigned>(v),
                static_cast<unsigned long>(kCopyRegWords[21]),
                static_cast<unsigned long>(kCopyRegWords[23]));
      break;
    }
    case kTokOpenVarPlcc:
      int_stmt_ = true;
      break;
    default:
      break;
  }
  return 0;
}

bool Generator::ThroughA(std::uint32_t k, double value) const {
  if (k == 32 || k == 34 || k == 46) return true;
  if (k == 44) {
    const std::uint32_t n = U32(value);
    return n < c_.f_table.size() && (c_.f_table[n].flags & 1) != 0;
  }
  return false;
}

int Generator::Operand(std::uint32_t k, double value) {
  switch (k) {
    case 32:
    case 34:
    case 36:
    case 38:
    case 44:
      if (!FtoiOpen()) int_stmt_ = false;
      break;
    case 42:
    case 46:
      if (bracket_ == 0 && itof_ == 0) int_stmt_ = true;
      break;
    case 48:
    case 50:
    case 52:
      int_stmt_ = true;
      break;
    default:
      break;
  }
  st().integer_context = Int();
  has_value_ = true;
  if (!a_loaded_) {
    const bool negate = negate_pending_;
    const int r = LoadA(k, value, negate);
    if (r != 0) return r;
    a_loaded_ = true;
    if (negate) {
      if (k != kTokConstant) emit_.NegateA(Int());
      ClearTopMinus();
      negate_pending_ = false;
    }
    return 0;
  }
  const std::uint32_t op = pending_op_;
  const bool defer = !IsHigh(op) && NextIsHigh();
  if (defer) {
    PushA();
    const int r = LoadA(k, value, false);
    if (r != 0) return r;
    Push(op, 0);
    return 0;
  }
  if (ThroughA(k, value)) {
    code_.AddNote(";*** (oper == HIType) || NextOperatorLow ***");
    PushA();
    const int r = LoadA(k, value, false);
    if (r != 0) return r;
    // A converting F definition lists its pop in a form of its own.
    PopX(k == 44 ? "\tMOVE\t L:(R7)+,X" : "\tMOVE\tL:(R7)+,X\t; Stack to X");
    ApplyOperator(op, true);
  } else {
    if (k == 36) code_.AddNote(";*** (oper == HIType) || NextOperatorLow ***");
    const int r = LoadX(k, value);
    if (r != 0) return r;
    ApplyOperator(op, false);
  }
  if (!NextIsHigh()) ReduceBinaries();
  return 0;
}

void Generator::ApplyOperator(std::uint32_t op, bool popped) {
  if (Int()) {
    emit_.EmitIntOperator(op, popped);
  } else {
    emit_.UnpackIfPacked();
    emit_.CallRoutine(popped ? kPoppedRoutine[op & 7] : kPushedRoutine[op & 7],
                      popped ? "Call Pop Operator" : "Call Push Operator");
    st().packed = false;
  }
}

void Generator::ReduceBinaries() {
  while (depth_ > 1 && IsBinary(Top())) Reduce();
}

void Generator::ServoCall(int routine, const char* name) {
  // The servo loop's R1 and N1 survive the I/M routines.
  if (Servo()) {
    emit_.Put(0x617F00);  // MOVE R1,X:-(R7)
    emit_.Put(0x796700);  // MOVE N1,Y:(R7)
  }
  emit_.CallRoutine(routine, name);
  if (Servo()) {
    emit_.Put(0x79E700);  // MOVE Y:(R7),N1
    emit_.Put(0x61DF00);  // MOVE X:(R7)+,R1
  }
  st().r4_cache = 0;
}

// A finite constant in an integer statement: its whole part as the card's
// 24-bit word, wrapping as the card's integer arithmetic does.
std::uint32_t IntegerWord(double v) {
  const std::int64_t whole = static_cast<std::int64_t>(std::fmod(std::trunc(v), 16777216.0));
  return static_cast<std::uint32_t>(whole) & 0xFFFFFF;
}

// L (42), F (44) and ring-station (48, 50, 52) variables read into A or X
// alike.
void Generator::ReadVariable(std::uint32_t k, std::uint32_t n, bool to_x) {
  if (k == 42) {
    emit_.EmitLRead(static_cast<int>(n & 8191), to_x);
  } else if (k == 44) {
    emit_.EmitFRead(static_cast<int>(n & 8191), to_x);
  } else {
    emit_.EmitRingRead(static_cast<int>(n), k, to_x);
  }
}

int Generator::LoadA(std::uint32_t k, double value, bool negate) {
  const std::uint32_t n = U32(value);
  if (st().pending_mark != 0) st().r4_cache = 0;
  switch (k) {
    case 36:  // P
      LoadP(n, 0x480000, 'A');
      st().packed = true;
      return 0;
    case 38:  // Q
      if (Servo() && c_.extended_firmware) {
        LoadQBase();
        MoveAtR4(n, 0x48E400);
        emit_.Remark(code_.size() - 1, "\t; A = Q%u", n);
      } else if (c_.extended_firmware) {
        QRoutineCall(n, 59);
      } else {
        if (!c_.spran || st().pending_mark != 0) emit_.Put(0x20001B);  // CLR B
        emit_.EmitQAddress(n, plc_);
        emit_.Put(0x48ED00);  // MOVE L:(R5+N5),A
        emit_.Remark(code_.size() - 1, "\t; A = Q%u", n);
        RestoreM5();
      }
      st().packed = true;
      return 0;
    case 32:
    case 34: {
      emit_.EmitLoadN4(n);
      char name[32];
      std::snprintf(name, sizeof name, c_.target.server_build ? "A = I/M%u" : "A=I/M%u",
                    static_cast<unsigned>(n));
      ServoCall(k == 32 ? 27 : 28, name);
      st().packed = false;
      return 0;
    }
    case 42:
    case 44:
    case 48:
    case 50:
    case 52:
      ReadVariable(k, n, false);
      return 0;
    case 46:
      emit_.Put(0x0BF080);  // JSR MTR_NUM
      emit_.Put(0x040015);
      emit_.Say(code_.size() - 2, "\tJSR\t$%06lX\t\t; A = MTRNUM()", 0x040015ul);
      st().r4_cache = 0;
      return 0;
    case kTokConstant: {
      double v = negate ? -value : value;
      if (Int()) {
        if (!std::isfinite(v)) return -kErrPack;
        const std::uint32_t w = IntegerWord(v);
        if (w == 0) {
          emit_.Put(0x200013);
          emit_.Say(code_.size() - 1, "\tCLR\tA");
        } else {
          emit_.Put(0x56F400);
          emit_.Put(w);
          emit_.Say(code_.size() - 2, "\tMOVE\t#>%u,A", static_cast<unsigned>(w));
        }
        return 0;
      }
      std::uint32_t lo = 0;
      std::uint32_t hi = 0;
      const int r = PackCardFloat(v, &lo, &hi);
      if (r != 0) return r;
      if (v == 0) {
        emit_.Put(0x200013);  // CLR A
        emit_.Say(code_.size() - 1, "\tCLR\tA\t; A = %f", v);
      } else {
        emit_.Put(0x56F400);
        emit_.Put(hi);
        emit_.Put(0x50F400);
        emit_.Put(lo);
        emit_.Say(code_.size() - 4, "\tMOVE\t#>$%06lX,A\n\tMOVE\t#$%X,A0\t; A = %f",
                  static_cast<unsigned long>(hi), static_cast<unsigned>(lo), v);
      }
      st().packed = true;
      return 0;
    }
    default:
      return 0;
  }
}

int Generator::LoadX(std::uint32_t k, double value) {
  const std::uint32_t n = U32(value);
  if (st().pending_mark != 0) st().r4_cache = 0;
  switch (k) {
    case 36:
      LoadP(n, 0x420000, 'X');
      return 0;
    case 38:
      if (Servo() && c_.extended_firmware) {
        LoadQBase();
        MoveAtR4(n, 0x42E400);
      } else if (c_.extended_firmware) {
        QRoutineCall(n, 60);
      } else {
        const bool keep_r5 = !st().packed;
        if (!c_.spran || keep_r5) {
          emit_.Put(0x22B41B);  // CLR B R5,R4
          emit_.Say(code_.size() - 1, "\tCLR B R5,R4;\t\t CLR B & SAVE R5");
        }
        emit_.EmitQAddress(n, plc_);
        emit_.Put(0x42ED00);  // MOVE L:(R5+N5),X
        emit_.Remark(code_.size() - 1, "\t; X = Q%u", n);
        RestoreM5();
        if (keep_r5) {
          emit_.Put(0x229500);  // MOVE R4,R5
          emit_.Say(code_.size() - 1, "\tMOVE\tR4,R5\t\t; Restore R5");
        }
      }
      return 0;
    case 42:
    case 44:
    case 48:
    case 50:
    case 52:
      ReadVariable(k, n, true);
      return 0;
    case kTokConstant: {
      if (Int()) {
        if (!std::isfinite(value)) return -kErrPack;
        const std::uint32_t w = IntegerWord(value);
        emit_.Put(0x45F400);
        emit_.Put(w);
        emit_.Say(code_.size() - 2, "\tMOVE\t#>%u,X1", static_cast<unsigned>(w));
        return 0;
      }
      std::uint32_t lo = 0;
      std::uint32_t hi = 0;
      const int r = PackCardFloat(value, &lo, &hi);
      if (r != 0) return r;
      emit_.Put(0x45F400);
      emit_.Put(hi);
      emit_.Put(0x44F400);
      emit_.Put(lo);
      emit_.Say(code_.size() - 4, "\tMOVE\t#>$%06lX,X1\n\tMOVE\t#>$%X,X0\t; X = %f",
                static_cast<unsigned long>(hi), static_cast<unsigned>(lo), value);
      return 0;
    }
    default:
      return 0;
  }
}

void Generator::Opening(std::uint32_t code, double value) {
  if (a_loaded_) {
    PushA();
    Push(pending_op_, 0);
  }
  const std::uint32_t base = code & ~1u;
  const bool function = (base >= 64 && base <= 94) || base == 114;
  if (function && !FtoiOpen()) int_stmt_ = false;
  if (base == 110) {
    if (bracket_ == 0 && itof_ == 0) int_stmt_ = true;
    ftoi_ = -1;
    code_.AddNote("; **** Now inside a FTOI(");
  } else if (base == 112) {
    if (!FtoiOpen()) int_stmt_ = false;
    itof_ = -1;
    code_.AddNote("; **** Now inside a ITOF(");
  } else if (base == 96) {
    if (ftoi_ != 0) --ftoi_;
    if (itof_ != 0) --itof_;
  } else if (base == 102 || base == 104 || base == 106 || (base >= 116 && base <= 120)) {
    const bool open_before = bracket_ != 0;
    --bracket_;
    if (base == 102 && !open_before && itof_ == 0) int_stmt_ = true;
    if (base == 104 && !FtoiOpen()) int_stmt_ = false;
    if (base >= 116) int_stmt_ = true;
  }
  Push(code, U32(value));
  a_loaded_ = false;
  negate_pending_ = (code & 1) != 0;
}

void Generator::Compare(std::uint32_t c, bool true_jump, bool from_connective) {
  const bool integer = Int();
  if ((c & 1) != 0) {
    if (integer) {
      emit_.NegateA(true);
    } else {
      if (st().packed) emit_.CallRoutine(34, "unpack A");
      emit_.CallRoutine(31, "Negate data in A");
      st().packed = false;
    }
  }
  if (!integer) {
    if (!st().packed) emit_.CallRoutine(33);
    emit_.CallRoutine(34);  // the right operand in working form
    st().packed = false;
  }
  PopX();
  const std::uint32_t index = (c >> 1) & 7;
  if ((c & 6) == 6) {
    emit_.CallRoutine(17);  // X - A
    emit_.CallRoutine(7);   // |X - A|
    emit_.Put(0x254000);    // MOVE #$40,X1
    emit_.Put(0x44F400);    // MOVE #>$7FF,X0: 0.5
    emit_.Put(0x0007FF);
    emit_.Say(code_.size() - 3, "\tMOVE\t#$40,X1\t\t; .5 flt to X\n\tMOVE\t#>$7FF,X0");
    emit_.CallRoutine(32);
    const std::uint32_t b = (c >> 3) & 1;
    emit_.Put(true_jump ? kApproxTrueJump[b] : kApproxFalseJump[b]);
  } else if (integer) {
    emit_.Put(0x280000);  // MOVE #0,A0
    emit_.Put(0x200064);  // SUB X1,A
    emit_.Say(code_.size() - 2, "\tMOVE\t#0,A0\t\t; Pop Lnn NEG\n\tSUB\tX1,A");
    emit_.Put(true_jump ? kTrueJump[index] : kFalseJump[index]);
    if (from_connective) int_stmt_ = false;
  } else {
    emit_.CallRoutine(32);
    emit_.Put(true_jump ? kTrueJump[index] : kFalseJump[index]);
  }
  emit_.Remark(code_.size() - 1, "%s", true_jump ? "\t\t; JMP TRUE" : "\t\t; JMP FALSE");
  emit_.Put(true_jump ? kTrueExit : kFalseExit);
}

void Generator::Connective(std::uint32_t code) {
  while (depth_ > 3) Reduce();
  if (depth_ < 3) return;
  const std::uint32_t c = ops_[2];
  depth_ = 2;
  const bool is_or = (code & ~1u) == 168;
  if (c >= 176 && c <= 191) {
    Compare(c, is_or, true);
    if (is_or) {
      // The right side starts here; the left side's failed parts land on it.
      if (PatchBack(code_.size() - 2, kFalseExit, kBlockMark | kLineMark, Here(), false)) {
        OrFalsePath();
      }
    }
  }
  Push(code, 0);
  a_loaded_ = false;
  negate_pending_ = (code & 1) != 0;
}

void Generator::CallFunction(std::uint32_t c) {
  const std::uint32_t base = c & ~1u;
  const PlccTarget& t = c_.target;
  const std::uint32_t addressing = c_.spran ? t.code_start - 32 + static_cast<std::uint32_t>(plc_)
                                            : t.table_base + static_cast<std::uint32_t>(plc_);
  if (base == 114) {
    if (!st().packed) emit_.CallRoutine(33);
    emit_.EmitRoutineCall(0x4001D);
  } else {
    const int routine = static_cast<int>((c & 31) >> 1);
    if (routine <= 1) {
      st().r4_cache = 0;
      emit_.UnpackIfPacked();
      ServoCall(routine, Servo() && !c_.target.server_build ? "I/M(A)" : "Remaining Funcs(A)");
    } else if (routine == 3) {
      if (Servo()) {
        emit_.Put(0x617F00);  // MOVE R1,X:-(R7)
        emit_.Say(code_.size() - 1, "\tMOVE\t R1,X:-(R7)\t\t; Save R1");
        emit_.Put(0x69F000);  // MOVE Y:$2000,R1
        emit_.Put(0x002000);
        emit_.UnpackIfPacked();
        emit_.CallRoutine(3);
        emit_.Put(0x61DF00);  // MOVE X:(R7)+,R1
      } else {
        QBaseLines(addressing);
        emit_.Put(c_.spran ? 0x69E500 : 0x07ED91);
        if (!st().packed) {
          emit_.Put(0x229500);
        } else {
          emit_.CallRoutine(34);
        }
        st().packed = false;
        emit_.CallRoutine(3);
      }
    } else if (routine == 15) {
      if (Servo()) {
        LoadQBase();
        emit_.Put(0x42E400);  // MOVE L:(R4),X: Q0
        emit_.Remark(code_.size() - 1, "\t\t; Read Q0 t0 X");
        emit_.UnpackIfPacked();
      } else {
        QBaseLines(addressing);
        emit_.Put(c_.spran ? 0x6DE500 : 0x07ED95);
        emit_.Put(0x42E500);  // MOVE L:(R5),X
        emit_.Remark(code_.size() - 1, "\t\t; Read Q0 to X");
        if (!st().packed) {
          emit_.Put(0x229500);
        } else {
          emit_.CallRoutine(34);
        }
      }
      st().packed = false;
      emit_.CallRoutine(15, "Remaining Funcs(A)");
    } else {
      emit_.UnpackIfPacked();
      emit_.CallRoutine(routine, "Remaining Funcs(A)");
    }
  }
  st().packed = false;
  if (depth_ > 1 && IsHigh(Top())) {
    const std::uint32_t op = Top();
    --depth_;
    PopX();
    emit_.CallRoutine(kPoppedRoutine[op & 7], "Call Pop Operator");
  } else if (depth_ > 0 && NegatedAfterFunction(Top())) {
    emit_.CallRoutine(31);
    ClearTopMinus();
  }
}

int Generator::Reduce() {
  if (depth_ <= 1) return -1;
  const std::uint32_t c = ops_[depth_ - 1];
  const std::uint32_t value = vals_[depth_ - 1];
  --depth_;
  const bool integer = Int();
  if (IsBinary(c)) {
    PopX();
    if (!integer) emit_.UnpackIfPacked();
    ApplyOperator(c, true);
    return 0;
  }
  if (c >= 176 && c <= 191) {
    Compare(c, NextCode(cur_) == kTokOrLine, false);
    return 0;
  }
  if (c >= 648 && c <= 655) {
    const std::uint32_t target = prev_value_;
    if ((c & 1) != 0) emit_.NegateA(integer);
    const bool plain = c >= 654;
    const std::uint32_t op = 132 + ((c - 648) >> 1);
    if (integer) {
      if (!plain) {
        emit_.Put(0x48E709);  // TFR A,B L:(R7),A
        emit_.Put(0x497F00);  // MOVE B,L:-(R7)
        emit_.EmitLRead(static_cast<int>((target >> 8) & 8191), false);
        PopX("\tMOVE\tL:(R7)+,X\t\t; X = ExpRight");
        emit_.EmitIntOperator(op, true);
      }
      emit_.Put(0x48DF09);  // TFR A,B L:(R7)+,A
      emit_.Put(0x497F00);
      return 0;
    }
    if (!plain) {
      if (!st().packed) emit_.CallRoutine(33);
      emit_.Put(0x48E709);
      emit_.Put(0x497F00);
      emit_.CallRoutine(34, "UnPack A");
      emit_.CallRoutine(1, "A = M(ExpLeft)");  // the element
      PopX("\tMOVE\tL:(R7)+,X\t\t; X = ExpRight");
      emit_.CallRoutine(kPoppedRoutine[(c >> 1) & 7], "Call Pop Operator");
      st().packed = false;
    }
    if (!st().packed) emit_.CallRoutine(33);
    st().packed = true;
    emit_.Put(0x48DF09);
    emit_.Remark(code_.size() - 1, "\t\t; RghtExp->B, LeftExp->A");
    emit_.Put(0x497F00);
    emit_.Remark(code_.size() - 1, "\t\t; B->Stack");
    if ((target & 30) != 12) {
      // The index becomes a variable number 0-8191.
      emit_.CallRoutine(34);
      emit_.CallRoutine(44, "FTOL(Exp)");
      emit_.Put(0x210E00);  // MOVE A0,A
      emit_.Put(0x0140C6);
      emit_.Put(0x001FFF);
      emit_.Say(code_.size() - 2, "\tAND\t#8191,A\t\t; Force (Exp = 0-8191)");
      st().packed = false;
    }
    return 0;
  }
  if (!(c >= 64 && c <= 121)) return 0;
  const std::uint32_t base = c & 0x3FE;
  const bool function = (base >= 64 && base <= 94) || base == 114;
  if ((c & 1) != 0) {
    if (function) {
      emit_.UnpackIfPacked();
      emit_.CallRoutine(31);
    } else {
      if (!integer) emit_.UnpackIfPacked();
      if (FtoiOpen()) {
        emit_.CallRoutine(31);
      } else {
        emit_.NegateA(integer);
      }
    }
    st().packed = false;
  }
  if (function) {
    CallFunction(c);
    return 96;
  }
  int result = 96;
  switch (base) {
    case 102:
      emit_.EmitLRead(static_cast<int>(value & 8191), false);
      ++bracket_;
      result = 106;
      break;
    case 104:
      emit_.EmitFRead(static_cast<int>(value & 8191), false);
      ++bracket_;
      result = 106;
      break;
    case 106:
      ++bracket_;
      result = 106;
      break;
    case 116:
    case 118:
    case 120:
      emit_.EmitRingRead(-1, base, false);
      ++bracket_;
      result = 106;
      break;
    case 110:
      emit_.UnpackIfPacked();
      emit_.Put(0x0BF080);  // JSR FTOL
      emit_.Put(c_.routines.entry[44]);
      emit_.Put(0x0C1D30);  // ASL #24,A,A
      emit_.Say(code_.size() - 3, "\tJSR\t$%06lX\t\t; FTOL\n\tASL\t#24,A,A\t\t; Make 24 bit INT",
                static_cast<unsigned long>(c_.routines.entry[44]));
      st().r4_cache = 0;
      ftoi_ = 0;
      break;
    case 112:
      emit_.Put(0x0C1C30);  // ASR #24,A,A
      emit_.Put(0x0BF080);  // JSR LTOF
      emit_.Put(c_.routines.entry[49]);
      emit_.Say(code_.size() - 3,
                "\tASR\t#24,A,A\t\t; Make 24 bit INT to 48 bit\n\tJSR\t$%06lX\t\t; LTOF",
                static_cast<unsigned long>(c_.routines.entry[49]));
      st().r4_cache = 0;
      st().packed = false;
      itof_ = 0;
      break;
    case 96:
      if (ftoi_ != 0) ++ftoi_;
      if (itof_ != 0) ++itof_;
      break;
    default:
      break;
  }
  const bool now_int = Int();
  if (depth_ > 1 && IsHigh(Top())) {
    const std::uint32_t op = Top();
    --depth_;
    if (!now_int) emit_.UnpackIfPacked();
    PopX();
    ApplyOperator(op, true);
  } else if (depth_ > 0 && NegatedAfterOpening(Top())) {
    emit_.NegateA(now_int);
    ClearTopMinus();
  }
  return result;
}

bool Generator::PatchBack(std::size_t from, std::uint32_t placeholder, std::uint32_t stop_marks,
                          std::uint32_t target, bool clear_line_marks) {
  bool patched = false;
  std::size_t i = from;
  while (i-- > 0) {
    std::uint32_t& cell = code_[i];
    if (cell == placeholder) {
      cell = target;
      st().r4_cache = 0;
      patched = true;
      continue;
    }
    const bool stop = (cell & stop_marks) != 0;
    if (clear_line_marks) cell &= ~kLineMark;
    if (stop) {
      if (clear_line_marks) cell &= ~kBlockMark;
      break;
    }
  }
  return patched;
}

void Generator::Boundary(std::uint32_t code, double value) {
  while (depth_ > 1) Reduce();
  const bool was_assignment = (prev_ >= 256 && prev_ <= 287) || (prev_ >= 770 && prev_ <= 775);
  if (was_assignment && !has_value_) {
    // "P1=" with nothing after it: there is no value to store.
    error_ = -kErrFormat;
    return;
  }
  has_value_ = false;
  st().integer_context = Int();
  // The bottom entry is the open statement; a minus sign already applied
  // to its value has been cleared there.
  StatementEnd(ops_[0], prev_value_, code);
  depth_ = 1;
  ops_[0] = code;
  vals_[0] = U32(value);
  prev_ = code;
  prev_value_ = U32(value);
  a_loaded_ = false;
  pending_op_ = 0;
  ftoi_ = 0;
  itof_ = 0;
  bracket_ = 0;
  const bool assignment = (code >= 256 && code <= 287) || (code >= 770 && code <= 775);
  negate_pending_ = assignment && (code & 1) != 0;
  if (!assignment && code != kTokIf) st().r4_cache = 0;
  int_stmt_ = false;
  if (code == 266 || code == 267 || (code >= 272 && code <= 277) || (code >= 282 && code <= 287) ||
      code == 774 || code == 775) {
    int_stmt_ = true;
  } else if (code >= 770 && code <= 773) {
    const std::uint32_t kind = prev_value_ & 30;
    int_stmt_ = kind == 10 || kind == 16 || kind == 18 || kind == 20;
  }
}

void Generator::StatementEnd(std::uint32_t s, std::uint32_t v, std::uint32_t t) {
  const bool negated = (s & 1) != 0;
  const std::uint32_t base = s & ~1u;
  auto negate_first = [&] {
    if (negated) {
      emit_.UnpackIfPacked();
      emit_.CallRoutine(31);
      st().packed = false;
    }
  };
  if (base >= 256 && base <= 263) {
    negate_first();
    if (base == 256 || base == 258) {
      emit_.UnpackIfPacked();
      emit_.EmitLoadN4(v);
      char name[32];
      std::snprintf(name, sizeof name, "I/M%u = A", static_cast<unsigned>(v));
      ServoCall(base == 256 ? 29 : 30, name);
      return;
    }
    if (!st().packed) emit_.CallRoutine(33);
    st().packed = true;
    if (base == 260) {
      if (!c_.spran) {
        emit_.Put(0x487000);  // MOVE A,L:$1000+n
        emit_.Put(v + 0x1000);
        emit_.Remark(code_.size() - 2, "\t; P%u = A", v);
        return;
      }
      LoadPBase();
      MoveAtR4(v, 0x486400);
      emit_.Remark(code_.size() - 1, "\t; P%u = A", v);
      return;
    }
    // Q
    if (!c_.extended_firmware) {
      if (!c_.spran) emit_.Put(0x20001B);  // CLR B
      emit_.EmitQAddress(v, plc_);
      emit_.Put(0x486D00);  // MOVE A,L:(R5+N5)
      emit_.Remark(code_.size() - 1, "\t; Q%u = A", v);
      RestoreM5();
    } else if (!Servo()) {
      QRoutineCall(v, 61);
    } else {
      LoadQBase();
      MoveAtR4(v, 0x486400);
      emit_.Remark(code_.size() - 1, "\t; Q%u = A", v);
    }
    return;
  }
  switch (base) {
    case 266:
      if (negated) emit_.NegateA(true);
      if (v == 8192) {
        emit_.EmitRoutineCall(12);  // CHN_WRITE
      } else {
        emit_.EmitLWrite(static_cast<int>(v & 8191));
      }
      return;
    case 268:
      negate_first();
      emit_.EmitFWrite(static_cast<int>(v & 8191));
      return;
    case 270:
    case 278:
    case 280:
      negate_first();
      st().integer_context = false;
      emit_.EmitPushA();
      emit_.EmitLoadN4(v);
      char read[32];
      char write[32];
      std::snprintf(read, sizeof read, c_.target.server_build ? "Read Mnn" : "A=I/M%u",
                    static_cast<unsigned>(v));
      std::snprintf(write, sizeof write, c_.target.server_build ? "M%u = A" : "I/M%u = A",
                    static_cast<unsigned>(v));
      ServoCall(28, read);
      PopX("\tMOVE\tL:(R7)+,X\t\t; X = ExpRight");
      emit_.CallRoutine(base == 270 ? 20 : base == 278 ? 21 : 22, "Call Pop Operator");
      emit_.EmitLoadN4(v);
      ServoCall(30, write);
      st().r4_cache = 0;
      st().packed = false;
      return;
    case 272:
    case 274:
    case 276:
      if (negated) emit_.NegateA(true);
      if (base == 272) {
        st().r4_cache = 0;
        emit_.Put(0x57F400);  // MOVE #v,B
        emit_.Put(v);
        emit_.EmitRoutineCall(10);
      } else if (base == 274) {
        st().r4_cache = 0;
        emit_.EmitLoadN4(v);
        emit_.EmitRoutineCall(11);
      } else {
        emit_.LoadR4(0x64F400, 0x000400, true, 0x400);
        if (v == 0) {
          emit_.Put(0x546400);
        } else {
          emit_.EmitLoadN4(v);
          emit_.Put(0x546C00);
        }
      }
      return;
    case 282:
    case 284:
    case 286:
      if (negated) emit_.NegateA(true);
      emit_.EmitLRead(static_cast<int>(v & 8191), true);
      emit_.EmitIntOperator(base == 282 ? 132 : base == 284 ? 133 : 134, true);
      emit_.EmitLWrite(static_cast<int>(v & 8191));
      return;
    case kTokIf:
    case kTokWhile:
    case kTokAndLine:
    case kTokOrLine:
      if (t == kTokAndLine || t == kTokOrLine) return;
      // The true path starts here.
      PatchBack(code_.size(), kTrueExit, kBlockMark, Here(), false);
      st().r4_cache = 0;
      AddBlockLabel("L%dTHEN\t\t; Conditional EXP TRUE path", false);
      return;
    case 770:
      IndexedStore(v);
      return;
    case 772:
      if ((v & 30) == 10) {
        emit_.EmitLWrite(static_cast<int>((v >> 8) & 8191));
      } else {
        emit_.Put(0x219C00);  // MOVE A1,N4
        emit_.Put(0x48DF00);  // MOVE L:(R7)+,A
        emit_.Remark(code_.size() - 1, "\t; Pop A off Stack");
        emit_.CallRoutine(34);
        ServoCall(30, c_.target.server_build ? "M(Exp) = A " : "M(Exp) = A");
      }
      st().r4_cache = 0;
      return;
    case 774: {
      const std::size_t from = code_.size();
      if (negated) emit_.Put(0x200036);  // NEG A
      emit_.Put(0x0AF080);
      emit_.Put(kServoReturn);
      emit_.Say(from, "%s", negated ? "\tNEG\tA\n\tJMP\tSERVORTN" : "\tJMP\tSERVORTN");
      return;
    }
    default:
      return;
  }
}

void Generator::IndexedStore(std::uint32_t v) {
  const PlccTarget& t = c_.target;
  switch (v & 30) {
    case 0:
    case 2:
      emit_.Put(0x219C00);
      emit_.Put(0x48DF00);
      emit_.Remark(code_.size() - 1, "\t; Pop A off Stack");
      emit_.CallRoutine(34);
      if ((v & 30) == 0) {
        ServoCall(29, c_.target.server_build ? "I/M(Exp) = A " : "I/M(Exp) = A");
      } else {
        ServoCall(30, c_.target.server_build ? "M(Exp) = A " : "M(Exp) = A");
      }
      break;
    case 4:
      emit_.Put(0x219C00);
      LoadPBase();
      emit_.Put(0x48DF00);
      emit_.Remark(code_.size() - 1, "\t; Pop A off Stack");
      emit_.Put(0x486C00);
      emit_.Remark(code_.size() - 1, "\t; P(Exp) = A");
      break;
    case 6:
      if (!Servo()) {
        emit_.Put(0x219D00);  // MOVE A1,N5
        const std::uint32_t word = t.code_start - 32 + static_cast<std::uint32_t>(plc_);
        emit_.Put(0x07F08F);
        emit_.Put(word);
        emit_.Say(code_.size() - 2, "\tMOVE\tP:$%06lX,B", static_cast<unsigned long>(word));
        emit_.CallRoutine(36);
        emit_.Put(0x6DE500);
        emit_.Put(0x05F425);
        emit_.Put(0x001FFF);
        emit_.Say(code_.size() - 2, "\tMOVE\t#$1FFF,M5\t; M5 = modulo 8191");
        emit_.Put(0x48DF00);
        emit_.Remark(code_.size() - 1, "\t; Pop A off Stack");
        emit_.Put(0x486D00);
        emit_.Remark(code_.size() - 1, "\t; Q(Exp) = A");
        RestoreM5();
      } else {
        emit_.Put(0x219C00);
        LoadQBase();
        emit_.Put(0x48DF00);
        emit_.Remark(code_.size() - 1, "\t; Pop A off Stack");
        emit_.Put(0x486C00);
        emit_.Remark(code_.size() - 1, "\t; Q(Exp) = A");
      }
      break;
    case 10:
      emit_.EmitLWrite(static_cast<int>((v >> 8) & 8191));
      break;
    case 12:
      st().packed = true;  // the value was pushed packed
      emit_.EmitFWrite(static_cast<int>((v >> 8) & 8191));
      break;
    case 16:
      emit_.Put(0x218F00);
      emit_.Put(0x48DF00);
      emit_.EmitRoutineCall(10);
      st().r4_cache = 0;
      break;
    case 18:
      emit_.Put(0x0140C6);
      emit_.Put(0x0001FF);
      emit_.Put(0x219C00);
      emit_.Put(0x48DF00);
      emit_.EmitRoutineCall(11);
      st().r4_cache = 0;
      break;
    case 20:
      emit_.LoadR4(0x64F400, 0x000400, true, 0x400);
      emit_.Put(0x0140C6);
      emit_.Put(0x0001FF);
      emit_.Put(0x219C00);
      emit_.Put(0x48DF00);
      emit_.Put(0x546C00);
      break;
    default:
      break;
  }
}

void Generator::EndBlock(std::uint32_t code) {
  depth_ = 1;
  ops_[0] = code;
  int_stmt_ = false;
  ftoi_ = itof_ = bracket_ = 0;
  st().r4_cache = 0;
}

void Generator::EndWhile() {
  // The loop's first condition word carries the block mark.
  std::size_t mark = code_.size();
  while (mark-- > 0) {
    if ((code_[mark] & kBlockMark) != 0) break;
  }
  const std::uint32_t start = address_ + static_cast<std::uint32_t>(mark);
  const std::uint32_t length = kind_ == BlockKind::kPlcc ? 13 : kind_ == BlockKind::kServo ? 2 : 5;
  PatchBack(code_.size(), kFalseExit, kBlockMark, Here() + length, true);
  const std::uint32_t n = static_cast<std::uint32_t>(plc_);
  const PlccTarget& t = c_.target;
  switch (kind_) {
    case BlockKind::kPlcc: {
      const std::uint32_t slot = t.slot_table + 2 * n + 1;
      const std::uint32_t next = Next();
      const std::size_t from = code_.size();
      emit_.Put(0x07F084);  // MOVEM P:slot target,X0
      emit_.Put(slot);
      emit_.Put(0x56F400);
      emit_.Put(next);
      emit_.Put(0x200044);  // SUB X0,A
      emit_.Put(0x0AF0AA);  // JEQ next: disabled meanwhile
      emit_.Put(next);
      emit_.Put(0x64F400);  // MOVE #>loop start,R4
      emit_.Put(start);
      emit_.Put(0x077094);  // MOVEM R4,P:slot target
      emit_.Put(slot);
      if (plc_ > 0) {
        emit_.Put(0x0AF080);
        emit_.Put(next);
      } else {
        emit_.Put(0x00000C);
        emit_.Put(0x000000);
      }
      // Listed as placed, at every loop's end; the first of the PLC carries
      // the PLC's EndWhile label.
      if (!code_.listing()) break;
      std::string label;
      if (!endw_listed_) {
        endw_listed_ = true;
        label = code_.UniqueLabel("PLCC" + std::to_string(plc_) + "EndW") + "\t\t; PLCC" +
                std::to_string(plc_) + " ENDWhile Code\n";
      }
      char last[64];
      if (plc_ > 0) {
        std::snprintf(last, sizeof last, "\tJMP\t$%06lX\t\t; GOTO next PLC",
                      static_cast<unsigned long>(next));
      } else {
        std::snprintf(last, sizeof last, "\tRTS\t\t; END PLC 0\n\tNOP");
      }
      emit_.Say(from,
                "%s"
                "\tMOVE\tP:$%06lX,X0\t;*** EndWhile CODE ***\n"
                "\tMOVE\t#$%06lX,A\n"
                "\tSUB\tX0,A\n"
                "\tJEQ\t$%06lX\t\t; PLCC DISABLED RET\n"
                "\tMOVE\t#L%d,R4\t\t; WHILE%d\n"
                "\tMOVE\tR4,P:$%06lX\t\t; Restart While\n"
                "%s",
                label.c_str(), static_cast<unsigned long>(slot), static_cast<unsigned long>(next),
                static_cast<unsigned long>(next), label_.label, label_.label,
                static_cast<unsigned long>(slot), last);
      break;
    }
    case BlockKind::kServo: {
      const std::uint32_t bra = Here();
      emit_.Put(0x0D10C0);  // BRA back to the loop start
      emit_.Put((start - bra) & 0xFFFFFF);
      emit_.Say(code_.size() - 2, "\tJMP\tL%d\t\t; Back to WHILE%d", label_.label, label_.label);
      break;
    }
    case BlockKind::kVarPlcc:
      emit_.Put(0x64F400);
      emit_.Put(start);
      emit_.Put(0x077094);
      emit_.Put(kVarPlccRestart);
      emit_.Put(0x00000C);
      emit_.Say(code_.size() - 5,
                "\tMOVE\t#L%d,R4\t\t; WHILE%d\n\tMOVE\tR4,P:$%06lX\t\t; Restart While\n"
                "\tRTS\t\t; EndWh RTN from PLCC",
                label_.label, label_.label, static_cast<unsigned long>(kVarPlccRestart));
      break;
  }
}

void Generator::BlockExit(bool close) {
  const std::size_t from = code_.size();
  switch (kind_) {
    case BlockKind::kPlcc:
      emit_.EmitPlccReturnCode(plc_);
      break;
    case BlockKind::kServo:
      emit_.Put(0x200013);  // CLR A
      emit_.Put(0x0AF080);  // JMP SERVORTN
      emit_.Put(kServoReturn);
      emit_.Say(from, "%s",
                close ? "\tCLR\tA\n\tJMP\tSERVORTN\n\tEND\t\t; End of Open Servo code"
                      : "\tJMP\tSERVORTN");
      break;
    case BlockKind::kVarPlcc:
      emit_.Put(0x64F400);  // MOVE #>$4004,R4
      emit_.Put(kVarPlccStart);
      emit_.Put(0x077094);  // MOVEM R4,P:$4002: restart at the start
      emit_.Put(kVarPlccRestart);
      emit_.Put(0x00000C);  // RTS
      emit_.Say(from,
                "\tMOVE\t#$%06lX,R4\t\t; PC to $%06lX\n\tMOVE\tR4,P:$%06lX\t\t; %s\n"
                "\tRTS\t\t; %s",
                static_cast<unsigned long>(kVarPlccStart),
                static_cast<unsigned long>(kVarPlccStart),
                static_cast<unsigned long>(kVarPlccRestart),
                close ? "Restart at PLCC Start" : "Restart While",
                close ? "CLOSE RTN from PLCC" : "EndWh RTN from PLCC");
      break;
  }
}

void Generator::CommandText(std::uint32_t offset, bool control) {
  const PlccTarget& t = c_.target;
  const std::uint32_t n = static_cast<std::uint32_t>(plc_);
  const std::uint32_t next = Next();
  const bool zero = plc_ == 0;
  // The resume point is the slot test: the PLC waits for a free slot.
  emit_.Put(0x64F400);
  emit_.Put(Here() + 3);
  emit_.Put(0x077094);
  emit_.Put(t.slot_table + 2 * n + 1);
  st().r4_cache = 0;
  std::size_t text_cell = 0;
  if (!c_.spran) {
    emit_.Put(0x5EF000);  // MOVE Y:command slot,A
    emit_.Put(zero ? 0x75A : 0x75B);
    emit_.Put(0x45F403);  // TST A #>text,X1
    text_cell = code_.size();
    emit_.Put(0);
    if (!zero) {
      emit_.Put(0x0AF0A2);  // JNE next
      emit_.Put(next);
    } else {
      emit_.Put(0x0AF0AA);  // JEQ over the RTS
      emit_.Put(Here() + 2);
      emit_.Put(0x00000C);
    }
    emit_.Put(0x22B41B);  // CLR B R5,R4
    emit_.Put(0x07F08D);  // MOVEM P:entry word,B1
    emit_.Put(t.table_base + n);
    emit_.Put(0x24FF60);  // ADD X1,A #$FF,X0
    emit_.Put(0x20004E);  // AND X0,B
    emit_.Put(0x200010);  // ADD B,A
    emit_.Put(0x5C7000);  // MOVE A1,Y:command slot
    emit_.Put(zero ? 0x75A : 0x75B);
  } else {
    emit_.Put(zero ? 0x5EB100 : 0x56B100);  // MOVE Y:/X:$31,A
    emit_.Put(0x61F403);                    // TST A #>text,R1
    text_cell = code_.size();
    emit_.Put(0);
    if (!zero) {
      emit_.Put(0x0AF0A2);
      emit_.Put(next);
    } else {
      emit_.Put(0x05A402);  // BEQ *+2
      emit_.Put(0x00000C);
    }
    const std::uint32_t buffer = zero ? 0x1900 : 0x1A00;
    const std::uint32_t cells = zero ? c_.routines.entry[43] : c_.routines.entry[43] + 1;
    const bool newer = !control && CompareFirmware5(t.firmware.c_str(), "1.935") >= 0;
    if (newer) {
      emit_.Put(0x07D98E);  // MOVEM P:(R1)+,A
      emit_.Put(0x07F08F);
      emit_.Put(t.code_start - 32 + n);
      emit_.Put(0x0C1EC9);  // LSR #4,B
      emit_.Put(0x64F400);
      emit_.Put(buffer);
      emit_.Put(0x200010);
      emit_.Put(zero ? 0x5C3100 : 0x543100);
    } else {
      emit_.Put(0x07D98E);
      emit_.Put(zero ? 0x5C3100 : 0x543100);
      emit_.Put(0x07F08E);
      emit_.Put(t.code_start - 32 + n);
      emit_.Put(0x0C1ED8);  // LSR #12,A
      emit_.Put(0x64F400);
      emit_.Put(buffer);
      emit_.Put(0x547000);
      emit_.Put(cells & 0xFFFFFF);
    }
    emit_.Put(0x07D98E);
    if (control) {
      emit_.Put(0x565C00);                    // MOVE A,X:(R4)+
      emit_.Put(zero ? 0x6C3200 : 0x643200);  // MOVE R4,X:/Y:$32
      emit_.Put(0x050C03);                    // BRA *+3
      code_[text_cell] = Here();
      emit_.EmitPoolWords(offset, 1);
      return;
    }
    emit_.Put(0x0BF080);
    emit_.Put(c_.routines.entry[zero ? 42 : 41]);
  }
  emit_.Put(0x0AF080);  // JMP over the text
  const std::size_t jump_cell = code_.size();
  emit_.Put(0);
  if (text_cell < code_.size()) code_[text_cell] = Here();
  emit_.EmitPoolWords(offset, 1);
  if (jump_cell < code_.size()) code_[jump_cell] = Here();
}

void Generator::Address(std::uint32_t v) {
  const PlccTarget& t = c_.target;
  const std::uint32_t n = static_cast<std::uint32_t>(plc_);
  const std::uint32_t m = v & 0xFF;
  const std::uint32_t cs = (v >> 8) & 0xFF;
  const std::uint32_t pn = v >> 16;
  const std::uint32_t word = t.code_start - 32 + n;
  if (!c_.spran) {
    emit_.Put(0x07F084);  // MOVEM P:entry word,X0
    emit_.Put(t.table_base + n);
    emit_.Put(0x2E0000 + (m != 0 ? 0x0700 : 0) + (cs != 0 ? 0x3800 : 0));
    std::uint32_t f = 0x8000;
    if (m != 0) f += (m - 1) << 8;
    if (cs != 0) f += (cs - 1) << 11;
    emit_.Put(0x250017 + (f & 0xFFFF));  // NOT A #f,X1
    emit_.Put(0x200046);                 // AND X0,A
    emit_.Put(0x200062);                 // OR X1,A
    emit_.Put(0x07708C);
    emit_.Put(t.table_base + n);
    return;
  }
  if (m == 128 || cs == 128) {
    emit_.Put(0x45F400);  // MOVE #>n,X1
    emit_.Put(pn & 0xFFFFFF);
    emit_.Put(0x0BF080);
    emit_.Put(c_.routines.entry[58]);
    if (m == 128) {
      emit_.Put(0x0C1C8B);  // ASR #5,B,B
      emit_.Put(0x212461);  // TFR X1,A B0,X0
    } else {
      emit_.Put(0x212400);  // MOVE B0,X0
    }
    emit_.Put(0x21CF17);  // NOT A A,B
    emit_.Put(0x20004E);  // AND X0,B
    emit_.Put(0x07F085);
    emit_.Put(word);
    emit_.Put(0x200066);  // AND X1,A
    emit_.Put(0x200010);  // ADD B,A
    emit_.Put(0x07708C);
    emit_.Put(word);
    st().r4_cache = 0;
    return;
  }
  std::uint32_t mask = 0;
  std::uint32_t fields = 0;
  if (m != 0) {
    mask += 0x1F000;
    fields += (m - 1) << 12;
  }
  if (cs != 0) {
    mask += 0x3E0000;
    fields += (cs - 1) << 17;
  }
  emit_.Put(0x07F08E);
  emit_.Put(word);
  emit_.Put(0x0140C6);
  emit_.Put(~mask & 0xFFFFFF);
  emit_.Put(0x0140C2);
  emit_.Put(fields & 0xFFFFFF);
  emit_.Put(0x07708C);
  emit_.Put(word);
}

void Generator::DisplayText(std::uint32_t v) {
  const std::uint32_t buffer = c_.spran ? 0x1080 : 0x780;
  emit_.Put(0x65F400);  // MOVE #>position,R5
  emit_.Put(buffer + (v >> 16));
  emit_.Put(0x61F400);  // MOVE #>text,R1
  const std::size_t text_cell = code_.size();
  emit_.Put(0);
  emit_.Put(0x0BF080);
  emit_.Put(c_.routines.entry[37]);
  emit_.Put(0x0AF080);
  const std::size_t jump_cell = code_.size();
  emit_.Put(0);
  if (text_cell < code_.size()) code_[text_cell] = Here();
  emit_.EmitPoolWords(v & 0xFFFF, 0);
  if (jump_cell < code_.size()) code_[jump_cell] = Here();
  st().r4_cache = 0;
}

void Generator::DisplayVariable(std::uint32_t v) {
  const PlccTarget& t = c_.target;
  const std::uint32_t type = v & 3;
  const std::uint32_t num = (v & 0xFFFF) >> 2;
  const std::uint32_t position = (v >> 16) & 0xFF;
  const std::uint32_t decimals = (v >> 24) & 0xF;
  const std::uint32_t rest = (v >> 28) & 0xF;
  if (type <= 1) {
    emit_.EmitLoadN4(num);
    emit_.CallRoutine(type == 0 ? 27 : 28);
  } else {
    if (type == 2) {
      if (c_.spran) {
        emit_.Put(0x65A400);  // MOVE X:$24,R5
        if (num < 256) {
          emit_.Put(0x3D0000 + (num << 8));
        } else {
          emit_.Put(0x75F400);
          emit_.Put(num);
        }
        emit_.Put(0x48ED00);
      } else {
        emit_.Put(0x48F000);
        emit_.Put(num + 0x1000);
      }
    } else if (c_.extended_firmware) {
      emit_.Put(0x07F08F);
      emit_.Put(t.code_start - 32 + static_cast<std::uint32_t>(plc_));
      emit_.EmitLoadN4(num);
      emit_.CallRoutine(59);
    } else {
      if (!c_.spran) emit_.Put(0x20001B);
      emit_.EmitQAddress(num, plc_);
      emit_.Put(0x48ED00);
      emit_.Put(0x0465A4);
    }
    emit_.CallRoutine(34);
  }
  emit_.Put(0x61F400);  // MOVE #>position,R1
  emit_.Put((c_.spran ? 0x1080 : 0x780) + position);
  emit_.Put(0x054FA1);  // MOVEC #$4F,M1
  emit_.Put(0x64F400);  // MOVE #>format,R4
  emit_.Put((c_.spran ? 0x10DE : 0x7DE) + decimals);
  emit_.Put(0x3C0000 + (rest << 8));  // MOVE #rest,N4
  emit_.CallRoutine(38);
  emit_.Put(0x0461A0);  // MOVEC M0,M1
  st().r4_cache = 0;
}

}  // namespace

int GeneratePlccCode(PlccCompilation& c, BlockKind kind, const PlccToken* tokens, std::size_t count,
                     std::uint32_t address, PlccCodeBuffer& code, PlccEntryTable& table) {
  Generator g(c, kind, tokens, count, address, code, table);
  return g.Run();
}

}  // namespace zimo::corvan::plcc
