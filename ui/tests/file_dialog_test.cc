// The open-file dialog: Windows-style filters become the dialog's filters,
// a confirmed choice gives the file (and leaves the process in its folder),
// a cancelled one gives nothing and changes nothing.
#include "ui/file_dialog.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "temp_home.h"
#include "ui_test_support.h"

namespace zimo::ui {
namespace {

namespace fs = std::filesystem;
using testing::TestApplication;
using testing::WhenShown;

TEST(QtNameFiltersTest, PairsBecomeFiltersWithTrimmedPatterns) {
  struct Case {
    std::string windows;
    std::vector<std::string> qt;
  };
  const Case cases[] = {
      {"Firmware Files (*.bin)|*.bin;*.BIN |All Files(*.*)|*.*|",
       {"Firmware Files (*.bin) (*.bin *.BIN)", "All Files(*.*) (*)"}},
      {"Any|*.*;*.txt", {"Any (* *.txt)"}},  // "*.*" takes names without a dot too
      {"Text|*.txt", {"Text (*.txt)"}},      // no closing separator
      {"Anything||", {"Anything (*)"}},      // no pattern
      {"", {"All Files (*)"}},               // no pairs at all
      {"Lonely description", {"All Files (*)"}},
  };
  for (const Case& c : cases) EXPECT_EQ(QtNameFilters(c.windows), c.qt) << c.windows;
}

class FileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    folder_ = fs::path(home_.path()) / "firmware";
    fs::create_directories(folder_);
    std::ofstream(folder_ / "card.bin") << "image";
    start_folder_ = fs::current_path();
  }
  void TearDown() override { fs::current_path(start_folder_); }

  OpenFileRequest FirmwareRequest() const {
    OpenFileRequest request;
    request.filter = "Firmware Files (*.bin)|*.bin;*.BIN |All Files(*.*)|*.*|";
    request.default_extension = "bin";
    request.initial_name = "*.bin";
    request.initial_folder = folder_;
    return request;
  }

  zimo::testing::TempHome home_;
  fs::path folder_;
  fs::path start_folder_;
};

TEST_F(FileDialogTest, AChosenFileComesBackWithItsNameAndTheFolderBecomesCurrent) {
  QStringList filters_shown;
  WhenShown<QFileDialog>(kOpenFileDialogName, [&](QFileDialog* dialog) {
    filters_shown = dialog->nameFilters();
    dialog->selectFile(QString::fromStdString((folder_ / "card.bin").string()));
    static_cast<QDialog*>(dialog)->accept();
  });
  const auto chosen = GetOpenFileName(FirmwareRequest());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->path, fs::canonical(folder_ / "card.bin"));
  EXPECT_EQ(chosen->file_title, "card.bin");
  EXPECT_EQ(fs::canonical(fs::current_path()), fs::canonical(folder_));
  EXPECT_EQ(filters_shown.size(), 2);
}

TEST_F(FileDialogTest, ATypedNameWithoutExtensionGetsTheDefaultOne) {
  WhenShown<QFileDialog>(kOpenFileDialogName, [&](QFileDialog* dialog) {
    dialog->selectFile("card");
    static_cast<QDialog*>(dialog)->accept();
  });
  const auto chosen = GetOpenFileName(FirmwareRequest());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->file_title, "card.bin");
}

TEST_F(FileDialogTest, CancelGivesNothingAndKeepsTheCurrentFolder) {
  WhenShown<QFileDialog>(kOpenFileDialogName, [](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(GetOpenFileName(FirmwareRequest()).has_value());
  EXPECT_EQ(fs::current_path(), start_folder_);
}

}  // namespace
}  // namespace zimo::ui
