#include "automation/interface_info.h"

namespace zimo::automation {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace

const MemberInfo* InterfaceInfo::Find(DispId id, uint16_t flags) const {
  for (uint16_t kind : {kMethod, kPropertyGet, kPropertyPut}) {
    if ((flags & kind) == 0) continue;
    for (const MemberInfo& m : members) {
      if (m.id == id && m.kind == kind) return &m;
    }
  }
  return nullptr;
}

const MemberInfo* InterfaceInfo::FindName(std::string_view name) const {
  for (const MemberInfo& m : members) {
    if (EqualsNoCase(m.name, name)) return &m;
  }
  return nullptr;
}

}  // namespace zimo::automation
