// The control's property pages (General, Download, Upload, About) and the
// credit lines the About page and the about box cycle through.
#pragma once

#include <memory>
#include <random>
#include <string>

#include "controls/property_page.h"

namespace zimo::voctoks {

// Three credit lines shown in turn; the first is picked at random between
// the first two of the cycle.
class CreditCycle {
 public:
  explicit CreditCycle(unsigned seed = std::random_device{}());
  const std::string& current() const;
  void Next();
  static constexpr int kIntervalMs = 1500;

 private:
  int index_;
};

extern const controls::PageDescription kGeneralPage;
extern const controls::PageDescription kDownloadPage;
extern const controls::PageDescription kUploadPage;
extern const controls::PageDescription kAboutPage;

// The page of a page class, bound to `control`; null for another class.
std::unique_ptr<controls::PropertyPage> MakePage(const automation::Guid& clsid,
                                                 std::shared_ptr<automation::Dispatch> control);
// The frame with all four pages in the control's order.
std::unique_ptr<controls::PropertyFrame> MakePropertyFrame(
    std::shared_ptr<automation::Dispatch> control);

}  // namespace zimo::voctoks
