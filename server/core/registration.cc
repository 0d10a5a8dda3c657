#include "core/registration.h"

#include "core/server_ids.h"

namespace zimo::server {
namespace {

using automation::ClassRegistration;

// One per class, as the server's object map lists them; every class is
// also a control (drawn by OnDraw), with its toolbox bitmap.
constexpr ClassRegistration kClasses[] = {
    {kClsidZimoDevice, "ZimoDevice Class", "ZimoServer.ZimoDevice.1", "ZimoServer.Zimo", true,
     101},
    {kClsidZimoService, "ZimoService Class", "ZimoServer.ZimoService.1", "ZimoServer.ZimoService",
     true, 103},
    {kClsidZimoNC, "ZimoNC Class", "ZimoServer.ZimoNC.1", "ZimoServer.ZimoNC", true, 105},
};

constexpr automation::ServerRegistration kServer{
    kAppId,     "ZimoServer", "ZimoServer.EXE", kTypeLibId, "1.0", "ZimoServer 1.0 Type Library",
    kClasses};

}  // namespace

const automation::ServerRegistration& ServerRegistrationInfo() { return kServer; }

platform::Status RegisterZimoServer(std::string_view module_path) {
  return automation::RegisterServer(kServer, module_path);
}

platform::Status UnregisterZimoServer() { return automation::UnregisterServer(kServer); }

}  // namespace zimo::server
