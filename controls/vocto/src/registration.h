// What the Vocto library registers, and its class objects.
#pragma once

#include <string_view>

#include "controls/control_module.h"

namespace zimo::vocto {

const controls::ControlModuleInfo& ModuleInfo();
automation::HRESULT RegisterVocto(std::string_view module_path);
automation::HRESULT UnregisterVocto();
automation::HRESULT GetVoctoClassObject(const automation::Guid* clsid, const automation::Guid* iid,
                                        void** object);

}  // namespace zimo::vocto
