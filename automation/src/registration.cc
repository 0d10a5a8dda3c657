#include "automation/registration.h"

#include <filesystem>

#include "class_keys.h"
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

Status RegisterClass(const ServerRegistration& server, const ClassRegistration& c,
                     std::string_view module_path, const std::string& command) {
  const std::string clsid = c.clsid.ToString();
  const std::string key = "CLSID\\" + clsid;
  const std::string prog(c.prog_id);
  const std::string vi(c.version_independent_prog_id);
  Status s = All([&] { return SetKey(prog, c.description); },
                 [&] { return SetKey(prog + "\\CLSID", clsid); },
                 [&] { return SetKey(vi, c.description); },
                 [&] { return SetKey(vi + "\\CLSID", clsid); },
                 [&] { return SetKey(vi + "\\CurVer", prog); },
                 [&] { return DeleteTree(key); },  // the class key is written afresh
                 [&] { return SetKey(key, c.description); },
                 [&] { return SetKey(key + "\\ProgID", prog); },
                 [&] { return SetKey(key + "\\VersionIndependentProgID", vi); },
                 [&] { return SetKey(key + "\\Programmable", ""); },
                 [&] { return SetKey(key + "\\LocalServer32", command); },
                 [&] { return SetNamedValue(key, "AppID", server.appid.ToString()); },
                 [&] { return SetKey(key + "\\TypeLib", server.typelib.ToString()); },
                 [&] { return SetKey(key + "\\Version", server.typelib_version); });
  if (!s.ok() || !c.control) return s;
  const std::string bitmap = std::string(module_path) + ", " + std::to_string(c.toolbox_bitmap);
  return All([&] { return SetKey(key + "\\Control", ""); },
             [&] { return SetKey(key + "\\Insertable", ""); },
             [&] { return SetKey(key + "\\ToolboxBitmap32", bitmap); },
             [&] { return SetKey(key + "\\MiscStatus", c.misc_status); },
             [&] { return SetKey(key + "\\MiscStatus\\1", c.misc_status_content); });
}

}  // namespace

std::string LocalServerCommand(std::string_view module_path) {
  std::string path(module_path);
  if (path.find_first_of(" \t") != std::string::npos) return "\"" + path + "\"";
  return path;
}

Status RegisterServer(const ServerRegistration& server, std::string_view module_path) {
  const std::string appid = server.appid.ToString();
  const std::string command = LocalServerCommand(module_path);
  const std::string typelib =
      "TypeLib\\" + server.typelib.ToString() + "\\" + std::string(server.typelib_version);
  const std::string folder = std::filesystem::path(module_path).parent_path().string();
  Status s = All([&] { return SetKey("AppID\\" + appid, server.app_name); },
                 [&] {
                   return SetNamedValue("AppID\\" + std::string(server.executable_name), "AppID",
                                        appid);
                 },
                 [&] { return SetKey(typelib, server.typelib_description); },
                 [&] { return SetKey(typelib + "\\0\\win32", module_path); },
                 [&] { return SetKey(typelib + "\\FLAGS", "0"); },
                 [&] { return SetKey(typelib + "\\HELPDIR", folder); });
  for (const ClassRegistration& c : server.classes) {
    if (!s.ok()) break;
    s = RegisterClass(server, c, module_path, command);
  }
  return s;
}

Status UnregisterServer(const ServerRegistration& server) {
  Status s;
  for (const ClassRegistration& c : server.classes) {
    s = All([&] { return DeleteTree(std::string(c.prog_id)); },
            [&] { return DeleteTree(std::string(c.version_independent_prog_id)); },
            [&] { return DeleteTree("CLSID\\" + c.clsid.ToString()); });
    if (!s.ok()) return s;
  }
  return All([&] { return DeleteTree("AppID\\" + server.appid.ToString()); },
             [&] { return DeleteTree("AppID\\" + std::string(server.executable_name)); },
             [&] { return DeleteTree("TypeLib\\" + server.typelib.ToString()); });
}

}  // namespace zimo::automation
