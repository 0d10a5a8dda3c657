// ApplicationScope: a library export gets a window application when the
// program has none, never shows a window where nobody can see it, and
// leaves a program's own message service alone; the wait cursor nests.
#include "ui/application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/message.h"
#include "ui/qt_message_service.h"
#include "ui/wait_cursor.h"

namespace zimo::ui {
namespace {

// Sets or removes environment variables for one test and puts them back.
class ScopedEnvironment {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value == nullptr) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value, 1);
    }
  }
  ~ScopedEnvironment() {
    for (auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void Remember(const char* name) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

bool CurrentServiceIsQt() {
  return dynamic_cast<QtMessageService*>(&platform::CurrentMessageService()) != nullptr;
}

TEST(ApplicationScopeTest, WithoutAWindowSystemNothingIsCreatedAndTheReasonIsGiven) {
  ScopedEnvironment env;
  env.Set("QT_QPA_PLATFORM", nullptr);
  env.Set("DISPLAY", nullptr);
  env.Set("WAYLAND_DISPLAY", nullptr);
  ApplicationScope scope;
  EXPECT_FALSE(scope.ok());
  EXPECT_NE(scope.error().find("no window system"), std::string::npos);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_FALSE(CurrentServiceIsQt());
}

TEST(ApplicationScopeTest, CreatesTheApplicationAndTheBoxServiceForItsLifeOnly) {
  ScopedEnvironment env;
  env.Set("QT_QPA_PLATFORM", "offscreen");
  {
    ApplicationScope scope;
    ASSERT_TRUE(scope.ok()) << scope.error();
    EXPECT_TRUE(scope.created_application());
    EXPECT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
    EXPECT_TRUE(CurrentServiceIsQt());
    {
      // An inner scope uses what is there.
      ApplicationScope inner;
      EXPECT_TRUE(inner.ok());
      EXPECT_FALSE(inner.created_application());
    }
    EXPECT_TRUE(CurrentServiceIsQt());
  }
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_FALSE(CurrentServiceIsQt());

  // A second call after the first ended works the same way.
  ApplicationScope again;
  EXPECT_TRUE(again.ok());
  EXPECT_TRUE(again.created_application());
}

TEST(ApplicationScopeTest, KeepsTheProgramsOwnMessageService) {
  ScopedEnvironment env;
  env.Set("QT_QPA_PLATFORM", "offscreen");
  platform::MessageRecorder recorder;
  platform::ScopedMessageService installed(recorder);
  ApplicationScope scope;
  ASSERT_TRUE(scope.ok());
  EXPECT_EQ(&platform::CurrentMessageService(), &recorder);
}

TEST(ApplicationScopeTest, RefusesAProgramWithoutWindowsAndOtherThreads) {
  ScopedEnvironment env;
  env.Set("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "core";
  char* argv[] = {name, nullptr};
  {
    QCoreApplication core(argc, argv);
    ApplicationScope scope;
    EXPECT_FALSE(scope.ok());
    EXPECT_FALSE(scope.created_application());
  }
  QApplication app(argc, argv);
  bool ok_elsewhere = true;
  std::string why;
  std::thread other([&] {
    ApplicationScope scope;
    ok_elsewhere = scope.ok();
    why = scope.error();
  });
  other.join();
  EXPECT_FALSE(ok_elsewhere);
  EXPECT_NE(why.find("thread"), std::string::npos);
}

TEST(WaitCursorTest, ShowsTheHourglassWhileAnyScopeLivesAndNothingWithoutWindows) {
  { WaitCursor no_application; }  // harmless without an application

  ScopedEnvironment env;
  env.Set("QT_QPA_PLATFORM", "offscreen");
  ApplicationScope scope;
  ASSERT_TRUE(scope.ok());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  {
    WaitCursor outer;
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    {
      WaitCursor inner;
      EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace zimo::ui
