// A QApplication for code that shows windows from a program that may have
// none: a library export such as the device selection, called from a console
// program or from a program built on another toolkit.
//
// ApplicationScope makes sure that, while it lives, widgets can be shown on
// the calling thread. When the program has no application and a window
// system is there, the scope creates one and destroys it again at its end.
// While it lives and no program-wide message service has been installed, the
// scope installs the Qt message service, so message boxes appear on screen
// rather than on the console.
//
// Widgets cannot be shown when the program runs a non-GUI core application,
// when the call comes from a thread other than the application's, or when
// there is no window system (no QT_QPA_PLATFORM, DISPLAY or
// WAYLAND_DISPLAY): ok() is false then and error() says why, and nothing is
// shown, so a console program never waits for a window nobody can see.
#pragma once

#include <memory>
#include <string>

namespace zimo::platform {
class ScopedMessageService;
}

class QApplication;

namespace zimo::ui {

class QtMessageService;

// Whether Qt can reach a window system from this process: QT_QPA_PLATFORM,
// DISPLAY or WAYLAND_DISPLAY is set.
bool WindowSystemAvailable();

class ApplicationScope {
 public:
  ApplicationScope();
  ~ApplicationScope();
  ApplicationScope(const ApplicationScope&) = delete;
  ApplicationScope& operator=(const ApplicationScope&) = delete;

  // Widgets can be shown on this thread.
  bool ok() const { return ok_; }
  // Why not, when !ok().
  const std::string& error() const { return error_; }
  // The scope created the application (and will destroy it).
  bool created_application() const { return owned_ != nullptr; }

 private:
  bool ok_ = false;
  std::string error_;
  std::unique_ptr<QApplication> owned_;
  std::unique_ptr<QtMessageService> service_;
  std::unique_ptr<platform::ScopedMessageService> installed_;
};

}  // namespace zimo::ui
