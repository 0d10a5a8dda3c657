// The frame's menu bar as data: every item's name, caption (with "&" before
// its access key; "-" for a separator), whether it is enabled when the
// frame is made, and its depth (0 for a menu of the bar, 1 for its items).
#pragma once

#include <string>
#include <vector>

namespace zimo::labprog {

struct MenuRow {
  std::string name;
  std::string caption;
  bool enabled = true;
  int depth = 1;
  bool operator==(const MenuRow&) const = default;
};

const std::vector<MenuRow>& FrameMenuTree();

}  // namespace zimo::labprog
