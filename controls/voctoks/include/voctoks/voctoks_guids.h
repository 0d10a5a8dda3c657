// The class, interface and type-library identifiers of the VoctoKS control
// library and its ProgIDs, for the library's own code and its tests (not
// installed: they are written in the object layer's types).
#pragma once

#include "automation/guid.h"
#include "voctoks/voctoks_ids.h"

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
