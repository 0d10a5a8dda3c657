// Loading shared libraries by the names the system's programs use for them
// ("Corvan32.dll"), looking up their functions, and finding which file a
// bit of loaded code came from.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace zimo::platform {

// The file name a module name stands for here. A Windows name, bare or with a
// folder in either slash style and in any case ("Corvan32.dll",
// "C:\\Zimo\\CORVAN32.DLL", "Vocto.ocx"), becomes "lib" + its base name in
// lower case + ".so" ("libcorvan32.so"); the folder is dropped, because the
// libraries live beside the programs. Any other name (e.g. "libm.so.6",
// "/usr/lib/x.so") is kept as it is.
std::string ModuleFileName(std::string_view name);

// Where Module::Load looks for a module, in order: for a mapped Windows name
// or a bare file name, the running program's folder, then $ZIMO_BIN_DIR;
// the last entry is the bare file name for the dynamic loader's own search.
// A name with a POSIX folder is the only entry.
std::vector<std::filesystem::path> ModuleSearchPaths(std::string_view name);

// A loaded library. Moving keeps one reference; destruction (or Free) drops it.
class Module {
 public:
  // Loads by the rules above. Code::kNotFound when no candidate loads; the
  // message names the module and carries the loader's own error text.
  static Result<Module> Load(std::string_view name);

  Module() = default;
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module();

  bool loaded() const { return handle_ != nullptr; }
  // The address of an exported symbol; Code::kNotFound names what is missing.
  Result<void*> Symbol(const char* symbol_name) const;
  template <typename Fn>
  Result<Fn*> Function(const char* symbol_name) const {
    Result<void*> address = Symbol(symbol_name);
    if (!address.ok()) return address.status();
    return reinterpret_cast<Fn*>(*address);
  }
  // The file that was loaded.
  std::filesystem::path Path() const;
  // Drops the reference now. Status of the loader's dlclose.
  Status Free();

 private:
  void* handle_ = nullptr;
  std::string name_;  // as asked for, for messages
};

// Loader handles as such, for module handles that travel through a C
// interface as plain pointers (a language module slot handed to callers).
// Each open holds one reference until its close.
// The file `file` loaded (lazily, its symbols kept to itself); null when it
// does not load.
void* OpenModuleHandle(const std::filesystem::path& file);
// A reference to the file that holds `address`, already loaded; the running
// program's when no library holds it.
void* OpenModuleHandleOf(const void* address);
void CloseModuleHandle(void* handle);
// The file a handle stands for (the program's own path for the program);
// empty for null.
std::filesystem::path ModuleHandlePath(void* handle);
// Whether `file` is loaded in this process now (by anyone); loads nothing.
bool IsModuleLoaded(const std::filesystem::path& file);

// The file of the executable or library that holds `address` (a function or
// object of the caller's own module, giving "the library's own module").
// Empty when no loaded file holds it.
std::filesystem::path ModulePathOf(const void* address);

}  // namespace zimo::platform
