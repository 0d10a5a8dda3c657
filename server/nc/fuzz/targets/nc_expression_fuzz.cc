// Fuzz target: the expression parser over a store of locals and commons.
// The input's first byte chooses the context (a statement, a word value, an
// IF condition); the evaluation ends inside the line, with a value or an
// error that is in the message table, and writes only known variables.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_replay.h"
#include "nc/language/expression.h"
#include "nc/language/messages.h"
#include "nc_fakes.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* text = line.c_str();
  const char* end_of_text = text + std::char_traits<char>::length(text);
  zimo::nc::testing::FakeCardSide card;
  zimo::nc::testing::FakeVariables variables;
  variables.card = &card;
  variables.values[1] = 3.0;
  variables.values[100] = -2.5;
  variables.values[500] = 1e300;
  zimo::nc::NcLineCursor cursor;
  cursor.card = &card;
  cursor.env = &variables;
  cursor.Reset(text);
  bool ok = false;
  switch (data[0] % 3) {
    case 0:
      ok = zimo::nc::EvaluateExpression(cursor);
      break;
    case 1:
      cursor.word_slot = zimo::nc::kSlotX;
      ok = zimo::nc::WordValue(cursor);
      break;
    default:
      cursor.bracket_condition = true;
      ok = zimo::nc::EvaluateExpression(cursor);
      break;
  }
  Check(cursor.pos >= text && cursor.pos <= end_of_text);
  Check(ok == card.errors.empty());
  Check(ok == cursor.ok);
  for (const auto& e : card.errors) Check(zimo::nc::NcMessageText(e.id) != nullptr);
  for (const auto& [number, value] : variables.values) {
    (void)value;
    Check(zimo::nc::testing::FakeVariables::Known(number) && number != 0);
  }
  return 0;
}
