// The operators and functions of the macro language, applied to an operand
// stack, and the rounding helpers.
#pragma once

#include <cstdint>

namespace zimo::nc {

struct NcLineCursor;

// An operand stack over a fixed array of kCapacity values that the
// evaluation keeps on its own frame.
struct NcOperandStack {
  static constexpr int kCapacity = 100;
  double* value = nullptr;
  int size = 0;
};

// Applies operator or function `token` (token 22 reads a variable through
// the cursor's environment, token 32 rounds for the cursor's word). Returns 0
// or an error id; tokens without an operation do nothing.
uint32_t ApplyOperator(int token, NcOperandStack& stack, const NcLineCursor& cursor);

// x >= 0: floor(x + 0.5); x < 0: ceil(x - 0.5).
double RoundHalfAway(double x);
// Rounds to `count` decimals (count <= 0: to an integer; above 8: 9 decimals),
// half away from zero.
double RoundToDecimals(int count, double x);

// The C conversion of a double to a 32-bit integer as the processor does it:
// toward zero, and 0x80000000 for anything out of range.
int32_t TruncateToInt32(double x);

}  // namespace zimo::nc
