#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

#include <cctype>
#include <cstdlib>
#include <system_error>

#include "platform/process.h"

namespace zimo::platform {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

bool IsWindowsName(std::string_view name) {
  if (name.find('\\') != std::string_view::npos) return true;
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
    return true;
  }
  if (EndsWithNoCase(name, ".dll") || EndsWithNoCase(name, ".ocx")) return true;
  // Windows appends ".dll" to a name without extension.
  std::string_view base = name.substr(name.find_last_of('/') + 1);
  return !base.empty() && base.find('.') == std::string_view::npos;
}

std::string LoaderError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown loader error";
}

std::filesystem::path Absolute(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(p, ec);
  return ec ? p : abs.lexically_normal();
}

}  // namespace

std::string ModuleFileName(std::string_view name) {
  if (!IsWindowsName(name)) return std::string(name);
  std::string_view base = name.substr(name.find_last_of("\\/:") + 1);
  if (EndsWithNoCase(base, ".dll") || EndsWithNoCase(base, ".ocx")) {
    base.remove_suffix(4);
  }
  return "lib" + Lower(base) + ".so";
}

std::vector<std::filesystem::path> ModuleSearchPaths(std::string_view name) {
  std::string file = ModuleFileName(name);
  if (file.find('/') != std::string::npos) return {std::filesystem::path(file)};
  std::vector<std::filesystem::path> paths;
  std::filesystem::path own_dir = ExecutableDir();
  if (!own_dir.empty()) paths.push_back(own_dir / file);
  if (const char* bin = std::getenv("ZIMO_BIN_DIR"); bin != nullptr && *bin != '\0') {
    std::filesystem::path candidate = std::filesystem::path(bin) / file;
    if (paths.empty() || Absolute(candidate) != Absolute(paths.front())) {
      paths.push_back(candidate);
    }
  }
  paths.emplace_back(file);
  return paths;
}

Result<Module> Module::Load(std::string_view name) {
  const std::string what = "loading module \"" + std::string(name) + "\"";
  if (name.empty()) return Status(Code::kInvalidArgument, what + ": no name given");
  std::vector<std::filesystem::path> paths = ModuleSearchPaths(name);
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::filesystem::path& path = paths[i];
    const bool last = i + 1 == paths.size();
    if (!last) {
      std::error_code ec;
      if (!std::filesystem::exists(path, ec)) continue;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      Module module;
      module.handle_ = handle;
      module.name_ = std::string(name);
      return module;
    }
    std::string error = LoaderError();
    if (!last) {
      // The file is there but does not load (wrong format, missing
      // dependency): say so rather than quietly taking another copy.
      return Status(Code::kBadData, what + " from " + path.string() + ": " + error);
    }
    return Status(Code::kNotFound, what + " (" + path.string() + "): " + error);
  }
  return Status(Code::kNotFound, what + ": nowhere to look");
}

Module::Module(Module&& other) noexcept : handle_(other.handle_), name_(std::move(other.name_)) {
  other.handle_ = nullptr;
}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    (void)Free();
    handle_ = other.handle_;
    name_ = std::move(other.name_);
    other.handle_ = nullptr;
  }
  return *this;
}

Module::~Module() { (void)Free(); }

Result<void*> Module::Symbol(const char* symbol_name) const {
  const std::string what = "looking up \"" +
                           std::string(symbol_name != nullptr ? symbol_name : "") + "\" in \"" +
                           name_ + "\"";
  if (handle_ == nullptr) return Status(Code::kInvalidArgument, what + ": module not loaded");
  if (symbol_name == nullptr || *symbol_name == '\0') {
    return Status(Code::kInvalidArgument, what + ": no name given");
  }
  ::dlerror();  // a symbol may legitimately be null; only dlerror tells
  void* address = ::dlsym(handle_, symbol_name);
  if (const char* error = ::dlerror(); error != nullptr) {
    return Status(Code::kNotFound, what + ": " + error);
  }
  return address;
}

std::filesystem::path Module::Path() const {
  if (handle_ == nullptr) return {};
  link_map* map = nullptr;
  if (::dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
  if (map->l_name == nullptr || map->l_name[0] == '\0') return ExecutablePath();
  return Absolute(map->l_name);
}

Status Module::Free() {
  if (handle_ == nullptr) return Status::Ok();
  void* handle = handle_;
  handle_ = nullptr;
  if (::dlclose(handle) != 0) {
    return Status(Code::kOsError, "freeing module \"" + name_ + "\": " + LoaderError());
  }
  return Status::Ok();
}

void* OpenModuleHandle(const std::filesystem::path& file) {
  return file.empty() ? nullptr : ::dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

void* OpenModuleHandleOf(const void* address) {
  const std::filesystem::path path = ModulePathOf(address);
  void* handle = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  return handle != nullptr ? handle : ::dlopen(nullptr, RTLD_LAZY);
}

void CloseModuleHandle(void* handle) {
  if (handle != nullptr) (void)::dlclose(handle);
}

std::filesystem::path ModuleHandlePath(void* handle) {
  link_map* map = nullptr;
  if (handle == nullptr || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
    return {};
  }
  if (map->l_name == nullptr || map->l_name[0] == '\0') return ExecutablePath();
  return map->l_name;
}

bool IsModuleLoaded(const std::filesystem::path& file) {
  void* handle = file.empty() ? nullptr : ::dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  (void)::dlclose(handle);
  return true;
}

std::filesystem::path ModulePathOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (address == nullptr ||
      ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return {};
  }
  // The main program's own entry carries no name.
  if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') return ExecutablePath();
  return Absolute(map->l_name);
}

}  // namespace zimo::platform
