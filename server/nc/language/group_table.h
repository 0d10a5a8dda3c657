// The configured G numbers of the modal groups and the M-code attributes,
// held as plain data (loaded from the settings by the translator layer).
#pragma once

#include <cstdint>

#include "nc/language/g_functions.h"

namespace zimo::nc {

enum GFunction : int {
#define ZIMO_NC_ENUM(e, g, n, d) e,
  ZIMO_NC_G_FUNCTIONS(ZIMO_NC_ENUM)
#undef ZIMO_NC_ENUM
  kGFunctionCount
};

struct GFunctionInfo {
  int group;
  const char* name;
  int32_t default_code;
};
const GFunctionInfo& GFunctionAt(int function);

// Groups 0..25, and 26 for a negative code that matches no function.
inline constexpr int kGroupCount = 27;
inline constexpr int kUnclassifiedGroup = 26;

enum class MachineKind : uint32_t { kMill = 1, kLathe = 2 };

struct NcGroupTable {
  int32_t code[kGFunctionCount];
  int32_t group_default[kGroupCount];
  bool set_on_rewind[kGroupCount];
  // Section "Code".
  uint32_t machine = 1;  // selects the lathe codes of groups 1 and 19
  bool uvw_incremental = false;
  bool at_move_tool_change = true;
  double default_feed = 5.0;
  bool force_group1 = false;
  bool comp_correction = false;
  // Section "Code\Mcodes".
  double first_synchronous_m = 100.0;
  uint8_t at_front[100];

  int32_t operator[](GFunction f) const { return code[f]; }
};

// The table with every default; machine_type 2 (a lathe) gives the plane and
// feed defaults 18 and 95.
NcGroupTable DefaultGroupTable(uint32_t machine_type);

// Group defaults that depend on the machine type.
int32_t DefaultOfGroup(int group, uint32_t machine_type);
bool DefaultSetOnRewind(int group);

// The group a G code (major + 1000 * minor, or -minor) belongs to by the
// table, in the order the block reader compares them; -1 when a non-negative
// code matches nothing, 26 for a negative one.
int ClassifyGCode(const NcGroupTable& table, int32_t code);

}  // namespace zimo::nc
