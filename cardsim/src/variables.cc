#include "cardsim/variables.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "cardsim/card_word.h"

namespace zimo::cardsim {

namespace {
// Older cards keep P-variables at L:$1000 + p and M definitions at $BC00 + n.
// SPRAN cards find their P-variables through the pointer in X:$24.
constexpr uint32_t kOlderPBase = 0x1000;
constexpr uint32_t kOlderFeedbackTable = 0x720;
constexpr uint32_t kSpranFeedbackTable = 0x3501;
constexpr uint32_t kOlderMDefBase = 0xBC00;
constexpr uint32_t kSpranPPointer = 0x24;
constexpr uint32_t kSpranPBase = 0x6000;
constexpr uint32_t kSpranMDefBase = 0x10000;

// Definition word layout (X half; the Y half holds the address):
// bits 0-5 width, 6-11 offset, 12-14 kind, 15 signed.
uint32_t PackDescriptor(const MDefinition& d) {
  return (static_cast<uint32_t>(d.width) & 0x3F) | ((static_cast<uint32_t>(d.offset) & 0x3F) << 6) |
         (static_cast<uint32_t>(d.kind) << 12) | (d.is_signed ? 0x8000u : 0u);
}

MDefinition UnpackDescriptor(uint32_t x, uint32_t y) {
  MDefinition d;
  uint32_t kind = (x >> 12) & 0x7;
  d.kind = kind <= 5 ? static_cast<MDefinition::Kind>(kind) : MDefinition::Kind::kNone;
  d.width = static_cast<int>(x & 0x3F);
  d.offset = static_cast<int>((x >> 6) & 0x3F);
  d.is_signed = (x & 0x8000) != 0;
  d.address = y & word::kMask24;
  if (d.width < 1 || d.width > 24) d.width = 24;
  if (d.offset + d.width > 24) d.offset = 0;
  return d;
}
}  // namespace

std::string MDefinition::Text() const {
  char text[48];
  switch (kind) {
    case Kind::kNone:
    case Kind::kSelf:
      return "*";
    case Kind::kL:
    case Kind::kD:
      std::snprintf(text, sizeof text, "%c:$%X", kind == Kind::kL ? 'L' : 'D', address);
      return text;
    case Kind::kX:
    case Kind::kY:
      std::snprintf(text, sizeof text, "%c:$%X,%d,%d,%c", kind == Kind::kX ? 'X' : 'Y', address,
                    offset, width, is_signed ? 'S' : 'U');
      return text;
  }
  return "*";
}

Variables::Variables(const CardModel& model, Memory& memory)
    : model_(model),
      memory_(memory),
      count_(model.variable_count()),
      mdef_base_(model.spran ? kSpranMDefBase : kOlderMDefBase) {
  Reset();
}

void Variables::Reset() {
  i_.assign(count_, 0.0);
  for (int cs = 1; cs <= model_.coordinate_systems(); ++cs) {
    if (((q_touched_ >> (cs - 1)) & 1u) == 0) continue;
    for (int n = 0; n < count_; ++n) memory_.WritePair(QBase(cs) + static_cast<uint32_t>(n), 0);
  }
  q_touched_ = 0;
  self_.clear();
  i_[3] = 2;  // responses end with ACK, lines with CR
  i_[6] = 1;  // errors reported as BEL "ERRnnn" CR
  i_[10] = model_.i10;
  i_[63] = 1;  // control-character answers end with ACK
  i_[64] = 1;  // unsolicited lines start with STX
  if (model_.spran) {
    i_[24] = model_.type == 8 ? model_.dpr_card_base : 0;
    if (count_ > 4900) i_[4900] = model_.i4900;
    memory_.Write(Space::kX, kSpranPPointer, kSpranPBase);
  }
  for (int m = 1; m <= model_.motors && m * 100 + 99 < count_; ++m) {
    int b = m * 100;
    i_[b + 0] = 1;         // activated
    i_[b + 8] = 96;        // position scale
    i_[b + 9] = 96;        // velocity scale
    i_[b + 11] = 32000;    // fatal following error limit, 1/16 count
    i_[b + 12] = 16000;    // warning following error limit, 1/16 count
    i_[b + 16] = 32;       // maximum speed, counts/ms
    i_[b + 19] = 0.25;     // jog acceleration, counts/ms^2
    i_[b + 22] = 32;       // jog speed, counts/ms
    i_[b + 23] = 32;       // homing speed, counts/ms
    i_[b + 28] = 160;      // in-position band, 1/16 count
    i_[b + 7] = 96;        // master scale
    i_[b + 17] = 0.5;      // maximum program acceleration, counts/ms^2
    i_[b + 20] = 50;       // jog and home acceleration time, ms
    i_[b + 21] = 50;       // their S-curve time, ms
    i_[b + 30] = 2048;     // proportional gain
    i_[b + 31] = 1800;     // derivative gain
    i_[b + 67] = 4194304;  // linear position error limit
    i_[b + 69] = 32767;    // output limit
    i_[b + 2] = OutputAddressIVar(m);
    i_[b + 3] = FeedbackAddressIVar(m);
    if (model_.spran) i_[b + 92] = 10;  // jog-to-position calculation time, ms
  }
  // Settings of a working card: calculation and segmentation times, and
  // per coordinate system default acceleration, feed rate and time base.
  if (!model_.spran) i_[12] = 10;
  i_[11] = 10;  // programmed move calculation time, ms
  for (int cs = 1; cs <= model_.coordinate_systems(); ++cs) {
    int b = (model_.spran ? 5000 : 0) + 100 * cs;
    if (b + 99 >= count_) break;
    if (model_.spran) i_[b + 13] = 10;
    i_[b + 87] = 10;
    i_[b + 89] = 1000;
    i_[b + 90] = 1000;
    i_[b + 94] = 1644;
  }
  if (!model_.spran) i_[13] = 10;
  WriteFeedbackTable();
  for (int n = 0; n < count_; ++n) DefineM(n, MDefinition{});
  for (int p = 0; p < count_; ++p) SetP(p, 0.0);
  if (i_hook_ && model_.spran) i_hook_(24, i_[24]);  // I24 may have moved the DPR window
}

double Variables::OutputAddressIVar(int motor) const {
  // Where the card's output for the motor goes, by card type.
  int k = motor - 1;
  static constexpr uint32_t kBases[] = {0x78000, 0x78100, 0x78200, 0x78300,
                                        0x79200, 0x79300, 0x7A200, 0x7A300};
  static constexpr uint32_t kBases8[] = {0x78200, 0x78300, 0x79200, 0x79300,
                                         0x7A200, 0x7A300, 0x7B200, 0x7B300};
  static constexpr uint32_t kBases7[] = {0x78400, 0x79400, 0x7A400, 0x7B400};
  switch (model_.type) {
    case 1:
    case 2:
      return 0xC002 + 8 * (k % 8);
    case 3:
      return 0xC0A0 + 4 * (k % 8);
    case 5: {
      static constexpr uint32_t kOff[] = {2, 3, 0xA, 0xB};
      return kBases[(k / 4) % 8] + kOff[k % 4];
    }
    case 7:
      return kBases7[(k / 8) % 4] + 0x20 + 4 * (k % 8);
    default: {
      static constexpr uint32_t kOff[] = {2, 0xA, 0x12, 0x1A};
      return (model_.type == 8 ? kBases8 : kBases)[(k / 4) % 8] + kOff[k % 4];
    }
  }
}

double Variables::FeedbackAddressIVar(int motor) const {
  int k = motor - 1;
  if (!model_.spran) return kOlderFeedbackTable + k;
  return model_.type == 7 ? kSpranFeedbackTable + 1 + 2 * k : kSpranFeedbackTable + k;
}

void Variables::WriteFeedbackTable() {
  // One entry per motor (its encoder), then a 0 word that ends the table.
  uint32_t table = model_.spran ? kSpranFeedbackTable : kOlderFeedbackTable;
  int entries = model_.spran && model_.type == 7 ? 2 * model_.motors : model_.motors;
  for (int k = 0; k < entries; ++k) {
    memory_.Write(Space::kY, table + static_cast<uint32_t>(k),
                  0xC000 + 4 * static_cast<uint32_t>(k));
  }
  memory_.Write(Space::kY, table + static_cast<uint32_t>(entries), 0);
}

double Variables::I(int n) const { return Valid(n) ? i_[n] : 0.0; }

void Variables::SetI(int n, double value) {
  if (!Valid(n)) return;
  double old = i_[n];
  i_[n] = value;
  if (i_change_hook_ && old != value) i_change_hook_(n, old, value);
  if (i_hook_) i_hook_(n, value);
}

bool Variables::IsAddressIVar(int n) const {
  if (!model_.hex_address_ivars || !Valid(n)) return false;
  if (model_.spran && (n == 24 || (n >= 4900 && n <= 4999))) return true;
  if (n >= 100 && n < 3300) {
    int k = n % 100;
    return k == 2 || k == 3 || k == 4 || k == 5 || k == 10 || k == 25 || k == 81 || k == 82 ||
           k == 83;
  }
  return false;
}

void Variables::RestoreI(const std::vector<double>& saved) {
  if (saved.size() != i_.size()) return;
  for (int n = 0; n < count_; ++n) {
    if (i_[n] != saved[n]) SetI(n, saved[n]);
  }
}

uint32_t Variables::PAddress(int n) const {
  uint32_t base = model_.spran ? memory_.Read(Space::kX, kSpranPPointer) : kOlderPBase;
  return base + static_cast<uint32_t>(n);
}

double Variables::P(int n) const { return Valid(n) ? memory_.ReadFloat48(PAddress(n)) : 0.0; }

void Variables::SetP(int n, double value) {
  if (Valid(n)) memory_.WriteFloat48(PAddress(n), value);
}

uint32_t Variables::QBase(int cs) const {
  const uint32_t k = static_cast<uint32_t>(cs < 1 ? 0 : cs - 1);
  q_touched_ |= 1u << (k & 31);
  return model_.spran ? 0x80000 + 0x2000 * k : 0x2000 + 0x400 * k;
}

double Variables::Q(int cs, int n) const {
  if (!Valid(n) || cs < 1 || cs > model_.coordinate_systems()) return 0.0;
  return memory_.ReadFloat48(QBase(cs) + static_cast<uint32_t>(n));
}

void Variables::SetQ(int cs, int n, double value) {
  if (Valid(n) && cs >= 1 && cs <= model_.coordinate_systems())
    memory_.WriteFloat48(QBase(cs) + static_cast<uint32_t>(n), value);
}

uint32_t Variables::MDefAddress(int n) const { return mdef_base_ + static_cast<uint32_t>(n); }

MDefinition Variables::MDef(int n) const {
  if (!Valid(n)) return {};
  uint64_t pair = memory_.ReadPair(MDefAddress(n));
  return UnpackDescriptor(static_cast<uint32_t>(pair >> 24), static_cast<uint32_t>(pair));
}

void Variables::DefineM(int n, const MDefinition& def) {
  if (!Valid(n)) return;
  uint64_t pair =
      (static_cast<uint64_t>(PackDescriptor(def)) << 24) | (def.address & word::kMask24);
  memory_.WritePair(MDefAddress(n), pair);
}

double Variables::M(int n) const {
  MDefinition d = MDef(n);
  switch (d.kind) {
    case MDefinition::Kind::kNone:
    case MDefinition::Kind::kSelf: {
      auto it = self_.find(n);
      return it == self_.end() ? 0.0 : it->second;
    }
    case MDefinition::Kind::kL:
      return memory_.ReadFloat48(d.address);
    case MDefinition::Kind::kD:
      return static_cast<double>(memory_.ReadFixed48(d.address));
    case MDefinition::Kind::kX:
    case MDefinition::Kind::kY: {
      uint32_t w = memory_.Read(d.kind == MDefinition::Kind::kX ? Space::kX : Space::kY, d.address);
      uint32_t mask = d.width >= 24 ? word::kMask24 : (1u << d.width) - 1u;
      uint32_t v = (w >> d.offset) & mask;
      if (d.is_signed && d.width > 1 && (v & (1u << (d.width - 1))) != 0) {
        return static_cast<double>(static_cast<int64_t>(v) - (int64_t{1} << d.width));
      }
      return static_cast<double>(v);
    }
  }
  return 0.0;
}

void Variables::SetM(int n, double value) {
  if (!Valid(n)) return;
  MDefinition d = MDef(n);
  switch (d.kind) {
    case MDefinition::Kind::kNone:
    case MDefinition::Kind::kSelf:
      self_[n] = value;
      return;
    case MDefinition::Kind::kL:
      memory_.WriteFloat48(d.address, value);
      return;
    case MDefinition::Kind::kD:
      memory_.WriteFixed48(d.address, value);
      return;
    case MDefinition::Kind::kX:
    case MDefinition::Kind::kY: {
      Space space = d.kind == MDefinition::Kind::kX ? Space::kX : Space::kY;
      uint32_t mask = (d.width >= 24 ? word::kMask24 : (1u << d.width) - 1u) << d.offset;
      auto bits = static_cast<uint32_t>(static_cast<int64_t>(std::trunc(value)));
      uint32_t w = memory_.Read(space, d.address);
      memory_.Write(space, d.address, (w & ~mask) | ((bits << d.offset) & mask));
      return;
    }
  }
}

std::string Variables::Format(double value) {
  char text[64];
  if (std::isnan(value)) return "0";
  if (std::fabs(value) >= 1e15 || std::isinf(value)) {
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
  }
  if (value == std::trunc(value)) {
    std::snprintf(text, sizeof text, "%.0f", value == 0.0 ? 0.0 : value);
    return text;
  }
  std::snprintf(text, sizeof text, "%.10f", value);
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0" || s.empty()) s = "0";
  return s;
}

std::string Variables::FormatHex(double value) {
  char text[32];
  auto v = static_cast<int64_t>(std::trunc(value));
  uint64_t bits = v < 0 ? static_cast<uint64_t>(v) & word::kMask48 : static_cast<uint64_t>(v);
  std::snprintf(text, sizeof text, "$%llX", static_cast<unsigned long long>(bits));
  return text;
}

}  // namespace zimo::cardsim
