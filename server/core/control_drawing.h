// How the server's classes look when a container draws them as controls: a
// rectangle on the drawing bounds and the class label centred in it.
#pragma once

#include <string>
#include <string_view>

#include "core/rgb_image.h"

namespace zimo::server {

// "ATL 3.0 : ZimoDevice", "ATL 3.0 : ZimoService", "ATL 3.0 : ZimoNC".
std::string ControlLabel(std::string_view class_name);

// Draws the rectangle (black outline, white inside) and writes the label
// centred on the baseline at the middle of the bounds.
void DrawControl(RgbImage& image, const Rect& bounds, std::string_view class_name);

}  // namespace zimo::server
