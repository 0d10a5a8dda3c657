#include "nc/translator/group_loader.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "nc/translator/settings_store.h"

namespace zimo::nc {

NcGroupTable LoadGroupTable(NcSettings& settings, uint32_t machine_type) {
  NcGroupTable t = DefaultGroupTable(machine_type);
  for (int g = 0; g < kGroupCount; ++g) {
    t.group_default[g] = 0;
    t.set_on_rewind[g] = false;
  }
  uint32_t v = 0;
  settings.GetLong("Code", "machine", &v, 1);
  t.machine = v;
  settings.GetBool("Code", "uvwIncremental", &t.uvw_incremental, false);
  settings.GetBool("Code", "atMoveToolChange", &t.at_move_tool_change, true);
  settings.GetDouble("Code", "defaultFeed", &t.default_feed, 5.0);
  settings.GetBool("Code", "bforceGroup1", &t.force_group1, false);
  settings.GetBool("Code", "bCompCorrection", &t.comp_correction, false);

  for (int g = 0; g < kUnclassifiedGroup; ++g) {
    char section[32];
    std::snprintf(section, sizeof section, "Code\\Group%d", g);
    for (int f = 0; f < kGFunctionCount; ++f) {
      const GFunctionInfo& info = GFunctionAt(f);
      if (info.group != g) continue;
      settings.GetLong(section, info.name, &v, static_cast<uint32_t>(info.default_code));
      t.code[f] = static_cast<int32_t>(v);
    }
    if (g != 0) {
      settings.GetLong(section, "defaultVal", &v,
                       static_cast<uint32_t>(DefaultOfGroup(g, machine_type)));
      t.group_default[g] = static_cast<int32_t>(v);
    }
    settings.GetBool(section, "SetOnRewind", &t.set_on_rewind[g], DefaultSetOnRewind(g));
  }
  LoadMCodeAttributes(settings, t);
  return t;
}

void LoadMCodeAttributes(NcSettings& settings, NcGroupTable& t) {
  std::memset(t.at_front, 0, sizeof t.at_front);
  settings.GetDouble("Code\\Mcodes", "FirstSynchronousM", &t.first_synchronous_m, 100.0);
  std::string name;
  for (bool more = settings.EnumValueNames("Code\\Mcodes", &name); more;
       more = settings.EnumValueNames(nullptr, &name)) {
    if (name.size() < 2 || name[0] != 'm') continue;
    const char* begin = name.data() + 1;
    const char* end = name.data() + name.size();
    const char* p = begin;
    while (p < end && ((*p >= '0' && *p <= '9') || *p == '.')) ++p;
    double number = -1.0;
    const auto [stop, ec] = std::from_chars(begin, p, number, std::chars_format::fixed);
    if (ec != std::errc() || stop != p) continue;
    if (std::string_view(p, static_cast<std::size_t>(end - p)) != "AtFront") continue;
    if (number >= 0.0 && number < 100.0 && number == static_cast<double>(static_cast<int>(number))) {
      t.at_front[static_cast<int>(number)] = 1;
    }
  }
}

}  // namespace zimo::nc
