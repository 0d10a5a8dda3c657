#include "corvan/rings_api.h"

#include "link/library_app.h"

using zimo::corvan::App;

extern "C" {

int32_t StoreUSResponse(uint32_t device, const char* text, uint32_t length) {
  return App().rings().StoreUSResponse(device, text, length);
}

int32_t GetUSResponse(uint32_t device, char* buffer, uint32_t limit) {
  return App().rings().GetUSResponse(device, buffer, limit);
}

int32_t USReadReady(uint32_t device) { return App().rings().USReadReady(device); }

int32_t ChangeStore(uint32_t device, const char* text) {
  return App().rings().ChangeStore(device, text);
}

int32_t ChangeGet(uint32_t device, char* buffer, uint32_t limit) {
  return App().rings().ChangeGet(device, buffer, limit);
}

int32_t ChangeReadReady(uint32_t device) { return App().rings().ChangeReadReady(device); }

}  // extern "C"
