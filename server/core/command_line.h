// Parsing of zimoserver's command-line switches. Everything after the
// program name is examined: a '-' or '/' starts a switch, and the entire
// remainder of the line must match a switch word case-insensitively. Hence
// "-RegServer" registers, while "-RegServer now" is not recognised.
#pragma once

#include <string>
#include <string_view>

namespace zimo::server {

enum class Switch {
  kNone,         // a normal start under user control
  kEmbedding,    // started by activation ("Embedding", "Automation")
  kUnregister,   // "UnregServer", "UnInstall"
  kRegister,     // "RegServer", "Install"
};

Switch ScanCommandLine(std::string_view text);

// The text after the program name, as the program's arguments make it.
std::string JoinArguments(int argc, const char* const* argv);

}  // namespace zimo::server
