#include "nc/language/block_record.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "nc/language/scanner.h"
#include "nc/language/tokens.h"

namespace zimo::nc {

void InitBlockRecord(NcBlockRecord& r, const NcGroupTable& table) {
  std::memset(&r, 0, sizeof r);
  for (int g = 0; g < kGroupCount; ++g) r.group_code[g] = table.group_default[g];
  r.group_code[0] = 0;
  r.group_code[kUnclassifiedGroup] = 0;
  r.addr_value[kSlotF] = table.default_feed;
  r.accel_time = 0.0;
  r.max_spindle_speed = 1000.0;
  r.spindle_speed = 100.0;
  r.surface_speed = 10.0;
}

void ClearForNewBlock(NcBlockRecord& r) {
  std::memset(r.incremental_xyz, 0, sizeof r.incremental_xyz);
  std::memset(r.addr_count, 0, sizeof r.addr_count);
  std::memset(r.group_present, 0, sizeof r.group_present);
  std::memset(r.m_flags, 0, sizeof r.m_flags);
  std::memset(r.m_value, 0, sizeof r.m_value);
  std::memset(r.m_kind, 0, sizeof r.m_kind);
  r.m_count = 0;
  r.comment[0] = '\0';
  r.block_delete = 0;
  r.end_of_tape = 0;
  r.motion_block = 0;
}

void SetComment(NcBlockRecord& r, std::string_view text) {
  const std::size_t n = text.size() < kCommentCapacity ? text.size() : kCommentCapacity - 1;
  std::memcpy(r.comment, text.data(), n);
  r.comment[n] = '\0';
}

std::size_t CopyComment(const char* source, char* target, std::size_t size, bool parenthesised) {
  std::size_t i = 0;
  std::size_t copied = 0;
  int depth = 1;
  for (; source[i] != '\0' && source[i] != '\n'; ++i) {
    if (parenthesised) {
      if (source[i] == '(') {
        ++depth;
      } else if (source[i] == ')' && --depth == 0) {
        break;
      }
    }
    if (copied + 1 < size) target[copied++] = source[i];
  }
  if (size > 0) target[copied] = '\0';
  return i;
}

int32_t GCodeOfText(const char* text) {
  const char* p = text;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  int64_t major = 0;
  for (; IsDigit(*p); ++p) {
    if (major < 100000000) major = major * 10 + (*p - '0');
  }
  int64_t minor = 0;
  if (*p == '.') {
    for (++p; IsDigit(*p); ++p) {
      if (minor < 100000) minor = minor * 10 + (*p - '0');
    }
  }
  if (negative) major = -major;
  const int64_t code = major == 0 ? -minor : major + 1000 * minor;
  if (code > INT32_MAX) return INT32_MAX;
  if (code < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(code);
}

bool ClassifyGWord(NcBlockRecord& r, const NcGroupTable& table, int32_t code) {
  const int group = ClassifyGCode(table, code);
  if (group < 0) return false;
  r.group_code[group] = code;
  r.group_present[group] = 1;
  ++r.addr_count[kSlotG];
  return true;
}

MKind ClassifyMCode(const NcGroupTable& table, double value, double* number, double* fraction) {
  const double n = std::trunc(value);
  const double f = value - n;
  if (number != nullptr) *number = n;
  if (fraction != nullptr) *fraction = f;
  if (f > 0.0 && f < 0.001) return kMIgnored;
  if (f == 0.0 && n >= 0.0 && n < 100.0) return kMStandard;
  if (value <= 0.0 || value >= table.first_synchronous_m) return kMSynchronous;
  return kMOther;
}

bool AddMWord(NcBlockRecord& r, const NcGroupTable& table, double value) {
  if (r.m_count >= kMaxMWords) return false;
  const uint32_t i = r.m_count;
  if (r.group_present[0] != 0 && r.group_code[0] == 65) {
    r.m_kind[i] = kMArgument;
    r.m_value[i] = value;
    ++r.m_count;
    ++r.addr_count[kSlotM];
    return true;
  }
  double number = 0.0;
  switch (ClassifyMCode(table, value, &number, nullptr)) {
    case kMStandard:
      r.m_flags[static_cast<int>(number)] = 1;
      r.m_kind[i] = kMStandard;
      r.m_value[i] = number;
      ++r.m_count;
      break;
    case kMSynchronous:
      r.synchronous_m = (number > -2147483648.0 && number < 2147483648.0)
                            ? static_cast<int32_t>(number)
                            : INT32_MIN;
      break;
    case kMOther:
      r.m_kind[i] = kMOther;
      r.m_value[i] = value;
      ++r.m_count;
      break;
    default:
      return false;
  }
  ++r.addr_count[kSlotM];
  return true;
}

void AddTWord(NcBlockRecord& r, const NcGroupTable& table, double value) {
  ++r.addr_count[kSlotT];
  if (!(value > 99.0)) {
    r.addr_value[kSlotT] = value;
    return;
  }
  // The remainder by 100 is exact in floating point, the quotient of the
  // rest too; (v / 100 - its integer part) * 100 is not (114 gives 13.99...).
  const double remainder = std::fmod(value, 100.0);
  r.addr_value[kSlotT] = std::trunc((value - remainder) / 100.0);
  r.addr_value[kSlotH] = remainder;
  r.addr_value[kSlotD] = remainder;
  ++r.addr_count[kSlotH];
  ++r.addr_count[kSlotD];
  ++r.addr_count[kSlotG];
  r.group_code[8] = remainder > 0.0 ? table.code[kToolLengthCompPlus]
                                    : table.code[kToolLengthCompCancel];
  r.group_present[8] = 1;
}

void MarkImplicitMotion(NcBlockRecord& r) {
  if (r.addr_count[kSlotG] != 0) return;
  for (const int slot : {kSlotA, kSlotB, kSlotC, kSlotX, kSlotY, kSlotZ, kSlotU, kSlotV, kSlotW}) {
    if (r.addr_count[slot] != 0) {
      ++r.addr_count[kSlotG];
      r.group_present[1] = 1;
      return;
    }
  }
}

namespace {

void MarkPresent(NcBlockRecord& r, int slot) {
  if (r.addr_count[slot] == 0) r.addr_count[slot] = 1;
}

}  // namespace

void MarkModalOnRewind(NcBlockRecord& r, const NcGroupTable& table) {
  for (const int slot : {kSlotF, kSlotG, kSlotH, kSlotD, kSlotS}) MarkPresent(r, slot);
  for (int g = 0; g < kUnclassifiedGroup; ++g) {
    if (!table.set_on_rewind[g]) continue;
    r.group_code[g] = table.group_default[g];
    r.group_present[g] = 1;
  }
}

void MarkModalRestate(NcBlockRecord& r, const NcGroupTable& table, uint32_t axis_slots) {
  for (const int slot : {kSlotF, kSlotG, kSlotH, kSlotD, kSlotS}) MarkPresent(r, slot);
  for (const int g : {1, 2, 3, 5, 6, 7, 8, 9, 13, 14}) r.group_present[g] = 1;
  if (r.group_code[9] != table[kCannedCycleCancel]) {
    r.group_present[1] = 0;
    r.group_present[9] = 1;
    MarkPresent(r, kSlotR);
    MarkPresent(r, kSlotQ);
    for (int slot = kSlotA; slot <= kSlotW; ++slot) {
      if ((axis_slots & (1u << slot)) != 0) MarkPresent(r, slot);
    }
  }
}

namespace {

// Appends text to out at *n; false when it does not fit.
bool Append(char* out, std::size_t size, std::size_t* n, std::string_view text) {
  if (*n + text.size() + 1 > size) return false;
  std::memcpy(out + *n, text.data(), text.size());
  *n += text.size();
  out[*n] = '\0';
  return true;
}

bool AppendNumber(char* out, std::size_t size, std::size_t* n, double value) {
  char digits[400];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
  return ec == std::errc() &&
         Append(out, size, n, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// The number after the first occurrence of pair in line, 0 without one.
double NumberAfter(const char* line, const char* pair) {
  const char* at = std::strstr(line, pair);
  if (at == nullptr) return 0.0;
  const char* end = nullptr;
  const double v = ConvertNumber(at + 2, &end);
  return std::isfinite(v) ? v : 0.0;
}

}  // namespace

bool RewriteDialectLine(const char* line, char* out, std::size_t size) {
  const char* space = std::strrchr(line, ' ');
  const std::string_view last_word = space != nullptr ? space + 1 : line;
  std::size_t n = 0;
  if (size > 0) out[0] = '\0';
  if (std::strstr(line, "TU0") != nullptr) {
    return Append(out, size, &n, "M98 (") && Append(out, size, &n, last_word) &&
           Append(out, size, &n, ")");
  }
  if (std::strstr(line, "CQA") != nullptr) {
    return Append(out, size, &n, "G52 C") && Append(out, size, &n, last_word);
  }
  if (std::strstr(line, "RZ") != nullptr && std::strstr(line, "CX") != nullptr &&
      std::strstr(line, "CY") != nullptr) {
    const double rx = NumberAfter(line, "RX");
    const double ry = NumberAfter(line, "RY");
    const double rz = NumberAfter(line, "RZ");
    const double cx = NumberAfter(line, "CX");
    const double cy = NumberAfter(line, "CY");
    const double cz = NumberAfter(line, "CZ");
    bool none = true;
    for (const double v : {rx, ry, rz, cx, cy, cz}) none = none && std::fabs(v) < 1e-5;
    if (none) return Append(out, size, &n, "G69");
    return Append(out, size, &n, "G68 X") && AppendNumber(out, size, &n, cx) &&
           Append(out, size, &n, " Y") && AppendNumber(out, size, &n, cy) &&
           Append(out, size, &n, " Z") && AppendNumber(out, size, &n, cz) &&
           Append(out, size, &n, " R") && AppendNumber(out, size, &n, rz);
  }
  return false;
}

int FormatWord(char* text, std::size_t size, char letter, double value, int decimals) {
  if (decimals < 0 || decimals > 12) decimals = 6;
  // An overflowed value has no card text ("Xinf" would reach the card).
  if (!std::isfinite(value)) {
    if (size > 0) text[0] = '\0';
    return -1;
  }
  char digits[400];
  const double magnitude = std::fabs(value);
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::fixed, decimals);
  if (ec != std::errc()) {
    if (size > 0) text[0] = '\0';
    return -1;
  }
  const char* begin = digits;
  const char* stop = end;
  const char* point = static_cast<const char*>(std::memchr(digits, '.', stop - digits));
  if (point == nullptr) point = stop;
  // Drop trailing zeros of the fraction, and a lone "0" before the point.
  while (stop > point + 1 && stop[-1] == '0') --stop;
  if (point - begin == 1 && *begin == '0') ++begin;
  bool zero = true;
  for (const char* p = begin; p < stop; ++p) zero = zero && (*p == '0' || *p == '.');
  char out[420];
  std::size_t n = 0;
  out[n++] = letter;
  if (value < 0 && !zero) out[n++] = '-';
  for (const char* p = begin; p < point; ++p) out[n++] = *p;
  out[n++] = '.';
  if (stop > point + 1) {
    for (const char* p = point + 1; p < stop; ++p) out[n++] = *p;
  } else {
    out[n++] = '0';
  }
  out[n++] = ' ';
  if (n + 1 > size) {
    if (size > 0) text[0] = '\0';
    return -1;
  }
  std::memcpy(text, out, n);
  text[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace zimo::nc
