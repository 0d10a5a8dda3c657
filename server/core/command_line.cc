#include "core/command_line.h"

#include "platform/codepage.h"

namespace zimo::server {
namespace {

struct Word {
  std::string_view text;
  Switch meaning;
};

// In the order they are compared; the first match ends the scan.
constexpr Word kWords[] = {
    {"Embedding", Switch::kEmbedding},   {"Automation", Switch::kEmbedding},
    {"UnregServer", Switch::kUnregister}, {"UnInstall", Switch::kUnregister},
    {"RegServer", Switch::kRegister},     {"Install", Switch::kRegister},
};

}  // namespace

Switch ScanCommandLine(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '-' && text[i] != '/') continue;
    std::string_view rest = text.substr(i + 1);
    for (const Word& w : kWords) {
      if (platform::EqualsNoCase(rest, w.text)) return w.meaning;
    }
  }
  return Switch::kNone;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

}  // namespace zimo::server
