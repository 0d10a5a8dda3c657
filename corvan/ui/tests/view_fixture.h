// What the view tests share: the offscreen application, the dialog fixture,
// and a dialog's picture, checked for its title and control texts, kept in
// the test's folder and once in the gallery for a person to look at.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "ui_test_support.h"

namespace zimo::corvan::dialogs::testing {

class ViewTest : public DialogTest {
 protected:
  void SetUp() override { ui::testing::TestApplication(); }

  // Shows the dialog (without a modal loop), renders it to
  // <name>.png in the test's home and in the gallery, and checks that the
  // picture is there and the dialog shows its title and `texts`.
  void CheckPicture(QWidget* dialog, const std::string& name, const std::string& title,
                    const std::vector<std::string>& texts) {
    dialog->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->windowTitle().toStdString(), title);
    for (const std::string& text : texts) {
      EXPECT_TRUE(ui::testing::Shows(dialog, text)) << name << " does not show \"" << text << "\"";
    }
    const std::filesystem::path file = home_.path() / (name + ".png");
    ASSERT_TRUE(ui::testing::SavePicture(dialog, file));
    const QImage picture(QString::fromStdString(file.string()));
    EXPECT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 100);
    EXPECT_GT(picture.height(), 50);
    ui::testing::SavePicture(dialog, ui::testing::GalleryDir() / (name + ".png"));
    dialog->hide();
  }
};

}  // namespace zimo::corvan::dialogs::testing
