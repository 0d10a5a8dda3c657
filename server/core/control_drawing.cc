#include "core/control_drawing.h"

namespace zimo::server {

std::string ControlLabel(std::string_view class_name) {
  return "ATL 3.0 : " + std::string(class_name);
}

void DrawControl(RgbImage& image, const Rect& bounds, std::string_view class_name) {
  image.Fill(bounds, kWhite);
  image.Frame(bounds, kBlack);
  image.TextCentredOnBaseline((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2,
                              ControlLabel(class_name), kBlack);
}

}  // namespace zimo::server
