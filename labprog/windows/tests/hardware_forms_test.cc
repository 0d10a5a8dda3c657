// The hardware dialogs as a student uses them: what they show when they
// open, what OK sends to the card (and stores) online and offline, and that
// Cancel changes nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "hardware_forms.h"
#include "platform/message.h"
#include "recording_fakes.h"
#include "ui_test_support.h"

namespace zimo::labprog {
namespace {

using Sent = std::vector<std::string>;

class HardwareFormsTest : public ::testing::Test {
 protected:
  HardwareFormsTest() {
    ui::testing::TestApplication();
    link_.OnlineFlag = -1;
    platform::SetMessageService(&boxes_);
  }
  ~HardwareFormsTest() override { platform::SetMessageService(nullptr); }

  template <typename T>
  static T* Child(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  static std::string TextOf(QWidget& dialog, const char* name) {
    QLineEdit* box = Child<QLineEdit>(dialog, name);
    return box ? box->text().toStdString() : std::string("<missing>");
  }
  static void SetText(QWidget& dialog, const char* name, const char* text) {
    if (QLineEdit* box = Child<QLineEdit>(dialog, name)) box->setText(QString::fromLatin1(text));
  }
  static void Press(QWidget& dialog, const char* name) {
    if (QPushButton* button = Child<QPushButton>(dialog, name)) button->click();
  }
  static std::vector<std::string> Labels(QWidget& dialog) {
    std::vector<std::string> texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) texts.push_back(label->text().toStdString());
    return texts;
  }

  testing::RecordingCommandPath link_;
  testing::RecordingShellWindows windows_;
  LabProgram program_{link_, windows_};
  platform::MessageRecorder boxes_;
};

TEST_F(HardwareFormsTest, AuxOutputsOpenOnStoredSourcesAndSendInOrder) {
  program_.Config.AuxDAC3 = 8;
  program_.Config.AuxDAC4 = 20;  // not in the list
  program_.Config.AuxDAC3Scaler = 1;
  program_.Config.AuxDAC4Scaler = 2.5;
  ConfigDacForm form(program_);
  EXPECT_EQ(form.windowTitle().toStdString(), "Configure Auxilary DACs");
  std::vector<std::string> frames;
  for (QGroupBox* frame : form.findChildren<QGroupBox*>()) frames.push_back(frame->title().toStdString());
  EXPECT_EQ(frames, (Sent{"Analog Out 1", "Analog Out 2"}));
  QComboBox* first = Child<QComboBox>(form, "Analog1Combo");
  QComboBox* second = Child<QComboBox>(form, "Analog2Combo");
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->count(), 9);
  EXPECT_EQ(first->itemText(4).toStdString(), "Variable Q10");
  EXPECT_EQ(first->currentText().toStdString(), "Control Effort");
  EXPECT_EQ(second->currentText().toStdString(), "Commanded Position");
  EXPECT_EQ(TextOf(form, "Scale1Text"), "1.000000");
  EXPECT_EQ(TextOf(form, "Scale2Text"), "2.500000");

  second->setCurrentIndex(3);
  SetText(form, "Scale2Text", "0.25");
  Press(form, "OKButton");
  EXPECT_EQ(link_.sent, (Sent{"P1003=9", "P1005=1", "P1004=4", "P1006=.25"}));
  EXPECT_EQ(program_.Config.AuxDAC4, 3);
  EXPECT_EQ(program_.Config.AuxDAC4Scaler, 0.25);
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(HardwareFormsTest, OfflineOkStoresWithoutSendingAndCancelKeepsEverything) {
  {
    ConfigDacForm form(program_);
    Child<QComboBox>(form, "Analog1Combo")->setCurrentIndex(2);
    Press(form, "CancelButton");
    EXPECT_EQ(form.result(), QDialog::Rejected);
  }
  EXPECT_EQ(program_.Config.AuxDAC3, 0);
  EXPECT_TRUE(link_.sent.empty());

  link_.OnlineFlag = 0;
  ConfigDacForm form(program_);
  Child<QComboBox>(form, "Analog1Combo")->setCurrentIndex(2);
  SetText(form, "Scale1Text", "abc");  // not a number: 0
  Press(form, "OKButton");
  EXPECT_EQ(program_.Config.AuxDAC3, 2);
  EXPECT_EQ(program_.Config.AuxDAC3Scaler, 0.0);
  EXPECT_TRUE(link_.sent.empty());
}

TEST_F(HardwareFormsTest, RotorOpensWithTheSpeedLastSetAndOkStartsTheLoop) {
  link_.replies["I622"] = "13.3642105";
  RotorForm form(program_);
  EXPECT_EQ(form.windowTitle().toStdString(), "Setup Rotor Speed");
  EXPECT_EQ(Labels(form), (Sent{"Specify Rotor Speed (RPM):"}));
  EXPECT_EQ(TextOf(form, "RPMText"), "200");
  SetText(form, "RPMText", "350");
  Press(form, "OKButton");
  EXPECT_EQ(link_.sent, (Sent{"I622", "I622=350*60/950*1.058", "M136=1"}));
}

TEST_F(HardwareFormsTest, RotorOfflineShowsDefaultAndSendsNothing) {
  link_.OnlineFlag = 0;
  link_.ReplyText = "500";  // a stale reply is no speed
  RotorForm form(program_);
  EXPECT_EQ(TextOf(form, "RPMText"), "200");
  Press(form, "OKButton");
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(HardwareFormsTest, RotorSpeedAboveTheMaximumIsRefusedWhenLeavingTheBox) {
  RotorForm form(program_);
  SetText(form, "RPMText", "1000.5");
  EXPECT_FALSE(form.CheckSpeed());
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "This value must be between 0 and 1000.");
  EXPECT_EQ(boxes_.last()->caption, "Invalid Number");
  SetText(form, "RPMText", "1000");
  EXPECT_TRUE(form.CheckSpeed());
  EXPECT_EQ(boxes_.count(), 1u);
}

TEST_F(HardwareFormsTest, SensorCalibrationEnablesItsBoxesAndSendsTenCommands) {
  program_.Config.SensorMode = 0;
  for (int i = 1; i <= 4; ++i) {
    program_.Config.LowerCoeff[i] = i;
    program_.Config.UpperCoeff[i] = -i * 0.5;
  }
  SensorForm form(program_);
  EXPECT_EQ(form.windowTitle().toStdString(), "Setup Sensor Calibration");
  QRadioButton* raw = Child<QRadioButton>(form, "SensorRButton0");
  QRadioButton* calibrate = Child<QRadioButton>(form, "SensorRButton1");
  ASSERT_TRUE(raw && calibrate);
  EXPECT_EQ(raw->text().toStdString(), "Use raw sensor counts (no calibration / linearization)");
  EXPECT_EQ(calibrate->text().toStdString(),
            "Calibrate Sensor:  Ycal = e/Yraw + f/sqrt(Yraw) + g + h*Yraw");
  EXPECT_TRUE(raw->isChecked());
  EXPECT_EQ(TextOf(form, "SensorCoeffText1"), "2");
  EXPECT_EQ(TextOf(form, "SensorCoeffText7"), "-2");
  for (int i = 0; i < 8; ++i) {
    const std::string name = "SensorCoeffText" + std::to_string(i);
    EXPECT_FALSE(Child<QLineEdit>(form, name.c_str())->isEnabled()) << name;
  }
  QCheckBox* thermal = Child<QCheckBox>(form, "ThermoCButton");
  ASSERT_NE(thermal, nullptr);
  EXPECT_EQ(thermal->text().toStdString(), "&Apply Thermal Compensation");
  EXPECT_FALSE(thermal->isChecked());

  calibrate->click();
  for (int i = 0; i < 8; ++i) {
    const std::string name = "SensorCoeffText" + std::to_string(i);
    EXPECT_TRUE(Child<QLineEdit>(form, name.c_str())->isEnabled()) << name;
  }
  SetText(form, "SensorCoeffText0", "1.5e-3");
  thermal->click();
  Press(form, "OKButton");
  EXPECT_EQ(link_.sent, (Sent{"M906=1", "P750=.0015", "P751=2", "P752=3", "P753=4",
                              "P754=-.5", "P755=-1", "P756=-1.5", "P757=-2", "M777=1"}));
  EXPECT_EQ(program_.Config.SensorMode, 1);
  EXPECT_EQ(program_.Config.ThermalCompensation, 1);
}

}  // namespace
}  // namespace zimo::labprog
