#include "registration.h"

#include "vocto/vocto_guids.h"
#include "vocto_ctrl.h"

namespace zimo::vocto {
namespace {

// Recompose on resize, can't link inside, inside-out, activate when
// visible, invisible at run time, set client site first.
constexpr std::string_view kMiscStatus = "132497";

// The control registers without a threading model and is not insertable.
const automation::InprocClassRegistration kClasses[] = {
    {.clsid = kControlClsid,
     .description = "Vocto Control",
     .prog_id = kControlProgId,
     .version_independent_prog_id = kControlVersionIndependentProgId,
     .control = true,
     .insertable = false,
     .toolbox_bitmap = 1,
     .misc_status = "0",
     .misc_status_content = kMiscStatus,
     .typelib = kTypeLibId,
     .typelib_version = "1.0"},
    {.clsid = kGeneralPageClsid,
     .description = "Vocto Property Page",
     .prog_id = kGeneralPageProgId},
    {.clsid = kBusPageClsid, .description = "Vocto Property Page Bus", .prog_id = kBusPageProgId},
    {.clsid = kDprPageClsid, .description = "Vocto Property Page DPR", .prog_id = kDprPageProgId},
    {.clsid = kSerialPageClsid,
     .description = "Vocto Property Page Serial",
     .prog_id = kSerialPageProgId},
    {.clsid = kAboutPageClsid,
     .description = "Vocto Property Page About",
     .prog_id = kAboutPageProgId},
};

}  // namespace

const controls::ControlModuleInfo& ModuleInfo() {
  static const controls::ControlModuleInfo info{kTypeLibId, "1.0", "Vocto Control module",
                                                kClasses};
  return info;
}

automation::HRESULT RegisterVocto(std::string_view module_path) {
  return controls::RegisterControlModule(ModuleInfo(), module_path);
}

automation::HRESULT UnregisterVocto() { return controls::UnregisterControlModule(ModuleInfo()); }

automation::HRESULT GetVoctoClassObject(const automation::Guid* clsid, const automation::Guid* iid,
                                        void** object) {
  static controls::ControlFactory<CVoctoCtrl> factory;
  static const controls::ClassObjectEntry entries[] = {{kControlClsid, &factory}};
  return controls::GetClassObject(entries, clsid, iid, object);
}

}  // namespace zimo::vocto
