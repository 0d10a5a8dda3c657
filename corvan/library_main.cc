// Start-up of libcorvan32.so: the library attaches to the shared device
// table as soon as it is loaded into a process, and detaches when it is
// unloaded or the process ends (the end is registered at start-up).
#include "link/library_app.h"

namespace {

__attribute__((constructor)) void StartCorvanLibrary() { zimo::corvan::CommLibraryApp::Instance(); }

}  // namespace
