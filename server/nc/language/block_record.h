// The parsed block record: the words of one program line with the modal state
// carried from block to block, and the word handlers that the block reader
// and the statement executor share (G classification, M words, the T split),
// with the card-word formatting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nc/language/group_table.h"
#include "nc/language/nc_types.h"

namespace zimo::nc {

// A comment holds any comment of a line the reader accepts (399 characters).
inline constexpr std::size_t kCommentCapacity = 400;
inline constexpr int kMaxMWords = 32;

enum MKind : uint32_t {
  kMIgnored = 0,      // fraction below 0.001
  kMStandard = 1,     // integer 0..99
  kMOther = 2,        // kept with its whole value
  kMArgument = 3,     // an argument of a macro call
  kMSynchronous = 4,  // at most 0 or at least FirstSynchronousM
};

struct NcBlockRecord {
  uint32_t addr_count[kAddressSlots];
  uint32_t addr_aux[kAddressSlots];
  uint32_t group_present[kGroupCount];
  int32_t group_code[kGroupCount];  // modal
  double addr_value[kAddressSlots];
  char comment[kCommentCapacity];
  uint32_t uvw_incremental_bits;
  double accel_time;
  double max_spindle_speed;
  double spindle_speed;
  double surface_speed;
  uint32_t block_delete;
  uint32_t end_of_tape;
  uint32_t label_seen;
  int32_t synchronous_m;
  uint32_t capture_flag;
  uint32_t motion_block;
  uint32_t call_simple;
  uint32_t call_modal_a;
  char modal_call_text[400];
  char call_file_name[400];
  uint32_t call_modal_b;
  uint32_t program_number_given;
  uint32_t program_number;
  uint32_t repeat_count_given;
  uint32_t repeat_count;
  uint32_t kept_line;
  float tool_axis_vector[3];
  float incremental_xyz[3];
  uint8_t m_flags[100];
  double m_value[100];
  uint32_t m_kind[100];
  uint32_t m_count;
};

// A fresh record: group defaults of the table, F = its default feed.
void InitBlockRecord(NcBlockRecord& record, const NcGroupTable& table);
// What starting a new block clears (the modal state stays).
void ClearForNewBlock(NcBlockRecord& record);

void SetComment(NcBlockRecord& record, std::string_view text);

// Copies a comment from source up to a LF or the end (with parenthesised, up
// to the ")" that closes it, nested pairs kept) into target (at most size - 1
// characters). Returns how many source characters the comment spans.
std::size_t CopyComment(const char* source, char* target, std::size_t size, bool parenthesised);

// The G code written at text (after the "G"): major + 1000 * minor, or -minor
// when the major is 0.
int32_t GCodeOfText(const char* text);
// Classifies a G code into its group; true when a group took it.
bool ClassifyGWord(NcBlockRecord& record, const NcGroupTable& table, int32_t code);

// The kind of an M value, with its number and fraction.
MKind ClassifyMCode(const NcGroupTable& table, double value, double* number, double* fraction);
// Adds an M word; false when refused (32 words already, or ignored kind).
bool AddMWord(NcBlockRecord& record, const NcGroupTable& table, double value);

// A T word: up to 99 the tool; above, tool = value / 100 and H and D the
// exact remainder, with group 8 set to length compensation plus or cancel.
void AddTWord(NcBlockRecord& record, const NcGroupTable& table, double value);

// Counts an implicit motion word when the block has axis words but no G word.
void MarkImplicitMotion(NcBlockRecord& record);

// The record's half of a program start over: F, G, H, D and S marked
// present, and every group set on rewind back to its default and present.
// (The local offsets and the controller's reset mark are the caller's.)
void MarkModalOnRewind(NcBlockRecord& record, const NcGroupTable& table);

// The record's half of restating the whole modal state after a search: F, G,
// H, D, S and the groups 1, 2, 3, 5 to 9, 13 and 14 present; with a canned
// cycle active in group 9 the cycle is restated instead of the motion (group
// 1 absent, R, Q and the axis words of axis_slots present). axis_slots: a
// bit per address slot of the coordinate system's axes.
void MarkModalRestate(NcBlockRecord& record, const NcGroupTable& table, uint32_t axis_slots);

// The other dialect's lines in this language: "TU0" calls the program its
// last word names, "CQA" sets a local offset of C, and a line with RZ, CX and
// CY rotates ("G68 X.. Y.. Z.. R..") or cancels the rotation ("G69"). Other
// lines are left. Writes the new line into out (NUL-terminated) and returns
// true when the line was rewritten and fits.
bool RewriteDialectLine(const char* line, char* out, std::size_t size);

// Writes the card word for letter and value with `decimals` (0..12, else 6)
// fraction digits rounded, trailing zeros dropped but one kept, no integer
// digits below 1, then a blank: 0.25 -> "X.25 ", 3 -> "X3.0 ". Returns the
// length, or -1 when it does not fit in size or the value is infinite or not
// a number (a NUL is written too).
int FormatWord(char* text, std::size_t size, char letter, double value, int decimals);

}  // namespace zimo::nc
