// What "-RegServer" writes and "-UnregServer" removes: the application's
// AppID, the three classes with their ProgIDs and LocalServer32, and the
// type library.
#pragma once

#include <string_view>

#include "automation/registration.h"
#include "platform/status.h"

namespace zimo::server {

const automation::ServerRegistration& ServerRegistrationInfo();

// `module_path`: the absolute path of the zimoserver program.
platform::Status RegisterZimoServer(std::string_view module_path);
platform::Status UnregisterZimoServer();

}  // namespace zimo::server
