// Reads and writes of the compiled program's own variables: L words and bit
// fields, L and F arrays, register-relative definitions, F values, the ring
// station variables of VARPLCC sections and the addressing of Q variables.
#include <cstddef>

#include "plcc/plcc_emit.h"

namespace zimo::corvan::plcc {

namespace {

constexpr std::uint32_t kRegisterRelative = 0x20000;
constexpr std::uint32_t kArrayBit = 0x400000;

bool RegisterRelative(const VariableDefinition& d) {
  return (d.code & kRegisterRelative) != 0 && (d.code & kArrayBit) == 0;
}

}  // namespace

void PlccEmitter::LoadR4(std::uint32_t first, std::uint32_t ext, bool two_words,
                         std::uint32_t tag) {
  if (state_.pending_mark != 0) state_.r4_cache = 0;
  if (c_.optimize && state_.r4_cache == tag) return;
  const std::size_t from = code_.size();
  Put(first);
  if (two_words) Put(ext);
  state_.r4_cache = tag;
  if (tag == 0x400) Say(from, "\tMOVE\t#$%X,R4", 0x400u);  // the MP base
}

void PlccEmitter::LoadTable(std::uint32_t addr) {
  const std::size_t from = code_.size();
  LoadR4(addr < 256 ? 0x340000 + (addr << 8) : 0x64F400, addr, addr >= 256, addr);
  if (code_.size() > from) Say(from, "\tMOVE\t#$%06lX,R4\t", static_cast<unsigned long>(addr));
}

void PlccEmitter::UnpackIfPacked() {
  if (state_.packed) CallRoutine(34);
  state_.packed = false;
}

void PlccEmitter::NegateA(bool integer) {
  if (integer) {
    Put(0x280000);  // MOVE #0,A0
    Put(0x200036);  // NEG A
  } else {
    UnpackIfPacked();
    CallRoutine(31);
  }
  state_.packed = false;
}

// The listing's form of the multiply that shifts a bit field and loads
// the next mask into Y1 (short or long immediate alike).
void PlccEmitter::SayMultiplyMask(std::size_t from, std::uint32_t value) {
  // A one-word form holds the value's top byte as a short immediate.
  if (code_.size() - from == 1) {
    Say(from, "\tMPY\tX0,Y1,B\t#<$%X,Y1", static_cast<unsigned>(value >> 16));
  } else {
    Say(from, "\tMPY\tX0,Y1,B\t#>$%X,Y1", static_cast<unsigned>(value));
  }
}

// The index in A limited to the array, then into N4.
void PlccEmitter::IndexMask(int width) {
  const std::uint32_t k = (1u << width) - 1;
  const std::size_t from = code_.size();
  if (k < 64) {
    Put(0x014086 + (k << 8));  // AND #<k,A
  } else {
    Put(0x0140C6);  // AND #k,A
    Put(k);
  }
  Say(from, "\tAND\t#$%X,A\t", static_cast<unsigned>(k));
  Put(0x219C00);  // MOVE A1,N4
}

// B = the field's code word and B0 its address: what the extended
// firmware's routines for L bit fields take.
void PlccEmitter::FieldRoutineArguments(const VariableDefinition& d, std::uint32_t addr) {
  const std::size_t from = code_.size();
  Put(0x2F0000 + (d.code << 8));  // MOVE #<code,B
  if (addr >= 256) {
    Put(0x51F400);  // MOVE #addr,B0
    Put(addr);
  } else {
    Put(0x290000 + (addr << 8));
  }
  Say(from, "\tMOVE\t#<$%X,B\n\tMOVE\t#$%X,B0", static_cast<unsigned>(d.code & 0xFF),
      static_cast<unsigned>(addr));
}

void PlccEmitter::EmitLWrite(int n) {
  const VariableDefinition& d = c_.l_table[static_cast<std::size_t>(n)];
  const std::uint32_t addr = static_cast<std::uint32_t>(d.address) & 0xFFFFFF;
  const std::uint32_t y = (d.flags & 0x40) != 0 ? 0x80000 : 0;
  if (c_.InOverlay(n)) {
    const std::size_t from = code_.size();
    EmitLoadN4(static_cast<std::uint32_t>(n));
    Say(from, "\tMOVE\t#%i,N4\t\t;  L%i = A", n, n);
    state_.r4_cache = 0;
    CallRoutine(48);
    return;
  }
  if (IsLArray(d)) {
    IndexMask(d.width);
    LoadTable(addr);
    Put(0x48DF00);  // MOVE L:(R7)+,A: the value
    Say(code_.size() - 1, "\tMOVE\tL:(R7)+,A\t; Data on Stack");
    Put(d.code | 0x140000);
    return;
  }
  if (RegisterRelative(d)) {
    Put(d.code + 12);
    return;
  }
  if (d.width == 24) {
    Put(y | 0x547000);
    Put(addr);
    Remark(code_.size() - 2, "\t\t; L%d = A", n);
    return;
  }
  const std::uint32_t o = d.flags & 0x1F;
  const std::uint32_t w = d.width;
  const std::uint32_t m = (1u << w) - 1;
  if (c_.extended_firmware && !c_.varplcc_section) {
    FieldRoutineArguments(d, addr);
    CallRoutine(54);
    state_.r4_cache = 0;
    return;
  }
  Put(0x0446B9);  // MOVEC SR,Y0
  Remark(code_.size() - 1, "\t\t; Save STATUS REG");
  Put(0x0003F8);  // ORI #3,MR: no interrupts while the word is rebuilt
  Remark(code_.size() - 1, "\t\t; BLK INTR");
  if (o != 0) {
    Put(0x218413);  // CLR A A1,X0
    Remark(code_.size() - 1, "\t\t; X0 = A");
    const std::uint32_t t = 24 - o;
    if (t < 8) {
      Put(0x270000 | (0x8000 >> t));
    } else {
      Put(0x47F400);
      Put(0x800000 >> t);
    }
    const std::size_t mask = code_.size();
    if (o > 15) {
      Put(0x2700C8 | ((m << o) >> 8));
    } else {
      Put(0x47F4C8);
      Put((m << o) & 0xFFFFFF);
    }
    SayMultiplyMask(mask, (m << o) & 0xFFFFFF);
    Put(0x212F70);      // ADD Y1,A B0,B
    Put(0x20007E);      // AND Y1,B
    Put(y | 0x47F017);  // NOT A X:addr,Y1
    Put(addr);
    Remark(code_.size() - 2, "\t\t; Y1 = Old data");
    Put(0x200076);  // AND Y1,A
  } else {
    Put(0x47F400);
    Put(m);
    Put(0x20EF76);  // AND Y1,A Y1,B
    Put(0x20001F);  // NOT B
    if (c_.spran) {
      // A pause before the word is read back, listed as a short branch.
      Put(0x000000);
      Put(0x000000);
      Say(code_.size() - 2, "\tBRA\t<*+1");
    }
    Put(y | 0x47F000);  // MOVE X:addr,Y1
    Put(addr);
    Remark(code_.size() - 2, "\t\t; L%d Old", n);
    Put(0x20007E);  // AND Y1,B
  }
  Put(0x200010);  // ADD B,A
  Put(0x04C6B9);  // MOVEC Y0,SR
  Remark(code_.size() - 1, "\t\t; Restore STATUS REG");
  Put(y | 0x547000);
  Put(addr);
  Remark(code_.size() - 2, "\t\t; L%d = A", n);
}

void PlccEmitter::EmitLRead(int n, bool to_x1) {
  const VariableDefinition& d = c_.l_table[static_cast<std::size_t>(n)];
  const std::uint32_t addr = static_cast<std::uint32_t>(d.address) & 0xFFFFFF;
  const std::uint32_t y = (d.flags & 0x40) != 0 ? 0x80000 : 0;
  if (state_.pending_mark != 0) state_.r4_cache = 0;
  if (c_.InOverlay(n) && !c_.varplcc_section) {
    const std::size_t from = code_.size();
    EmitLoadN4(static_cast<std::uint32_t>(n));
    Say(from, "\tMOVE\t#%i,N4\t\t;  L%i", n, n);
    CallRoutine(47);
    state_.r4_cache = 0;
    if (to_x1) {
      Put(0x218500);  // MOVE A1,X1
      Say(code_.size() - 1, "\tMOVE\tA1,X1\t\t;  Read to X1");
    }
    return;
  }
  if (IsLArray(d)) {
    IndexMask(d.width);
    LoadTable(addr);
    Put(d.code | (to_x1 ? 0x58000 : 0x168000));
    return;
  }
  if (RegisterRelative(d)) {
    Put(to_x1 ? d.code + 21 : (d.code | 30));
    return;
  }
  if (d.width == 24) {
    Put(y | (to_x1 ? 0x45F000 : 0x56F000));
    Put(addr);
    Say(code_.size() - 2,
        to_x1 ? "\tMOVE\t%s:$%X,X1\t\t; X1 = L%d" : "\tMOVE\t%s:$%X,A\t\t; A = L%d",
        y != 0 ? "Y" : "X", static_cast<unsigned>(addr), n);
    return;
  }
  const std::uint32_t o = d.flags & 0x1F;
  const std::uint32_t w = d.width;
  const std::uint32_t m = (1u << w) - 1;
  if (c_.extended_firmware && !c_.varplcc_section) {
    FieldRoutineArguments(d, addr);
    if (to_x1) {
      Put(0x218400);  // MOVE A1,X0
      Say(code_.size() - 1, "\tMOVE\tA1,X0\t\t; Save A");
      CallRoutine(53);
      Put(0x218541);  // TFR X0,A A1,X1
      Say(code_.size() - 1, "\tTFR\tX0,A\tA1,X1\t\t; Put data into X1 & restore A");
    } else {
      CallRoutine(53);
    }
    state_.r4_cache = 0;
    return;
  }
  // Y1 := 2^(23-s), one word when it fits the short immediate.
  auto load_y1 = [this](std::uint32_t s, std::uint32_t short_op, std::uint32_t long_op) {
    const std::size_t from = code_.size();
    if (s < 8) {
      Put(short_op | (0x8000 >> s));
    } else {
      Put(long_op);
      Put(0x800000 >> s);
    }
    if (short_op == 0x2700C8) SayMultiplyMask(from, 0x800000 >> s);
  };
  if ((d.flags & 0x80) != 0) {
    Put(y | 0x44F000);  // MOVE X:addr,X0
    Put(addr);
    Remark(code_.size() - 2, "\t\t; L%d Old", n);
    if (o + w < 24) {
      load_y1(o + w, 0x270000, 0x47F400);
      load_y1(24 - w, 0x2700C8, 0x47F4C8);
      Put(0x212400);  // MOVE B0,X0
      Remark(code_.size() - 1, "\t\t; Old Data right justify");
    } else {
      load_y1(o, 0x270000, 0x47F400);
    }
    if (to_x1) {
      Put(0x2000C8);  // MPY X0,Y1,B
      Put(0x21A500);  // MOVE B1,X1
      Remark(code_.size() - 1, "\t\t; X1 = New Data");
    } else {
      Put(0x2000C0);  // MPY X0,Y1,A
      Remark(code_.size() - 1, "\t\t; A = New Data");
    }
    return;
  }
  if (o != 0) {
    Put(y | 0x44F000);
    Put(addr);
    Remark(code_.size() - 2, "\t\t; L%d Old", n);
    load_y1(o, 0x270000, 0x47F400);
    Put(0x47F4C8);  // MPY X0,Y1,B #>m,Y1
    Put(m);
    SayMultiplyMask(code_.size() - 2, m);
  } else {
    Put(y | 0x57F000);  // MOVE X:addr,B
    Put(addr);
    Put(0x47F400);
    Put(m);
  }
  Put(0x20007E);  // AND Y1,B
  Put(to_x1 ? 0x21A500 : 0x21AE00);
}

void PlccEmitter::EmitRingRead(int n, std::uint32_t kind, bool to_x1) {
  const std::uint32_t k = kind >= 116 ? 48 + (kind - 116) : kind;
  auto finish = [this, to_x1](std::uint32_t routine) {
    if (to_x1) Put(0x218400);
    EmitRoutineCall(routine);
    Put(0x0C1D30);  // ASL #24,A,A: the result comes in the upper byte
    if (to_x1) Put(0x218541);
  };
  const std::uint32_t un = static_cast<std::uint32_t>(n);
  if (n < 0) {
    if (k == 52) {
      LoadR4(0x64F400, 0x000400, true, 0x400);
      Put(0x0140C6);
      Put(0x0001FF);
      Say(code_.size() - 2, "\tAND\t#$1FF,A\t; LIMIT to 511");
      Put(0x219C00);
      Put(0x56EC00);
      return;
    }
    state_.r4_cache = 0;
    if (k == 48) {
      Put(0x218F00);  // MOVE A1,B
      const std::size_t call = code_.size();
      EmitRoutineCall(8);
      Say(call, "\tJSR\t$%06lX\t; MI_READ // LIMITS B to 0 1999", 8ul);
    } else {
      Put(0x0140C6);  // AND #$1FF,A
      Put(0x0001FF);
      Say(code_.size() - 2, "\tAND\t#$1FF,A\t; LIMIT to 511");
      Put(0x219C00);
      EmitRoutineCall(9);
    }
    Put(0x0C1D30);
    return;
  }
  if (k == 48) {
    state_.r4_cache = 0;
    Put(0x57F400);  // MOVE #n,B
    Put(un);
    Say(code_.size() - 2, "\tMOVE\t#>%u,B", un);
    finish(8);
  } else if (k == 50) {
    state_.r4_cache = 0;
    EmitLoadN4(un);
    finish(9);
  } else {
    LoadR4(0x64F400, 0x000400, true, 0x400);
    if (n != 0) {
      EmitLoadN4(un);
      Put(to_x1 ? 0x45EC00 : 0x56EC00);
    } else {
      Put(to_x1 ? 0x45E400 : 0x56E400);
    }
  }
}

void PlccEmitter::EmitFWrite(int n) {
  const VariableDefinition& d = c_.f_table[static_cast<std::size_t>(n)];
  const std::uint32_t addr = static_cast<std::uint32_t>(d.address) & 0xFFFFFF;
  const bool d_memory = (d.flags & 1) != 0;
  const std::uint32_t ftol = c_.routines.entry[44];
  auto call_ftol = [&] {
    Put(0x0BF080);  // JSR FTOL
    Put(ftol);
    Say(code_.size() - 2, "\tJSR\t$%06lX\t\t; FTOL A ", static_cast<unsigned long>(ftol));
  };
  if (IsFArray(d)) {
    IndexMask(d.width);
    LoadTable(addr);
    Put(0x48DF00);  // the value, packed by its push
    if (d_memory) {
      CallRoutine(34);
      call_ftol();
    }
    Put(0x486C00);  // MOVE A,L:(R4+N4)
    return;
  }
  if (d_memory) {
    if (state_.packed) CallRoutine(34);
    call_ftol();
    state_.packed = true;
  }
  if (!state_.packed) CallRoutine(33);
  state_.packed = true;
  if (RegisterRelative(d)) {
    Put(d.code + 12);
    Put(d.code + 40);
  } else {
    Put(0x487000);
    Put(addr);
    Say(code_.size() - 2, "\tMOVE\tA,L:$%06lX\t\t", static_cast<unsigned long>(addr));
  }
}

void PlccEmitter::EmitFRead(int n, bool to_x) {
  const VariableDefinition& d = c_.f_table[static_cast<std::size_t>(n)];
  const std::uint32_t addr = static_cast<std::uint32_t>(d.address) & 0xFFFFFF;
  if (state_.pending_mark != 0) state_.r4_cache = 0;
  if (RegisterRelative(d)) {
    Put(to_x ? d.code + 21 : d.code + 30);
    Put(to_x ? d.code + 52 : d.code + 56);
  } else if (IsFArray(d)) {
    IndexMask(d.width);
    LoadTable(addr);
    Put(to_x ? 0x42EC00 : 0x48EC00);
  } else {
    Put(to_x ? 0x42F000 : 0x48F000);
    Put(addr);
  }
  if (!to_x) state_.packed = true;
  if ((d.flags & 1) != 0) {
    Put(0x0BF080);  // JSR LTOF
    Put(c_.routines.entry[49]);
    Say(code_.size() - 2, "\tJSR\t$%06lX\t\t; LTOF A",
        static_cast<unsigned long>(c_.routines.entry[49]));
    state_.packed = false;
  }
}

void PlccEmitter::EmitQAddress(std::uint32_t n, int plc) {
  const PlccTarget& t = c_.target;
  const std::uint32_t p = static_cast<std::uint32_t>(plc);
  if (c_.spran) {
    Put(0x07F08F);  // MOVEM P:addressing word,B
    Put(t.code_start - 32 + p);
    Say(code_.size() - 2, "\tMOVE\tP:$%06lX,B", static_cast<unsigned long>(t.code_start - 32 + p));
    CallRoutine(36);
    Put(0x6DE500);  // MOVE Y:(R5),R5
  } else {
    Put(0x07F08D);  // MOVEM P:entry word,B1
    Put(t.table_base + p);
    Say(code_.size() - 2, "\tMOVE\tP:$%06lX,B1", static_cast<unsigned long>(t.table_base + p));
    CallRoutine(36);
    Put(0x07ED95);  // MOVEM P:(R5+N5),R5
  }
  state_.r4_cache = 0;
  const std::size_t n5 = code_.size();
  if (n >= 256) {
    Put(0x75F400);
    Put(n);
  } else {
    Put(0x3D0000 + (n << 8));
  }
  Say(n5, "\tMOVE\t#%d,N5\t\t; N5 = nn of Qnn", static_cast<int>(n));
  Put(0x05F425);  // MOVEC #modulo,M5
  if (c_.spran) {
    Put(0x001FFF);
    Say(code_.size() - 2, "\tMOVE\t#$1FFF,M5\t; M5 = modulo 8191");
  } else {
    Put(0x0003FF);
    Put(0x000000);
  }
}

}  // namespace zimo::corvan::plcc
