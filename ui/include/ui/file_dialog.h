// The open-file dialog, asked for the way the system's callers describe it:
// a Windows-style filter text ("Firmware Files (*.bin)|*.bin;*.BIN|All
// Files(*.*)|*.*|"), a default extension, an initial file name (a wildcard
// name only filters) and whether the file must exist. Like the dialog the
// callers were written for, a confirmed choice leaves the process's current
// folder at the chosen file's folder unless asked not to, so a caller that
// passes on only the file's name still finds the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace zimo::ui {

struct OpenFileRequest {
  std::string title;              // empty: "Open"
  std::string filter;             // "description|patterns|description|patterns|..."
  std::string default_extension;  // added to a typed name without one ("bin")
  std::string initial_name;       // a name to start with; a wildcard name only filters
  std::filesystem::path initial_folder;  // empty: the current folder
  bool file_must_exist = true;
  bool change_directory = true;   // leave the current folder at the chosen file's folder
};

struct ChosenFile {
  std::filesystem::path path;  // absolute
  std::string file_title;      // name and extension, without the folder
};

// One name filter of the Qt dialog per description|patterns pair: the
// description as written, then the patterns (split at ';', blanks trimmed)
// in parentheses, which the dialog reads and hides; "*.*" becomes "*", as it
// means every file, dotted or not. A filter without pairs gives
// "All Files (*)".
std::vector<std::string> QtNameFilters(std::string_view windows_filter);

// Object name of the dialog while it is open, so that tests can find it.
inline constexpr char kOpenFileDialogName[] = "OpenFileDialog";

// Shows the dialog modally; the chosen file, or nothing when cancelled.
std::optional<ChosenFile> GetOpenFileName(const OpenFileRequest& request,
                                          QWidget* parent = nullptr);

}  // namespace zimo::ui
