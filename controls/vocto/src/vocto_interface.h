// _DVocto and _DVoctoEvents as the type library describes them, and the
// library's enumerations with their help texts.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "automation/interface_info.h"

namespace zimo::vocto {

extern const automation::InterfaceInfo kDVocto;
extern const automation::InterfaceInfo kDVoctoEvents;

inline constexpr automation::DispId kDispidOnError = 1;

struct EnumItem {
  std::string_view name;
  int32_t value;
  std::string_view help;  // empty when the item has none
};
struct EnumInfo {
  std::string_view name;
  std::span<const EnumItem> items;
};
// CommMethods, ZIMOTypes, BUSTypes, PortNumbers.
std::span<const EnumInfo> Enumerations();

}  // namespace zimo::vocto
