#include "core/zimo_service.h"

#include <gtest/gtest.h>

#include "automation/event_sink.h"
#include "core/control_drawing.h"
#include "core/server_ids.h"

namespace zimo::server {
namespace {

using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::S_OK;
using automation::Variant;

TEST(ZimoServiceTest, EveryMethodSucceedsAndChangesNothing) {
  automation::ServerLifetime lifetime(nullptr);
  {
    auto service = std::make_shared<ZimoService>(&lifetime);
    EXPECT_EQ(lifetime.count(), 1);  // the object holds the server
    EXPECT_EQ(service->Call(1, kMethod, {}), S_OK);
    EXPECT_EQ(service->Call(2, kMethod, {}), S_OK);
    EXPECT_EQ(service->Call(3, kPropertyPut, {Variant(1)}), S_OK);
    EXPECT_EQ(service->Call(4, kPropertyPut, {Variant(250)}), S_OK);
    for (automation::DispId id : {3, 4}) {
      Variant v(77);
      EXPECT_EQ(service->Call(id, kPropertyGet, {}, &v), S_OK);
      EXPECT_EQ(v, Variant(0));
    }
    Variant device(5);
    EXPECT_EQ(service->Call(5, kMethod, {Variant::ByRef(&device)}), S_OK);
    EXPECT_EQ(device, Variant(5));  // left as it was
    EXPECT_EQ(service->Call(5, kMethod, {Variant()}), S_OK);  // nothing to write to: no fault
    automation::DispId id = 0;
    EXPECT_EQ(service->GetIdOfName("scaninterval", &id), S_OK);
    EXPECT_EQ(id, 4);

    // Its event interface can be subscribed to, though it has no events.
    uint32_t cookie = 0;
    auto sink = automation::MakeEventSink(k_IZimoServiceEvents, nullptr);
    EXPECT_EQ(service->Advise(kIid_IZimoServiceEvents, sink, &cookie), S_OK);
    EXPECT_EQ(service->Unadvise(kIid_IZimoServiceEvents, cookie), S_OK);
  }
  EXPECT_EQ(lifetime.count(), 0);
}

// The ink of the image: the box around every non-white pixel inside
// `inside` (the frame excluded).
struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Ink InkWithin(const RgbImage& img, const Rect& inside) {
  Ink ink;
  for (int y = inside.top; y < inside.bottom; ++y) {
    for (int x = inside.left; x < inside.right; ++x) {
      if (img.At(x, y) != kWhite) {
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y);
      }
    }
  }
  return ink;
}

TEST(ControlDrawingTest, ARectangleOnTheBoundsAndTheLabelCentredOnItsBaseline) {
  RgbImage img(300, 60, Rgb{10, 20, 30});
  const Rect bounds{20, 10, 281, 51};
  ZimoService service(nullptr);
  EXPECT_EQ(service.OnDraw(img, bounds), S_OK);

  for (int x = bounds.left; x < bounds.right; ++x) {
    EXPECT_EQ(img.At(x, bounds.top), kBlack);
    EXPECT_EQ(img.At(x, bounds.bottom - 1), kBlack);
  }
  EXPECT_EQ(img.At(bounds.left, 30), kBlack);
  EXPECT_EQ(img.At(bounds.right - 1, 30), kBlack);
  EXPECT_EQ(img.At(bounds.left - 1, 30), (Rgb{10, 20, 30}));  // nothing outside the bounds

  const std::string label = ControlLabel("ZimoService");
  EXPECT_EQ(label, "ATL 3.0 : ZimoService");
  Ink ink = InkWithin(img, {bounds.left + 1, bounds.top + 1, bounds.right - 1, bounds.bottom - 1});
  const int cx = (bounds.left + bounds.right) / 2, cy = (bounds.top + bounds.bottom) / 2;
  // The label has no descenders: its lowest ink stands on the baseline.
  EXPECT_EQ(ink.bottom, cy - 1);
  EXPECT_EQ(ink.top, cy - 7);
  // Centred: as much ink left of the centre as right of it (to a pixel).
  EXPECT_LE(std::abs((cx - ink.left) - (ink.right - cx)), 1);
  EXPECT_EQ(ink.right - ink.left + 1, static_cast<int>(label.size()) * 6 - 1);
}

TEST(ControlDrawingTest, EachClassShowsItsOwnLabelAndBigBoundsAreClipped) {
  RgbImage device(200, 40), nc(200, 40);
  DrawControl(device, {0, 0, 200, 40}, "ZimoDevice");
  DrawControl(nc, {0, 0, 200, 40}, "ZimoNC");
  EXPECT_NE(device.pixels(), nc.pixels());
  Ink a = InkWithin(device, {1, 1, 199, 39}), b = InkWithin(nc, {1, 1, 199, 39});
  EXPECT_EQ(a.right - a.left + 1, 20 * 6 - 1);  // "ATL 3.0 : ZimoDevice"
  EXPECT_EQ(b.right - b.left + 1, 16 * 6 - 1);  // "ATL 3.0 : ZimoNC"

  // Bounds far larger than the image: drawn where they meet it, nothing past it.
  RgbImage small(8, 8);
  DrawControl(small, {-100, -100, 108, 108}, "ZimoService");
  EXPECT_EQ(small.pixels().size(), 8u * 8u * 3u);
}

}  // namespace
}  // namespace zimo::server
