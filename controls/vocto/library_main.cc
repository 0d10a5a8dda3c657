// libvocto.so: the control library's exported entry points.
#include "platform/module.h"
#include "registration.h"
#include "vocto/vocto_guids.h"
#include "vocto_qt.h"

namespace {
// The Qt dialogs, boxes and message handling, in place as soon as a
// container loads the library.
[[maybe_unused]] const bool kViewsInstalled = (zimo::vocto::ui::InstallQtServices(), true);
}  // namespace

extern "C" {

int32_t DllRegisterServer(void) {
  std::string path =
      zimo::platform::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)).string();
  return zimo::vocto::RegisterVocto(path);
}

int32_t DllUnregisterServer(void) { return zimo::vocto::UnregisterVocto(); }

int32_t DllGetClassObject(const void* clsid, const void* iid, void** object) {
  return zimo::vocto::GetVoctoClassObject(static_cast<const zimo::automation::Guid*>(clsid),
                                          static_cast<const zimo::automation::Guid*>(iid), object);
}

int32_t DllCanUnloadNow(void) {
  return zimo::controls::LiveObjects().load() == 0 ? zimo::automation::S_OK
                                                   : zimo::automation::S_FALSE;
}

}  // extern "C"
