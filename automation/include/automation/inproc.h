// In-process servers: libraries that hold classes (the controls) and are
// loaded into the caller's process. Such a library exports four C entry
// points; the registry names it under the class's InprocServer32 key, and
// CreateInprocInstance loads it from there and asks its class object for a
// fresh object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "automation/dispatch.h"
#include "automation/guid.h"
#include "automation/hresult.h"
#include "platform/status.h"

namespace zimo::automation {

// A library's class object: makes objects of one class.
class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  virtual HRESULT CreateInstance(std::shared_ptr<Dispatch>* out) = 0;
};

// The interface id a caller asks DllGetClassObject for.
inline constexpr Guid kIidClassFactory =
    MakeGuid(0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46});

// The entry points an in-process server exports (C linkage, these names):
//   int32_t DllGetClassObject(const Guid* clsid, const Guid* iid, void** object);
//     *object receives a ClassFactory* owned by the library;
//     CLASS_E_CLASSNOTAVAILABLE for a class it does not hold.
//   int32_t DllCanUnloadNow(void);     S_OK when no object of it lives, else S_FALSE
//   int32_t DllRegisterServer(void);   int32_t DllUnregisterServer(void);
using DllGetClassObjectFn = int32_t(const Guid* clsid, const Guid* iid, void** object);
using DllCanUnloadNowFn = int32_t();

// What one in-process class registers under HKEY_CLASSES_ROOT.
struct InprocClassRegistration {
  Guid clsid{};
  std::string_view description{};  // the class key's default value (user type name)
  std::string_view prog_id{};      // "VOCTOKS.VoctoKSCtrl.1"
  // Written with CurVer when not empty (controls); pages have none.
  std::string_view version_independent_prog_id{};
  std::string_view threading_model{};  // "Apartment", or empty for none
  // Controls: the "Control" key, ToolboxBitmap32 ("<module>, <id>"),
  // MiscStatus with its default and MiscStatus\1.
  bool control = false;
  bool insertable = false;
  int toolbox_bitmap = 0;
  std::string_view misc_status = "0";
  std::string_view misc_status_content{};
  // The type library the class belongs to (none when null).
  Guid typelib{};
  std::string_view typelib_version{};
};

// A type library's keys: TypeLib\{id}\<version> with its description, the
// win32 path of the module holding it, FLAGS and HELPDIR.
platform::Status RegisterTypeLib(const Guid& typelib, std::string_view version,
                                 std::string_view description, std::string_view module_path);
platform::Status UnregisterTypeLib(const Guid& typelib, std::string_view version);

// InprocServer32 = `module_path` (absolute). The class key is written afresh.
platform::Status RegisterInprocClass(const InprocClassRegistration& c,
                                     std::string_view module_path);
// Removes the class key and its ProgIDs; keys already gone are no error.
platform::Status UnregisterInprocClass(const InprocClassRegistration& c);

// The library registered for a class (its InprocServer32 value):
// REGDB_E_CLASSNOTREG when the class has none.
HRESULT InprocServerPath(const Guid& clsid, std::string* path);

// Loads the class's library (kept loaded while objects of it may live),
// asks its class object for an object. By ProgID (current version followed)
// or by class id in braces. REGDB_E_CLASSNOTREG when the class has no
// InprocServer32, CO_E_DLLNOTFOUND when the library does not load or lacks
// DllGetClassObject, and the class object's own failures.
HRESULT CreateInprocInstance(std::string_view prog_id_or_clsid, std::shared_ptr<Dispatch>* out);
HRESULT CreateInprocInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out);

// Frees the libraries loaded for objects whose DllCanUnloadNow says S_OK.
// Returns how many were freed.
int FreeUnusedLibraries();

}  // namespace zimo::automation
