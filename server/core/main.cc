// zimoserver: single owner of a machine's cards, serving any number of
// client programs concurrently.
#include <cstdio>
#include <cstring>

#include "core/server_app.h"

namespace {

constexpr char kHelp[] =
    "usage: zimoserver [-RegServer | -UnregServer | -Embedding]\n"
    "       zimoserver --help\n"
    "\n"
    "ZimoServer: the one owner of this ZIMO_HOME's cards, serving any number of\n"
    "client programs (through libcorvan32.so) at once. Clients start it by\n"
    "themselves; it ends a few seconds after its last client has gone.\n"
    "\n"
    "Switches (a leading - or /, any case):\n"
    "  -RegServer, -Install        registers the server's classes in this\n"
    "                              ZIMO_HOME (once per home) and ends\n"
    "  -UnregServer, -UnInstall    removes that registration and ends\n"
    "  -Embedding, -Automation     how clients start it\n"
    "  -h, --help                  prints this text and ends\n"
    "Any other word is a normal start.\n"
    "\n"
    "Example (a new home):\n"
    "  export ZIMO_HOME=$HOME/zimo-lab\n"
    "  zimoserver -RegServer\n"
    "\n"
    "Exit status: 0 when the registration changed or the server ended normally\n"
    "(a second instance ends at once with 0: the first one serves); 1 when the\n"
    "registration or the start failed (ZIMO_DEBUG=1 shows why).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  zimo::server::ServerApp app;
  return app.Main(argc, argv);
}
