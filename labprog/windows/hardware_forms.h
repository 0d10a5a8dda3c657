// The three hardware dialogs: the auxiliary analog outputs, the rotor speed
// and the sensor calibration. Each fills its fields from the shell's rules
// when it is built and, on OK, hands them back to those rules (which store
// the settings and, online, send them to the card); Cancel and Esc change
// nothing.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <array>

#include "labprog/lab_program.h"

namespace zimo::labprog {

class ConfigDacForm : public QDialog {
 public:
  explicit ConfigDacForm(LabProgram& program, QWidget* parent = nullptr);

 private:
  void Ok();
  LabProgram& program_;
  QComboBox* analog1_;
  QComboBox* analog2_;
  QLineEdit* scale1_;
  QLineEdit* scale2_;
};

class RotorForm : public QDialog {
 public:
  explicit RotorForm(LabProgram& program, QWidget* parent = nullptr);
  // The check run when the speed box loses the focus: false (after the
  // check's message) when the speed lies outside 0..1000; the box gets the
  // focus back.
  bool CheckSpeed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Ok();
  LabProgram& program_;
  QLineEdit* rpm_;
};

class SensorForm : public QDialog {
 public:
  explicit SensorForm(LabProgram& program, QWidget* parent = nullptr);

 private:
  void Ok();
  void EnableCoefficients(bool on);
  LabProgram& program_;
  std::array<QRadioButton*, 2> mode_{};
  std::array<QLineEdit*, 8> coefficients_{};
  QCheckBox* thermal_;
};

}  // namespace zimo::labprog
