// The expression parser of the macro language: evaluates at once with an
// operand and an operator stack by precedence. Each evaluation keeps its
// stacks on its own frame (no allocation, nothing shared between threads);
// an expression nested deeper than the stacks hold is refused with the value
// stack error.
#pragma once

#include "nc/language/scanner.h"

namespace zimo::nc {

// Evaluates from the cursor position to the end of the expression; the result
// goes to cursor.value and, for an assignment, to its target variable. False
// (with the error recorded and cursor.ok cleared) on an error.
bool EvaluateExpression(NcLineCursor& cursor);

// The value of an address word whose letter the cursor has just passed
// (cursor.word_slot names it): a plain number, or an expression.
bool WordValue(NcLineCursor& cursor);

// The number after G, N or O (cursor.word_slot): for N and O it must start
// with a digit or ".", for the others also "-".
bool CodeNumber(NcLineCursor& cursor);

// The statement "#n = expression" (or "#[expression] = expression") at the
// cursor.
bool AssignmentStatement(NcLineCursor& cursor);

}  // namespace zimo::nc
