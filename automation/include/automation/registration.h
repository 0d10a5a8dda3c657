// Registration of a server's classes in the registry, so that activation
// (and anyone browsing the classes) finds them: under HKEY_CLASSES_ROOT the
// AppID, each class's ProgID and version-independent ProgID (with CurVer),
// and its CLSID key with LocalServer32, and the type library.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "automation/guid.h"
#include "platform/status.h"

namespace zimo::automation {

struct ClassRegistration {
  Guid clsid;
  std::string_view description;                  // "ZimoService Class"
  std::string_view prog_id;                      // "ZimoServer.ZimoService.1"
  std::string_view version_independent_prog_id;  // "ZimoServer.ZimoService"
  // A class that containers may show as a control: its keys "Control",
  // "Insertable", "ToolboxBitmap32" ("<module>, <bitmap id>") and
  // "MiscStatus" are written too.
  bool control = false;
  int toolbox_bitmap = 0;
  std::string_view misc_status = "0";
  std::string_view misc_status_content = "132497";  // MiscStatus\1
};

struct ServerRegistration {
  Guid appid;
  std::string_view app_name;         // AppID\{appid} default value
  std::string_view executable_name;  // AppID\<executable_name> value AppID
  Guid typelib;
  std::string_view typelib_version;      // "1.0"
  std::string_view typelib_description;  // the version key's default value
  std::span<const ClassRegistration> classes;
};

// Writes every key; `module_command` is the LocalServer32 command line (the
// server program's absolute path, quoted when it holds a blank).
platform::Status RegisterServer(const ServerRegistration& server, std::string_view module_path);
// Removes what RegisterServer wrote; keys already gone are no error. The
// shared parents (AppID, CLSID, TypeLib) stay.
platform::Status UnregisterServer(const ServerRegistration& server);

// The LocalServer32 text for a program path.
std::string LocalServerCommand(std::string_view module_path);

}  // namespace zimo::automation
