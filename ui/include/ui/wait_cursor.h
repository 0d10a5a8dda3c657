// The hourglass while something slow runs on the window thread (a device
// test, a save that talks to the card). Scopes nest; without a GUI
// application it does nothing.
#pragma once

namespace zimo::ui {

class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool active_ = false;
};

}  // namespace zimo::ui
