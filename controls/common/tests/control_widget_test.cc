// The control's window, offscreen.
#include "controls/ui/control_widget.h"

#include <gtest/gtest.h>

#include <QImage>

#include "automation/interface_info.h"
#include "ui_test_support.h"

namespace zimo::controls {
namespace {

constexpr automation::InterfaceInfo kNoEvents{"_DNone", automation::MakeGuid(0x99, 1, 1, {}), {}};

class Plain : public Control {
 public:
  Plain() : Control(kNoEvents, 0x00010000) {}
  automation::HRESULT Invoke(automation::DispId, uint16_t, std::span<Variant>, Variant*,
                             automation::ExcepInfo*) override {
    return automation::DISP_E_MEMBERNOTFOUND;
  }
};

class GreySite : public ControlSite {
 public:
  bool UserMode() const override { return false; }
  std::string DisplayName() const override { return "Plain1"; }
  uint32_t BackColor() const override { return 0x00112233; }  // blue 11, green 22, red 33
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId) override {}
  void OnModified(bool) override {}
};

TEST(ControlWidgetTest, FillsWithTheAmbientColourAndKeepsItsSize) {
  zimo::ui::testing::TestApplication();
  Plain control;
  GreySite site;
  control.SetClientSite(&site);
  controls::ui::ControlWidget widget(control);
  widget.resize(200, 90);
  EXPECT_EQ(widget.size(), QSize(32, 32));
  QImage picture = widget.grab().toImage();
  EXPECT_EQ(picture.pixelColor(31, 31), QColor(0x33, 0x22, 0x11));
}

}  // namespace
}  // namespace zimo::controls
