#include "automation/inproc.h"

#include <filesystem>
#include <map>
#include <mutex>

#include "automation/activation.h"
#include "class_keys.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace zimo::automation {
namespace {

using platform::kHkeyClassesRoot;
using platform::RegistryKey;
using platform::Status;

using class_keys::All;
using class_keys::DeleteTree;
using class_keys::SetKey;
using class_keys::SetNamedValue;

// Libraries loaded for objects, by path; freed only when they say so.
struct LoadedLibraries {
  std::mutex mu;
  std::map<std::string, platform::Module> modules;
  static LoadedLibraries& Get() {
    static auto* l = new LoadedLibraries;  // outlives objects destroyed at exit
    return *l;
  }
};

}  // namespace

Status RegisterTypeLib(const Guid& typelib, std::string_view version, std::string_view description,
                       std::string_view module_path) {
  const std::string key = "TypeLib\\" + typelib.ToString() + "\\" + std::string(version);
  const std::string folder = std::filesystem::path(module_path).parent_path().string();
  return All([&] { return SetKey(key, description); },
             [&] { return SetKey(key + "\\0\\win32", module_path); },
             [&] { return SetKey(key + "\\FLAGS", "0"); },
             [&] { return SetKey(key + "\\HELPDIR", folder); });
}

Status UnregisterTypeLib(const Guid& typelib, std::string_view version) {
  const std::string lib = "TypeLib\\" + typelib.ToString();
  Status s = DeleteTree(lib + "\\" + std::string(version));
  if (!s.ok()) return s;
  // The library's key goes with its last version.
  auto key = RegistryKey::Open(kHkeyClassesRoot, lib, platform::kKeyRead);
  if (key.ok()) {
    auto subs = key->SubkeyNames();
    if (subs.ok() && subs->empty()) return DeleteTree(lib);
  }
  return Status::Ok();
}

Status RegisterInprocClass(const InprocClassRegistration& c, std::string_view module_path) {
  const std::string clsid = c.clsid.ToString();
  const std::string key = "CLSID\\" + clsid;
  const std::string prog(c.prog_id);
  const std::string vi(c.version_independent_prog_id);
  Status s = All([&] { return SetKey(prog, c.description); },
                 [&] { return SetKey(prog + "\\CLSID", clsid); }, [&] { return DeleteTree(key); },
                 [&] { return SetKey(key, c.description); },
                 [&] { return SetKey(key + "\\ProgID", prog); },
                 [&] { return SetKey(key + "\\InprocServer32", module_path); });
  if (s.ok() && !c.threading_model.empty()) {
    s = SetNamedValue(key + "\\InprocServer32", "ThreadingModel", c.threading_model);
  }
  if (s.ok() && !vi.empty()) {
    s = All([&] { return SetKey(vi, c.description); },
            [&] { return SetKey(vi + "\\CLSID", clsid); },
            [&] { return SetKey(vi + "\\CurVer", prog); },
            [&] { return SetKey(key + "\\VersionIndependentProgID", vi); });
  }
  if (s.ok() && !c.typelib.IsNull()) {
    s = All([&] { return SetKey(key + "\\TypeLib", c.typelib.ToString()); },
            [&] { return SetKey(key + "\\Version", c.typelib_version); });
  }
  if (s.ok() && c.insertable) {
    s = All([&] { return SetKey(prog + "\\Insertable", ""); },
            [&] { return SetKey(key + "\\Insertable", ""); });
  }
  if (!s.ok() || !c.control) return s;
  const std::string bitmap = std::string(module_path) + ", " + std::to_string(c.toolbox_bitmap);
  return All([&] { return SetKey(key + "\\Control", ""); },
             [&] { return SetKey(key + "\\ToolboxBitmap32", bitmap); },
             [&] { return SetKey(key + "\\MiscStatus", c.misc_status); },
             [&] { return SetKey(key + "\\MiscStatus\\1", c.misc_status_content); });
}

Status UnregisterInprocClass(const InprocClassRegistration& c) {
  Status s = All([&] { return DeleteTree(std::string(c.prog_id)); },
                 [&] { return DeleteTree("CLSID\\" + c.clsid.ToString()); });
  if (s.ok() && !c.version_independent_prog_id.empty()) {
    s = DeleteTree(std::string(c.version_independent_prog_id));
  }
  return s;
}

HRESULT InprocServerPath(const Guid& clsid, std::string* path) {
  if (path == nullptr) return E_POINTER;
  auto key = RegistryKey::Open(kHkeyClassesRoot, "CLSID\\" + clsid.ToString() + "\\InprocServer32",
                               platform::kKeyRead);
  if (!key.ok()) {
    return key.status().code() == platform::Code::kNotFound ? REGDB_E_CLASSNOTREG
                                                            : REGDB_E_READREGDB;
  }
  auto value = key->GetString("");
  if (!value.ok() || value->empty()) return REGDB_E_CLASSNOTREG;
  *path = *value;
  return S_OK;
}

HRESULT CreateInprocInstance(std::string_view prog_id_or_clsid, std::shared_ptr<Dispatch>* out) {
  if (out == nullptr) return E_POINTER;
  Guid clsid;
  if (auto g = Guid::Parse(prog_id_or_clsid);
      g && !prog_id_or_clsid.empty() && prog_id_or_clsid.front() == '{') {
    clsid = *g;
  } else if (HRESULT hr = ClsidFromProgId(prog_id_or_clsid, &clsid); Failed(hr)) {
    return hr;
  }
  return CreateInprocInstance(clsid, out);
}

HRESULT CreateInprocInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  std::string path;
  if (HRESULT hr = InprocServerPath(clsid, &path); Failed(hr)) return hr;
  LoadedLibraries& libs = LoadedLibraries::Get();
  std::lock_guard lock(libs.mu);
  auto it = libs.modules.find(path);
  if (it == libs.modules.end()) {
    auto module = platform::Module::Load(path);
    if (!module.ok()) return CO_E_DLLNOTFOUND;
    it = libs.modules.emplace(path, std::move(*module)).first;
  }
  auto get = it->second.Function<DllGetClassObjectFn>("DllGetClassObject");
  if (!get.ok()) return CO_E_DLLNOTFOUND;
  void* object = nullptr;
  HRESULT hr = (*get)(&clsid, &kIidClassFactory, &object);
  if (Failed(hr)) return hr;
  if (object == nullptr) return E_UNEXPECTED;
  return static_cast<ClassFactory*>(object)->CreateInstance(out);
}

int FreeUnusedLibraries() {
  LoadedLibraries& libs = LoadedLibraries::Get();
  std::lock_guard lock(libs.mu);
  int freed = 0;
  for (auto it = libs.modules.begin(); it != libs.modules.end();) {
    auto can = it->second.Function<DllCanUnloadNowFn>("DllCanUnloadNow");
    if (can.ok() && (*can)() == S_OK) {
      it = libs.modules.erase(it);
      ++freed;
    } else {
      ++it;
    }
  }
  return freed;
}

}  // namespace zimo::automation
