#include "ui/application.h"

#include <QApplication>
#include <QThread>
#include <cstdlib>

#include "platform/debug.h"
#include "platform/message.h"
#include "ui/qt_message_service.h"

namespace zimo::ui {
namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// QApplication keeps references to argc and argv for its whole life.
int g_argc = 1;
char g_program_name[] = "corvan32";
char* g_argv[] = {g_program_name, nullptr};

}  // namespace

bool WindowSystemAvailable() {
  return EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
         EnvironmentSet("WAYLAND_DISPLAY");
}

ApplicationScope::ApplicationScope() {
  QCoreApplication* existing = QCoreApplication::instance();
  if (existing != nullptr) {
    if (qobject_cast<QApplication*>(existing) == nullptr) {
      error_ = "the program runs an application without windows";
    } else if (QThread::currentThread() != existing->thread()) {
      error_ = "windows can only be shown on the application's own thread";
    } else {
      ok_ = true;
    }
  } else if (!WindowSystemAvailable()) {
    error_ = "no window system (QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY are not set)";
  } else {
    owned_ = std::make_unique<QApplication>(g_argc, g_argv);
    ok_ = true;
  }
  if (!ok_) {
    platform::DebugPrintf("Cannot show the window: %s\n", error_.c_str());
    return;
  }
  if (dynamic_cast<platform::ConsoleMessageService*>(&platform::CurrentMessageService()) !=
      nullptr) {
    service_ = std::make_unique<QtMessageService>();
    installed_ = std::make_unique<platform::ScopedMessageService>(*service_);
  }
}

ApplicationScope::~ApplicationScope() {
  // The service goes before the application it shows its boxes with.
  installed_.reset();
  service_.reset();
  owned_.reset();
}

}  // namespace zimo::ui
