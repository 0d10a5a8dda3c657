// A stored program (PLC or motion program) as the card runs it: its lines
// split into statements, with every IF, ELSE, WHILE and their ends matched
// up front so that running never searches. Lines arrive upper-cased and
// without comments (the interpreter stores them that way).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zimo::cardsim {

struct Statement {
  enum class Kind {
    kPlain,     // commands run through the interpreter ("P1=P1+1", "M1018=0 M1008=0")
    kIf,        // text: the condition; jump: the ELSE or ENDIF
    kElse,      // jump: the ENDIF
    kEndIf,     //
    kWhile,     // text: the condition; jump: the ENDWHILE
    kEndWhile,  // jump: the WHILE
    kCommand,   // text: the quoted command ("#1J=")
  };
  Kind kind = Kind::kPlain;
  std::string text;
  size_t jump = 0;
  size_t line = 0;  // 0-based line of the buffer it came from
};

struct CompiledProgram {
  std::vector<Statement> statements;
  bool well_formed = true;  // every block closed, no stray ELSE/ENDIF/ENDWHILE
};

// Nesting deeper than this is refused as a structural error.
inline constexpr size_t kMaxProgramNesting = 256;

CompiledProgram CompileProgram(const std::vector<std::string>& lines);

// Removes a ';' comment (outside double quotes) from a line.
std::string_view StripComment(std::string_view line);

}  // namespace zimo::cardsim
