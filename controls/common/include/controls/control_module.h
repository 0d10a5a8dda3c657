// What a control library does as an in-process server: registers its type
// library, its control class and its page classes, hands out class objects
// and says when it may be unloaded. Each control library's four exported
// entry points call these.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string_view>

#include "automation/inproc.h"

namespace zimo::controls {

using automation::HRESULT;

// Registration results.
inline constexpr HRESULT kSelfRegTypeLibFailed = automation::MakeHresult(0x80040200);
inline constexpr HRESULT kSelfRegClassFailed = automation::MakeHresult(0x80040201);

struct ControlModuleInfo {
  automation::Guid typelib;
  std::string_view typelib_version;      // "1.0"
  std::string_view typelib_description;  // "VoctoKS Control module"
  // The control class first, then its page classes.
  std::span<const automation::InprocClassRegistration> classes;
};

// 0, or kSelfRegTypeLibFailed / kSelfRegClassFailed at the first step that
// failed. `module_path` is the library's absolute path.
HRESULT RegisterControlModule(const ControlModuleInfo& info, std::string_view module_path);
HRESULT UnregisterControlModule(const ControlModuleInfo& info);

// Live objects of the library, for DllCanUnloadNow.
std::atomic<int>& LiveObjects();

// A class object that makes T (default-constructible) and counts it live
// until its last reference goes.
template <typename T>
class ControlFactory : public automation::ClassFactory {
 public:
  HRESULT CreateInstance(std::shared_ptr<automation::Dispatch>* out) override {
    if (out == nullptr) return automation::E_POINTER;
    LiveObjects()++;
    *out = std::shared_ptr<T>(new T(), [](T* p) {
      delete p;
      LiveObjects()--;
    });
    return automation::S_OK;
  }
};

struct ClassObjectEntry {
  automation::Guid clsid;
  automation::ClassFactory* factory;
};

// DllGetClassObject over a table of the library's class objects.
HRESULT GetClassObject(std::span<const ClassObjectEntry> entries, const automation::Guid* clsid,
                       const automation::Guid* iid, void** object);

}  // namespace zimo::controls
