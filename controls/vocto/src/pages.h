// The control's property pages: General, Bus, DPR, Serial and About.
#pragma once

#include <memory>

#include "controls/property_page.h"

namespace zimo::vocto {

extern const controls::PageDescription kGeneralPage;
extern const controls::PageDescription kBusPage;
extern const controls::PageDescription kDprPage;
extern const controls::PageDescription kSerialPage;
extern const controls::PageDescription kAboutPage;

// The page of a page class, bound to `control`; null for another class.
std::unique_ptr<controls::PropertyPage> MakePage(const automation::Guid& clsid,
                                                 std::shared_ptr<automation::Dispatch> control);
// The frame with the five pages in the control's order.
std::unique_ptr<controls::PropertyFrame> MakePropertyFrame(
    std::shared_ptr<automation::Dispatch> control);

}  // namespace zimo::vocto
