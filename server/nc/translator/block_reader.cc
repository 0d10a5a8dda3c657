#include "nc/translator/block_reader.h"

#include "nc/language/expression.h"
#include "nc/language/tokens.h"

namespace zimo::nc {

void StartBlock(NcBlockRecord& record, NcBlockRecord* previous) {
  if (previous != nullptr) *previous = record;
  ClearForNewBlock(record);
}

const char* StartBlock(NcBlockRecord& record, NcBlockRecord* previous, const char* line,
                       bool dialect, char* buffer, std::size_t size) {
  StartBlock(record, previous);
  if (dialect && RewriteDialectLine(line, buffer, size)) return buffer;
  return line;
}

namespace {

void StoreWord(const NcBlockContext& ctx, NcBlockRecord& r, int slot, double v) {
  const NcGroupTable& t = *ctx.table;
  r.addr_value[slot] = v;
  ++r.addr_count[slot];
  switch (slot) {
    case kSlotF:
      if (r.group_code[5] == t[kAccelTimeFeed]) r.accel_time = v;
      break;
    case kSlotN:
      if (r.label_seen == 0) {
        r.label_seen = 1;
        r.addr_value[kSlotO] = v;
      }
      break;
    case kSlotO:
      ++r.label_seen;
      break;
    case kSlotS:
      if (r.group_present[0] != 0 && r.group_code[0] == t[kCoordinateSystemSet]) {
        r.max_spindle_speed = v;
      } else if (r.group_code[13] == t[kConstantSurfaceSpeed]) {
        r.surface_speed = v;
      } else {
        r.spindle_speed = v;
      }
      break;
    case kSlotU:
    case kSlotW:
      if (t.uvw_incremental && r.capture_flag == 0 && r.group_present[19] == 0) {
        const int axis = slot == kSlotU ? kSlotX : kSlotZ;
        r.addr_value[axis] = v;
        ++r.addr_count[axis];
      }
      break;
    case kSlotV:
      if (t.uvw_incremental) {
        r.addr_value[kSlotY] = v;
        ++r.addr_count[kSlotY];
      }
      break;
    default:
      break;
  }
}

}  // namespace

void ParseWords(const NcBlockContext& ctx, NcBlockRecord& r, const char* line) {
  NcLineCursor cursor;
  cursor.cs = ctx.cs;
  cursor.card = ctx.card;
  cursor.env = ctx.env;
  cursor.line_number = ctx.line_number;
  cursor.Reset(line);
  const char* p = line;
  for (;;) {
    char c = Upper(*p);
    if (c == ':') c = 'O';
    if (ClassOf(c) != kClassLetter) {
      if (c == '\0' || c == '\n') return;
      if (c == '%') {
        r.end_of_tape = 1;
        return;
      }
      if (c == '(') {
        p += 1 + CopyComment(p + 1, r.comment, kCommentCapacity, true);
        if (*p == ')') ++p;
        continue;
      }
      if (c == '*') {
        CopyComment(p + 1, r.comment, kCommentCapacity, false);
        return;
      }
      if (c == '/') r.block_delete = 1;
      ++p;
      continue;
    }
    const int slot = AddressSlot(c);
    const char* value_text = p + 1;
    cursor.Reset(line);
    cursor.pos = value_text;
    cursor.word_slot = slot;
    const bool code = slot == kSlotG || slot == kSlotN || slot == kSlotO;
    const bool read = code ? CodeNumber(cursor) : WordValue(cursor);
    p = cursor.pos > p ? cursor.pos : p + 1;
    if (!read || cursor.value == kVacant) continue;
    const double v = cursor.value;
    switch (slot) {
      case kSlotG:
        ClassifyGWord(r, *ctx.table, GCodeOfText(value_text));
        break;
      case kSlotM:
        AddMWord(r, *ctx.table, v);
        break;
      case kSlotQ:
        r.addr_value[kSlotQ] = v;
        ++r.addr_count[kSlotQ];
        break;
      case kSlotT:
        AddTWord(r, *ctx.table, v);
        break;
      default:
        StoreWord(ctx, r, slot, v);
        break;
    }
  }
}

}  // namespace zimo::nc
