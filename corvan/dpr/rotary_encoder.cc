#include "dpr/rotary_encoder.h"

#include <array>
#include <cmath>
#include <cstring>

namespace zimo::corvan {
namespace {

constexpr std::uint64_t kMask36 = (std::uint64_t{1} << 36) - 1;
constexpr std::uint64_t kMask48 = (std::uint64_t{1} << 48) - 1;
constexpr std::uint64_t kLastUnitBit = 1u << 5;

constexpr int kOpTimeWord = 28;
constexpr int kOpCommand = 30;
constexpr int kOpConstant = 31;

std::uint64_t Code(int opcode, const RotaryToken& t) {
  const std::uint64_t start = (t.word & kRotaryBlockStart) != 0 ? 1u : 0u;
  return (static_cast<std::uint64_t>(opcode) << 6) | (start << 11);
}

bool IsStatement(int code) { return (code >= 256 && code <= 383) || (code >= 770 && code <= 773); }
bool IsIf(int code) { return code == 292 || code == 293; }
bool IsWhile(int code) { return code == 296 || code == 297; }

class Encoder {
 public:
  Encoder(const RotaryDialect& dialect, std::uint8_t* block) : dialect_(dialect), block_(block) {}

  int Run(const RotaryToken* tokens);

 private:
  enum class Frame { kNone, kIf, kWhile };

  int Put(std::uint64_t unit) {
    if (units_ >= kRotaryBlockUnits) return kRotaryTooLong;
    unit &= kMask48;
    std::uint8_t* at = block_ + 8 * units_;
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(unit >> (8 * i));
    ++units_;
    return 0;
  }
  std::uint64_t Unit(std::size_t index) const {
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= std::uint64_t{block_[8 * index + i]} << (8 * i);
    return u;
  }
  void SetUnit(std::size_t index, std::uint64_t unit) {
    for (int i = 0; i < 8; ++i) block_[8 * index + i] = static_cast<std::uint8_t>(unit >> (8 * i));
  }

  int Single(const RotaryToken& t);
  int Open(const RotaryToken& t);
  int Append(std::uint64_t bits, int width);
  int Flush();
  int Expression(const RotaryToken& t);
  int Close(int next_code);
  int Finish();

  const RotaryDialect& dialect_;
  std::uint8_t* block_;
  std::size_t units_ = 0;

  // The open expression statement.
  int statement_ = 0;               // 0: none open
  std::uint64_t header_ = 0;        // the current unit's header bits
  std::uint64_t continuation_ = 0;  // header of its further units
  int payload_ = 0;                 // payload bits of the current unit
  std::uint64_t pending_ = 0;       // bits gathered for the current unit
  int pending_bits_ = 0;
  std::size_t first_unit_ = 0;        // index of the statement's first unit
  std::size_t last_full_ = SIZE_MAX;  // index of its last unit emitted full
  std::array<std::uint64_t, kRotaryStatementConstants> constants_{};
  std::size_t constant_count_ = 0;

  // IF and WHILE framing of the line.
  Frame frame_ = Frame::kNone;
  bool reserved_ = false;
  std::size_t frame_unit_ = 0;
  std::size_t while_start_ = 0;
};

int Encoder::Single(const RotaryToken& t) {
  std::uint64_t unit = 0;
  switch (t.code) {
    case 320:
    case 321: {
      std::uint32_t e = 0;
      std::uint64_t m = 0;
      if (!RotaryPackValue(t.value, &e, &m)) return kRotaryCannotPack;
      if (t.code == 320) {
        unit = Code(t.word & 31, t) | e | (m << 12);
      } else {
        const std::uint64_t time_code = static_cast<std::uint64_t>(t.sub) & 0x7F;
        unit = Code(kOpTimeWord, t) | e | (time_code << 17) | ((m >> 12) << 24);
      }
      break;
    }
    case 322:
      unit = Code(kOpCommand, t) | 1 | ((static_cast<std::uint64_t>(t.sub) & 0xF) << 12) |
             (std::uint64_t{static_cast<std::uint32_t>(t.count)} << 16);
      break;
    case 323:
      unit = Code(kOpCommand, t) | 2 | ((static_cast<std::uint64_t>(t.sub) & 0x1FFF) << 16) |
             ((std::uint64_t{static_cast<std::uint32_t>(t.count)} & 0x7FFFF) << 29);
      break;
    case 324:
      unit = Code(kOpCommand, t) | 2 | (std::uint64_t{2} << 16) |
             ((std::uint64_t{static_cast<std::uint32_t>(t.count)} & 0x1FFFF) << 31);
      break;
    case 325: {
      const std::uint64_t mask = static_cast<std::uint32_t>(t.count);
      unit = Code(kOpCommand, t) | (static_cast<std::uint64_t>(t.sub) & 0x3F) |
             (dialect_.spran ? mask << 16 : (mask & 0xFF) << 24);
      break;
    }
    case 326: {
      std::uint64_t count = static_cast<std::uint32_t>(t.count);
      if (count == 0) count = dialect_.spran ? 8192 : 1024;
      unit = Code(kOpCommand, t) | ((static_cast<std::uint64_t>(t.sub) & 0xFF) << 16) |
             ((count & 0xFFFFFF) << 24);
      break;
    }
    default:  // 327
      unit = Code(kOpCommand, t) | ((static_cast<std::uint64_t>(t.sub) & 0xFFFF) << 16);
      break;
  }
  return Put(unit);
}

// Appends `width` bits (most significant first) to the open statement,
// emitting units as they fill.
int Encoder::Append(std::uint64_t bits, int width) {
  for (int i = width - 1; i >= 0; --i) {
    pending_ = (pending_ << 1) | ((bits >> i) & 1u);
    if (++pending_bits_ == payload_) {
      const std::size_t at = units_;
      if (const int r = Put(header_ | (pending_ << (48 - payload_))); r != 0) return r;
      last_full_ = at;
      header_ = continuation_;
      payload_ = 36;
      pending_ = 0;
      pending_bits_ = 0;
    }
  }
  return 0;
}

int Encoder::Open(const RotaryToken& t) {
  statement_ = t.code;
  first_unit_ = units_;
  last_full_ = SIZE_MAX;
  pending_ = 0;
  pending_bits_ = 0;
  constant_count_ = 0;
  const std::uint64_t start = (t.word & kRotaryBlockStart) != 0 ? 1u << 11 : 0;
  const int minus = t.code & 1;
  const int even = t.code & ~1;
  auto open = [&](std::uint64_t kind, int header_bits, std::uint64_t extra) {
    header_ = kind | start | extra;
    continuation_ = kind;
    payload_ = 48 - header_bits;
  };
  const std::uint64_t n = static_cast<std::uint32_t>(t.count);
  switch (even) {
    case 256:
    case 258:
    case 260:
    case 262:
    case 274: {
      const std::uint64_t kind = even == 274 ? 15 : 14;
      const std::uint64_t type = static_cast<std::uint64_t>(t.sub) & 3;
      if (dialect_.spran) {
        open(kind, 12, 0);
        return Append((type << 14) | ((n & 0x1FFF) << 1) | minus, 17);
      }
      open(kind, 24, (type << 12) | ((n & 0x3FF) << 14));
      return Append(minus, 1);
    }
    case 770:
      open(14, 12, 0);
      return Append(8 + (static_cast<std::uint64_t>(t.sub) & 6) + minus, 4);
    case 772:
      open(15, 12, 0);
      return Append(8 + (static_cast<std::uint64_t>(t.sub) & 6) + minus, 4);
    case 270:
      open(static_cast<std::uint64_t>(t.sub) & 31, 12, 0);
      return Append(minus, 1);
    case 272:
      open(kOpTimeWord, 24, (static_cast<std::uint64_t>(t.sub) & 0x7F) << 17);
      return Append(minus, 1);
    case 292:
      open(30, 12, 0);
      return Append(minus, 1);
    case 296:
      open(31, 12, 0);
      return Append(minus, 1);
    default:
      statement_ = 0;
      return kRotaryIllegal;
  }
}

int Encoder::Expression(const RotaryToken& t) {
  const int c = t.code;
  if (c >= 32 && c <= 39) {
    const std::uint64_t type = static_cast<std::uint64_t>((c - 32) / 2);
    const std::uint64_t n = static_cast<std::uint32_t>(t.count);
    if (dialect_.spran) return Append((std::uint64_t{2} << 15) | (type << 13) | (n & 0x1FFF), 17);
    return Append((std::uint64_t{2} << 12) | (type << 10) | (n & 0x3FF), 14);
  }
  if (c == 40 || c == 41) {
    if (constant_count_ >= constants_.size()) return kRotaryTooLong;
    std::uint32_t e = 0;
    std::uint64_t m = 0;
    if (!RotaryPackValue(t.value, &e, &m)) return kRotaryCannotPack;
    constants_[constant_count_++] = (std::uint64_t{kOpConstant} << 6) | e | (m << 12);
    return Append(3, 2);
  }
  if (c >= 64 && c <= 95) return Append(32 + static_cast<std::uint64_t>(c - 64), 7);
  if (c == 96 || c == 97) return Append(static_cast<std::uint64_t>(c - 96), 3);
  if (c == 98) return Append(1, 1);
  if (c == 100 || c == 101) return Append(static_cast<std::uint64_t>(c - 100), 1);
  if (c >= 128 && c <= 135) return Append(static_cast<std::uint64_t>(c - 128), 4);
  if (c >= 168 && c <= 171) return Append(8 + static_cast<std::uint64_t>(c - 168), 4);
  if (c == 176 || c == 177) return Append(static_cast<std::uint64_t>(t.word - 160) & 31, 5);
  return kRotaryIllegal;
}

// Closes the open statement; `next_code` is the token that closes it (0 at
// the end of the line).
int Encoder::Close(int next_code) {
  if (statement_ == 0) return 0;
  const int even = statement_ & ~1;
  const bool word_form = even == 270 || even == 272;
  if (!word_form) {
    if (const int r = Append(1, 1); r != 0) return r;
  }
  if (pending_bits_ > 0) {
    if (const int r = Put(header_ | kLastUnitBit | (pending_ << (48 - pending_bits_))); r != 0) {
      return r;
    }
  } else if (last_full_ != SIZE_MAX) {
    // The statement's bits filled its last unit exactly: that unit ends it.
    SetUnit(last_full_, Unit(last_full_) | kLastUnitBit);
  }
  for (std::size_t i = 0; i < constant_count_; ++i) {
    if (const int r = Put(constants_[i]); r != 0) return r;
  }
  const bool is_if = IsIf(statement_);
  const bool is_while = IsWhile(statement_);
  if (is_if || is_while) {
    frame_ = is_if ? Frame::kIf : Frame::kWhile;
    if (is_while) while_start_ = first_unit_;
    const bool chained = (is_if && IsIf(next_code)) || (is_while && IsWhile(next_code));
    if (!reserved_ && !chained) {
      reserved_ = true;
      frame_unit_ = units_;
      if (const int r = Put(0); r != 0) return r;
    }
  }
  statement_ = 0;
  return 0;
}

int Encoder::Finish() {
  if (frame_ == Frame::kNone || !reserved_) return 0;
  const std::uint64_t u = units_;
  const std::uint64_t b = frame_unit_;
  if (frame_ == Frame::kIf) {
    SetUnit(frame_unit_, ((u - b + 0x200000) << 24) & kMask48);
    return Put(0);
  }
  SetUnit(frame_unit_, ((u - b + 0x300000) << 24) & kMask48);
  const std::uint64_t back = static_cast<std::uint64_t>(static_cast<std::int64_t>(while_start_) -
                                                        static_cast<std::int64_t>(u) - 1);
  const std::uint64_t width_mask = dialect_.spran ? 0xFFFFF : 0xFFFF;
  return Put((back & width_mask) << 24);
}

int Encoder::Run(const RotaryToken* tokens) {
  for (const RotaryToken* t = tokens;; ++t) {
    if (t->code == 0) {
      if (const int r = Close(0); r != 0) return r;
      break;
    }
    if (IsStatement(t->code)) {
      if (const int r = Close(t->code); r != 0) return r;
      if (t->code >= 320 && t->code <= 327) {
        if (const int r = Single(*t); r != 0) return r;
      } else if (const int r = Open(*t); r != 0) {
        return r;
      }
      continue;
    }
    if (statement_ == 0) return kRotaryIllegal;
    if (const int r = Expression(*t); r != 0) return r;
  }
  if (const int r = Finish(); r != 0) return r;
  return static_cast<int>(2 * units_);
}

}  // namespace

bool RotaryPackValue(double value, std::uint32_t* exponent, std::uint64_t* mantissa36) {
  *exponent = 0;
  *mantissa36 = 0;
  if (value == 0) return true;
  if (!std::isfinite(value)) return false;
  int e = 0;
  const double m = std::frexp(std::fabs(value), &e);  // 0.5 <= m < 1
  const int field = e + 28;
  if (field < 0 || field > 63) return false;
  std::uint64_t bits = static_cast<std::uint64_t>(std::floor(std::ldexp(m, 35)));
  if (value < 0) bits = ~bits & kMask36;
  *exponent = static_cast<std::uint32_t>(field);
  *mantissa36 = bits;
  return true;
}

int RotaryEncodeLine(const RotaryDialect& dialect, const RotaryToken* tokens, std::uint8_t* block) {
  if (tokens == nullptr || block == nullptr) return kRotaryIllegal;
  std::memset(block, 0, kRotaryBlockBytes);
  Encoder encoder(dialect, block);
  return encoder.Run(tokens);
}

int RotaryConvertLine(const RotaryDialect& dialect, const char* text, std::uint8_t* block) {
  std::array<RotaryToken, kRotaryTokenLimit> tokens{};
  if (const int r = RotaryParseLine(dialect, text, tokens.data()); r != 0) return r;
  return RotaryEncodeLine(dialect, tokens.data(), block);
}

}  // namespace zimo::corvan
