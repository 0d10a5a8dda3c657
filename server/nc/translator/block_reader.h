// The block reader: one program line into the parsed block record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nc/language/block_record.h"
#include "nc/language/scanner.h"

namespace zimo::nc {

struct NcBlockContext {
  unsigned cs = 0;
  uint32_t line_number = 0;  // reported with errors
  const NcGroupTable* table = nullptr;
  NcCardSide* card = nullptr;
  NcMacroEnvironment* env = nullptr;
};

// Starts a new block on record: a copy of it goes to previous (when given),
// then the words, counts, M words, comment and per-block marks are cleared.
void StartBlock(NcBlockRecord& record, NcBlockRecord* previous);
// The same for a program line; with dialect set the line is first rewritten
// from the other dialect into buffer (RewriteDialectLine). Returns the line
// to read.
const char* StartBlock(NcBlockRecord& record, NcBlockRecord* previous, const char* line,
                       bool dialect, char* buffer, std::size_t size);

// Reads the words of line (ending with a NUL or LF) into record. Words whose
// value cannot be read are left out (the error is recorded); the line goes on.
void ParseWords(const NcBlockContext& context, NcBlockRecord& record, const char* line);

}  // namespace zimo::nc
