// The class, interface and type-library identifiers of the Vocto control
// library and its ProgIDs, for the library's own code and its tests (not
// installed: they are written in the object layer's types).
#pragma once

#include "automation/guid.h"
#include "vocto/vocto_ids.h"

namespace zimo::vocto {

using automation::MakeGuid;

inline constexpr automation::Guid kTypeLibId =
    MakeGuid(0x5E81D400, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x01});
inline constexpr automation::Guid kDispatchIid =
    MakeGuid(0x5E81D401, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x02});
inline constexpr automation::Guid kEventsIid =
    MakeGuid(0x5E81D402, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x03});
inline constexpr automation::Guid kControlClsid =
    MakeGuid(0x5E81D403, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x04});
inline constexpr automation::Guid kGeneralPageClsid =
    MakeGuid(0x5E81D404, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x05});
inline constexpr automation::Guid kBusPageClsid =
    MakeGuid(0x5E81D405, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x06});
inline constexpr automation::Guid kDprPageClsid =
    MakeGuid(0x5E81D406, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x07});
inline constexpr automation::Guid kSerialPageClsid =
    MakeGuid(0x5E81D407, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x08});
inline constexpr automation::Guid kAboutPageClsid =
    MakeGuid(0x5E81D408, 0x2A7C, 0x4B19, {0x8D, 0x33, 0x61, 0x0F, 0x2C, 0x04, 0x00, 0x09});

inline constexpr const char* kControlProgId = "VOCTO.VoctoCtrl.1";
inline constexpr const char* kControlVersionIndependentProgId = "VOCTO.VoctoCtrl";
inline constexpr const char* kGeneralPageProgId = "VOCTO.VoctoPropPage.1";
inline constexpr const char* kBusPageProgId = "Vocto.CVoctoPropPageBus";
inline constexpr const char* kDprPageProgId = "Vocto.CVoctoPropPageDPR";
inline constexpr const char* kSerialPageProgId = "Vocto.CVoctoPropPageSer";
inline constexpr const char* kAboutPageProgId = "Vocto.CVoctoCtlPropPageAbout";

}  // namespace zimo::vocto
