/* Class, interface and type-library identifiers of the VoctoKS control
 * library, its ProgIDs, and the C entry points it exports. */
#ifndef VOCTOKS_VOCTOKS_IDS_H_
#define VOCTOKS_VOCTOKS_IDS_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The in-process server's entry points (results are HRESULTs). `clsid` and
 * `iid` point at 16-byte identifiers; *object receives the class object. */
int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);
int32_t DllGetClassObject(const void* clsid, const void* iid, void** object);
int32_t DllCanUnloadNow(void);

#ifdef __cplusplus
}

#include "automation/guid.h"

namespace zimo::voctoks {

using automation::MakeGuid;

inline constexpr automation::Guid kTypeLibId =
    MakeGuid(0x7C3A1E00, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x01});
inline constexpr automation::Guid kDispatchIid =
    MakeGuid(0x7C3A1E01, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x02});
inline constexpr automation::Guid kEventsIid =
    MakeGuid(0x7C3A1E02, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x03});
inline constexpr automation::Guid kControlClsid =
    MakeGuid(0x7C3A1E03, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x04});
inline constexpr automation::Guid kGeneralPageClsid =
    MakeGuid(0x7C3A1E04, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x05});
inline constexpr automation::Guid kDownloadPageClsid =
    MakeGuid(0x7C3A1E05, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x06});
inline constexpr automation::Guid kUploadPageClsid =
    MakeGuid(0x7C3A1E06, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x07});
inline constexpr automation::Guid kAboutPageClsid =
    MakeGuid(0x7C3A1E07, 0x5B2D, 0x4E61, {0x9A, 0x10, 0x3C, 0x5D, 0x7E, 0x01, 0x00, 0x08});

inline constexpr const char* kControlProgId = "VOCTOKS.VoctoKSCtrl.1";
inline constexpr const char* kControlVersionIndependentProgId = "VOCTOKS.VoctoKSCtrl";
inline constexpr const char* kGeneralPageProgId = "VOCTOKS.VoctoKSPropPage.1";
inline constexpr const char* kDownloadPageProgId = "VoctoKS.DownloadPPG";
inline constexpr const char* kUploadPageProgId = "VoctoKS.UploadPPG";
inline constexpr const char* kAboutPageProgId = "VoctoKS.CVoctoPPGAbout";

}  // namespace zimo::voctoks
#endif

#endif /* VOCTOKS_VOCTOKS_IDS_H_ */
