// zimoserver: single owner of a machine's cards, serving any number of
// client programs concurrently.
#include "core/server_app.h"

int main(int argc, char** argv) {
  zimo::server::ServerApp app;
  return app.Main(argc, argv);
}
