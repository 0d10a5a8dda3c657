// Decoding one binary rotary unit (rotary_units.h) and the canonical texts
// of the motion log.
#include "cardsim/rotary_units.h"

#include <cmath>
#include <cstdio>

namespace zimo::cardsim::rotary {
namespace {

constexpr uint64_t kMantissa36 = (uint64_t{1} << 36) - 1;
constexpr uint32_t kAxisBits = 0x2AAAB;  // R, A, B, C, U, V, W, X, Y, Z

double Scale(uint64_t magnitude, bool negative, uint32_t exponent) {
  if (magnitude == 0) return 0;
  const double v = std::ldexp(static_cast<double>(magnitude), static_cast<int>(exponent) - 28 - 35);
  return negative ? -v : v;
}

struct Named {
  int code;
  const char* name;
};
constexpr Named kTimeNames[] = {{0, "TA"},     {1, "TS"}, {2, "PVT"}, {67, "TM"}, {68, "DWELL"},
                                {69, "DELAY"}, {70, ":"}, {71, "^"},  {72, "CCR"}};
constexpr Named kCountNames[] = {{0, "CIRCLE"},     {4, "SPLINE"},     {10, "CC"},
                                 {11, "TSELECT"},   {12, "ADISPLACE"}, {13, "AROTATE"},
                                 {14, "IDISPLACE"}, {15, "IROTATE"},   {17, "PRELUDE"}};
constexpr Named kPlainNames[] = {{1, "LINEAR"}, {2, "NORMAL"},      {3, "PSET"},
                                 {5, "STOP"},   {6, "BLOCK START"}, {7, "BLOCK STOP"},
                                 {8, "WAIT"},   {9, "RAPID"},       {16, "TINIT"}};
constexpr const char* kPlcNames[] = {"ENABLE PLC", "DISABLE PLC", "ENABLE PLCC", "DISABLE PLCC"};

template <size_t N>
const char* Find(const Named (&table)[N], int code) {
  for (const Named& n : table) {
    if (n.code == code) return n.name;
  }
  return nullptr;
}

Item Invalid(Item item, std::string why) {
  item.kind = Item::Kind::kInvalid;
  item.why = std::move(why);
  return item;
}

Item DecodeCommand(uint64_t unit, bool spran, Item item) {
  const uint32_t kind = Field(unit, 0, 6);
  switch (kind) {
    case 0: {
      const int sub = static_cast<int>(Field(unit, 16, 8));
      if (Find(kCountNames, sub) != nullptr) {
        item.kind = Item::Kind::kCountCommand;
        item.code = sub;
        item.count = Field(unit, 24, 24);
        // A count of 0 travels as 8192 (SPRAN) or 1024 (older).
        if (item.count == (spran ? 8192u : 1024u)) item.count = 0;
        return item;
      }
      const int plain = static_cast<int>(Field(unit, 16, 16));
      if (Find(kPlainNames, plain) == nullptr || Field(unit, 32, 16) != 0) {
        return Invalid(item, "unknown command");
      }
      item.kind = Item::Kind::kPlainCommand;
      item.code = plain;
      return item;
    }
    case 1:
      item.code = static_cast<int>(Field(unit, 12, 4));
      if (item.code > 3) return Invalid(item, "unknown PLC list command");
      item.kind = Item::Kind::kPlcList;
      item.mask = Field(unit, 16, 32);
      return item;
    case 2: {
      const uint32_t sub = Field(unit, 16, 13);
      if (sub == 0 || sub == 1) {
        item.kind = Item::Kind::kAxisMode;
        item.code = static_cast<int>(sub);
        item.mask = Field(unit, 29, 19);
      } else if (Field(unit, 16, 15) == 2) {
        item.kind = Item::Kind::kFrax;
        item.mask = Field(unit, 31, 17) << 1;
      } else {
        return Invalid(item, "unknown axis command");
      }
      if ((item.mask & ~kAxisBits) != 0) return Invalid(item, "bits that name no axis");
      return item;
    }
    case 3:
    case 6:
      item.kind = Item::Kind::kHome;
      item.code = static_cast<int>(kind);
      item.mask = spran ? Field(unit, 16, 32) : Field(unit, 24, 8);
      return item;
    default:
      return Invalid(item, "unknown command kind");
  }
}

}  // namespace

double FullValue(uint64_t unit) {
  const uint64_t m = (unit >> 12) & kMantissa36;
  const bool negative = (m >> 35) != 0;
  return Scale(negative ? (~m & kMantissa36) : m, negative, Field(unit, 0, 6));
}

double ShortValue(uint64_t unit) {
  const uint64_t top = Field(unit, 24, 24);
  const bool negative = (top >> 23) != 0;
  const uint64_t magnitude = (negative ? (~top & 0xFFFFFF) : top) << 12;
  return Scale(magnitude, negative, Field(unit, 0, 6));
}

Item DecodeUnit(uint64_t unit, bool spran) {
  unit &= kUnitMask;
  Item item;
  item.block_start = BlockStart(unit);
  const int op = Opcode(unit);
  if (op >= 1 && op <= kWordCall) {
    if (op == 14 || op == 15) return Invalid(item, "word code of no word");
    item.kind = Item::Kind::kWord;
    item.code = op;
    item.value = FullValue(unit);
    return item;
  }
  if (op == kTimeWord) {
    item.code = static_cast<int>(Field(unit, 17, 7));
    if (TimeName(item.code).empty()) return Invalid(item, "unknown time word");
    item.kind = Item::Kind::kTimeWord;
    item.value = ShortValue(unit);
    return item;
  }
  if (op == kCommand) return DecodeCommand(unit, spran, item);
  if (op == kConstant) {
    item.kind = Item::Kind::kConstant;
    item.value = FullValue(unit);
    return item;
  }
  if (op != 0) return Invalid(item, "unknown opcode");
  const int kind = static_cast<int>(Field(unit, 0, 5));
  if (kind != 0) {
    if (kind == 29) return Invalid(item, "unknown statement kind");
    item.kind = Item::Kind::kStatement;
    item.code = kind;
    return item;
  }
  if (unit == 0) {
    item.kind = Item::Kind::kEmpty;
    return item;
  }
  if (Field(unit, 0, 24) != 0) return Invalid(item, "frame with a header");
  if (Field(unit, 45, 1) != 0) {
    item.kind = Item::Kind::kFrame;
    item.is_while = Field(unit, 44, 1) != 0;
    item.count = Field(unit, 24, 20);
    return item;
  }
  // A jump back: a two's complement number of 20 bits (SPRAN) or 16 bits
  // (older) from bit 24.
  const int width = spran ? 20 : 16;
  const uint32_t raw = Field(unit, 24, width);
  if (Field(unit, 24 + width, 24 - width) != 0) return Invalid(item, "jump wider than its field");
  item.kind = Item::Kind::kBackJump;
  item.jump = static_cast<int32_t>(raw) - ((raw >> (width - 1)) != 0 ? (1 << width) : 0);
  return item;
}

std::string FormatValue(double v) {
  if (v == 0) return "0";
  char text[40];
  if (std::fabs(v) < 1e15 && v == std::floor(v)) {
    std::snprintf(text, sizeof text, "%.0f", v);
  } else {
    std::snprintf(text, sizeof text, "%.10g", v);
  }
  return text;
}

std::string WordName(int code) {
  if (code == kWordCall) return "CALL";
  if (code < 1 || code > 26 || code == 14 || code == 15) return {};
  return std::string(1, static_cast<char>('A' + code - 1));
}

std::string TimeName(int code) {
  const char* name = Find(kTimeNames, code);
  return name != nullptr ? name : "";
}

char AxisLetter(int word_code) {
  switch (word_code) {
    case 1:
    case 2:
    case 3:
    case 21:
    case 22:
    case 23:
    case 24:
    case 25:
    case 26:
      return static_cast<char>('A' + word_code - 1);
    default:
      return 0;
  }
}

std::string AxisList(uint32_t mask) {
  static constexpr struct {
    int bit;
    char letter;
  } kAxes[] = {{0, 'R'}, {1, 'A'},  {3, 'B'},  {5, 'C'},  {7, 'U'},
               {9, 'V'}, {11, 'W'}, {13, 'X'}, {15, 'Y'}, {17, 'Z'}};
  std::string out;
  for (const auto& a : kAxes) {
    if (((mask >> a.bit) & 1u) == 0) continue;
    if (!out.empty()) out += ',';
    out += a.letter;
  }
  return out;
}

std::string NumberList(uint32_t mask, int offset) {
  std::string out;
  for (int b = 0; b < 32; ++b) {
    if (((mask >> b) & 1u) == 0) continue;
    if (!out.empty()) out += ',';
    out += std::to_string(b + offset);
  }
  return out;
}

std::string UnitHex(uint64_t unit) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(unit & kUnitMask));
  return text;
}

std::string ItemText(const Item& item) {
  auto with_list = [](std::string name, const std::string& list) {
    return list.empty() ? name : name + " " + list;
  };
  switch (item.kind) {
    case Item::Kind::kWord:
      return WordName(item.code) + FormatValue(item.value);
    case Item::Kind::kTimeWord:
      return TimeName(item.code) + FormatValue(item.value);
    case Item::Kind::kPlcList:
      return with_list(kPlcNames[item.code & 3], NumberList(item.mask, 0));
    case Item::Kind::kAxisMode:
    case Item::Kind::kFrax: {
      std::string name = item.kind == Item::Kind::kFrax ? "FRAX" : (item.code == 0 ? "ABS" : "INC");
      // The nine axes without R is what a command without a list means.
      if (item.mask == (kAxisBits & ~1u)) return name;
      return name + "(" + AxisList(item.mask) + ")";
    }
    case Item::Kind::kHome:
      return with_list(item.code == 3 ? "HOME" : "HOMEZ", NumberList(item.mask, 1));
    case Item::Kind::kCountCommand:
      return std::string(Find(kCountNames, item.code)) + " " + std::to_string(item.count);
    case Item::Kind::kPlainCommand:
      return Find(kPlainNames, item.code);
    case Item::Kind::kConstant:
      return "CONSTANT " + FormatValue(item.value);
    case Item::Kind::kStatement:
      return "STATEMENT " + std::to_string(item.code);
    case Item::Kind::kFrame:
      return std::string(item.is_while ? "WHILE" : "IF") + " FRAME " + std::to_string(item.count);
    case Item::Kind::kBackJump:
      return "JUMP " + std::to_string(item.jump);
    case Item::Kind::kEmpty:
      return "END";
    case Item::Kind::kInvalid:
      return "INVALID " + item.why;
  }
  return {};
}

}  // namespace zimo::cardsim::rotary
