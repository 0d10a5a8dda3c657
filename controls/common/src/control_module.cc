#include "controls/control_module.h"

namespace zimo::controls {

HRESULT RegisterControlModule(const ControlModuleInfo& info, std::string_view module_path) {
  if (!automation::RegisterTypeLib(info.typelib, info.typelib_version, info.typelib_description,
                                   module_path)
           .ok()) {
    return kSelfRegTypeLibFailed;
  }
  for (const auto& c : info.classes) {
    if (!automation::RegisterInprocClass(c, module_path).ok()) return kSelfRegClassFailed;
  }
  return automation::S_OK;
}

HRESULT UnregisterControlModule(const ControlModuleInfo& info) {
  if (!automation::UnregisterTypeLib(info.typelib, info.typelib_version).ok()) {
    return kSelfRegTypeLibFailed;
  }
  for (const auto& c : info.classes) {
    if (!automation::UnregisterInprocClass(c).ok()) return kSelfRegClassFailed;
  }
  return automation::S_OK;
}

std::atomic<int>& LiveObjects() {
  static std::atomic<int> count{0};
  return count;
}

HRESULT GetClassObject(std::span<const ClassObjectEntry> entries, const automation::Guid* clsid,
                       const automation::Guid* iid, void** object) {
  if (clsid == nullptr || object == nullptr) return automation::E_POINTER;
  *object = nullptr;
  if (iid != nullptr && *iid != automation::kIidClassFactory) return automation::E_NOINTERFACE;
  for (const ClassObjectEntry& e : entries) {
    if (e.clsid == *clsid && e.factory != nullptr) {
      *object = e.factory;
      return automation::S_OK;
    }
  }
  return automation::CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace zimo::controls
