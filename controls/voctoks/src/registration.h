// What the VoctoKS library registers, and its class objects.
#pragma once

#include <string_view>

#include "controls/control_module.h"

namespace zimo::voctoks {

const controls::ControlModuleInfo& ModuleInfo();
automation::HRESULT RegisterVoctoKS(std::string_view module_path);
automation::HRESULT UnregisterVoctoKS();
automation::HRESULT GetVoctoKSClassObject(const automation::Guid* clsid,
                                          const automation::Guid* iid, void** object);

}  // namespace zimo::voctoks
