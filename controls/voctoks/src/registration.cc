#include "registration.h"

#include "voctoks/voctoks_guids.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks {
namespace {

// Recompose on resize, can't link inside, inside-out, activate when
// visible, invisible at run time, set client site first.
constexpr std::string_view kMiscStatus = "132497";

const automation::InprocClassRegistration kClasses[] = {
    {.clsid = kControlClsid,
     .description = "Vocto Control",
     .prog_id = kControlProgId,
     .version_independent_prog_id = kControlVersionIndependentProgId,
     .threading_model = "Apartment",
     .control = true,
     .insertable = true,
     .toolbox_bitmap = 205,
     .misc_status = "0",
     .misc_status_content = kMiscStatus,
     .typelib = kTypeLibId,
     .typelib_version = "1.0"},
    {.clsid = kGeneralPageClsid,
     .description = "Vocto Property Page",
     .prog_id = kGeneralPageProgId,
     .threading_model = "Apartment"},
    {.clsid = kDownloadPageClsid,
     .description = "Download",
     .prog_id = kDownloadPageProgId,
     .threading_model = "Apartment"},
    {.clsid = kUploadPageClsid,
     .description = "Upload",
     .prog_id = kUploadPageProgId,
     .threading_model = "Apartment"},
    {.clsid = kAboutPageClsid,
     .description = "About",
     .prog_id = kAboutPageProgId,
     .threading_model = "Apartment"},
};

}  // namespace

const controls::ControlModuleInfo& ModuleInfo() {
  static const controls::ControlModuleInfo info{kTypeLibId, "1.0", "VoctoKS Control module",
                                                kClasses};
  return info;
}

automation::HRESULT RegisterVoctoKS(std::string_view module_path) {
  return controls::RegisterControlModule(ModuleInfo(), module_path);
}

automation::HRESULT UnregisterVoctoKS() { return controls::UnregisterControlModule(ModuleInfo()); }

automation::HRESULT GetVoctoKSClassObject(const automation::Guid* clsid,
                                          const automation::Guid* iid, void** object) {
  static controls::ControlFactory<CVoctoKSCtrl> factory;
  static const controls::ClassObjectEntry entries[] = {{kControlClsid, &factory}};
  return controls::GetClassObject(entries, clsid, iid, object);
}

}  // namespace zimo::voctoks
