// Card memory on line: "rhx$a[,n]", "rhy", "rhp", "rhl" (hexadecimal),
// "rx", "ry", "rp", "rl" (decimal) and "wx$a,v1,v2,...", "wy", "wp", "wl".
// 24-bit words read as 6 hex digits or a signed decimal number; L and D
// words as 12 hex digits (X half first) or the 48-bit signed number. Several
// words come on one line separated by blanks, at most 16 to a line.
#include <cstdio>
#include <string>

#include "cardsim/card_word.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
constexpr uint64_t kMaxWords = 4096;
constexpr size_t kWordsPerLine = 16;
}  // namespace

int Interpreter::ReadMemory(Scanner& s, Reply& reply, WordKind kind, bool hex) {
  s.Accept(':');
  auto address = s.Unsigned();
  if (!address || *address > word::kMask24) return card_error::kBadCommand;
  uint64_t count = 1;
  if (s.Accept(',')) {
    auto n = s.Unsigned();
    if (!n || *n == 0 || *n > kMaxWords) return card_error::kBadCommand;
    count = *n;
  }
  std::string line;
  for (uint64_t i = 0; i < count; ++i) {
    auto a = static_cast<uint32_t>((*address + i) & word::kMask24);
    std::string text;
    if (kind == WordKind::kLong) {
      uint64_t pair = memory_.ReadPair(a);
      text = hex ? word::Hex48(pair) : std::to_string(word::DecodeFixed48(pair));
    } else {
      Space space = kind == WordKind::kX ? Space::kX : kind == WordKind::kY ? Space::kY : Space::kP;
      uint32_t w = memory_.Read(space, a);
      text = hex ? word::Hex24(w) : std::to_string(word::SignExtend24(w));
    }
    if (!line.empty()) line += ' ';
    line += text;
    if ((i + 1) % kWordsPerLine == 0) {
      reply.lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) reply.lines.push_back(line);
  return 0;
}

int Interpreter::WriteMemory(Scanner& s, WordKind kind) {
  s.Accept(':');
  auto address = s.Unsigned();
  if (!address || *address > word::kMask24 || !s.Accept(',')) return card_error::kBadCommand;
  uint32_t a = static_cast<uint32_t>(*address);
  uint64_t written = 0;
  do {
    if (written >= kMaxWords) return card_error::kBadCommand;
    uint64_t bits;
    if (s.Peek() == '$') {
      auto v = s.Unsigned();
      if (!v) return card_error::kBadCommand;
      bits = *v;
    } else {
      auto v = s.SignedNumber();
      if (!v) return card_error::kBadCommand;
      bits = kind == WordKind::kLong ? word::EncodeFixed48(*v)
                                     : static_cast<uint64_t>(static_cast<int64_t>(*v));
    }
    if (kind == WordKind::kLong) {
      memory_.WritePair(a, bits & word::kMask48);
    } else {
      Space space = kind == WordKind::kX ? Space::kX : kind == WordKind::kY ? Space::kY : Space::kP;
      memory_.Write(space, a, static_cast<uint32_t>(bits) & word::kMask24);
    }
    a = (a + 1) & word::kMask24;
    ++written;
  } while (s.Accept(','));
  return 0;
}

int Interpreter::ReadHexX(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kX, true); }
int Interpreter::ReadHexY(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kY, true); }
int Interpreter::ReadHexP(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kP, true); }
int Interpreter::ReadHexL(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kLong, true); }
int Interpreter::ReadX(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kX, false); }
int Interpreter::ReadY(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kY, false); }
int Interpreter::ReadP(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kP, false); }
int Interpreter::ReadL(Scanner& s, Reply& r) { return ReadMemory(s, r, WordKind::kLong, false); }
int Interpreter::WriteX(Scanner& s, Reply&) { return WriteMemory(s, WordKind::kX); }
int Interpreter::WriteY(Scanner& s, Reply&) { return WriteMemory(s, WordKind::kY); }
int Interpreter::WriteP(Scanner& s, Reply&) { return WriteMemory(s, WordKind::kP); }
int Interpreter::WriteL(Scanner& s, Reply&) { return WriteMemory(s, WordKind::kLong); }

}  // namespace zimo::cardsim
