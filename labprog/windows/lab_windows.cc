#include "lab_windows.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

#include "labprog/menu_tree.h"

namespace zimo::labprog {

namespace {

QString Text(const std::string& s) { return QString::fromLatin1(s.c_str()); }

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& font_face) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  QFont font(font_face);
  label->setFont(font);
  return label;
}

QString Color(uint32_t bgr) {
  return QString("color: #%1%2%3")
      .arg(bgr & 0xFF, 2, 16, QChar('0'))
      .arg((bgr >> 8) & 0xFF, 2, 16, QChar('0'))
      .arg((bgr >> 16) & 0xFF, 2, 16, QChar('0'));
}

}  // namespace

StatusForm::StatusForm(StatusWindow& state, QWidget* parent) : QWidget(parent), state_(state) {
  setObjectName("MainForm");
  setWindowTitle("Status");
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(0x00, 0x00, 0x40));  // &H400000
  setPalette(palette);
  setStyleSheet("QLabel#ApparatusPanel, QLabel[panel=\"true\"] { color: white; }"
                "QLabel[value=\"true\"] { background: #c0c0c0; padding: 1px 4px; }");
  auto* grid = new QGridLayout(this);
  apparatus_ = MakeLabel(this, "ApparatusPanel", "Arial");
  grid->addWidget(apparatus_, 0, 0, 1, 4);
  auto pair = [&](Pair& p, const std::string& panel, const std::string& value) {
    p.panel = MakeLabel(this, panel.c_str(), "Arial");
    p.panel->setProperty("panel", true);
    p.value = MakeLabel(this, value.c_str(), "Arial");
    p.value->setProperty("value", true);
  };
  pair(cmd_, "CmdPanel", "CmdPosLabel");
  pair(dac_, "DACPanel", "DACLabel");
  for (int i = 0; i < 4; ++i) {
    pair(pos_[i], "PosPanel" + std::to_string(i), "EncPosLabel" + std::to_string(i));
  }
  for (int i = 0; i < 3; ++i) {
    pair(fe_[i], "FEPanel" + std::to_string(i), "FELabel" + std::to_string(i));
  }
  const char* status_values[] = {"LoopStsLabel", "CtrlStsLabel", "DistStsLabel",
                                 "ServoLimitLabel"};
  for (int i = 0; i < 4; ++i) pair(status_[i], "StatusPanel" + std::to_string(i), status_values[i]);
  // The rows of the build: command 1 | effort 1; command 2 | effort 2;
  // encoder 1 | velocity; encoders 2 to 4; four status rows.
  auto place = [&](const Pair& p, int row, int column) {
    grid->addWidget(p.panel, row, column);
    grid->addWidget(p.value, row, column + 1);
  };
  place(cmd_, 1, 0);
  place(dac_, 1, 2);
  place(fe_[0], 2, 0);
  place(fe_[1], 2, 2);
  place(pos_[0], 3, 0);
  place(fe_[2], 3, 2);
  for (int i = 1; i < 4; ++i) place(pos_[i], 3 + i, 0);
  for (int i = 0; i < 4; ++i) place(status_[i], 7 + i, 0);
  auto* buttons = new QVBoxLayout;
  for (int i = 0; i < 3; ++i) {
    brakes_[i] = new QPushButton(this);
    brakes_[i]->setObjectName(QString("BrakeButton%1").arg(i));
    connect(brakes_[i], &QPushButton::clicked, this, [this, i] {
      if (on_brake) on_brake(i);
    });
    buttons->addWidget(brakes_[i]);
  }
  kill_ = new QPushButton("KILL", this);
  kill_->setObjectName("KillButton");
  connect(kill_, &QPushButton::clicked, this, [this] {
    if (on_kill) on_kill();
  });
  buttons->addWidget(kill_);
  clock_ = MakeLabel(this, "ClockLabel", "Courier New");
  clock_->setProperty("panel", true);
  buttons->addWidget(clock_);
  buttons->addStretch();
  grid->addLayout(buttons, 4, 4, 7, 1);
  Refresh();
}

void StatusForm::Show(QLabel* label, const StatusItem& item) {
  label->setText(Text(item.text));
  label->setVisible(item.visible);
  if (label->property("value").toBool()) {
    label->setStyleSheet(Color(item.color) + "; background: #c0c0c0; padding: 1px 4px;");
  }
}

void StatusForm::Refresh() {
  Show(apparatus_, state_.ApparatusPanel);
  Show(cmd_.panel, state_.CmdPanel);
  Show(cmd_.value, state_.CmdPosLabel);
  Show(dac_.panel, state_.DACPanel);
  Show(dac_.value, state_.DACLabel);
  for (int i = 0; i < 4; ++i) {
    Show(pos_[i].panel, state_.PosPanel[i]);
    Show(pos_[i].value, state_.EncPosLabel[i]);
    pos_[i].value->setVisible(state_.PosPanel[i].visible);
  }
  for (int i = 0; i < 3; ++i) {
    Show(fe_[i].panel, state_.FEPanel[i]);
    Show(fe_[i].value, state_.FELabel[i]);
  }
  const StatusItem* values[] = {&state_.LoopStsLabel, &state_.CtrlStsLabel, &state_.DistStsLabel,
                                &state_.ServoLimitLabel};
  for (int i = 0; i < 4; ++i) {
    Show(status_[i].panel, state_.StatusPanel[i]);
    Show(status_[i].value, *values[i]);
    status_[i].value->setVisible(state_.StatusPanel[i].visible);
  }
  for (int i = 0; i < 3; ++i) {
    brakes_[i]->setText(Text(state_.BrakeButton[i].text));
    brakes_[i]->setVisible(state_.BrakeButton[i].visible);
    brakes_[i]->setStyleSheet(Color(state_.BrakeButton[i].color));
  }
  clock_->setText(Text(state_.ClockLabel.text));
  clock_->setVisible(state_.ClockLabel.visible);
}

AboutForm::AboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutForm");
  setWindowTitle("About QEL Labrunner");
  auto* layout = new QVBoxLayout(this);
  auto* version = new QLabel("Version 5.5 (32 bit)", this);
  version->setObjectName("VersionLabel");
  auto* build = new QLabel("Build:021808", this);
  build->setObjectName("BuildLabel");
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(version);
  layout->addWidget(build);
  layout->addWidget(ok);
}

MainMdiForm::MainMdiForm() : area_(new QMdiArea(this)) {
  setObjectName("MainMDIForm");
  setWindowTitle("QEL (DX-24) Labrunner ");
  setCentralWidget(area_);
  QMenu* menu = nullptr;
  for (const MenuRow& row : FrameMenuTree()) {
    if (row.depth == 0) {
      menu = menuBar()->addMenu(Text(row.caption));
      menu->setObjectName(Text(row.name));
      items_[row.name] = menu->menuAction();
      continue;
    }
    QAction* action = row.caption == "-" ? menu->addSeparator() : menu->addAction(Text(row.caption));
    action->setObjectName(Text(row.name));
    action->setEnabled(row.enabled);
    items_[row.name] = action;
  }
  resize(760, 520);
}

QAction* MainMdiForm::Item(const std::string& name) const {
  auto it = items_.find(name);
  return it == items_.end() ? nullptr : it->second;
}

void MainMdiForm::OnItem(const std::string& name, std::function<void()> handler) {
  if (QAction* action = Item(name)) {
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
  }
}

}  // namespace zimo::labprog
