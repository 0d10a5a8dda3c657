// Decoding and running one program word: the data ALU operations with their
// parallel moves, and the instructions without one (jumps, calls, MOVEM,
// MOVEC, NORM, the DSP56300 shifts, EXTRACTU and long immediates). Words
// outside what the card decodes report kUnknown; the run stops there.
#include <cstdint>

#include "dsp_exec.h"

namespace zimo::cardsim {

namespace {

constexpr uint32_t kMask24 = 0xFFFFFF;

int64_t SignExtend24(uint32_t w) {
  int64_t v = static_cast<int64_t>(w & kMask24);
  return (v & 0x800000) != 0 ? v - 0x1000000 : v;
}

int64_t SignExtend48(uint64_t w) {
  w &= (uint64_t{1} << 48) - 1;
  int64_t v = static_cast<int64_t>(w);
  return (w & (uint64_t{1} << 47)) != 0 ? v - (int64_t{1} << 48) : v;
}

class Executor {
 public:
  Executor(DspCore& core, uint32_t at, uint32_t word)
      : core_(core), r_(core.regs()), mem_(core.memory()), at_(at), w_(word) {}

  DspExec::Flow Run() {
    if ((w_ & 0xF00000) != 0) return Parallel();
    return Special();
  }

 private:
  using Flow = DspExec::Flow;

  static Flow Unknown() { return Flow{Flow::kUnknown, 1, 0}; }
  static Flow Next(uint32_t length = 1) { return Flow{Flow::kNext, length, 0}; }
  Flow Jump(uint32_t target, uint32_t length) { return Flow{Flow::kJump, length, target}; }
  Flow Call(uint32_t target, uint32_t length) { return Flow{Flow::kCall, length, target}; }
  uint32_t Ext() { return core_.Fetch((at_ + 1) & kMask24); }

  Accumulator& Acc(int d) { return d == 0 ? r_.a : r_.b; }

  // Registers by their move code (X0 = 4 ... B = 0xF, R 0x10, N 0x18, M
  // 0x20, SR 0x39). Reading A or B as a word is limited.
  bool ReadReg(int code, uint32_t* out) {
    switch (code) {
      case 0x04: *out = r_.x0; return true;
      case 0x05: *out = r_.x1; return true;
      case 0x06: *out = r_.y0; return true;
      case 0x07: *out = r_.y1; return true;
      case 0x08: *out = r_.a.a0(); return true;
      case 0x09: *out = r_.b.a0(); return true;
      case 0x0A: *out = static_cast<uint32_t>(SignExtend24(r_.a.a2() | ((r_.a.a2() & 0x80) ? 0xFFFF00u : 0))) & kMask24; return true;
      case 0x0B: *out = static_cast<uint32_t>(SignExtend24(r_.b.a2() | ((r_.b.a2() & 0x80) ? 0xFFFF00u : 0))) & kMask24; return true;
      case 0x0C: *out = r_.a.a1(); return true;
      case 0x0D: *out = r_.b.a1(); return true;
      case 0x0E: *out = r_.a.Limited24(); return true;
      case 0x0F: *out = r_.b.Limited24(); return true;
      case 0x39: *out = r_.sr; return true;
      default: break;
    }
    if (code >= 0x10 && code < 0x18) { *out = r_.r[code - 0x10]; return true; }
    if (code >= 0x18 && code < 0x20) { *out = r_.n[code - 0x18]; return true; }
    if (code >= 0x20 && code < 0x28) { *out = r_.m[code - 0x20]; return true; }
    return false;
  }

  bool WriteReg(int code, uint32_t v) {
    v &= kMask24;
    switch (code) {
      case 0x04: r_.x0 = v; return true;
      case 0x05: r_.x1 = v; return true;
      case 0x06: r_.y0 = v; return true;
      case 0x07: r_.y1 = v; return true;
      case 0x08: r_.a.SetA0(v); return true;
      case 0x09: r_.b.SetA0(v); return true;
      case 0x0A: r_.a.SetA2(v); return true;
      case 0x0B: r_.b.SetA2(v); return true;
      case 0x0C: r_.a.SetA1(v); return true;
      case 0x0D: r_.b.SetA1(v); return true;
      case 0x0E: r_.a.SetWord(v); return true;
      case 0x0F: r_.b.SetWord(v); return true;
      case 0x39: r_.sr = v & 0xFFFF; return true;
      default: break;
    }
    const uint32_t am = core_.address_mask();
    if (code >= 0x10 && code < 0x18) { r_.r[code - 0x10] = v & am; return true; }
    if (code >= 0x18 && code < 0x20) { r_.n[code - 0x18] = v & am; return true; }
    if (code >= 0x20 && code < 0x28) { r_.m[code - 0x20] = v & am; return true; }
    return false;
  }

  // Effective address of MMMRRR; the register update is applied at once
  // (the value read or written uses the address before a post-update).
  // Modes 110 000 (absolute) and 110 100 (immediate) take the extension
  // word. Returns false for modes the card does not decode.
  bool EffectiveAddress(int mode, uint32_t* address, bool* immediate, uint32_t* length) {
    const int mmm = (mode >> 3) & 7, rrr = mode & 7;
    *immediate = false;
    switch (mmm) {
      case 0:  // (Rn)-Nn
        *address = r_.r[rrr];
        r_.r[rrr] = core_.AddAddress(rrr, r_.r[rrr], -SignExtend24(r_.n[rrr]));
        return true;
      case 1:  // (Rn)+Nn
        *address = r_.r[rrr];
        r_.r[rrr] = core_.AddAddress(rrr, r_.r[rrr], SignExtend24(r_.n[rrr]));
        return true;
      case 2:  // (Rn)-
        *address = r_.r[rrr];
        r_.r[rrr] = core_.AddAddress(rrr, r_.r[rrr], -1);
        return true;
      case 3:  // (Rn)+
        *address = r_.r[rrr];
        r_.r[rrr] = core_.AddAddress(rrr, r_.r[rrr], 1);
        return true;
      case 4:  // (Rn)
        *address = r_.r[rrr];
        return true;
      case 5:  // (Rn+Nn)
        *address = core_.AddAddress(rrr, r_.r[rrr], SignExtend24(r_.n[rrr]));
        return true;
      case 7:  // -(Rn)
        r_.r[rrr] = core_.AddAddress(rrr, r_.r[rrr], -1);
        *address = r_.r[rrr];
        return true;
      case 6:
        if (rrr == 0) {
          *address = Ext();
          *length = 2;
          return true;
        }
        if (rrr == 4) {
          *address = Ext();
          *immediate = true;
          *length = 2;
          return true;
        }
        return false;
      default:
        return false;
    }
  }

  // ---- data ALU ----------------------------------------------------------

  void Arithmetic(Accumulator& d, int64_t result, bool carry) {
    const int64_t lo = -(int64_t{1} << 55), hi = (int64_t{1} << 55) - 1;
    r_.sr &= ~(ccr::kC | ccr::kV);
    if (result < lo || result > hi) r_.sr |= ccr::kV;
    if (carry) r_.sr |= ccr::kC;
    d.Set(result);
    core_.SetFlagsFrom(d, false);
    if ((r_.sr & ccr::kV) != 0) r_.sr |= ccr::kL;
  }

  static bool AddCarry(int64_t a, int64_t b) {
    const uint64_t m = (uint64_t{1} << 56) - 1;
    return ((static_cast<uint64_t>(a) & m) + (static_cast<uint64_t>(b) & m)) > m;
  }
  static bool SubBorrow(int64_t a, int64_t b) {
    const uint64_t m = (uint64_t{1} << 56) - 1;
    return (static_cast<uint64_t>(b) & m) > (static_cast<uint64_t>(a) & m);
  }

  // The 24-bit source JJ of the one-register forms: X0, Y0, X1, Y1.
  uint32_t Jj(int jj) const {
    switch (jj & 3) {
      case 0: return r_.x0;
      case 1: return r_.y0;
      case 2: return r_.x1;
      default: return r_.y1;
    }
  }

  // Multiplier pairs QQQ.
  void Qqq(int q, uint32_t* s1, uint32_t* s2) const {
    switch (q & 7) {
      case 0: *s1 = r_.x0; *s2 = r_.x0; break;
      case 1: *s1 = r_.y0; *s2 = r_.y0; break;
      case 2: *s1 = r_.x1; *s2 = r_.x0; break;
      case 3: *s1 = r_.y1; *s2 = r_.y0; break;
      case 4: *s1 = r_.x0; *s2 = r_.y1; break;
      case 5: *s1 = r_.y0; *s2 = r_.x0; break;
      case 6: *s1 = r_.x1; *s2 = r_.y0; break;
      default: *s1 = r_.y1; *s2 = r_.x1; break;
    }
  }

  // One data ALU operation (low byte of a parallel-move word).
  bool Alu(uint32_t op) {
    const int d = (op >> 3) & 1;
    Accumulator& D = Acc(d);
    Accumulator& S = Acc(1 - d);
    if ((op & 0x80) != 0) {  // MPY, MPYR, MAC, MACR
      uint32_t s1 = 0, s2 = 0;
      Qqq(static_cast<int>(op >> 4), &s1, &s2);
      int64_t product = SignExtend24(s1) * SignExtend24(s2) * 2;
      if ((op & 0x04) != 0) product = -product;
      int64_t result = product;
      const int kind = op & 3;
      if (kind >= 2) result += D.v;
      if ((kind & 1) != 0) result = (result + 0x800000) & ~int64_t{0xFFFFFF};
      Arithmetic(D, result, false);
      return true;
    }
    const int jjj = (op >> 4) & 7, ooo = op & 7;
    if (jjj >= 4) {  // one 24-bit register S = X0, Y0, X1, Y1
      const uint32_t s = Jj(jjj - 4);
      const int64_t wide = SignExtend24(s) * (int64_t{1} << 24);
      switch (ooo) {
        case 0: Arithmetic(D, D.v + wide, AddCarry(D.v, wide)); return true;
        case 1: D.SetWord(s); return true;  // TFR
        case 2: case 3: case 6: {           // OR, EOR, AND
          uint32_t v = D.a1();
          v = ooo == 2 ? (v | s) : ooo == 3 ? (v ^ s) : (v & s);
          D.SetA1(v);
          r_.sr &= ~ccr::kV;
          core_.SetFlagsFrom(D, true);
          return true;
        }
        case 4: Arithmetic(D, D.v - wide, SubBorrow(D.v, wide)); return true;
        case 5: {  // CMP
          Accumulator t;
          Arithmetic(t, D.v - wide, SubBorrow(D.v, wide));
          return true;
        }
        case 7: {  // CMPM
          Accumulator t;
          int64_t a = D.v < 0 ? -D.v : D.v, b = wide < 0 ? -wide : wide;
          Arithmetic(t, a - b, SubBorrow(a, b));
          return true;
        }
      }
    }
    if (jjj == 2 || jjj == 3) {
      const int64_t longs = jjj == 2 ? SignExtend48((uint64_t{r_.x1} << 24) | r_.x0)
                                     : SignExtend48((uint64_t{r_.y1} << 24) | r_.y0);
      switch (ooo) {
        case 0: Arithmetic(D, D.v + longs, AddCarry(D.v, longs)); return true;
        case 4: Arithmetic(D, D.v - longs, SubBorrow(D.v, longs)); return true;
        case 2: {  // ASR / ASL
          const bool out = jjj == 2 ? (D.v & 1) != 0 : ((D.v >> 55) & 1) != 0;
          int64_t v = jjj == 2 ? (D.v >> 1) : static_cast<int64_t>(static_cast<uint64_t>(D.v) << 1);
          Arithmetic(D, v, out);
          r_.sr &= ~ccr::kV;
          return true;
        }
        case 3: {  // LSR / LSL on D1
          uint32_t v = D.a1();
          const bool out = jjj == 2 ? (v & 1) != 0 : (v & 0x800000) != 0;
          v = jjj == 2 ? (v >> 1) : ((v << 1) & kMask24);
          D.SetA1(v);
          r_.sr &= ~(ccr::kC | ccr::kV);
          if (out) r_.sr |= ccr::kC;
          core_.SetFlagsFrom(D, true);
          return true;
        }
        case 6:
          if (jjj == 2) Arithmetic(D, D.v < 0 ? -D.v : D.v, false);  // ABS
          else Arithmetic(D, -D.v, D.v != 0);                         // NEG
          return true;
        default: return false;
      }
    }
    if (jjj == 0) {
      switch (ooo) {
        case 0: return op == 0;  // plain move
        case 1: D.Set(S.v); return true;  // TFR S,D
        case 2: Arithmetic(D, D.v / 2 + S.v, false); return true;  // ADDR
        case 3: Arithmetic(D, D.v, false); r_.sr &= ~ccr::kC; return true;  // TST
        case 5: { Accumulator t; Arithmetic(t, D.v - S.v, SubBorrow(D.v, S.v)); return true; }
        case 6: Arithmetic(D, D.v / 2 - S.v, false); return true;  // SUBR
        case 7: {
          Accumulator t;
          int64_t a = D.v < 0 ? -D.v : D.v, b = S.v < 0 ? -S.v : S.v;
          Arithmetic(t, a - b, SubBorrow(a, b));
          return true;
        }
        default: return false;
      }
    }
    // jjj == 1
    switch (ooo) {
      case 0: Arithmetic(D, D.v + S.v, AddCarry(D.v, S.v)); return true;
      case 1: Arithmetic(D, (D.v + 0x800000) & ~int64_t{0xFFFFFF}, false); return true;  // RND
      case 2: Arithmetic(D, D.v * 2 + S.v, false); return true;  // ADDL
      case 3:  // CLR
        D.Set(0);
        r_.sr &= ~(ccr::kC | ccr::kV | ccr::kN | ccr::kE);
        r_.sr |= ccr::kZ | ccr::kU;
        return true;
      case 4: Arithmetic(D, D.v - S.v, SubBorrow(D.v, S.v)); return true;
      case 6: Arithmetic(D, D.v * 2 - S.v, false); return true;  // SUBL
      case 7:  // NOT
        D.SetA1(~D.a1() & kMask24);
        r_.sr &= ~ccr::kV;
        core_.SetFlagsFrom(D, true);
        return true;
      default: return false;
    }
  }

  // ---- parallel moves ----------------------------------------------------

  // What a move does after the ALU has read its operands.
  struct Pending {
    enum { kNone, kReg, kMemX, kMemY, kLong, kLongReg } kind = kNone;
    int reg = 0;
    uint32_t value = 0;
    uint32_t address = 0;
    uint64_t pair = 0;
  };

  bool LongRead(int lll, uint64_t* pair) {
    switch (lll) {
      case 0: *pair = (uint64_t{r_.a.a1()} << 24) | r_.a.a0(); return true;
      case 1: *pair = (uint64_t{r_.b.a1()} << 24) | r_.b.a0(); return true;
      case 2: *pair = (uint64_t{r_.x1} << 24) | r_.x0; return true;
      case 3: *pair = (uint64_t{r_.y1} << 24) | r_.y0; return true;
      case 4: *pair = r_.a.Limited48(); return true;
      case 5: *pair = r_.b.Limited48(); return true;
      case 6: *pair = (uint64_t{r_.a.Limited24()} << 24) | r_.b.Limited24(); return true;
      default: *pair = (uint64_t{r_.b.Limited24()} << 24) | r_.a.Limited24(); return true;
    }
  }

  void LongWrite(int lll, uint64_t pair) {
    const uint32_t hi = static_cast<uint32_t>(pair >> 24) & kMask24;
    const uint32_t lo = static_cast<uint32_t>(pair) & kMask24;
    switch (lll) {
      case 0: r_.a.SetA1(hi); r_.a.SetA0(lo); break;
      case 1: r_.b.SetA1(hi); r_.b.SetA0(lo); break;
      case 2: r_.x1 = hi; r_.x0 = lo; break;
      case 3: r_.y1 = hi; r_.y0 = lo; break;
      case 4: r_.a.Set(SignExtend48(pair)); break;
      case 5: r_.b.Set(SignExtend48(pair)); break;
      case 6: r_.a.SetWord(hi); r_.b.SetWord(lo); break;
      default: r_.b.SetWord(hi); r_.a.SetWord(lo); break;
    }
  }

  Flow Parallel() {
    const uint32_t top = w_ >> 8;
    uint32_t length = 1;
    Pending p;
    if (top == 0x2000) {
      // no move
    } else if ((top & 0xFFE0) == 0x2040) {  // address register update
      const int mode = static_cast<int>(top & 0x1F);
      uint32_t address = 0;
      bool immediate = false;
      if ((mode >> 3) > 3 || !EffectiveAddress(mode, &address, &immediate, &length)) return Unknown();
    } else if ((top & 0xFC00) == 0x2000) {  // register to register
      const int src = static_cast<int>((top >> 5) & 0x1F), dst = static_cast<int>(top & 0x1F);
      uint32_t v = 0;
      if (src < 4 || dst < 4 || !ReadReg(src, &v)) return Unknown();
      p.kind = Pending::kReg;
      p.reg = dst;
      p.value = v;
      // A 56-bit accumulator copied whole (MOVE A,B) keeps its extension.
      if ((src == 0x0E || src == 0x0F) && (dst == 0x0E || dst == 0x0F)) {
        p.kind = Pending::kLongReg;
        p.pair = static_cast<uint64_t>(Acc(src - 0x0E).Limited48());
      }
    } else if ((top & 0xE000) == 0x2000) {  // short immediate
      const int dst = static_cast<int>((top >> 8) & 0x1F);
      const uint32_t imm = top & 0xFF;
      if (dst < 4) return Unknown();
      p.kind = Pending::kReg;
      p.reg = dst;
      const bool left = (dst >= 4 && dst <= 7) || dst == 0x0E || dst == 0x0F;
      p.value = left ? (imm << 16) : imm;
    } else if ((top & 0xF400) == 0x4000) {  // L: moves
      const int lll = static_cast<int>(((top >> 9) & 4) | ((top >> 8) & 3));
      const bool to_reg = (top & 0x80) != 0;
      uint32_t address = 0;
      bool immediate = false;
      if ((top & 0x40) != 0) {
        if (!EffectiveAddress(static_cast<int>(top & 0x3F), &address, &immediate, &length) || immediate)
          return Unknown();
      } else {
        address = top & 0x3F;
      }
      if (to_reg) {
        p.kind = Pending::kLongReg;
        p.reg = lll;
        p.pair = (uint64_t{mem_.Read(Space::kX, address)} << 24) | mem_.Read(Space::kY, address);
      } else {
        p.kind = Pending::kLong;
        p.address = address;
        LongRead(lll, &p.pair);
      }
    } else if ((top & 0xC000) == 0x4000) {  // X: or Y: moves
      const int reg = static_cast<int>(((top >> 9) & 0x18) | ((top >> 8) & 7));
      const bool y = (top & 0x800) != 0;
      const bool to_reg = (top & 0x80) != 0;
      uint32_t address = 0;
      bool immediate = false;
      if ((top & 0x40) != 0) {
        if (!EffectiveAddress(static_cast<int>(top & 0x3F), &address, &immediate, &length)) return Unknown();
      } else {
        address = top & 0x3F;
      }
      if (immediate && (!to_reg || y)) return Unknown();
      if (reg < 4) return Unknown();
      if (to_reg) {
        p.kind = Pending::kReg;
        p.reg = reg;
        p.value = immediate ? address : mem_.Read(y ? Space::kY : Space::kX, address);
      } else {
        uint32_t v = 0;
        if (!ReadReg(reg, &v)) return Unknown();
        p.kind = y ? Pending::kMemY : Pending::kMemX;
        p.address = address;
        p.value = v;
      }
    } else {
      return Unknown();
    }
    if (!Alu(w_ & 0xFF)) return Unknown();
    switch (p.kind) {
      case Pending::kNone: break;
      case Pending::kReg:
        if (!WriteReg(p.reg, p.value)) return Unknown();
        break;
      case Pending::kMemX: mem_.Write(Space::kX, p.address, p.value); break;
      case Pending::kMemY: mem_.Write(Space::kY, p.address, p.value); break;
      case Pending::kLong:
        mem_.Write(Space::kX, p.address, static_cast<uint32_t>(p.pair >> 24) & kMask24);
        mem_.Write(Space::kY, p.address, static_cast<uint32_t>(p.pair) & kMask24);
        break;
      case Pending::kLongReg:
        if (w_ >> 8 >= 0x4000) LongWrite(p.reg, p.pair);
        else Acc(p.reg - 0x0E).Set(SignExtend48(p.pair));
        break;
    }
    return Next(length);
  }

  // ---- instructions without a parallel move -------------------------------

  bool Condition(int cc) const {
    const uint32_t sr = r_.sr;
    const bool c = sr & ccr::kC, v = sr & ccr::kV, z = sr & ccr::kZ, n = sr & ccr::kN;
    const bool u = sr & ccr::kU, e = sr & ccr::kE, l = sr & ccr::kL;
    switch (cc & 15) {
      case 0x0: return !c;
      case 0x1: return n == v;
      case 0x2: return !z;
      case 0x3: return !n;
      case 0x4: return !(z || (!u && !e));
      case 0x5: return !e;
      case 0x6: return !l;
      case 0x7: return !(z || (n != v));
      case 0x8: return c;
      case 0x9: return n != v;
      case 0xA: return z;
      case 0xB: return n;
      case 0xC: return z || (!u && !e);
      case 0xD: return e;
      case 0xE: return l;
      default: return z || (n != v);
    }
  }

  // Jump and call targets by effective address (absolute or register).
  bool Target(int mode, uint32_t* target, uint32_t* length) {
    bool immediate = false;
    if (!EffectiveAddress(mode, target, &immediate, length) || immediate) return false;
    return true;
  }

  Flow Shift56300() {
    // ASL/ASR #ii,S,D: low byte S iiiiii D.
    const uint32_t kind = (w_ >> 8) & 0xFF;
    const int s = (w_ >> 7) & 1, d = w_ & 1;
    if (kind == 0x1C || kind == 0x1D) {
      const int ii = static_cast<int>((w_ >> 1) & 0x3F);
      if (ii > 55) return Unknown();
      const int64_t v = Acc(s).v;
      const int64_t r = kind == 0x1C ? (v >> ii)
                                     : static_cast<int64_t>(static_cast<uint64_t>(v) << ii);
      Arithmetic(Acc(d), r, false);
      r_.sr &= ~ccr::kV;
      return Next();
    }
    if (kind == 0x1E) {  // LSL (100iiiiiD) / LSR (110iiiiiD) on D1
      const int ii = static_cast<int>((w_ >> 1) & 0x1F);
      const uint32_t sub = (w_ >> 5) & 7;
      if (sub != 4 && sub != 6) return Unknown();
      Accumulator& D = Acc(d);
      uint32_t v = D.a1();
      v = sub == 6 ? (ii >= 24 ? 0 : v >> ii) : (ii >= 24 ? 0 : (v << ii) & kMask24);
      D.SetA1(v);
      r_.sr &= ~(ccr::kV | ccr::kC);
      core_.SetFlagsFrom(D, true);
      return Next();
    }
    return Unknown();
  }

  Flow Special() {
    const uint32_t w = w_;
    if (w == 0x000000) return Next();
    if (w == 0x00000C) return Flow{Flow::kReturn, 1, 0};
    if ((w & 0xFF00F8) == 0x0000B8 || (w & 0xFF00F8) == 0x0000F8) {  // ANDI / ORI
      if (!core_.dsp56300() && (w & 3) == 3) return Unknown();
      const uint32_t imm = (w >> 8) & 0xFF;
      const int ee = w & 3;
      const bool ori = (w & 0x40) != 0;
      const int shift = ee == 0 ? 8 : ee == 1 ? 0 : -1;
      if (shift < 0) return Next();  // OMR / EOM: nothing the card models
      const uint32_t field = (r_.sr >> shift) & 0xFF;
      const uint32_t v = ori ? (field | imm) : (field & imm);
      r_.sr = (r_.sr & ~(0xFFu << shift)) | (v << shift);
      return Next();
    }
    if ((w & 0xFFF8F7) == 0x01D815) {  // NORM Rn,D
      const int rn = (w >> 8) & 7, d = (w >> 3) & 1;
      Accumulator& D = Acc(d);
      const uint32_t sr = r_.sr;
      const bool e = sr & ccr::kE, u = sr & ccr::kU, z = sr & ccr::kZ;
      if (!e && u && !z) {
        Arithmetic(D, static_cast<int64_t>(static_cast<uint64_t>(D.v) << 1), false);
        r_.r[rn] = (r_.r[rn] - 1) & kMask24;
      } else if (e) {
        Arithmetic(D, D.v >> 1, false);
        r_.r[rn] = (r_.r[rn] + 1) & kMask24;
      }
      return Next();
    }
    if ((w & 0xFFC000) == 0x014000 && (w & 0x80) != 0 && core_.dsp56300()) {
      // ADD/SUB/CMP/AND/OR/EOR #xx,D: short (6-bit) or long immediate.
      const bool long_form = (w & 0x40) != 0;
      if ((w & 0x30) != 0) return Unknown();
      const uint32_t imm = long_form ? Ext() : ((w >> 8) & 0x3F);
      const uint32_t length = long_form ? 2 : 1;
      Accumulator& D = Acc((w >> 3) & 1);
      const int64_t wide = SignExtend24(imm) * (int64_t{1} << 24);
      switch (w & 7) {
        case 0: Arithmetic(D, D.v + wide, AddCarry(D.v, wide)); break;
        case 4: Arithmetic(D, D.v - wide, SubBorrow(D.v, wide)); break;
        case 5: { Accumulator t; Arithmetic(t, D.v - wide, SubBorrow(D.v, wide)); break; }
        case 2: case 3: case 6: {
          uint32_t v = D.a1();
          v = (w & 7) == 2 ? (v | imm) : (w & 7) == 3 ? (v ^ imm) : (v & imm);
          D.SetA1(v);
          r_.sr &= ~ccr::kV;
          core_.SetFlagsFrom(D, true);
          break;
        }
        default: return Unknown();
      }
      return Next(length);
    }
    if ((w & 0xFFFFEE) == 0x0C1880 && core_.dsp56300()) {  // EXTRACTU #CO,S,D
      const uint32_t control = Ext();
      const int width = static_cast<int>((control >> 12) & 0x3F), offset = static_cast<int>(control & 0x3F);
      const int64_t src = Acc((w >> 4) & 1).v;
      uint64_t field = offset >= 56 ? 0 : (static_cast<uint64_t>(src) >> offset);
      if (width < 56) field &= (uint64_t{1} << width) - 1;
      Accumulator& D = Acc(w & 1);
      D.Set(static_cast<int64_t>(field));
      r_.sr &= ~(ccr::kC | ccr::kV);
      core_.SetFlagsFrom(D, false);
      return Next(2);
    }
    if ((w & 0xFFFC00) == 0x0C1C00 && core_.dsp56300()) return Shift56300();
    if ((w & 0xFF40E0) == 0x0440A0) {  // MOVEC register form
      const bool to_control = (w & 0x8000) != 0;
      const int reg = static_cast<int>((w >> 8) & 0x3F), control = static_cast<int>(0x20 | (w & 0x1F));
      uint32_t v = 0;
      if (to_control) {
        if (!ReadReg(reg, &v) || !WriteReg(control, v)) return Unknown();
      } else {
        if (!ReadReg(control, &v) || !WriteReg(reg, v)) return Unknown();
      }
      return Next();
    }
    if ((w & 0xFF0C20) == 0x050400 && core_.dsp56300()) {  // Bcc short
      const int64_t disp = ((w >> 1) & 0x1E0) | (w & 0x1F);
      const int64_t rel = (disp & 0x100) != 0 ? disp - 0x200 : disp;
      if (Condition(static_cast<int>((w >> 12) & 15)))
        return Jump(static_cast<uint32_t>(static_cast<int64_t>(at_) + rel), 1);
      return Next();
    }
    if ((w & 0xFFFC20) == 0x050C00 && core_.dsp56300()) {  // BRA short
      const int64_t disp = ((w >> 1) & 0x1E0) | (w & 0x1F);
      const int64_t rel = (disp & 0x100) != 0 ? disp - 0x200 : disp;
      return Jump(static_cast<uint32_t>(static_cast<int64_t>(at_) + rel), 1);
    }
    if ((w & 0xFF40A0) == 0x054020) {  // MOVEC X:/Y:ea or #xxxx
      const bool to_control = (w & 0x8000) != 0;
      const bool y = (w & 0x40) != 0;
      const int control = static_cast<int>(0x20 | (w & 0x1F));
      uint32_t address = 0, length = 1;
      bool immediate = false;
      if (!EffectiveAddress(static_cast<int>((w >> 8) & 0x3F), &address, &immediate, &length))
        return Unknown();
      if (to_control) {
        const uint32_t v = immediate ? address : mem_.Read(y ? Space::kY : Space::kX, address);
        if (!WriteReg(control, v)) return Unknown();
      } else {
        uint32_t v = 0;
        if (immediate || !ReadReg(control, &v)) return Unknown();
        mem_.Write(y ? Space::kY : Space::kX, address, v);
      }
      return Next(length);
    }
    if ((w & 0xFF00E0) == 0x0500A0) {  // MOVEC #xx,D1
      if (!WriteReg(static_cast<int>(0x20 | (w & 0x1F)), (w >> 8) & 0xFF)) return Unknown();
      return Next();
    }
    if ((w & 0xFF40C0) == 0x074080) {  // MOVEM P:ea
      const bool to_reg = (w & 0x8000) != 0;
      const int reg = static_cast<int>(w & 0x3F);
      uint32_t address = 0, length = 1;
      bool immediate = false;
      if (!EffectiveAddress(static_cast<int>((w >> 8) & 0x3F), &address, &immediate, &length) || immediate)
        return Unknown();
      if (to_reg) {
        if (!WriteReg(reg, mem_.Read(Space::kP, address))) return Unknown();
      } else {
        uint32_t v = 0;
        if (!ReadReg(reg, &v)) return Unknown();
        mem_.Write(Space::kP, address, v);
      }
      return Next(length);
    }
    if ((w & 0xFEC0F0) == 0x0AC080 || (w & 0xFEC0F0) == 0x0AC0A0) {  // JMP/JSR/Jcc/JScc ea
      const bool call = (w & 0x010000) != 0;
      const bool conditional = (w & 0x20) != 0;
      if (!conditional && (w & 0x0F) != 0) return Unknown();
      uint32_t target = 0, length = 1;
      if (!Target(static_cast<int>((w >> 8) & 0x3F), &target, &length)) return Unknown();
      if (conditional && !Condition(static_cast<int>(w & 15))) return Next(length);
      return call ? Call(target, length) : Jump(target, length);
    }
    if ((w & 0xFC0000) == 0x0C0000 && (w & 0xFFF000) != 0x0C1000) {
      // JMP / JSR short, Jcc / JScc short: 12-bit address.
      const uint32_t target = w & 0xFFF;
      const uint32_t op = (w >> 16) & 0xF;
      if (op == 0xC) return (w & 0xF000) == 0 ? Jump(target, 1) : Unknown();
      if (op == 0xD) {
        if ((w & 0xF000) == 0) return Call(target, 1);
        if (w == 0x0D10C0 && core_.dsp56300()) {  // BRA long
          return Jump(static_cast<uint32_t>(static_cast<int64_t>(at_) + SignExtend24(Ext())), 2);
        }
        return Unknown();
      }
      const bool taken = Condition(static_cast<int>((w >> 12) & 15));
      if (!taken) return Next();
      return op == 0xE ? Jump(target, 1) : Call(target, 1);
    }
    return Unknown();
  }

  DspCore& core_;
  DspRegisters& r_;
  Memory& mem_;
  uint32_t at_;
  uint32_t w_;
};

}  // namespace

DspExec::Flow DspExec::Run() { return Executor(core, at, word).Run(); }

}  // namespace zimo::cardsim
