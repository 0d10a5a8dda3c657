#include "hardware_forms.h"

#include <QDialogButtonBox>
#include <functional>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "labprog/checks.h"
#include "labprog/hardware_dialogs.h"
#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

QString Latin1(const std::string& text) { return QString::fromLatin1(text.c_str()); }
std::string Text(const QLineEdit* box) { return box->text().toLatin1().toStdString(); }

// OK and Cancel, named as the dialogs' buttons; Cancel also answers Esc
// (QDialog's reject).
void AddButtons(QDialog* dialog, QLayout* layout, std::function<void()> ok) {
  auto* box = new QDialogButtonBox(dialog);
  QPushButton* ok_button = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok_button->setObjectName(QStringLiteral("OKButton"));
  ok_button->setDefault(true);
  QPushButton* cancel =
      box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  QObject::connect(ok_button, &QPushButton::clicked, dialog, [dialog, ok] {
    ok();
    dialog->accept();
  });
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  layout->addWidget(box);
}

}  // namespace

ConfigDacForm::ConfigDacForm(LabProgram& program, QWidget* parent)
    : QDialog(parent), program_(program) {
  setObjectName(QStringLiteral("ConfigDACForm"));
  setWindowTitle(QStringLiteral("Configure Auxilary DACs"));
  const AuxOutputFields fields = AuxOutputsOnLoad(program.Config);
  auto* layout = new QVBoxLayout(this);
  auto add_output = [&](const char* title, const char* combo_name, const char* scale_name,
                        int source, const std::string& scale, QComboBox*& combo,
                        QLineEdit*& box) {
    auto* frame = new QGroupBox(QString::fromLatin1(title), this);
    frame->setObjectName(QStringLiteral("zFrame"));
    auto* row = new QHBoxLayout(frame);
    combo = new QComboBox(frame);
    combo->setObjectName(QString::fromLatin1(combo_name));
    for (const std::string& entry : AuxOutputSources()) combo->addItem(Latin1(entry));
    combo->setCurrentIndex(source);
    row->addWidget(combo);
    row->addWidget(new QLabel(QStringLiteral("Scale Factor:"), frame));
    box = new QLineEdit(Latin1(scale), frame);
    box->setObjectName(QString::fromLatin1(scale_name));
    row->addWidget(box);
    layout->addWidget(frame);
  };
  add_output("Analog Out 1", "Analog1Combo", "Scale1Text", fields.source1, fields.scale1, analog1_,
             scale1_);
  add_output("Analog Out 2", "Analog2Combo", "Scale2Text", fields.source2, fields.scale2, analog2_,
             scale2_);
  AddButtons(this, layout, [this] { Ok(); });
}

void ConfigDacForm::Ok() {
  AuxOutputFields fields;
  fields.source1 = analog1_->currentIndex();
  fields.source2 = analog2_->currentIndex();
  fields.scale1 = Text(scale1_);
  fields.scale2 = Text(scale2_);
  AuxOutputsOk(program_, fields);
}

RotorForm::RotorForm(LabProgram& program, QWidget* parent) : QDialog(parent), program_(program) {
  setObjectName(QStringLiteral("RotorForm"));
  setWindowTitle(QStringLiteral("Setup Rotor Speed"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  row->addWidget(new QLabel(QStringLiteral("Specify Rotor Speed (RPM):"), this));
  rpm_ = new QLineEdit(Latin1(RotorSpeedOnLoad(program)), this);
  rpm_->setObjectName(QStringLiteral("RPMText"));
  rpm_->installEventFilter(this);
  row->addWidget(rpm_);
  layout->addLayout(row);
  AddButtons(this, layout, [this] { Ok(); });
}

bool RotorForm::CheckSpeed() {
  if (CheckValueInRange(program_, static_cast<float>(ui::Val(Text(rpm_))), 1000, 5)) return true;
  rpm_->setFocus();
  return false;
}

bool RotorForm::eventFilter(QObject* watched, QEvent* event) {
  // A focus change to another window (the check's own message box) is not
  // leaving the box.
  if (watched == rpm_ && event->type() == QEvent::FocusOut && isActiveWindow()) CheckSpeed();
  return QDialog::eventFilter(watched, event);
}

void RotorForm::Ok() { RotorSpeedOk(program_, Text(rpm_)); }

SensorForm::SensorForm(LabProgram& program, QWidget* parent) : QDialog(parent), program_(program) {
  setObjectName(QStringLiteral("SensorForm"));
  setWindowTitle(QStringLiteral("Setup Sensor Calibration"));
  const SensorFields fields = SensorCalibrationOnLoad(program.Config);
  auto* layout = new QVBoxLayout(this);
  const char* options[2] = {"Use raw sensor counts (no calibration / linearization)",
                            "Calibrate Sensor:  Ycal = e/Yraw + f/sqrt(Yraw) + g + h*Yraw"};
  for (int i = 0; i < 2; ++i) {
    mode_[i] = new QRadioButton(QString::fromLatin1(options[i]), this);
    mode_[i]->setObjectName(QStringLiteral("SensorRButton%1").arg(i));
    layout->addWidget(mode_[i]);
    connect(mode_[i], &QRadioButton::clicked, this, [this, i] { EnableCoefficients(i == 1); });
  }
  auto* grid = new QGridLayout();
  const char* letters[4] = {"e:", "f:", "g:", "h:"};
  for (int sensor = 0; sensor < 2; ++sensor) {
    grid->addWidget(new QLabel(sensor == 0 ? QStringLiteral("Sensor #1 (lower)")
                                           : QStringLiteral("Sensor #2 (upper)"),
                               this),
                    0, sensor * 2, 1, 2);
    for (int k = 0; k < 4; ++k) {
      const int index = sensor * 4 + k;
      grid->addWidget(new QLabel(QString::fromLatin1(letters[k]), this), k + 1, sensor * 2);
      coefficients_[index] = new QLineEdit(Latin1(fields.coefficients[index]), this);
      coefficients_[index]->setObjectName(QStringLiteral("SensorCoeffText%1").arg(index));
      grid->addWidget(coefficients_[index], k + 1, sensor * 2 + 1);
    }
  }
  layout->addLayout(grid);
  thermal_ = new QCheckBox(QStringLiteral("&Apply Thermal Compensation"), this);
  thermal_->setObjectName(QStringLiteral("ThermoCButton"));
  thermal_->setChecked(fields.thermal_compensation);
  layout->addWidget(thermal_);
  mode_[fields.calibrate ? 1 : 0]->setChecked(true);
  EnableCoefficients(fields.calibrate);
  AddButtons(this, layout, [this] { Ok(); });
}

void SensorForm::EnableCoefficients(bool on) {
  for (QLineEdit* box : coefficients_) box->setEnabled(on);
}

void SensorForm::Ok() {
  SensorFields fields;
  fields.calibrate = mode_[1]->isChecked();
  for (size_t i = 0; i < coefficients_.size(); ++i) fields.coefficients[i] = Text(coefficients_[i]);
  fields.thermal_compensation = thermal_->isChecked();
  SensorCalibrationOk(program_, fields);
}

}  // namespace zimo::labprog
