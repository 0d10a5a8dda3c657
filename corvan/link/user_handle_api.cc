#include "corvan/user_handle_api.h"

#include "link/library_app.h"

namespace zimo::corvan {

DeviceUserHandle* ZimoGetUserHandle(std::uint32_t device) {
  return App().User(DeviceIndex(device));
}

void ZimoSetWindow(std::uint32_t device, std::uint32_t window) {
  if (DeviceUserHandle* user = App().User(DeviceIndex(device))) user->WindowHandle = window;
}

}  // namespace zimo::corvan
