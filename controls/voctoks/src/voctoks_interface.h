// _DVoctoKS and _DVoctoKSEvents as the type library describes them.
#pragma once

#include "automation/interface_info.h"

namespace zimo::voctoks {

extern const automation::InterfaceInfo kDVoctoKS;
extern const automation::InterfaceInfo kDVoctoKSEvents;

inline constexpr automation::DispId kDispidOnError = 1;

}  // namespace zimo::voctoks
