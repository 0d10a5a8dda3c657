#include "corvan/user_handle_api.h"

#include "link/library_app.h"

using zimo::corvan::App;
using zimo::corvan::DeviceUserHandle;
using zimo::corvan::IndexFromDeviceNumber;

extern "C" {

DeviceUserHandle* ZimoGetUserHandle(uint32_t device) {
  return App().User(IndexFromDeviceNumber(device));
}

void ZimoSetWindow(uint32_t device, uint32_t window) {
  if (DeviceUserHandle* user = App().User(IndexFromDeviceNumber(device)))
    user->WindowHandle = window;
}

}  // extern "C"
