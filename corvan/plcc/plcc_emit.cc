#include "plcc/plcc_emit.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zimo::corvan::plcc {

namespace {

// The listing's names of the routines, by routine number.
const char* RoutineName(const RoutineTable& r, std::uint32_t address) {
  static const struct {
    int k;
    const char* name;
  } kNames[] = {
      {34, "Unpack A"},    {33, "Pack A"},     {31, "Negate A"},       {7, "FABS"},
      {17, "FSUB_XA"},     {32, "CMP X,A"},    {3, "Q(Exp) to A Reg"}, {35, "ena plc A"},
      {36, "Get C.S. Q"},  {44, "FTOL"},       {49, "LTOF"},           {47, "L/Mnn Read"},
      {48, "L/Mnn Write"}, {53, "L_Read0"},    {54, "L_Write0"},       {55, "lock A"},
      {56, "unlock A"},    {57, "SETPHASE A"}, {59, "QreadA "},        {60, "Qreadx "},
      {61, "QwriteA "},
  };
  for (const auto& n : kNames) {
    if (r.entry[static_cast<std::size_t>(n.k)] == address) return n.name;
  }
  switch (address) {
    case 8:
      return "MI_READ";
    case 9:
      return "MM_READ";
    case 10:
      return "MI_WRITE";
    case 11:
      return "MM_WRITE";
    case 12:
      return "CHN_WRITE";
    case 0x40015:
      return "A = MTRNUM()";
    case 0x4001D:
      return "FLIMIT ";
    default:
      return nullptr;
  }
}

}  // namespace

void PlccEmitter::EmitRoutineCall(std::uint32_t address, const char* name) {
  const RoutineTable& r = c_.routines;
  const std::size_t from = code_.size();
  bool inline_code = true;
  // Three short routines are cheaper inline than called.
  if (c_.extended_firmware && address == r.entry[34]) {
    Put(0x0C1881);  // EXTRACTU #$00C000,A,B
    Put(0x00C000);
    Put(0x213514);  // SUB B,A B0,R5
  } else if (address == r.entry[31]) {
    Put(0x200036);  // NEG A
    Put(0x01DD15);  // NORM R5,A
  } else if (address == r.entry[7]) {
    Put(0x200026);  // ABS A
    Put(0x01DD15);
  } else if (address >= 0x1000) {
    inline_code = false;
    Put(0x0BF080);  // JSR long
    Put(address);
    state_.r4_cache = 0;  // a firmware routine may use R4
  } else {
    inline_code = false;
    Put(0x0D0000 | address);  // JSR short
    state_.r4_cache = 0;
  }
  if (!code_.listing()) return;
  if (name == nullptr) name = RoutineName(r, address);
  // The listing shows inline code as its own instructions, named after the
  // routine they stand for, so that it assembles to the words placed.
  if (inline_code) {
    if (name != nullptr) Remark(from, "\t\t; %s", name);
    return;
  }
  if (name != nullptr) {
    Say(from, "\tJSR\t$%06lX\t\t; %s", static_cast<unsigned long>(address), name);
  } else {
    Say(from, "\tJSR\t$%06lX", static_cast<unsigned long>(address));
  }
}

void PlccEmitter::Say(std::size_t from, const char* format, ...) {
  if (!code_.listing()) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  const int used = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (used < 0) return;
  code_.AddNote(from, code_.size(), text);
}

void PlccEmitter::Remark(std::size_t cell, const char* format, ...) {
  if (!code_.listing()) return;
  char text[256];
  va_list args;
  va_start(args, format);
  const int used = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (used < 0) return;
  code_.AddRemark(cell, text);
}

void PlccEmitter::Put(std::uint32_t word) {
  if (state_.pending_mark != 0) {
    state_.r4_cache = 0;  // the marked word becomes a jump target
    word |= state_.pending_mark;
    state_.pending_mark = 0;
  }
  code_.Append(word);
}

void PlccEmitter::EmitLoadN4(std::uint32_t n) {
  const std::size_t from = code_.size();
  if (n >= 256) {
    Put(0x74F400);
    Put(n);
  } else {
    Put(0x3C0000 + (n << 8));
  }
  Say(from, "\tMOVE\t#%u,N4", static_cast<unsigned>(n));
}

void PlccEmitter::EmitIntOperator(std::uint32_t op, bool popped) {
  const RoutineTable& r = c_.routines;
  const std::size_t from = code_.size();
  switch (op) {
    case 128:
      Put(0x200060);  // ADD X1,A
      Say(from, "\tADD\tX1,A\t\t; Lnn ADD");
      break;
    case 129:
      if (popped) {
        Put(0x280000);  // MOVE #0,A0
        Put(0x200036);  // NEG A
        Put(0x200060);  // ADD X1,A
        Say(from, "\tMOVE\t#0,A0\t\t; Pop Lnn SUB\n\tNEG\tA\n\tADD\tX1,A");
      } else {
        Put(0x200064);  // SUB X1,A
        Say(from, "\tSUB\tX1,A\t\t; Push Lnn SUB");
      }
      break;
    case 130:
      Put(0x218700);  // MOVE A1,Y1
      Put(0x2000F0);  // MPY X1,Y1,A
      if (c_.spran) {
        Put(0x0C1D2E);  // ASL #23,A,A
        Say(from,
            "\tMOVE\tA1,Y1\t\t; Y1 = A1\n\tMPY\tX1,Y1,A\t\t; A = X1*Y1\n"
            "\tASL\t#23,A,A\t\t; Fract to Int");
      } else {
        Put(0x200022);  // ASR A
        Put(0x210E00);  // MOVE A0,A
        Say(from,
            "\tMOVE\tA1,Y1\t\t; Y1 = A1\n\tMPY\tX1,Y1,A\t\t; A = X1*Y1\n"
            "\tASR\tA\t\t; Fract to Int\n\tMOVE\tA0,A\t\t; Sign extend");
      }
      break;
    case 131:
      EmitRoutineCall(popped ? r.divide_popped : r.divide_pushed,
                      popped ? "Pop DIV Opr" : "Push DIV Opr");
      break;
    case 132:
      Put(0x200062);  // OR X1,A
      Put(0x218E00);  // MOVE A1,A
      Say(from, "\tOR\tX1,A\t\t; A = X1 | A\n\tMOVE\tA1,A\t\t; Sign extend");
      break;
    case 133:
      Put(0x200063);  // EOR X1,A
      Put(0x218E00);
      Say(from, "\tEOR\tX1,A\t\t; A = X1 ^ A\n\tMOVE\tA1,A\t\t; Sign extend");
      break;
    case 134:
      Put(0x200066);  // AND X1,A
      Put(0x218E00);
      Say(from, "\tAND\tX1,A\t\t; A = X1 & A\n\tMOVE\tA1,A\t\t; Sign extend");
      break;
    case 135:
      EmitRoutineCall(popped ? r.modulo_popped : r.modulo_pushed,
                      popped ? "Pop Modulo Opr" : "Push Modulo Opr");
      break;
    default:
      break;
  }
}

void PlccEmitter::EmitPushA() {
  if (!state_.packed && !state_.integer_context) EmitRoutineCall(c_.routines.entry[33]);
  const std::size_t from = code_.size();
  Put(0x487F00);  // MOVE A,L:-(R7)
  Say(from, "\tMOVE\tA,L:-(R7)\t; Push A on Stack");
}

void PlccEmitter::EmitPoolWords(std::size_t offset, std::size_t min_words_minus_1) {
  const std::vector<std::uint8_t>& pool = c_.pool;
  std::size_t words = 0;
  for (std::size_t p = offset; p + 3 <= pool.size(); p += 3) {
    const std::uint32_t word =
        (std::uint32_t{pool[p]} << 16) | (std::uint32_t{pool[p + 1]} << 8) | pool[p + 2];
    Put(word);
    ++words;
    const bool has_zero = pool[p] == 0 || pool[p + 1] == 0 || pool[p + 2] == 0;
    if (words >= min_words_minus_1 + 1 && has_zero) break;
  }
}

void PlccEmitter::EmitPlccReturnCode(int n) {
  const PlccTarget& t = c_.target;
  const std::uint32_t un = static_cast<std::uint32_t>(n);
  const std::uint32_t target_word = t.slot_table + 2 * un + 1;
  const std::uint32_t next = n > 0 ? t.slot_table + 2 * un + 2 : t.chain_end;
  const std::size_t from = code_.size();
  Put(0x07F084);  // MOVEM P:slot target,X0
  Put(target_word);
  Put(0x56F400);  // MOVE #next,A
  Put(next);
  Put(0x200044);  // SUB X0,A
  Put(0x0AF0AA);  // JEQ next: disabled meanwhile
  Put(next);
  // Restart from the beginning next scan: slot target := entry word.
  if (c_.spran) {
    Put(0x07F08E);  // MOVEM P:entry,A
    Put(t.table_base + un);
    Put(0x0140C6);  // AND #$7FFFF,A
    Put(0x07FFFF);
    Put(0x07708C);  // MOVEM A1,P:slot target
    Put(target_word);
  } else {
    Put(0x07F094);  // MOVEM P:entry,R4
    Put(t.table_base + un);
    Put(0x077094);  // MOVEM R4,P:slot target
    Put(target_word);
    state_.r4_cache = 0;
  }
  if (n > 0) {
    Put(0x0AF080);  // JMP next slot
    Put(next);
  } else {
    Put(0x00000C);  // RTS
  }
  if (code_.listing()) code_.AddNote(from, code_.size(), ReturnCodeText(n));
}

std::string PlccEmitter::ReturnCodeText(int n) {
  const PlccTarget& t = c_.target;
  const unsigned long un = static_cast<unsigned long>(n);
  const unsigned long target_word = t.slot_table + 2 * un + 1;
  const unsigned long next = n > 0 ? t.slot_table + 2 * un + 2 : t.chain_end;
  const unsigned long entry = t.table_base + un;
  char text[512];
  int used = std::snprintf(text, sizeof text,
                           "\tMOVE\tP:$%06lX,X0\t;*** PLCC RET CODE ***\n"
                           "\tMOVE\t#$%06lX,A\n"
                           "\tSUB\tX0,A\n"
                           "\tJEQ\t$%06lX\t\t; PLCC DISABLED RET\n"
                           ";****** Restore the PLCC program counter to the beginning *******\n",
                           target_word, next, next);
  std::string out(text, static_cast<std::size_t>(used));
  // Older cards move the entry word through R4, as their code words do.
  if (c_.spran) {
    used = std::snprintf(text, sizeof text,
                         "\tMOVE\tP:$%06lX,A\n\tAND\t#$7FFFF,A\n\tMOVE\tA1,P:$%06lX\n", entry,
                         target_word);
  } else {
    used = std::snprintf(text, sizeof text, "\tMOVE\tP:$%06lX,R4\n\tMOVE\tR4,P:$%06lX\n", entry,
                         target_word);
  }
  out.append(text, static_cast<std::size_t>(used));
  used = std::snprintf(text, sizeof text, "\t\t;*** Goto next PLCC program *** \n");
  out += code_.UniqueLabel("PLCC" + std::to_string(n) + "End");
  out.append(text, static_cast<std::size_t>(used));
  if (n > 0) {
    used = std::snprintf(text, sizeof text, "\tJMP\t$%06lX", target_word + 1);
    out.append(text, static_cast<std::size_t>(used));
  } else {
    out += "\tRTS";
  }
  return out;
}

int PackCardFloat(double value, std::uint32_t* low, std::uint32_t* high) {
  if (value == 0) {
    *low = 0;
    *high = 0;
    return 0;
  }
  // Infinity, NaN and denormals have no card form.
  if (!std::isnormal(value)) return -kErrPack;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const std::uint64_t exponent = (bits >> 52) & 0x7FF;
  std::uint64_t mantissa =
      ((bits & ((std::uint64_t{1} << 52) - 1)) >> 6) + (std::uint64_t{1} << 46);
  if (value < 0) mantissa = ~mantissa + 1;
  mantissa &= (std::uint64_t{1} << 48) - 1;
  mantissa = (mantissa & ~std::uint64_t{0xFFF}) | ((exponent + 1025) & 0xFFF);
  *low = static_cast<std::uint32_t>(mantissa & 0xFFFFFF);
  *high = static_cast<std::uint32_t>((mantissa >> 24) & 0xFFFFFF);
  return 0;
}

int IsNotFollowedByHighOperator(const PlccToken* tokens, std::size_t index) {
  const std::uint32_t next = tokens[index + 1].code & 0x3FF;
  return (next == 130 || next == 131 || next == 134 || next == 135) ? 0 : 1;
}

}  // namespace zimo::corvan::plcc
