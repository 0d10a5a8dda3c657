// zimoserver: the server that owns the cards of one machine for several
// client programs at once.
#include "core/server_app.h"

int main(int argc, char** argv) {
  zimo::server::ServerApp app;
  return app.Main(argc, argv);
}
