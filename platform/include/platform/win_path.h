// Windows paths in files and settings, on this machine.
//
// Mapping (ToHostPath):
//  * "X:\dir\f.ext" (any drive letter, either slash) -> $ZIMO_HOME/drive_x/dir/f.ext
//    (drive letter in lower case). "X:" alone or "X:rel" is taken as "X:\".
//  * "\SystemRoot\..." and "%SystemRoot%\..." (any case) -> the Windows
//    directory, WindowsDir().
//  * "\dir\f" (rooted, no drive) -> drive C: as above.
//  * "/..." (a POSIX path) and anything else (relative): backslashes become
//    slashes, so a host folder with "\FILE.INI" appended still works.
//  * ".." never climbs above a drive folder or the Windows directory, as it
//    never climbs above a drive's root on Windows.
//  * Then every component that exists is matched case-insensitively against
//    the folder's entries (the system upper-cases names it writes); an exact
//    match wins, and components that do not exist keep their spelling.
//  * "\\.\..." device names and "\\server\share" paths are not files here:
//    they are returned with slashes but otherwise unchanged.
// FromHostPath gives the Windows form ("X:\...") back for paths under a drive
// folder; other paths come back unchanged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zimo::platform {

std::filesystem::path ToHostPath(std::string_view path);
std::string FromHostPath(const std::filesystem::path& path);

// Matches each existing component of `path` case-insensitively (see above).
std::filesystem::path ResolveCase(const std::filesystem::path& path);

// _splitpath: drive "C:" (or empty), dir with its trailing separator, name,
// ext with its dot (the last dot of the last component). Either slash.
struct WinPathParts {
  std::string drive;
  std::string dir;
  std::string name;
  std::string ext;
};
WinPathParts SplitWinPath(std::string_view path);
// _makepath: joins the parts, adding "\" after a dir and "." before an ext
// where missing.
std::string MakeWinPath(std::string_view drive, std::string_view dir, std::string_view name,
                        std::string_view ext);

// SearchPath: looks for `file_name` (with `extension` appended when the name
// has none) in each folder of `folders` (';'-separated, Windows or POSIX
// paths). Without folders: the current directory, SystemDir(), WindowsDir(),
// then each folder of $PATH. A file name with a folder in it is only resolved.
// Names match case-insensitively. Gives the host path of the first regular
// file found.
std::optional<std::filesystem::path> SearchFile(std::string_view folders,
                                                std::string_view file_name,
                                                std::string_view extension = {});

// The Win32 shape of the above: copies the host path into `buffer` and
// returns its length; when it does not fit, returns the size needed including
// the terminator and leaves the buffer alone; 0 when nothing is found.
// *file_part (optional) points at the name within the buffer.
uint32_t SearchPathA(const char* folders, const char* file_name, const char* extension,
                     uint32_t buffer_length, char* buffer, char** file_part);

}  // namespace zimo::platform
