// The text of a part program: a buffer made from a file, its line index,
// reading and copying lines, the chain of called programs and the label
// search. Locking, rewinding and the card come with the runtime.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "nc/language/block_record.h"
#include "nc/language/nc_types.h"
#include "platform/win_path.h"

namespace zimo::nc {

// The longest line the parser reads is one less.
inline constexpr std::size_t kParserLineRoom = 400;
// Program files must be smaller: the line index holds 32-bit positions.
inline constexpr uint64_t kLargestProgramFile = 0xFFFFFFFFu;

struct NcProgramBuffer {
  std::string path;  // as given (Windows or host form)
  platform::WinPathParts parts;
  std::string mapping_name;
  uint32_t program_id = 0;
  unsigned cs = 0;
  uint32_t parse_line = 0;
  uint32_t resume_line = 0;
  uint32_t repeat_total = 0;
  uint32_t pass_count = 0;
  bool is_mdi = false;
  uint32_t call_arg = 0;
  NcBlockRecord block;
  std::string text;  // the file's bytes
  uint32_t line_count = 0;
  std::vector<uint32_t> line_start;
  std::vector<uint32_t> line_length;
  uint32_t total_lines = 0;
  char label_letter = 'N';
  bool delete_on_close = false;
  NcProgramBuffer* caller = nullptr;
  std::unique_ptr<NcProgramBuffer> called;

  uint32_t Depth() const {
    uint32_t n = 0;
    for (const NcProgramBuffer* b = caller; b != nullptr; b = b->caller) ++n;
    return n;
  }
  std::string_view Line(uint32_t index) const {
    return {text.data() + line_start[index], line_length[index]};
  }
};

struct NcProgramOptions {
  unsigned cs = 0;
  int device = 0;
  int control = 0;
  uint32_t program_id = 0;
  uint32_t repeat = 1;
  uint32_t call_arg = 0;
  // Only the MDI buffer's file is made when it is missing.
  bool create_when_missing = false;
};

// Makes a buffer of the file at path, with a copy of `previous` as its block
// record. A missing file (unless create_when_missing) or one that cannot be
// read, or is too large for the line index (4 GiB or more), gives none, with
// message 0x40110016 "Unable to open <path> file" and the system's error
// number recorded. An empty file gets CR LF written.
std::unique_ptr<NcProgramBuffer> CreateProgramBuffer(NcCardSide& card, std::string_view path,
                                                     const NcProgramOptions& options,
                                                     const NcBlockRecord& previous,
                                                     NcProgramBuffer* caller);

// Rebuilds the line index of buffer.text: one line per LF (a CR before the
// LF is not part of the line), and a last line without LF when it holds a
// printable character.
void BuildLineIndex(NcProgramBuffer& buffer);

// Copies line parse_line into text (NUL-terminated) and advances. False at
// the end, and for a line that does not fit (length >= size): then the code
// error 0xC0110046 is recorded and reading stops at that line.
bool ReadNextLine(NcCardSide& card, NcProgramBuffer& buffer, char* text, std::size_t size);

// Copies line index when it exists and its length < size.
bool CopyLine(const NcProgramBuffer& buffer, uint32_t index, char* text, std::size_t size);

bool AtProgramEnd(const NcProgramBuffer& buffer);

// The deepest program called below top.
NcProgramBuffer* DeepestProgram(NcProgramBuffer* top);

// Opens the file as a program called by the deepest program below top;
// returns the new current program, or null. A missing file records nothing
// (the caller reports it with its own message and the whole path).
NcProgramBuffer* CallProgramFile(NcCardSide& card, NcProgramBuffer* top, std::string_view path,
                                 NcProgramOptions options);

// Returns from the deepest program below top to its caller, which takes the
// returning program's block record (the modal state flows back). Returns the
// caller, or null when the deepest program has none.
NcProgramBuffer* ReturnToCaller(NcProgramBuffer* top);

// Finds a label: *line is 1-based (in and out). The letter form matches a
// line whose first address letter outside comments is letter with the value,
// trying the line itself, then the following lines (or with backward the
// preceding ones), wrapping round. With letter '>' the lines from *line to
// the end are searched for "END" and the value.
bool FindLabel(const NcProgramBuffer& buffer, uint32_t* line, char letter, double value,
               bool backward);

}  // namespace zimo::nc
