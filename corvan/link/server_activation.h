// Starting ZimoServer from a library process: creating its service object
// through the object layer starts the server when it is not running (it
// then creates the shared device table). The library holds the object only
// to keep the server running and never calls it.
#pragma once

#include <memory>

namespace zimo::automation {
class Dispatch;
}

namespace zimo::corvan {

// The version-independent ProgID under which ZimoServer registers its
// service object.
inline constexpr char kServiceProgId[] = "ZimoServer.ZimoService";

// Creates the service object; true with the object in *out on success.
bool CreateServerServiceObject(std::shared_ptr<automation::Dispatch>* out);

}  // namespace zimo::corvan
