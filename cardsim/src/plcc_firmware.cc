// The firmware routines compiled PLC code calls, done natively (see
// plcc_firmware.h for the register contract and the float forms).
#include "cardsim/plcc_firmware.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "cardsim/card_word.h"

namespace zimo::cardsim {

namespace {

constexpr uint32_t kMask24 = 0xFFFFFF;
// Where routine 36 leaves the Q base of a system for the code to load:
// Y: (SPRAN cards) and P: (older cards) of this address.
constexpr uint32_t kOlderQCell = 0x17F0, kSpranQCell = 0x7F0F0;
// Display buffers (80 characters, one per X word).
constexpr uint32_t kOlderDisplay = 0x780, kSpranDisplay = 0x1080;
constexpr uint32_t kOlderFormats = 0x7DE, kSpranFormats = 0x10DE;

int64_t SignExtend24(uint32_t w) {
  int64_t v = static_cast<int64_t>(w & kMask24);
  return (v & 0x800000) != 0 ? v - 0x1000000 : v;
}

int64_t SignExtend48(uint64_t w) {
  w &= (uint64_t{1} << 48) - 1;
  int64_t v = static_cast<int64_t>(w);
  return (w & (uint64_t{1} << 47)) != 0 ? v - (int64_t{1} << 48) : v;
}

int64_t ToInt(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 9e18) return 0;
  return static_cast<int64_t>(v);
}

uint64_t PairOf(const Accumulator& a) { return (uint64_t{a.a1()} << 24) | a.a0(); }

// Fields of the bit-field access codes (L_Read0 / L_Write0): X memory,
// first bit, width, signed.
struct FieldCode {
  bool y = false;
  int offset = 0, width = 24;
  bool is_signed = false;
};

bool DecodeFieldCode(uint32_t code, FieldCode* f) {
  int c = static_cast<int>(code & 0xFF);
  f->y = c < 128;
  if (!f->y) c -= 112;
  if (c == 121) {
    f->offset = 0, f->width = 24, f->is_signed = true;
    return true;
  }
  struct Row {
    int base, width, top;
  };
  static constexpr Row kRows[] = {{16, 1, 39}, {40, 4, 61}, {64, 8, 81}, {84, 12, 97}, {100, 16, 109}, {112, 20, 117}};
  for (const Row& r : kRows) {
    if (c < r.base || c > r.top) continue;
    const int rest = c - r.base;
    f->width = r.width;
    if (r.width == 1) {
      f->offset = rest;
      f->is_signed = false;
    } else {
      f->offset = rest & ~3;
      f->is_signed = (rest & 3) != 0;
    }
    return f->offset + f->width <= 24;
  }
  return false;
}

}  // namespace

PlccFirmware::PlccFirmware(Memory& memory, bool spran, std::vector<uint32_t> link_list, bool extended)
    : memory_(memory), spran_(spran), extended_(extended), links_(std::move(link_list)),
      q_cell_(spran ? kSpranQCell : kOlderQCell) {
  auto add = [this](uint32_t address, int role) { roles_.emplace(address & kMask24, role); };
  if (extended_) {
    for (int i = 0; i < 62; ++i)
      if (i != plcc_role::kCommandCells) add(0xFF00 + 2 * static_cast<uint32_t>(i), i);
  }
  for (size_t i = 0; i < links_.size() && i < 62; ++i) {
    if (static_cast<int>(i) == plcc_role::kCommandCells || links_[i] == 0) continue;
    add(links_[i], static_cast<int>(i));
  }
  if (links_.size() > 40) {
    add(links_[plcc_role::kIntDivPopped] + 1, plcc_role::kIntDivPushed);
    add(links_[plcc_role::kIntModPopped] + 1, plcc_role::kIntModPushed);
  }
  for (int i = 0; i < 5; ++i) add(8 + static_cast<uint32_t>(i), plcc_role::kMiRead + i);
}

std::optional<int> PlccFirmware::RoleAt(uint32_t address) const {
  auto it = roles_.find(address & kMask24);
  if (it == roles_.end()) return std::nullopt;
  return it->second;
}

double PlccFirmware::Working(const DspRegisters& r) {
  if (r.a.v == 0) return 0.0;
  const int exponent = static_cast<int>(SignExtend24(r.r[5]));
  return std::ldexp(static_cast<double>(r.a.v), exponent - 2047 - 47);
}

void PlccFirmware::SetWorking(DspRegisters& r, double value) {
  if (value == 0.0 || !std::isfinite(value)) {
    r.a.Set(0);
    r.r[5] = 0;
    return;
  }
  int e = 0;
  double f = std::frexp(value, &e);
  int64_t m = std::llround(std::ldexp(f, 47));
  if (m == (int64_t{1} << 47)) {  // rounding carried into the next power of two
    m >>= 1;
    ++e;
  }
  r.a.Set(m);
  r.r[5] = static_cast<uint32_t>(e + 2047) & kMask24;
}

double PlccFirmware::Packed(uint64_t pair48) { return word::DecodeFloat48(pair48); }

uint64_t PlccFirmware::Pack(double value) { return word::EncodeFloat48(value); }

int PlccFirmware::PlcSystem() const {
  // The PLC's addressing word: its coordinate system less one.
  if (spran_) {
    const uint32_t code_start = 0x50000 + 130;
    return static_cast<int>((memory_.Read(Space::kP, code_start - 32 + static_cast<uint32_t>(plc_)) >> 17) & 0x1F) + 1;
  }
  return static_cast<int>((memory_.Read(Space::kP, 0x8000 + static_cast<uint32_t>(plc_)) >> 19) & 7) + 1;
}

bool PlccFirmware::Function(int role, DspCore& core, std::string* why) {
  DspRegisters& r = core.regs();
  const double x = Working(r);
  const bool degrees = card_.degrees ? card_.degrees() : true;
  auto rad = [degrees](double v) { return degrees ? v * std::numbers::pi / 180.0 : v; };
  auto deg = [degrees](double v) { return degrees ? v * 180.0 / std::numbers::pi : v; };
  double result = 0;
  const int n = static_cast<int>(std::llround(x));
  switch (role) {
    case 0: case 1: case 2:
      if (n < 0 || n > 8191) {
        *why = "variable number out of range";
        return false;
      }
      result = card_.read ? card_.read("IMP"[role], n) : 0.0;
      break;
    case 3:
      if (n < 0 || n > 8191) {
        *why = "variable number out of range";
        return false;
      }
      result = card_.read_q ? card_.read_q(PlcSystem(), n) : 0.0;
      break;
    case 4: result = std::sin(rad(x)); break;
    case 5: result = std::cos(rad(x)); break;
    case 6: result = std::tan(rad(x)); break;
    case 7: result = std::fabs(x); break;
    case 8: result = deg(std::asin(std::clamp(x, -1.0, 1.0))); break;
    case 9: result = deg(std::acos(std::clamp(x, -1.0, 1.0))); break;
    case 10: result = deg(std::atan(x)); break;
    case 11: result = x < 0 ? 0.0 : std::sqrt(x); break;
    case 12: result = std::exp(x); break;
    case 13: result = x <= 0 ? 0.0 : std::log(x); break;
    case 14: result = std::floor(x); break;
    case 15: result = deg(std::atan2(x, Packed((uint64_t{r.x1} << 24) | r.x0))); break;
    default: break;
  }
  if (!std::isfinite(result)) result = 0;
  SetWorking(r, result);
  return true;
}

bool PlccFirmware::Operator(int op, bool popped, DspCore& core, std::string* why) {
  DspRegisters& r = core.regs();
  const double a = Working(r);
  const double x = Packed((uint64_t{r.x1} << 24) | r.x0);
  const double left = popped ? x : a, right = popped ? a : x;
  double result = 0;
  switch (op & 7) {
    case 0: result = left + right; break;
    case 1: result = left - right; break;
    case 2: result = left * right; break;
    case 3:
      if (right == 0) {
        *why = "divide by zero";
        return false;
      }
      result = left / right;
      break;
    case 4: result = static_cast<double>(ToInt(left) | ToInt(right)); break;
    case 5: result = static_cast<double>(ToInt(left) ^ ToInt(right)); break;
    case 6: result = static_cast<double>(ToInt(left) & ToInt(right)); break;
    default:
      if (right == 0) {
        *why = "modulo by zero";
        return false;
      }
      result = std::fmod(left, right);
      break;
  }
  if (!std::isfinite(result)) result = 0;
  SetWorking(r, result);
  return true;
}

bool PlccFirmware::IntDivide(bool modulo, bool popped, DspCore& core, std::string* why) {
  DspRegisters& r = core.regs();
  const int64_t a = SignExtend24(r.a.a1()), x = SignExtend24(r.x1);
  const int64_t left = popped ? x : a, right = popped ? a : x;
  if (right == 0) {
    *why = modulo ? "modulo by zero" : "divide by zero";
    return false;
  }
  const int64_t result = modulo ? left % right : left / right;
  r.a.SetWord(static_cast<uint32_t>(result) & kMask24);
  return true;
}

bool PlccFirmware::Run(uint32_t address, DspCore& core, std::string* why) {
  const auto role = RoleAt(address);
  if (!role) {
    *why = "no routine";
    return false;
  }
  DspRegisters& r = core.regs();
  using namespace plcc_role;
  const int k = *role;
  if (k >= kFunctionFirst && k <= kFunctionLast) return Function(k, core, why);
  if (k >= kPushedFirst && k <= kPushedLast) return Operator(k - kPushedFirst, false, core, why);
  switch (k) {
    case kPoppedSub: return Operator(1, true, core, why);
    case kPoppedDiv: return Operator(3, true, core, why);
    case kPoppedMod: return Operator(7, true, core, why);
    case kReadI:
    case kReadM: {
      const int n = static_cast<int>(r.n[4] & kMask24);
      if (n > 8191) {
        *why = "variable number out of range";
        return false;
      }
      SetWorking(r, card_.read ? card_.read(k == kReadI ? 'I' : 'M', n) : 0.0);
      return true;
    }
    case kWriteI:
    case kWriteM: {
      const int n = static_cast<int>(r.n[4] & kMask24);
      if (n > 8191) {
        *why = "variable number out of range";
        return false;
      }
      if (card_.write) card_.write(k == kWriteI ? 'I' : 'M', n, Working(r));
      return true;
    }
    case kNegate: SetWorking(r, -Working(r)); return true;
    case kCompare: {
      const double a = Working(r), x = Packed((uint64_t{r.x1} << 24) | r.x0);
      r.sr &= ~(ccr::kZ | ccr::kN | ccr::kV | ccr::kC);
      if (a == x) r.sr |= ccr::kZ;
      if (a < x) r.sr |= ccr::kN;
      return true;
    }
    case kPack: r.a.Set(SignExtend48(Pack(Working(r)))); return true;
    case kUnpack: SetWorking(r, Packed(PairOf(r.a))); return true;
    case kEnable: {
      const uint32_t mask = (r.a.a1() << 8) | (r.a.a0() >> 16);
      const int kind = static_cast<int>((r.a.a0() >> 12) & 0xF);
      if (kind > 3) {
        *why = "unknown enable kind";
        return false;
      }
      if (card_.enable) card_.enable(mask, kind);
      return true;
    }
    case kQBase: {
      const uint32_t word = r.b.a1();
      const int cs = spran_ ? static_cast<int>((word >> 17) & 0x1F) + 1 : static_cast<int>((word >> 19) & 7) + 1;
      const uint32_t base = card_.q_base ? card_.q_base(cs) : 0;
      memory_.Write(Space::kY, q_cell_, base);
      memory_.Write(Space::kP, q_cell_, base);
      r.r[5] = q_cell_;
      r.n[5] = 0;
      return true;
    }
    case kDisplayText: {
      // The text from P:(R1) on, three characters a word, into the display
      // buffer from X:(R5) on (one character a word, 80 at most).
      uint32_t from = r.r[1], to = r.r[5];
      const uint32_t end = (spran_ ? kSpranDisplay : kOlderDisplay) + 80;
      for (int words = 0; words < 27; ++words) {
        const uint32_t w = memory_.Read(Space::kP, from++);
        for (int shift = 16; shift >= 0; shift -= 8) {
          const uint32_t c = (w >> shift) & 0xFF;
          if (c == 0) return true;
          if (to < end) memory_.Write(Space::kX, to++, c);
        }
      }
      return true;
    }
    case kDisplayVar: {
      const uint32_t formats = spran_ ? kSpranFormats : kOlderFormats;
      const int decimals = std::clamp(static_cast<int>(r.r[4]) - static_cast<int>(formats), 0, 9);
      const int integer = std::clamp(static_cast<int>(r.n[4]), 0, 20);
      char text[64];
      std::snprintf(text, sizeof text, "%*.*f", integer + 1 + decimals, decimals, Working(r));
      uint32_t to = r.r[1];
      const uint32_t base = spran_ ? kSpranDisplay : kOlderDisplay;
      for (const char* c = text; *c != 0; ++c) {
        memory_.Write(Space::kX, base + ((to - base) % 80), static_cast<uint8_t>(*c));
        ++to;
      }
      return true;
    }
    case kIntDivPopped: return IntDivide(false, true, core, why);
    case kIntModPopped: return IntDivide(true, true, core, why);
    case kIntDivPushed: return IntDivide(false, false, core, why);
    case kIntModPushed: return IntDivide(true, false, core, why);
    case kCommand:
    case kCommand0: {
      // SPRAN cards: A holds the first text word, R1 the next; the header
      // word came before it.
      std::string text;
      uint32_t w = r.a.a1();
      uint32_t from = r.r[1];
      for (int words = 0; words < 86; ++words) {
        bool end = false;
        for (int shift = 16; shift >= 0 && !end; shift -= 8) {
          const char c = static_cast<char>((w >> shift) & 0xFF);
          if (c == 0) end = true;
          else text.push_back(c);
        }
        if (end) break;
        w = memory_.Read(Space::kP, from++);
      }
      if (card_.command) card_.command(plc_, text);
      return true;
    }
    case kFtol: {
      const double v = Working(r);
      int64_t n = std::isfinite(v) ? std::llround(std::clamp(v, -140737488355328.0, 140737488355327.0)) : 0;
      r.a.Set(n);
      return true;
    }
    case kLtof: SetWorking(r, static_cast<double>(SignExtend48(PairOf(r.a)))); return true;
    case kLmRead: {
      const int n = static_cast<int>(r.n[4] & kMask24);
      const double v = card_.read ? card_.read('M', n) : 0.0;
      r.a.SetWord(static_cast<uint32_t>(ToInt(v)) & kMask24);
      return true;
    }
    case kLmWrite:
      if (card_.write) card_.write('M', static_cast<int>(r.n[4] & kMask24), static_cast<double>(SignExtend24(r.a.a1())));
      return true;
    case kLRead0:
    case kLWrite0: {
      FieldCode f;
      if (!DecodeFieldCode(r.b.a1() >> 16, &f)) {
        *why = "unknown field code";
        return false;
      }
      const uint32_t address = r.b.a0();
      const Space space = f.y ? Space::kY : Space::kX;
      const uint32_t mask = (f.width == 24 ? kMask24 : ((1u << f.width) - 1)) << f.offset;
      const uint32_t old = memory_.Read(space, address);
      if (k == kLWrite0) {
        memory_.Write(space, address, (old & ~mask) | ((r.a.a1() << f.offset) & mask));
        return true;
      }
      int64_t v = (old & mask) >> f.offset;
      if (f.is_signed && f.width < 24 && (v & (int64_t{1} << (f.width - 1))) != 0) v -= int64_t{1} << f.width;
      r.a.SetWord(static_cast<uint32_t>(v) & kMask24);
      return true;
    }
    case kQReadA:
    case kQReadX: {
      const uint32_t word = r.b.a1();
      const int cs = spran_ ? static_cast<int>((word >> 17) & 0x1F) + 1 : static_cast<int>((word >> 19) & 7) + 1;
      const int n = static_cast<int>(r.n[4] & kMask24);
      const uint64_t packed = Pack(card_.read_q ? card_.read_q(cs, n) : 0.0);
      if (k == kQReadA) {
        r.a.Set(SignExtend48(packed));
      } else {
        r.x1 = static_cast<uint32_t>(packed >> 24) & kMask24;
        r.x0 = static_cast<uint32_t>(packed) & kMask24;
      }
      return true;
    }
    case kQWriteA: {
      const uint32_t word = r.b.a1();
      const int cs = spran_ ? static_cast<int>((word >> 17) & 0x1F) + 1 : static_cast<int>((word >> 19) & 7) + 1;
      if (card_.write_q) card_.write_q(cs, static_cast<int>(r.n[4] & kMask24), Packed(PairOf(r.a)));
      return true;
    }
    case kMiRead:
      SetWorking(r, 0);
      r.a.SetWord(static_cast<uint32_t>(ToInt(card_.ring_read ? card_.ring_read(static_cast<int>(r.b.a1())) : 0)) & 0xFF);
      // The value comes back in the upper byte: ASL #24 moves it down.
      r.a.Set(static_cast<int64_t>(r.a.a1()) << 24 >> 24);
      return true;
    case kMiWrite:
      if (card_.ring_write) card_.ring_write(static_cast<int>(r.b.a1()), static_cast<double>(SignExtend24(r.a.a1())));
      return true;
    case kLock:
    case kUnlock: {
      // LOCK n,Pm: N5 holds n; A is left 1 when the lock was already held
      // (the caller did not get it), 0 when it is now taken. UNLOCK n: A1.
      const uint32_t n = (k == kLock ? r.n[5] : r.a.a1()) & kMask24;
      if (n > 7) {
        *why = "lock number out of range";
        return false;
      }
      const uint32_t bit = 1u << n;
      if (k == kUnlock) {
        locks_ &= ~bit;
        return true;
      }
      SetWorking(r, (locks_ & bit) != 0 ? 1.0 : 0.0);
      locks_ |= bit;
      // B1 holds four times the P variable's number; the code then stores
      // A at L:(P base + N4).
      r.n[4] = (r.b.a1() >> 2) & kMask24;
      return true;
    }
    case kAddressByP: {
      // ADDRESS #Pn / &Pn: X1 holds n; Pn holds the motor or coordinate
      // system number (1..32). The code merges the result into the PLC's
      // addressing word: A1 the coordinate-system field mask, X1 the
      // motor field mask, B0 the number less one in the coordinate-system
      // field (the motor form shifts it down five bits).
      const int n = static_cast<int>(r.x1 & kMask24);
      const double v = card_.read ? card_.read('P', n) : 0.0;
      const int64_t number = ToInt(v);
      if (n > 8191 || number < 1 || number > 32) {
        *why = "address number out of range";
        return false;
      }
      r.a.SetWord(0x3E0000);
      r.x1 = 0x01F000;
      r.b.Set(static_cast<int64_t>((number - 1) << 17));
      return true;
    }
    default:
      *why = "routine not available on this card";
      return false;
  }
}

}  // namespace zimo::cardsim
