// The PLC compiler proper: reads a card program file, copies what lies
// outside compiled blocks, and replaces every compiled block (OPEN PLCC n,
// OPEN SERVO or OPEN VARPLCC ... CLOSE) with memory writes of card code.
// It is a function of the source and a target description; nothing it
// keeps outlives a call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "plcc/plcc_target.h"

namespace zimo::corvan::plcc {

// Where an error inside a compiled block goes (file name from the last
// naming comment, error number, the line's own number, the line's text).
class PlccErrorSink {
 public:
  virtual ~PlccErrorSink() = default;
  virtual void ReportError(const char* file, int error, std::uint32_t line, const char* text) = 0;
  // A refusal that belongs to a file rather than to a line (the output
  // naming the input file): the error number, the file and why.
  virtual void ReportFileError(int error, const char* file, const char* why) {
    (void)error;
    (void)file;
    (void)why;
  }
};

struct PlccCompileResult {
  int result = 0;           // 0, or the error number (33..50, 41, 42)
  std::uint32_t words = 0;  // card words written, or the source line of the error
  // What the compilation means for the card's shared record: its link list
  // is the extended firmware's fixed table, and an OPEN SERVO section ran
  // (the card then counts as a 56303).
  bool extended_firmware = false;
  bool servo_opened = false;
  // On failure: the input line (counted from 1) being compiled, or 0 when
  // the failure belongs to no line.
  std::uint32_t input_line = 0;
};

// One source line without its LF or CR LF; false at the end of the input.
// Callers that look for a line the compiler refused read with it too.
bool ReadPlccSourceLine(std::FILE* in, std::string& line);

// Compiles `in` into `out` (CR LF lines). `sink` may be null.
PlccCompileResult CompilePlccStream(const PlccTarget& target, std::FILE* in, std::FILE* out,
                                    PlccErrorSink* sink);

// True when both paths name one existing file (the same name, a link to it,
// or another spelling of its folder).
bool SamePlccFile(const char* a, const char* b);

// The same from and to files: 42 when the input cannot be opened, 41 when
// the output cannot be created or names the input file (then nothing is
// written and the sink hears of it).
PlccCompileResult CompilePlccFile(const PlccTarget& target, const char* input_path,
                                  const char* output_path, PlccErrorSink* sink);

}  // namespace zimo::corvan::plcc
