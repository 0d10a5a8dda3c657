#include "plcc/plcc_listing.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace zimo::corvan::plcc {

namespace {

const char* const kRegister[32] = {"?",  "?",  "?",  "?",  "X0", "X1", "Y0", "Y1", "A0", "B0", "A2",
                                   "B2", "A1", "B1", "A",  "B",  "R0", "R1", "R2", "R3", "R4", "R5",
                                   "R6", "R7", "N0", "N1", "N2", "N3", "N4", "N5", "N6", "N7"};
const char* const kLongRegister[8] = {"A10", "B10", "X", "Y", "A", "B", "AB", "BA"};
const char* const kCondition[16] = {"CC", "GE", "NE", "PL", "NN", "EC", "LC", "GT",
                                    "CS", "LT", "EQ", "MI", "NR", "ES", "LS", "LE"};

struct Fixed {
  std::uint32_t word;
  const char* text;
};

// Instructions without a parallel move that take no operand word.
constexpr Fixed kFixed[] = {
    {0x000000, "NOP"},
    {0x00000C, "RTS"},
    {0x0003F8, "ORI\t#3,MR"},
    {0x0446B9, "MOVEC\tSR,Y0"},
    {0x04C6B9, "MOVEC\tY0,SR"},
    {0x0461A0, "MOVEC\tM0,M1"},
    {0x0465A4, "MOVEC\tM4,M5"},
    {0x054FA1, "MOVEC\t#$4F,M1"},
    {0x050C03, "BRA\t*+3"},
    {0x05A402, "BEQ\t*+2"},
    {0x0C1C30, "ASR\t#24,A,A"},
    {0x0C1C8B, "ASR\t#5,B,B"},
    {0x0C1D2E, "ASL\t#23,A,A"},
    {0x0C1D30, "ASL\t#24,A,A"},
    {0x0C1EC9, "LSR\t#4,B"},
    {0x0C1ED8, "LSR\t#12,A"},
    {0x01DD15, "NORM\tR5,A"},
    {0x07D98E, "MOVEM\tP:(R1)+,A"},
};

// Data-ALU operations of a parallel-move instruction, by its low byte.
constexpr Fixed kAlu[] = {
    {0x03, "TST\tA"},    {0x09, "TFR\tA,B"},     {0x10, "ADD\tB,A"},     {0x13, "CLR\tA"},
    {0x14, "SUB\tB,A"},  {0x17, "NOT\tA"},       {0x1B, "CLR\tB"},       {0x1F, "NOT\tB"},
    {0x22, "ASR\tA"},    {0x26, "ABS\tA"},       {0x36, "NEG\tA"},       {0x41, "TFR\tX0,A"},
    {0x44, "SUB\tX0,A"}, {0x46, "AND\tX0,A"},    {0x4E, "AND\tX0,B"},    {0x5C, "SUB\tY0,B"},
    {0x60, "ADD\tX1,A"}, {0x61, "TFR\tX1,A"},    {0x62, "OR\tX1,A"},     {0x63, "EOR\tX1,A"},
    {0x64, "SUB\tX1,A"}, {0x66, "AND\tX1,A"},    {0x70, "ADD\tY1,A"},    {0x76, "AND\tY1,A"},
    {0x7E, "AND\tY1,B"}, {0xC0, "MPY\tX0,Y1,A"}, {0xC8, "MPY\tX0,Y1,B"}, {0xF0, "MPY\tX1,Y1,A"},
};

const char* Find(const Fixed* table, std::size_t n, std::uint32_t word) {
  for (std::size_t i = 0; i < n; ++i) {
    if (table[i].word == word) return table[i].text;
  }
  return nullptr;
}

// The data-ALU part of a parallel-move word; false for an operation the
// lister does not know.
bool AluText(std::uint32_t b, std::string* text) {
  text->clear();
  if (b == 0) return true;
  if (const char* f = Find(kAlu, sizeof kAlu / sizeof kAlu[0], b)) {
    *text = f;
    return true;
  }
  if ((b & 0x80) != 0) {  // multiplications: 1 QQQ d kkk
    static const char* const kPair[8] = {"X0,X0", "Y0,Y0", "X1,X0", "Y1,Y0",
                                         "X0,Y1", "Y0,X0", "X1,Y0", "Y1,X1"};
    static const char* const kMultiply[4] = {"MPY", "MPYR", "MAC", "MACR"};
    *text = std::string(kMultiply[b & 3]) + "\t" + ((b & 4) != 0 ? "-" : "") + kPair[(b >> 4) & 7] +
            ((b & 8) != 0 ? ",B" : ",A");
    return true;
  }
  // Two-operand operations with a source register: 0 JJJ d ooo.
  static const char* const kSource[8] = {nullptr, nullptr, "X", "Y", "X0", "Y0", "X1", "Y1"};
  static const char* const kOperation[8] = {"ADD", "TFR", "OR", "EOR", "SUB", "CMP", "AND", "CMPM"};
  const std::uint32_t source = (b >> 4) & 7;
  const std::uint32_t op = b & 7;
  if ((b & 0x80) != 0 || source < 2) return false;
  if (source < 4 && op != 0 && op != 4) return false;
  *text = std::string(kOperation[op]) + "\t" + kSource[source] + ((b & 8) != 0 ? ",B" : ",A");
  return true;
}

std::string Hex6(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "$%06lX", static_cast<unsigned long>(v & 0xFFFFFF));
  return text;
}

// The register-indirect addressing modes by their 3-bit number, formatted
// with the register number (twice); mode 6 is the absolute or immediate one.
constexpr const char* kRegisterModes[8] = {"(R%u)-N%u", "(R%u)+N%u", "(R%u)-", "(R%u)+",
                                           "(R%u)",     "(R%u+N%u)", nullptr,  "-(R%u)"};

// Effective address of a memory move; needs_ext tells that the operand
// word follows.
std::string Address(std::uint32_t mode, std::uint32_t ext, bool* needs_ext) {
  const unsigned r = mode & 7;
  *needs_ext = false;
  const char* format = kRegisterModes[(mode >> 3) & 7];
  if (format == nullptr) {
    if (r == 0 || r == 4) {
      *needs_ext = true;
      return (r == 4 ? "#>" : "") + Hex6(ext);
    }
    return "";
  }
  char text[24];
  std::snprintf(text, sizeof text, format, r, r);
  return text;
}

// The parallel-move part of a word (bits 8-23), or "" when it moves
// nothing; false when the form is not one the compiler produces.
bool ParallelMove(std::uint32_t w, std::uint32_t ext, std::string* move, std::size_t* length) {
  *length = 1;
  move->clear();
  const std::uint32_t field = w >> 8;
  if (field == 0x2000) return true;
  if ((w & 0xFFE000) == 0x204000) {  // address register update
    const unsigned r = (w >> 8) & 7;
    char text[16];
    std::snprintf(text, sizeof text, kRegisterModes[(w >> 11) & 3], r, r);
    *move = text;
    return true;
  }
  if ((w >> 18) == 0x08) {  // register to register
    const std::uint32_t src = (w >> 13) & 0x1F;
    const std::uint32_t dst = (w >> 8) & 0x1F;
    if (src < 4 || dst < 4) return false;
    *move = std::string(kRegister[src]) + "," + kRegister[dst];
    return true;
  }
  if ((w >> 21) == 1) {  // short immediate
    const std::uint32_t dst = (w >> 16) & 0x1F;
    if (dst < 4) return false;
    char text[24];
    std::snprintf(text, sizeof text, "#$%X,%s", static_cast<unsigned>((w >> 8) & 0xFF),
                  kRegister[dst]);
    *move = text;
    return true;
  }
  if ((w >> 22) != 1) return false;
  const bool read = (w & 0x8000) != 0;
  std::string memory;
  std::string reg;
  if (((w >> 16) & 0xF4) == 0x40) {
    reg = kLongRegister[((w >> 17) & 4) | ((w >> 16) & 3)];
    memory = "L:";
  } else {
    const std::uint32_t r = (((w >> 20) & 3) << 3) | ((w >> 16) & 7);
    if (r < 4) return false;
    reg = kRegister[r];
    memory = (w & 0x80000) != 0 ? "Y:" : "X:";
  }
  if ((w & 0x4000) == 0) {
    char text[16];
    std::snprintf(text, sizeof text, "$%X", static_cast<unsigned>((w >> 8) & 0x3F));
    memory += text;
  } else {
    bool needs_ext = false;
    const std::string ea = Address((w >> 8) & 0x3F, ext, &needs_ext);
    if (ea.empty()) return false;
    if (needs_ext) *length = 2;
    if (ea[0] == '#') {
      if (!read) return false;
      *move = ea + "," + reg;
      return true;
    }
    memory += ea;
  }
  *move = read ? memory + "," + reg : reg + "," + memory;
  return true;
}

class Lister {
 public:
  Lister(const PlccCodeBuffer& code, std::uint32_t origin, std::vector<std::string>& lines)
      : code_(code), origin_(origin), lines_(lines) {}

  void Run() {
    notes_ = code_.notes();
    // Per cell: lines placed before it first, then the widest text standing
    // for its words (narrower texts inside it are not printed).
    std::stable_sort(notes_.begin(), notes_.end(), [](const Note& a, const Note& b) {
      if (a.cell != b.cell) return a.cell < b.cell;
      const bool a_ranged = a.end > a.cell;
      const bool b_ranged = b.end > b.cell;
      if (a_ranged != b_ranged) return !a_ranged;
      return a.end > b.end;
    });
    // Of several texts for the same words the last one given holds.
    std::vector<Note> kept;
    for (std::size_t k = 0; k < notes_.size(); ++k) {
      const Note& n = notes_[k];
      const bool ranged = n.end > n.cell;
      if (ranged && k + 1 < notes_.size() && notes_[k + 1].cell == n.cell &&
          notes_[k + 1].end == n.end) {
        continue;
      }
      kept.push_back(n);
    }
    notes_.swap(kept);
    for (const auto& r : code_.remarks()) remarks_[r.first] = r.second;
    for (const Note& n : notes_) {
      if (n.end > n.cell && hidden_.count(n.cell) == 0) hidden_[n.cell] = n.end;
    }
    // The jump targets inside the block get labels.
    for (std::size_t i = 0; i < code_.size();) {
      const auto hidden = hidden_.find(i);
      if (hidden != hidden_.end()) {
        i = hidden->second;
        continue;
      }
      std::uint32_t target = 0;
      const std::size_t length = Decode(i, nullptr, &target);
      if (target != 0 && Inside(target)) labels_.insert(target);
      i += length;
    }
    for (const Note& n : notes_) {
      const std::uint32_t a = origin_ + static_cast<std::uint32_t>(n.cell);
      if (!n.label.empty() && named_.count(a) == 0) named_[a] = n.label;
    }
    std::size_t next_note = 0;
    std::size_t range_from = 0;
    std::size_t range_end = 0;
    const std::vector<Note>& notes = notes_;
    for (std::size_t i = 0; i < code_.size();) {
      Label(i);
      bool skipped = false;
      while (next_note < notes.size() && notes[next_note].cell <= i) {
        const Note& n = notes[next_note++];
        if (n.cell >= range_from && n.cell < range_end) continue;  // inside a text shown
        AddLines(n.text);
        if (n.end > i) {
          range_from = n.cell;
          range_end = n.end;
          i = n.end;
          skipped = true;
        }
      }
      if (skipped) continue;
      std::string text;
      std::uint32_t target = 0;
      const std::size_t length = Decode(i, &text, &target);
      const auto remark = remarks_.find(i);
      if (remark != remarks_.end()) text += remark->second;
      lines_.push_back("\t" + text);
      i += length;
    }
    Label(code_.size());
    while (next_note < notes.size()) {
      const Note& n = notes[next_note++];
      if (n.cell >= range_from && n.cell < range_end) continue;
      AddLines(n.text);
    }
  }

 private:
  using Note = PlccCodeBuffer::Note;

  void AddLines(const std::string& text) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines_.push_back(text.substr(start, end - start));
    }
    lines_.push_back(text.substr(start));
  }

  bool Inside(std::uint32_t a) const {
    return a >= origin_ && a <= origin_ + static_cast<std::uint32_t>(code_.size());
  }
  void Label(std::size_t i) {
    const std::uint32_t a = origin_ + static_cast<std::uint32_t>(i);
    if (labels_.count(a) != 0 && named_.count(a) == 0) lines_.push_back(Name(a));
  }
  std::string Name(std::uint32_t a) const {
    const auto named = named_.find(a);
    if (named != named_.end()) return named->second;
    char text[16];
    std::snprintf(text, sizeof text, "L_%06lX", static_cast<unsigned long>(a));
    return text;
  }
  std::string Target(std::uint32_t a) const { return Inside(a) ? Name(a) : Hex6(a); }

  // Text and length of the instruction at cell i; a cell that is no
  // instruction the compiler produces is listed as a constant.
  std::size_t Decode(std::size_t i, std::string* text, std::uint32_t* target) const {
    const std::uint32_t w = code_[i] & 0xFFFFFF;
    const bool has_ext = i + 1 < code_.size();
    const std::uint32_t ext = has_ext ? code_[i + 1] & 0xFFFFFF : 0;
    const std::uint32_t here = origin_ + static_cast<std::uint32_t>(i);
    std::string out;
    std::size_t length = 1;
    *target = 0;
    if (const char* f = Find(kFixed, sizeof kFixed / sizeof kFixed[0], w)) {
      out = f;
    } else if (w < 0x200000) {
      const std::uint32_t top = w & 0xFFFF00;
      std::string two;
      if (w == 0x0BF080) {
        two = "JSR\t" + Hex6(ext);
      } else if (w == 0x0AF080) {
        *target = ext;
        two = "JMP\t" + Target(ext);
      } else if ((w & 0xFFFFF0) == 0x0AF0A0) {
        *target = ext;
        two = std::string("J") + kCondition[w & 15] + "\t" + Target(ext);
      } else if (w == 0x0D10C0) {
        const std::uint32_t to = (here + ext) & 0xFFFFFF;
        *target = to;
        two = "BRA\t" + Target(to);
      } else if ((w & 0xFF00F0) == 0x060090 && (w & 0xF) == 0) {
        // DOR: the loop runs to the instruction before the label.
        const std::uint32_t to = (here + ext + 1) & 0xFFFFFF;
        *target = to;
        char count[16];
        std::snprintf(count, sizeof count, "#%u,", static_cast<unsigned>((w >> 8) & 0xFF));
        two = std::string("DOR\t") + count + Target(to);
      } else if (w == 0x0C1881) {
        two = "EXTRACTU\t#" + Hex6(ext) + ",A,B";
      } else if (w == 0x0140C6) {
        two = "AND\t#" + Hex6(ext) + ",A";
      } else if (w == 0x0140C2) {
        two = "OR\t#" + Hex6(ext) + ",A";
      } else if (w == 0x05F425) {
        two = "MOVEC\t#" + Hex6(ext) + ",M5";
      } else if (top == 0x07F000 && (w & 0xC0) == 0x80 && (w & 0x3F) >= 4 && (w & 0x3F) < 32) {
        two = "MOVEM\tP:" + Hex6(ext) + "," + kRegister[w & 0x1F];
      } else if (top == 0x077000 && (w & 0xC0) == 0x80 && (w & 0x3F) >= 4 && (w & 0x3F) < 32) {
        two = std::string("MOVEM\t") + kRegister[w & 0x1F] + ",P:" + Hex6(ext);
      }
      if (!two.empty() && has_ext) {
        out = two;
        length = 2;
      } else if ((w & 0xFFC0FF) == 0x014086) {
        char t[24];
        std::snprintf(t, sizeof t, "AND\t#$%X,A", static_cast<unsigned>((w >> 8) & 0x3F));
        out = t;
      } else if ((w & 0xFE0080) == 0x020080 && (w & 0xF) >= 4) {
        // Register-relative move with a 7-bit displacement.
        const std::uint32_t raw = (((w >> 11) & 0x3F) << 1) | ((w >> 6) & 1);
        const std::uint32_t r = (w >> 8) & 7;
        char ea[24];
        if (raw < 64) {
          std::snprintf(ea, sizeof ea, "%s:(R%u+$%02X)", (w & 0x20) != 0 ? "Y" : "X", r, raw);
        } else {
          std::snprintf(ea, sizeof ea, "%s:(R%u-$%02X)", (w & 0x20) != 0 ? "Y" : "X", r, 128 - raw);
        }
        const char* reg = kRegister[w & 0xF];
        out = "MOVE\t" +
              ((w & 0x10) != 0 ? std::string(ea) + "," + reg : reg + std::string(",") + ea);
      } else if ((w & 0xFFC0C0) == 0x07C080 && ((w >> 11) & 7) != 6 && (w & 0x3F) >= 4 &&
                 (w & 0x3F) < 32) {
        // Program-memory read through an address register.
        bool needs_ext = false;
        out = "MOVEM\tP:" + Address((w >> 8) & 0x3F, 0, &needs_ext) + "," + kRegister[w & 0x1F];
      } else if ((w & 0xFFF000) == 0x0D0000) {
        out = "JSR\t" + Hex6(w & 0xFFF);
      }
    } else {
      std::string move;
      std::size_t move_length = 1;
      std::string alu;
      if (w == 0x64F400 && has_ext && i + 2 < code_.size() && code_[i + 2] == 0x077094 &&
          Inside(ext)) {
        // A restart point for the PLC's slot: the loop start, by its label.
        *target = ext;
        if (text != nullptr) *text = "MOVE\t#" + Target(ext) + ",R4";
        return 2;
      }
      if (AluText(w & 0xFF, &alu) && ParallelMove(w, ext, &move, &move_length) &&
          (move_length == 1 || has_ext) && (!alu.empty() || !move.empty())) {
        length = move_length;
        if (alu.empty()) {
          out = "MOVE\t" + move;
        } else {
          out = alu;
          if (!move.empty()) out += "\t" + move;
        }
      }
    }
    if (out.empty()) {
      out = "DC\t" + Hex6(w);
      length = 1;
      *target = 0;
    }
    if (text != nullptr) *text = out;
    return length;
  }

  const PlccCodeBuffer& code_;
  std::uint32_t origin_;
  std::vector<std::string>& lines_;
  std::set<std::uint32_t> labels_;
  std::map<std::uint32_t, std::string> named_;
  std::vector<Note> notes_;
  std::map<std::size_t, std::size_t> hidden_;  // first cell -> end of unlisted code
  std::map<std::size_t, std::string> remarks_;
};

}  // namespace

void PrintPlccListing(const PlccCodeBuffer& code, std::uint32_t origin,
                      std::vector<std::string>& lines) {
  Lister(code, origin, lines).Run();
}

int PrintServoHeader(std::vector<std::string>& lines) {
  static const char* const kHeader[] = {
      "\tOPT CEX,CC,NOIDW,NOINTR",
      "\tLIST",
      "\tORG\tP:$40000\t\t; Open Servo Entry Point",
      "\tBCLR\t#0,X:(R3)\t\t; CLR STACK PUSH FLG",
      "\tJCLR\t#3,SP,SERVO_BUF",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tMOVEC\tSSL,X:(R3)-",
      "\tMOVEC\tSSH,Y:(R3)",
      "\tBSET\t#0,X:(R3)\t\t; SET STACK PUSH FLG",
      "\tBRA\t<SERVO_BUF",
      "SERVORTN\t\t\t; OPEN SERVO RTN",
      "\tJCLR\t#0,X:(R3),$1",
      "\tMOVEC\tY:(R3)+,SSH\t ; RESTORE 3 JSR ON H/W STACK",
      "\tMOVEC\tX:(R3),SSL",
      "\tMOVEC\tY:(R3)+,SSH",
      "\tMOVEC\tX:(R3),SSL",
      "\tMOVEC\tY:(R3)+,SSH",
      "\tMOVEC\tX:(R3),SSL",
      "\tJMP\t\t<$1",
      "SERVO_SIZE",
      "\tDC      0",
      "\t;***************************************************************",
      "MTR_NUM",
      "\t;   INP:    N1 = BL",
      "\t;   OUT:    A = MTR_NUM",
      "\t;   USES:   B,R4,Y0",
      "\t;****************************************************************",
      "\tMOVE    #0,R4",
      "\tMOVE    R1,B",
      "\tMOVE    N1,Y0",
      "\tSUB     Y0,B",
      "MTR_LP  SUB     Y0,B    (R4)+",
      "\tBPL     MTR_LP",
      "\tMOVE    R4,A",
      "\tRTS",
      "SERVO_BUF\t\t; Start of OpenServo Program",
  };
  for (const char* line : kHeader) lines.push_back(line);
  return 64;
}

}  // namespace zimo::corvan::plcc
