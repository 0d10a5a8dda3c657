// The switches of zimoserver's command line. The text after the program
// name is scanned: a switch begins after a '-' or '/', and the whole rest
// of the line from there must equal a switch word (without regard to case),
// so "-RegServer" registers but "-RegServer now" is no switch at all.
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
