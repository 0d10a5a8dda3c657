// ZIMO_HOME: the one root of all machine state (registry, the Windows and
// system directories, run-time sockets), and the naming of shared objects so
// that two homes never meet.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zimo::platform {

// $ZIMO_HOME, else $XDG_STATE_HOME/zimo, else ~/.local/state/zimo. The folder
// and its subfolders are created on first use.
std::filesystem::path ZimoHome();
std::filesystem::path RegistryFile();    // $ZIMO_HOME/registry.reg
std::filesystem::path WindowsDir();      // $ZIMO_HOME/windows
std::filesystem::path SystemDir();       // $ZIMO_HOME/windows/system
std::filesystem::path RunDir();          // $ZIMO_HOME/run

// Eight hex digits that identify the current home.
std::string HomeHash();

// The POSIX name ("/zimo-<hash>-<name>") of a named object such as
// "MutexZimo0" or "ZimoSharedMemory". Characters that POSIX names cannot
// carry ('/', '\\') are replaced; the name keeps its case, as the
// system's object names do.
std::string ObjectName(std::string_view kind, std::string_view name);

}  // namespace zimo::platform
