// The exported dialogs called from a program that has no window
// application: ZimoSelect and ZimoConfigure make one for the call and take
// it down again, return the chosen device or their failure value, and show
// nothing where there is no window system.
#include "dialogs_backend.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "dialog_fixture.h"
#include "link/device_registry.h"
#include "ui_test_support.h"
#include "view/controls.h"
#include "view/device_list_dialog.h"

namespace zimo::corvan {
namespace {

using ui::testing::Control;
using ui::testing::WhenShown;

// What the test does once the export has created its application: the test
// cannot act before, and the export does not return until the dialog ends.
std::function<void()>& OnApplicationStart() {
  static std::function<void()> action;
  return action;
}

void ApplicationStarted() {
  if (OnApplicationStart()) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), OnApplicationStart(),
                              Qt::QueuedConnection);
  }
}

// Chooses `row` of the device list and presses `button` ("1" OK, "2" Cancel).
void AnswerDeviceList(int row, const char* button) {
  OnApplicationStart() = [row, button] {
    WhenShown<QDialog>(dialogs::view::IdName(dialogs::view::kDeviceListTemplate),
                       [row, button](QDialog* dialog) {
                         Control<QListWidget>(dialog, "5087")->setCurrentRow(row);
                         Control<QPushButton>(dialog, button)->click();
                       });
  };
}

class DialogsApiTest : public dialogs::testing::DialogTest {
 protected:
  void SetUp() override {
    static const bool registered = [] {
      qAddPreRoutine(ApplicationStarted);
      return true;
    }();
    (void)registered;
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    Remember("QT_QPA_PLATFORM");
    Remember("DISPLAY");
    Remember("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_EQ(RegisterDevice(3, kLocationPci, 0, nullptr), 1);
  }
  void TearDown() override {
    OnApplicationStart() = nullptr;
    for (auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void Remember(const char* name) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(DialogsApiTest, ZimoSelectMakesAWindowApplicationAndReturnsTheChosenDevice) {
  AnswerDeviceList(3, "1");
  EXPECT_EQ(ZimoSelect(0), 3);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);

  // Again, and this time the user cancels.
  AnswerDeviceList(3, "2");
  EXPECT_EQ(ZimoSelect(0), -1);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST_F(DialogsApiTest, OkOnAnUnconfiguredLineSelectsNothing) {
  // OK is disabled there; a double-click ends the dialog with Cancel.
  OnApplicationStart() = [] {
    WhenShown<QDialog>(dialogs::view::IdName(dialogs::view::kDeviceListTemplate),
                       [](QDialog* dialog) {
                         auto* list = Control<QListWidget>(dialog, "5087");
                         list->setCurrentRow(5);
                         EXPECT_FALSE(Control<QPushButton>(dialog, "1")->isEnabled());
                         Q_EMIT list->itemDoubleClicked(list->item(5));
                       });
  };
  EXPECT_EQ(ZimoSelect(0), -1);
}

TEST_F(DialogsApiTest, ZimoConfigureReportsHowTheDialogEnded) {
  AnswerDeviceList(3, "1");
  EXPECT_EQ(ZimoConfigure(0, 3), 1);
  AnswerDeviceList(0, "2");
  EXPECT_EQ(ZimoConfigure(0, 3), 0);
}

TEST_F(DialogsApiTest, WithoutAWindowSystemNothingIsShownOrChosen) {
  ::unsetenv("QT_QPA_PLATFORM");
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(ZimoSelect(0), -1);
  EXPECT_EQ(ZimoConfigure(0, 3), 0);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);

  // The device test still tells its outcome, through the program's
  // message service.
  std::int32_t result = 5;
  EXPECT_EQ(TestDevice(7, &result), 0);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "The selected location is unknown or is not a valid ZIMO location."});
}

}  // namespace
}  // namespace zimo::corvan
