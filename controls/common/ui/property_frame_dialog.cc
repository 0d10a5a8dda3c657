#include "controls/ui/property_frame_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace zimo::controls::ui {

PropertyFrameDialog::PropertyFrameDialog(PropertyFrame& frame, QWidget* parent)
    : QDialog(parent), frame_(frame) {
  setObjectName("PropertyFrame");
  auto* layout = new QVBoxLayout(this);
  auto* tabs = new QTabWidget(this);
  layout->addWidget(tabs);
  for (size_t i = 0; i < frame_.page_count(); ++i) {
    PropertyPage& page = frame_.page(i);
    const PageDescription& d = page.description();
    page.LoadFromObject();
    auto* w = new QWidget(tabs);
    w->setObjectName(QString::number(d.template_id));
    auto* v = new QVBoxLayout(w);
    for (std::string_view text : d.texts) {
      v->addWidget(new QLabel(QString::fromUtf8(text.data(), text.size()), w));
    }
    for (const PageField& f : d.fields) {
      QString label = QString::fromUtf8(f.label.data(), f.label.size());
      QString name = QString::number(f.control_id);
      if (f.kind == FieldKind::kCheck) {
        auto* box = new QCheckBox(label, w);
        box->setObjectName(name);
        connect(box, &QCheckBox::toggled, this, [this, i] { PullFromWidgets(i); });
        v->addWidget(box);
      } else if (f.kind == FieldKind::kRadio) {
        auto* radio = new QRadioButton(label, w);
        radio->setObjectName(name);
        connect(radio, &QRadioButton::toggled, this, [this, i] { PullFromWidgets(i); });
        v->addWidget(radio);
      } else {
        auto* row = new QHBoxLayout;
        if (!label.isEmpty()) row->addWidget(new QLabel(label, w));
        auto* edit = new QLineEdit(w);
        edit->setObjectName(name);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { PullFromWidgets(i); });
        row->addWidget(edit);
        v->addLayout(row);
      }
    }
    for (const PageButton& b : d.buttons) {
      auto* button = new QPushButton(QString::fromUtf8(b.label.data(), b.label.size()), w);
      button->setObjectName(QString::number(b.control_id));
      int id = b.control_id;
      connect(button, &QPushButton::clicked, this, [this, i, id] {
        PullFromWidgets(i);
        frame_.page(i).OnCommand(id);
        PushToWidgets(i);
      });
      v->addWidget(button);
    }
    QTimer* timer = nullptr;
    if (page.TimerInterval() > 0) {
      auto* credits = new QLabel(w);
      credits->setObjectName("206");
      v->addWidget(credits);
      timer = new QTimer(w);
      timer->setInterval(page.TimerInterval());
      connect(timer, &QTimer::timeout, this, [this, i] {
        frame_.page(i).OnTimer();
        PushToWidgets(i);
      });
      timer->start();
    }
    timers_.push_back(timer);
    v->addStretch();
    tabs->addTab(w, QString::fromUtf8(d.caption.data(), d.caption.size()));
    page_widgets_.push_back(w);
    PushToWidgets(i);
  }
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OK");
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("Cancel");
  apply_ = new QPushButton("Apply", this);
  apply_->setObjectName("Apply");
  apply_->setEnabled(false);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(apply_);
  layout->addLayout(buttons);
  auto stop_timers = [this] {
    for (QTimer* t : timers_) {
      if (t != nullptr) t->stop();
    }
  };
  connect(ok, &QPushButton::clicked, this, [this, stop_timers] {
    if (frame_.Ok()) {
      stop_timers();
      accept();
    }
  });
  connect(cancel, &QPushButton::clicked, this, [this, stop_timers] {
    frame_.Cancel();
    stop_timers();
    reject();
  });
  connect(apply_, &QPushButton::clicked, this, [this] {
    if (frame_.Apply()) {
      for (size_t i = 0; i < frame_.page_count(); ++i) frame_.page(i).LoadFromObject();
      for (size_t i = 0; i < frame_.page_count(); ++i) PushToWidgets(i);
    }
    apply_->setEnabled(frame_.CanApply());
  });
}

QWidget* PropertyFrameDialog::Control(size_t page, int control_id) const {
  if (page >= page_widgets_.size()) return nullptr;
  return page_widgets_[page]->findChild<QWidget*>(QString::number(control_id));
}

QTimer* PropertyFrameDialog::page_timer(size_t page) const {
  return page < timers_.size() ? timers_[page] : nullptr;
}

void PropertyFrameDialog::PullFromWidgets(size_t i) {
  if (pushing_) return;
  PropertyPage& page = frame_.page(i);
  for (const PageField& f : page.description().fields) {
    QWidget* w = Control(i, f.control_id);
    if (auto* box = qobject_cast<QCheckBox*>(w)) page.SetChecked(f.control_id, box->isChecked());
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      if (radio->isChecked()) page.SetChecked(f.control_id, true);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w))
      page.SetText(f.control_id, edit->text().toStdString());
  }
  apply_->setEnabled(frame_.CanApply());
}

void PropertyFrameDialog::PushToWidgets(size_t i) {
  pushing_ = true;
  PropertyPage& page = frame_.page(i);
  for (const PageField& f : page.description().fields) {
    QWidget* w = Control(i, f.control_id);
    if (auto* box = qobject_cast<QCheckBox*>(w)) box->setChecked(page.Checked(f.control_id));
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      if (page.Checked(f.control_id)) radio->setChecked(true);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(QString::fromStdString(page.Text(f.control_id)));
    }
  }
  if (auto* credits = qobject_cast<QLabel*>(Control(i, 206))) {
    credits->setText(QString::fromStdString(page.DynamicText(206)));
  }
  pushing_ = false;
  if (apply_ != nullptr) apply_->setEnabled(frame_.CanApply());
}

}  // namespace zimo::controls::ui
