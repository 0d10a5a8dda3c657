#include "nc/language/group_table.h"

#include <cstring>

namespace zimo::nc {

namespace {

constexpr GFunctionInfo kFunctions[kGFunctionCount] = {
#define ZIMO_NC_INFO(e, g, n, d) {g, n, d},
    ZIMO_NC_G_FUNCTIONS(ZIMO_NC_INFO)
#undef ZIMO_NC_INFO
};

// Whether function f takes part in the classification on this machine.
bool Compared(const NcGroupTable& table, int f) {
  const bool lathe = table.machine == 2;
  if (f >= kCircleMillInside && f <= kCamMillCycle) return false;
  if (f == kSingleCycleA || f == kSingleCycleThread || f == kSingleCycleB) return lathe;
  if (f >= kMultiFinishing && f <= kMultiThread) return lathe;
  if (f >= kBoltCircle && f <= kGridPattern) return table.machine == 1;
  return true;
}

}  // namespace

const GFunctionInfo& GFunctionAt(int function) { return kFunctions[function]; }

int32_t DefaultOfGroup(int group, uint32_t machine_type) {
  static constexpr int32_t kDefaults[kGroupCount] = {
      0,  0,  17, 90, 1090, 94, 20, 40, 49,   80,   98, 50,   0,    97,
      54, 64, 69, 15, 1050, 70, 1060, 0, 1092, 0, 26, 1013, 0};
  if (machine_type == 2 && group == 2) return 18;
  if (machine_type == 2 && group == 5) return 95;
  return group >= 0 && group < kGroupCount ? kDefaults[group] : 0;
}

bool DefaultSetOnRewind(int group) {
  return group == 7 || group == 8 || group == 9 || group == 11 || group == 16 || group == 18;
}

NcGroupTable DefaultGroupTable(uint32_t machine_type) {
  NcGroupTable t{};
  for (int f = 0; f < kGFunctionCount; ++f) t.code[f] = kFunctions[f].default_code;
  for (int g = 0; g < kGroupCount; ++g) {
    t.group_default[g] = g < kUnclassifiedGroup ? DefaultOfGroup(g, machine_type) : 0;
    t.set_on_rewind[g] = DefaultSetOnRewind(g);
  }
  std::memset(t.at_front, 0, sizeof t.at_front);
  return t;
}

int ClassifyGCode(const NcGroupTable& table, int32_t code) {
  // The functions are held in group order, so the first match is the one of
  // the lowest group, as the groups are compared 0, 1, 2, ...
  for (int f = 0; f < kGFunctionCount; ++f) {
    if (table.code[f] == code && Compared(table, f)) return kFunctions[f].group;
  }
  return code < 0 ? kUnclassifiedGroup : -1;
}

}  // namespace zimo::nc
