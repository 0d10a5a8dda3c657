// The PLC source language: one upper-cased source line becomes PlccToken
// records, checked token by token against the grammar, with quoted texts
// collected in the string pool and L/F definitions entered in their tables.
// Results are minus an error number on failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plcc/plcc_compilation.h"

namespace zimo::corvan::plcc {

// Tokenizes from `pos` into tokens[slot...], advancing both; never stores
// at or past tokens[capacity] (-46 instead). Returns the number of counted
// tokens, 0 for a line without tokens, or minus an error number. The end of
// the text ends the line like a line feed. Definitions, ASMOUT and LMOVERLAY
// are stored but not counted; tokens[slot] holds 0 when the line failed
// before its first token.
int PlccTokenizeLine(PlccCompilation& c, const char*& pos, PlccToken* tokens, std::size_t& slot,
                     std::size_t capacity);

// 0 and the position after the match when `pattern` matches at `input`, else
// 1. Pattern letters in lower case are optional; '_' is an optional blank.
int MatchKeyword(const char* input, const char* pattern, const char** end);

// True for the characters that end a token: blank, tab, CR, LF, ';' or the
// terminating NUL.
bool IsTokenDelimiter(char c);

// The per-token grammar check; a null token resets the grammar state.
// `tokens`/`slot` give the array and the token's index (for the token
// before it). 0 or minus an error number.
int CheckPlccToken(PlccCompilation& c, const PlccToken* token, const PlccToken* tokens,
                   std::size_t slot);

// Returns 0 if the statement being parsed can legally stop at this point;
// otherwise -37 or -35.
int IsPlccStatementComplete(const PlccCompilation& c);

// Definition parsers (text after "->"): fill entry n of the L or F table.
int ParseXYDefinition(PlccCompilation& c, const char* text, int n, const char** end);
int ParseLDDefinition(PlccCompilation& c, const char* text, int n, const char** end);

// Blanks, optional sign, decimal or $hexadecimal, trailing blanks: -35 when
// no digits follow.
int ParseDefinitionNumber(const char* text, std::int64_t* value, const char** end);

// Reads a constant: blanks, optional sign and blanks, then a decimal number
// or $hexadecimal. -34 when nothing converts.
int ParseConstant(const char* text, double* value, const char** end);

}  // namespace zimo::corvan::plcc
