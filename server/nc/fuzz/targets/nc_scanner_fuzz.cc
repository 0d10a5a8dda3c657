// Fuzz target: the line scanner. Every token of the line is classified and
// stepped over; numbers convert and keyword tests run at every position. The
// scan stays inside the line and ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_replay.h"
#include "nc/language/scanner.h"
#include "nc/language/tokens.h"
#include "nc_fakes.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const char* text = line.c_str();
  const char* end_of_text = text + std::char_traits<char>::length(text);
  zimo::nc::testing::FakeCardSide card;
  zimo::nc::NcLineCursor cursor;
  cursor.card = &card;
  cursor.Reset(text);
  for (const char* p = text; p <= end_of_text; ++p) {
    const char* end = nullptr;
    zimo::nc::ConvertNumber(p, &end);
    Check(end >= p && end <= end_of_text);
    zimo::nc::IsIfWord(p);
    zimo::nc::IsDoWord(p);
    zimo::nc::IsEndWord(p);
    zimo::nc::IsDprntWord(p);
    zimo::nc::WhileWordLength(p);
    Check(zimo::nc::KeywordWord(p) <= zimo::nc::kKeyEnd);
    Check(zimo::nc::OperatorWord(p) < zimo::nc::kTokenCount);
  }
  // Walk the tokens: each step moves forward by at least one character.
  int steps = 0;
  while (cursor.pos < end_of_text && steps++ < 10000) {
    if (!zimo::nc::ClassifyNext(cursor) || cursor.kind == zimo::nc::kKindEnd) {
      ++cursor.pos;
      continue;
    }
    Check(cursor.kind >= 0 && cursor.kind <= zimo::nc::kKindDprnt);
    cursor.prev_kind = cursor.kind;
    cursor.pos = zimo::nc::AfterBlanks(cursor.pos);
    if (cursor.kind == zimo::nc::kKindNumber) {
      double v = 0.0;
      cursor.ok = true;
      if (zimo::nc::ReadNumber(cursor, &v, true)) continue;
    }
    if (cursor.pos < end_of_text) ++cursor.pos;
  }
  Check(cursor.pos <= end_of_text);
  return 0;
}
